// End to end under a real X server (ctest runs it in xvfb-run): start spiralis, dismiss the
// library's banner, wait for the picture, zoom by a double click, open scenes from the gallery
// and with Load picture, save pictures through the dialog and compare the files with the same
// views rendered by quob-render at the same size. Input goes through the XTEST extension
// (libXtst.so.6, opened at run time), as a user's would; a thumbnail is found on the screen by
// its pixels, as a user finds it by looking.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <mpfr.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "picture_files.h"
#include "quobimport.h"
#include "viewer_defaults.h"
// After Qt: its headers must come before Xlib's macros.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// ---- The X server, driven as a user would ------------------------------------------------------

::Display *display = nullptr;
void *xtst = nullptr;
int (*FakeKey)(::Display *, unsigned, Bool, unsigned long) = nullptr;
int (*FakeButton)(::Display *, unsigned, Bool, unsigned long) = nullptr;
int (*FakeMotion)(::Display *, int, int, int, unsigned long) = nullptr;

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;  // root co-ordinates of the client area
};

std::string Title(Window window) {
    std::string title;
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), 0, 1024,
                           False, XInternAtom(display, "UTF8_STRING", False), &type, &format,
                           &count, &after, &data) == Success &&
        data) {
        title.assign(reinterpret_cast<char *>(data), count);
        XFree(data);
    }
    char *name = nullptr;
    if (title.empty() && XFetchName(display, window, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

// A mapped window titled exactly so (WM_NAME or _NET_WM_NAME), anywhere below window.
Window Find(const std::string &title, Rect &where, Window window = 0) {
    if (!window) window = DefaultRootWindow(display);
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable &&
        Title(window) == title) {
        Window child;
        XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &where.x, &where.y,
                              &child);
        where.width = attributes.width;
        where.height = attributes.height;
        return window;
    }
    Window root, parent, *children = nullptr, found = 0;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return 0;
    for (unsigned i = 0; i < count && !found; ++i) found = Find(title, where, children[i]);
    if (children) XFree(children);
    return found;
}

// Gives the keyboard to the window titled so, as a window manager does on a click (Xvfb has
// none, and a window's own focus request reverts to the root when that window closes), and gives
// it a moment to take it.
bool Focus(const std::string &title) {
    Rect where;
    const Window window = Find(title, where);
    if (window) XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
    XFlush(display);
    std::this_thread::sleep_for(300ms);
    return window;
}

// A key by its keysym name ("Return", "s", "F10"), with modifiers.
void Key(const std::string &keysym, bool control = false, bool shift = false) {
    const auto send = [](const char *name, bool press) {
        FakeKey(display, XKeysymToKeycode(display, XStringToKeysym(name)), press, CurrentTime);
        XFlush(display);
    };
    if (control) send("Control_L", true);
    if (shift) send("Shift_L", true);
    send(keysym.c_str(), true);
    send(keysym.c_str(), false);
    if (shift) send("Shift_L", false);
    if (control) send("Control_L", false);
}

// Plain text: letters, digits, slashes, points, dashes and underscores.
void Type(const std::string &text) {
    for (const char c : text)
        if (c == '/')
            Key("slash");
        else if (c == '.')
            Key("period");
        else if (c == '-')
            Key("minus");
        else if (c == '_')
            Key("underscore", false, true);
        else
            Key(std::string(1, char(std::tolower(c))), false, std::isupper(c));
}

void MoveTo(int x, int y) {
    FakeMotion(display, -1, x, y, CurrentTime);
    XFlush(display);
}

void Click() {
    FakeButton(display, 1, True, CurrentTime);
    FakeButton(display, 1, False, CurrentTime);
    XFlush(display);
}

