# make test   installs what is missing, builds everything and runs every test (also under sanitizers,
#             the library's tests as a 32-bit x86 process, and a short run of every fuzz target)
# make run    installs what is missing, builds the viewer and what it runs (not the tests and
#             benchmarks) and starts it in its working folder run/ (seeded with the starter lists
#             and the gallery on first run)
# make gallery renders the starter fractal formulas into docs/gallery/ with a contact sheet
# make bench  builds and runs the benchmarks
# make format formats every C++ source (make format-check, part of make test, only checks)
# make fuzz   fuzzes every target for FUZZ_SECONDS seconds (600 unless set)
# make install builds what is installed and installs it under PREFIX (/usr/local unless set),
#             below DESTDIR when set
# make deb    builds the Debian package build/spiralis_<version>_amd64.deb
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 600
PREFIX ?= /usr/local

.PHONY: all deps build format format-check test test-plain test-asan test-tsan test-m32 test-fuzz fuzz fuzz-build run install deb gallery bench clean

all: build

deps:
	@scripts/install-deps

build/CMakeCache.txt: | deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: deps build/CMakeCache.txt
	cmake --build build -j $(JOBS)

test-plain: build
	cd build && ctest --output-on-failure -j $(JOBS)

# ASan + UBSan over the library, its tests and the tools.
test-asan: deps
	@[ -f build-asan/CMakeCache.txt ] || cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=address -DSPIRALIS_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS) -LE nosan

# TSan over the tests that run threads.
test-tsan: deps
	@[ -f build-tsan/CMakeCache.txt ] || cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE=thread -DSPIRALIS_BENCH=OFF -DSPIRALIS_VIEWER=OFF $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && ctest --output-on-failure -j $(JOBS) -L threads

# The library and its tests as a 32-bit x86 process, running IA-32 code (gcc-multilib, GoogleTest
# built from its Debian sources for that target); under qemu-i386 where the kernel cannot run
# 32-bit programs (cmake/m32-runner.cmake).
test-m32: deps
	@[ -f build-m32/CMakeCache.txt ] || cmake -S . -B build-m32 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-gnu.cmake -DQUOB_GTEST_FROM_SOURCE=ON -DSPIRALIS_VIEWER=OFF -DSPIRALIS_BENCH=OFF -DSPIRALIS_TOOLS=OFF $(CMAKE_FLAGS)
	cmake --build build-m32 -j $(JOBS)
	@echo "test-m32: the 32-bit code runs $$(cat build-m32/m32-runner.txt)"
	cd build-m32 && ctest --output-on-failure -j $(JOBS)

# Coverage-guided fuzzing with clang's libFuzzer (fuzz/), in a build of its own: every target
# replays its seeds and regression cases, then fuzzes, 20 seconds in make test.
fuzz-build: deps
	@[ -f build-fuzz/CMakeCache.txt ] || CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE=fuzzer -DSPIRALIS_BENCH=OFF -DSPIRALIS_TOOLS=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target fuzzers

test-fuzz: fuzz-build
	cd build-fuzz && FUZZ_SECONDS=20 ctest --output-on-failure -j $(JOBS) -L fuzz

fuzz: fuzz-build
	cd build-fuzz && FUZZ_SECONDS=$(FUZZ_SECONDS) ctest --output-on-failure -j $(JOBS) -L fuzz

# Every C++ source formatted with the project's .clang-format.
FORMATTED = git ls-files -z -- '*.cpp' '*.h'
format-check: deps
	@$(FORMATTED) | xargs -0 clang-format --dry-run --Werror && echo "format-check: every source is formatted"

format: deps
	@$(FORMATTED) | xargs -0 clang-format -i

test: format-check test-plain test-asan test-tsan test-m32 test-fuzz

# Only what make run starts: the viewer with the library, quob-render (its thumbnails), the
# starter lists and the gallery; make test builds the rest.
RUN_TARGETS = spiralis quob-render starter_lists starter_gallery
run: deps build/CMakeCache.txt
	cmake --build build -j $(JOBS) --target $(RUN_TARGETS)
	@tools/run-viewer build

# What the installed tree holds (packaging/CMakeLists.txt); installing builds nothing else.
INSTALL_TARGETS = spiralis quob-render starter_lists starter_gallery program_icons
install: deps build/CMakeCache.txt
	cmake --build build -j $(JOBS) --target $(INSTALL_TARGETS)
	DESTDIR="$(DESTDIR)" cmake --install build --prefix "$(PREFIX)"

deb: deps build/CMakeCache.txt
	cmake --build build -j $(JOBS) --target $(INSTALL_TARGETS)
	cpack --config build/CPackConfig.cmake -B build

gallery: deps build/CMakeCache.txt
	rm -f docs/gallery/*.png
	cmake --build build -j $(JOBS) --target gallery_pictures

bench: deps
	@[ -f build/CMakeCache.txt ] || cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS) --target benchmarks
	@build/bench/run-benchmarks

clean:
	rm -rf build build-asan build-tsan build-m32 build-fuzz
