#!/usr/bin/env bash
# The installed tree as a user gets it, from the build folder given: installed into a scratch
# DESTDIR, its quob-render draws the same bytes as the build's; its viewer, started elsewhere on
# Qt's offscreen platform with a scratch home, seeds and enters $XDG_DATA_HOME/spiralis without
# touching the user's files there and loads libquob32.so from the tree's private folder (it then
# waits in the library's banner and is ended); the desktop entry validates; the manual page
# formats without a warning and names every option of quob-render --help; the Debian package
# holds the tree and depends on Qt's widgets, libpng and MPFR.
#   install_test.sh BUILD-FOLDER
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
scratch=$(cd "$scratch" && pwd -P)
viewer=""
cleanup() {
  if [ -n "$viewer" ]; then kill "$viewer" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
  echo "install_test: $*" >&2
  exit 1
}
for tool in desktop-file-validate man cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps installs it)"
done
unset LD_LIBRARY_PATH

root=$scratch/root
prefix=$root/usr
DESTDIR=$root cmake --install "$build" --prefix /usr >"$scratch/install.log" ||
  fail "cmake --install failed: $(cat "$scratch/install.log")"
share=$prefix/share/spiralis
for file in bin/spiralis bin/quob-render lib/spiralis/libquob32.so share/spiralis/fractals.dat \
  share/spiralis/cadjusts.dat share/spiralis/hotspots.dat share/applications/spiralis.desktop \
  share/icons/hicolor/32x32/apps/spiralis.png share/icons/hicolor/256x256/apps/spiralis.png \
  share/man/man1/quob-render.1; do
  [ -f "$prefix/$file" ] || fail "the installed tree lacks $file"
done
pictures=$(find "$share/gallery" -name '*.png' | wc -l)
[ "$pictures" -gt 0 ] && [ "$pictures" -eq "$(find "$build/gallery" -name '*.png' | wc -l)" ] ||
  fail "share/spiralis/gallery holds $pictures pictures, build/gallery others"

# The installed renderer, started from another folder, draws what the build's draws.
mkdir -p "$scratch/elsewhere"
options=(--width 48 --height 36 --block-length 1 --fractal-from "$share/fractals.dat:Burning Ship")
(cd "$scratch/elsewhere" && "$prefix/bin/quob-render" -o installed.png "${options[@]}") >/dev/null
"$build/tools/quob-render" -o "$scratch/built.png" "${options[@]}" >/dev/null
cmp "$scratch/elsewhere/installed.png" "$scratch/built.png" ||
  fail "the installed quob-render draws other bytes than the build's"

# The installed viewer: a user's list and picture in the working folder stay as they are.
home=$scratch/home
work=$scratch/data/spiralis
mkdir -p "$home" "$work/gallery"
echo "the user's positions" >"$work/hotspots.dat"
kept=$(find "$share/gallery" -name '*.png' | sort | head -n 1)
kept=${kept##*/}
echo "the user's picture" >"$work/gallery/$kept"
(cd "$scratch/elsewhere" &&
  exec env HOME="$home" XDG_DATA_HOME="$scratch/data" QT_QPA_PLATFORM=offscreen \
    "$prefix/bin/spiralis") >"$scratch/viewer.log" 2>&1 &
viewer=$!
library=$prefix/lib/spiralis/libquob32.so
for _ in $(seq 600); do
  grep -qF "$library" "/proc/$viewer/maps" 2>/dev/null && break
  kill -0 "$viewer" 2>/dev/null || fail "the viewer ended: $(cat "$scratch/viewer.log")"
  sleep 0.1
done
grep -qF "$library" "/proc/$viewer/maps" ||
  fail "the viewer did not load $library within a minute: $(cat "$scratch/viewer.log")"
[ "$(readlink "/proc/$viewer/cwd")" = "$work" ] ||
  fail "the viewer works in $(readlink "/proc/$viewer/cwd"), not in $work"
kill "$viewer"
wait "$viewer" 2>/dev/null || true
viewer=""
for list in fractals.dat cadjusts.dat; do
  cmp "$share/$list" "$work/$list" || fail "$work/$list is not the starter list"
done
[ "$(cat "$work/hotspots.dat")" = "the user's positions" ] || fail "the user's list was replaced"
[ "$(cat "$work/gallery/$kept")" = "the user's picture" ] || fail "the user's picture was replaced"
for picture in "$share"/gallery/*.png; do
  [ "${picture##*/}" = "$kept" ] || cmp "$picture" "$work/gallery/${picture##*/}" ||
    fail "$work/gallery lacks ${picture##*/}"
done

# The desktop entry and the manual page, as a desktop and man read them.
report=$(desktop-file-validate "$prefix/share/applications/spiralis.desktop" 2>&1) &&
  [ -z "$report" ] || fail "desktop-file-validate: $report"
page=$prefix/share/man/man1/quob-render.1
report=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) &&
  [ -z "$report" ] || fail "man --warnings: $report"
text=$(sed 's/\\f[BIRP]//g; s/\\-/-/g' "$page")
for option in $("$build/tools/quob-render" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
  grep -qE -- "$option([^a-z-]|$)" <<<"$text" || fail "the manual page lacks $option"
done

# The Debian package: the same tree under /usr, and the libraries the programs load.
cpack --config "$build/CPackConfig.cmake" -B "$scratch/deb" >"$scratch/cpack.log" 2>&1 ||
  fail "cpack failed: $(cat "$scratch/cpack.log")"
deb=$(find "$scratch/deb" -maxdepth 1 -name 'spiralis_*_amd64.deb')
[ -n "$deb" ] || fail "cpack wrote no spiralis_<version>_amd64.deb: $(ls "$scratch/deb")"
contents=$(dpkg-deb --contents "$deb")
for file in usr/bin/spiralis usr/bin/quob-render usr/lib/spiralis/libquob32.so \
  usr/share/spiralis/fractals.dat "usr/share/spiralis/gallery/$kept" \
  usr/share/applications/spiralis.desktop usr/share/man/man1/quob-render.1; do
  grep -qF "./$file" <<<"$contents" || fail "the package lacks /$file"
done
depends=$(dpkg-deb --field "$deb" Depends)
for package in libqt6widgets6 libpng16-16 libmpfr6 qt6-qpa-plugins; do
  grep -qE "(^|, )$package( |,|$)" <<<"$depends" || fail "the package does not depend on $package: $depends"
done
echo "install_test: the installed tree, its viewer and its package work"