// Where the picture shows on the screen within the area, unscaled: the root co-ordinates of its
// top left corner. Its inner rows are compared, since a focus frame may cross its edges.
bool FindOnScreen(const QImage &picture, const Rect &area, int &left, int &top) {
    XImage *screen = XGetImage(display, DefaultRootWindow(display), area.x, area.y, area.width,
                               area.height, AllPlanes, ZPixmap);
    if (!screen) return false;
    const auto same = [&](int x, int y, int px, int py) {
        return (XGetPixel(screen, x + px, y + py) & 0xFFFFFF) ==
               (picture.pixel(px, py) & 0xFFFFFFu);
    };
    const int w = picture.width(), h = picture.height(), m = 8;
    bool found = false;
    for (int y = 0; y + h <= area.height && !found; ++y)
        for (int x = 0; x + w <= area.width && !found; ++x) {
            found = true;
            for (const int py : {m, h / 2, h - 1 - m})
                for (int px = m; px < w - m && found; ++px) found = same(x, y, px, py);
            if (found) left = area.x + x, top = area.y + y;
        }
    XDestroyImage(screen);
    return found;
}

// ---- Pictures ----------------------------------------------------------------------------------

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// A 24-bit bitmap file's bytes; its header's fields by offset.
struct Bitmap {
    std::vector<uint8_t> bytes;
    int32_t Int32(size_t offset) const {
        int32_t v = 0;
        if (bytes.size() >= offset + 4) std::memcpy(&v, bytes.data() + offset, 4);
        return v;
    }
    bool Complete() const { return bytes.size() >= 54 && bytes.size() == 54u + Int32(34); }
};

Bitmap ReadBitmap(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {{std::istreambuf_iterator<char>(in), {}}};
}

// The view as quob-render draws it at the given size (its smoothed fill, as the viewer's redraw
// ends with).
Bitmap QuobRender(const fs::path &file, double re, double im, double scale, int32_t width,
                  int32_t height, const std::string &more = {}) {
    char command[2048];
    std::snprintf(command, sizeof command,
                  "'%s' -o '%s' --width %d --height %d --center %.17g,%.17g --scale %.17g "
                  "--mode smoothed %s",
                  QUOB_RENDER_PATH, file.c_str(), width, height, re, im, scale, more.c_str());
    EXPECT_EQ(std::system(command), 0) << command;
    return ReadBitmap(file);
}

constexpr const char *kBanner = "QUOB32 You're welcome!";
constexpr const char *kMainWin = "Spiralis beta 3.0 (31.05.98)";
constexpr const char *kSaveDialog = "Save current image in bmp format (True color)";
constexpr const char *kFractals = "Fractal definition";
constexpr const char *kHelp = "Help index";
constexpr const char *kLoadDialog = "Load a picture with its scene";
constexpr const char *kErrorBox = "Error";
constexpr const char *kExactDialog = "Exact view spot position";

// The line of the formula list whose comment's first sentence is the name.
int LineOf(const fs::path &list, const std::string &name) {
    std::ifstream in(list, std::ios::binary);
    char record[2050];
    for (int line = 0; in.read(record, sizeof record); ++line)
        if (std::string(record + 1025).rfind(name + ".", 0) == 0) return line;
    return -1;
}

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(display = XOpenDisplay(nullptr), nullptr) << "cannot connect to the X server";
        // A window that closes while Find looks at it is no error of the test; Xlib's default
        // handler would end the process.
        XSetErrorHandler([](::Display *, XErrorEvent *) { return 0; });
        ASSERT_NE(xtst = dlopen("libXtst.so.6", RTLD_NOW), nullptr) << dlerror();
        FakeKey = reinterpret_cast<decltype(FakeKey)>(dlsym(xtst, "XTestFakeKeyEvent"));
        FakeButton = reinterpret_cast<decltype(FakeButton)>(dlsym(xtst, "XTestFakeButtonEvent"));
        FakeMotion = reinterpret_cast<decltype(FakeMotion)>(dlsym(xtst, "XTestFakeMotionEvent"));
        ASSERT_TRUE(FakeKey && FakeButton && FakeMotion);
        char folderName[] = "/tmp/spiralise2eXXXXXX";
        ASSERT_NE(mkdtemp(folderName), nullptr);
        folder = folderName;
    }
    void TearDown() override {
        if (viewer > 0) {
            kill(viewer, SIGKILL);
            waitpid(viewer, nullptr, 0);
        }
        if (display) XCloseDisplay(display);
        if (xtst) dlclose(xtst);
        fs::remove_all(folder);
    }

    // Starts spiralis in the folder: the banner comes first, Return dismisses it, and the main
    // window shows the home view (win: its client area).
    void StartViewer(Rect &win) {
        TQuobLibrary library;
        std::string error;
        ASSERT_TRUE(library.Load({SPIRALIS_FOLDER}, error)) << error;
        const QUOB_FillerParams defaults = ViewerDefaults();
        const int32_t probe = library.Imports().CreateFiller(&defaults);
        library.Imports().DeleteFiller(probe);
        library.Unload();
        if (!probe) GTEST_SKIP() << "libquob32 reports the rendering engine unavailable";
        viewer = fork();
        if (viewer == 0) {
            if (chdir(folder.c_str()) == 0) execl(SPIRALIS_PATH, SPIRALIS_PATH, nullptr);
            _exit(127);
        }
        Rect banner;
        ASSERT_TRUE(WaitFor([&] { return Find(kBanner, banner); }, 30s)) << "no banner";
        EXPECT_FALSE(Find(kMainWin, win)) << "the main window came before the banner";
        std::this_thread::sleep_for(500ms);
        MoveTo(banner.x + banner.width / 2, banner.y + banner.height / 4);
        Key("Return");
        ASSERT_TRUE(WaitFor([&] { return !Find(kBanner, banner); }, 10s));
        ASSERT_TRUE(WaitFor([&] { return Find(kMainWin, win); }, 30s));
        MoveTo(win.x + win.width / 2, win.y + win.height / 2);
        std::this_thread::sleep_for(3s);  // preview at once, the smoothed fill well within this
    }

    // Ctrl+S (or Ctrl+L), then the file name typed over the dialog's proposal, then Return.
    void Answer(const char *shortcut, const char *title, const fs::path &file) {
        EXPECT_TRUE(Focus(kMainWin));
        Key(shortcut, true);
        Rect dialog;
        EXPECT_TRUE(WaitFor([&] { return Find(title, dialog); }, 10s)) << title;
        std::this_thread::sleep_for(500ms);
        Focus(title);
        Key("a", true);
        Type(file.string());
        Key("Return");
        EXPECT_TRUE(WaitFor([&] { return !Find(title, dialog); }, 10s)) << title;
    }

    Bitmap SaveAs(const std::string &name) {
        Answer("s", kSaveDialog, folder / name);
        const fs::path file = folder / (name + ".bmp");
        EXPECT_TRUE(WaitFor([&] { return ReadBitmap(file).Complete(); }, 10s)) << file;
        return ReadBitmap(file);
    }

    // Saves the view in force as a PNG and compares its pixels with those of quob-render --from
    // it; the deep fill may still be at work, so it saves again until they agree, for about a
    // minute. The PNG's texts, or none (a failure) when they never agree.
    std::map<std::string, std::string> Saved(const fs::path &where, const std::string &name);

    // The lists and the gallery in the working folder, as make run seeds it.
    void SeedAsMakeRun() {
        for (const char *list : {"fractals.dat", "cadjusts.dat", "hotspots.dat"})
            fs::copy_file(fs::path(STARTER_LISTS_FOLDER) / list, folder / list);
        fs::copy(fs::path(STARTER_LISTS_FOLDER) / "gallery", folder / "gallery");
    }

    fs::path folder;
    pid_t viewer = 0;
};

TEST_F(EndToEnd, BannerPictureZoomAndSavedPictures) {
    Rect win;
    StartViewer(win);
    if (IsSkipped() || HasFatalFailure()) return;

    // Both files have the same 24-bit layout, header and padding included.
    const Bitmap home = SaveAs("home");
    const int32_t W = home.Int32(18), H = home.Int32(22);
    ASSERT_GT(W, 0);
    ASSERT_GT(H, 0);
    EXPECT_TRUE(home.bytes == QuobRender(folder / "home-render.bmp", -0.5, 0, 2.0, W, H).bytes);

    // The display fills the client area below the menu, inside a 1-pixel bevel.
    const int displayLeft = win.x + 1, displayTop = win.y + win.height - 1 - H;
    const int x = W / 2 + W / 5, y = H / 2 - H / 6;
    MoveTo(displayLeft + x, displayTop + y);
    std::this_thread::sleep_for(200ms);
    Click();  // a hot spot, armed
    std::this_thread::sleep_for(800ms);
    Click();  // a double click
    Click();
    std::this_thread::sleep_for(3s);

    // ZoomToSpot's arithmetic for a spot of the default radius at (x, y).
    double re = -0.5, im = 0, scale = 2.0;
    re += scale / H * (x - W / 2);
    im -= scale / H * (y - H / 2);
    scale = 2 * scale * (std::min(W, H) / 10) / H;
    const Bitmap zoomed = SaveAs("zoomed");
    EXPECT_TRUE(zoomed.bytes ==
                QuobRender(folder / "zoomed-render.bmp", re, im, scale, W, H).bytes);

    EXPECT_TRUE(Focus(kMainWin));
    Key("F10");
    int status = -1;
    ASSERT_TRUE(WaitFor([&] { return waitpid(viewer, &status, WNOHANG) == viewer; }, 20s))
        << "spiralis did not end on F10";
    viewer = 0;
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// As make run starts it: the starter lists in the working folder; F3 lists them, and the line
// "Burning Ship" taken with Load and applied with OK draws it.
TEST_F(EndToEnd, StarterListsBurningShip) {
    SeedAsMakeRun();
    const int line = LineOf(folder / "fractals.dat", "Burning Ship");
    ASSERT_GE(line, 0);
    Rect win, dialog;
    StartViewer(win);
    if (IsSkipped() || HasFatalFailure()) return;
    EXPECT_TRUE(Focus(kMainWin));
    Key("F3");
    ASSERT_TRUE(WaitFor([&] { return Find(kFractals, dialog); }, 10s));
    std::this_thread::sleep_for(500ms);
    Focus(kFractals);
    // Expr has the focus: Tab, Tab to the list, its first line, then down to the ship.
    Key("Tab");
    Key("Tab");
    Key("Home");
    for (int i = 0; i < line; ++i) Key("Down");
    Key("Tab");  // Load
    Key("space");
    Key("Tab", false, true);  // back to the list, where Return is the default button's, OK
    Key("Return");
    ASSERT_TRUE(WaitFor([&] { return !Find(kFractals, dialog); }, 10s)) << "OK did not close";
    std::this_thread::sleep_for(3s);
    const Bitmap ship = SaveAs("ship");
    const int32_t W = ship.Int32(18), H = ship.Int32(22);
    ASSERT_GT(W, 0);
    EXPECT_TRUE(ship.bytes == QuobRender(folder / "ship-render.bmp", -0.5, 0, 2.0, W, H,
                                         "--fractal-from '" + (folder / "fractals.dat").string() +
                                             ":Burning Ship'")
                                  .bytes);
}

// As make run starts it: F1 shows the gallery, where Burning Ship is found by typing its name and
// clicked; the main window draws the gallery's picture at its own size, Back returns to the home
// view with the ship's formulas, and a PNG saved of the ship brings it back with Load picture,
// while a PNG without a scene is refused with a message and changes nothing.
TEST_F(EndToEnd, GalleryLoadPictureAndBack) {
    SeedAsMakeRun();
    const fs::path gallery = folder / "gallery" / "13-burning-ship.png";
    const QImage thumbnail(QString::fromStdString(gallery.string()));
    ASSERT_EQ(thumbnail.size(), QSize(160, 120));
    Rect win, help;
    StartViewer(win);
    if (IsSkipped() || HasFatalFailure()) return;

    EXPECT_TRUE(Focus(kMainWin));
    Key("F1");
    ASSERT_TRUE(WaitFor([&] { return Find(kHelp, help); }, 10s)) << "F1 showed no help window";
    std::this_thread::sleep_for(1s);
    Focus(kHelp);
    Type("burning");  // the gallery has the keyboard: the first picture of that name shows
    std::this_thread::sleep_for(1s);
    int left = 0, top = 0;
    ASSERT_TRUE(FindOnScreen(thumbnail, help, left, top)) << "Burning Ship is not on the screen";
    MoveTo(left + 80, top + 60);
    std::this_thread::sleep_for(300ms);
    Click();
    std::this_thread::sleep_for(3s);

    // The dialogs' completion offers files of the names typed: it must not outlive them.
    const Bitmap ship = SaveAs("ship");
    const int32_t W = ship.Int32(18), H = ship.Int32(22);
    ASSERT_GT(W, 0);
    const std::string from = "--from '" + gallery.string() + "'";
    EXPECT_TRUE(ship.bytes ==
                QuobRender(folder / "ship-render.bmp", -0.5, -0.5, 3, W, H, from).bytes)
        << "the main window does not show the gallery's Burning Ship";
    Answer("s", kSaveDialog, folder / "ship.png");
    ASSERT_TRUE(WaitFor([&] { return fs::exists(folder / "ship.png"); }, 10s));

    EXPECT_TRUE(Focus(kMainWin));
    Key("Delete", false, true);  // Back
    std::this_thread::sleep_for(3s);
    const Bitmap reference = QuobRender(folder / "back-render.bmp", -0.5, 0, 2, W, H, from);
    EXPECT_TRUE(SaveAs("back").bytes == reference.bytes)
        << "Back did not return to the home view with the ship's formulas";

    Answer("l", kLoadDialog, folder / "ship.png");
    std::this_thread::sleep_for(3s);
    EXPECT_TRUE(SaveAs("loaded").bytes == ship.bytes) << "Load picture did not restore the ship";

    const uint32_t pixel = 0x808080;
    ASSERT_TRUE(quob::common::WritePng((folder / "plain.png").string(), {&pixel, 1, 1}, {}));
    Answer("l", kLoadDialog, folder / "plain.png");
    Rect box;
    ASSERT_TRUE(WaitFor([&] { return Find(kErrorBox, box); }, 10s)) << "no message";
    Focus(kErrorBox);
    Key("Return");
    ASSERT_TRUE(WaitFor([&] { return !Find(kErrorBox, box); }, 10s));
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(SaveAs("refused").bytes == ship.bytes) << "a PNG without a scene changed things";
}

// A view typed at 1e-200 around 0 + 1i in the exact position dialog is drawn by the deep fill,
// whose PNG quob-render --from draws again pixel for pixel; a hot spot's zoom there moves the
// centre by far less than 1e-30 and the PNG keeps the digits; from 1e-15 Zoom in reaches the
// deep fill in a few steps, each picture its view's, and Back returns through the same pictures.
TEST_F(EndToEnd, DeepViewsTypedZoomedAndBack) {
    Rect win;
    StartViewer(win);
    if (IsSkipped() || HasFatalFailure()) return;
    const auto type = [&](const char *re, const char *im, const char *factor) {
        EXPECT_TRUE(Focus(kMainWin));
        Key("F2");
        Rect dialog;
        ASSERT_TRUE(WaitFor([&] { return Find(kExactDialog, dialog); }, 10s));
        std::this_thread::sleep_for(500ms);
        Focus(kExactDialog);
        for (const char *text : {re, im, factor}) {
            Key("a", true);
            Type(text);
            Key("Tab");
        }
        Key("Return", false, false);
        ASSERT_TRUE(WaitFor([&] { return !Find(kExactDialog, dialog); }, 10s));
        std::this_thread::sleep_for(500ms);
    };
    // Bands of the iteration count at block length 1: the default colouring leaves escaping
    // samples black, and black against black would prove little. A scene of quob-render's sets
    // them, at a shallow view.
    const fs::path scene = folder / "bands.png";
    const std::string command =
        std::string("'") + QUOB_RENDER_PATH + "' -o '" + scene.string() +
        "' --width 16 --height 12 --block-length 1 --iterations 2000 --max-module 1000 "
        "--differential 0 --color 'x y iter = iter copy copy 0.5 * 0 + sin 127 * 128 + ret 0.5 * "
        "2.094 + sin 127 * 128 + ret 0.5 * 4.189 + sin 127 * 128 + ret' > /dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    Answer("l", kLoadDialog, scene);
    std::this_thread::sleep_for(2s);
    type("0", "1", "2e200");  // the zoom factor: the home scale 2 over the scale
    std::map<std::string, std::string> texts = Saved(folder, "typed");
    EXPECT_EQ(texts["Center"], "0,1");
    EXPECT_EQ(texts["Scale"], "1e-200");

    // A hot spot right of the centre and above it, then a double click on it.
    const Bitmap probe = SaveAs("probe");
    const int32_t W = probe.Int32(18), H = probe.Int32(22);
    const int displayLeft = win.x + 1, displayTop = win.y + win.height - 1 - H;
    MoveTo(displayLeft + W / 2 + 20, displayTop + H / 2 - 10);
    std::this_thread::sleep_for(200ms);
    Click();
    std::this_thread::sleep_for(800ms);
    Click();
    Click();
    std::this_thread::sleep_for(1s);
    texts = Saved(folder, "spot");
    const std::string centre = texts["Center"];
    ASSERT_NE(centre.find(','), std::string::npos) << centre;
    mpfr_t re, im;
    mpfr_inits2(1000, re, im, static_cast<mpfr_ptr>(nullptr));
    mpfr_set_str(re, centre.substr(0, centre.find(',')).c_str(), 10, MPFR_RNDN);
    mpfr_set_str(im, centre.substr(centre.find(',') + 1).c_str(), 10, MPFR_RNDN);
    mpfr_sub_ui(im, im, 1, MPFR_RNDN);
    EXPECT_GT(mpfr_get_d(re, MPFR_RNDN), 0) << centre;
    EXPECT_LT(mpfr_get_d(re, MPFR_RNDN), 1e-30) << centre;
    EXPECT_GT(mpfr_get_d(im, MPFR_RNDN), 0) << centre;
    EXPECT_LT(mpfr_get_d(im, MPFR_RNDN), 1e-30) << centre;
    mpfr_clears(re, im, static_cast<mpfr_ptr>(nullptr));

    // Zoom in from 1e-15 until the deep fill draws; then Back as often.
    type("-0.10109636384562", "0.95628651080914", "2e15");  // beside a Misiurewicz point
    std::vector<std::string> forward;
    for (int zoom = 0; zoom < 6; ++zoom) {
        EXPECT_TRUE(Focus(kMainWin));
        Key("i", true);
        std::this_thread::sleep_for(500ms);
        forward.push_back(Saved(folder, "in" + std::to_string(zoom))["Scale"]);
    }
    EXPECT_NE(forward.back().find("e-17"), std::string::npos) << forward.back();
    for (int back = 4; back >= 0; --back) {
        EXPECT_TRUE(Focus(kMainWin));
        Key("Delete", false, true);
        std::this_thread::sleep_for(500ms);
        EXPECT_EQ(Saved(folder, "back" + std::to_string(back))["Scale"],
                  forward[static_cast<std::size_t>(back)]);
    }
}

std::map<std::string, std::string> EndToEnd::Saved(const fs::path &where, const std::string &name) {
    const fs::path png = where / (name + ".png"), drawn = where / (name + "-render.png");
    for (int attempt = 0; attempt < 30; ++attempt) {
        fs::remove(png);
        Answer("s", kSaveDialog, png);
        if (!WaitFor([&] { return fs::exists(png); }, 10s)) break;
        std::this_thread::sleep_for(200ms);
        const std::string command = std::string("'") + QUOB_RENDER_PATH + "' --from '" +
                                    png.string() + "' -o '" + drawn.string() + "' 2>/dev/null";
        if (std::system(command.c_str()) != 0) break;
        const QImage mine(QString::fromStdString(png.string()));
        const QImage theirs(QString::fromStdString(drawn.string()));
        if (!mine.isNull() && mine.convertToFormat(QImage::Format_RGB32) ==
                                  theirs.convertToFormat(QImage::Format_RGB32)) {
            std::set<QRgb> colours;
            for (int y = 0; y < mine.height(); y += 3)
                for (int x = 0; x < mine.width(); x += 3) colours.insert(mine.pixel(x, y));
            // Smooth bands where the view lies between structures: a few colours at least.
            EXPECT_GT(colours.size(), 3u) << name << ": a picture of one colour proves little";
            std::vector<quob::common::TextChunk> chunks;
            std::string error;
            EXPECT_TRUE(quob::common::ReadPngTexts(png.string(), chunks, error)) << error;
            return {chunks.begin(), chunks.end()};
        }
        std::this_thread::sleep_for(2s);
    }
    ADD_FAILURE() << name << ": the saved picture is not quob-render's of its texts";
    return {};
}

}  // namespace
