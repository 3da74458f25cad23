// End to end under a real X server (ctest runs it in xvfb-run): start spiralis, dismiss the
// library's banner, wait for the picture, zoom by a double click, save pictures through the
// dialog and compare the files with the same views rendered by quob-render at the same size.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "main.h"
#include "xdriver.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char *kBanner = "QUOB32 You're welcome!";
constexpr const char *kMainWin = "Spiralis beta 3.0 (31.05.98)";

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

struct Bitmap {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> bytes;
    int32_t Int32(size_t offset) const {
        int32_t v;
        std::memcpy(&v, bytes.data() + offset, 4);
        return v;
    }
};

Bitmap ReadBitmap(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    Bitmap bmp;
    bmp.bytes.assign(std::istreambuf_iterator<char>(in), {});
    if (bmp.bytes.size() >= 54) {
        bmp.width = bmp.Int32(18);
        bmp.height = bmp.Int32(22);
    }
    return bmp;
}

// The view as quob-render draws it at the given size (its smoothed fill, as the viewer's redraw
// ends with).
Bitmap QuobRender(const fs::path &file, double re, double im, double scale, int32_t width,
                  int32_t height) {
    char command[1024];
    std::snprintf(command, sizeof command,
                  "'%s' -o '%s' --width %d --height %d --center %.17g,%.17g --scale %.17g "
                  "--mode smoothed",
                  QUOB_RENDER_PATH, file.c_str(), width, height, re, im, scale);
    EXPECT_EQ(std::system(command), 0) << command;
    return ReadBitmap(file);
}

// Counts the pixels in which two 24-bit files of the same size differ.
int Differences(const Bitmap &saved, const Bitmap &reference) {
    if (saved.width != reference.width || saved.height != reference.height ||
        saved.bytes.size() != reference.bytes.size())
        return -1;
    const int32_t rowSize = ((saved.width * 24 + 31) / 32) * 4;
    int differences = 0;
    for (int32_t row = 0; row < saved.height; ++row)
        for (int32_t x = 0; x < saved.width; ++x) {
            const size_t at = 54 + size_t(row) * rowSize + 3 * x;
            differences += std::memcmp(&saved.bytes[at], &reference.bytes[at], 3) != 0;
        }
    return differences;
}

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(xdriver::Open(error)) << error;
        char folderName[] = "/tmp/spiralise2eXXXXXX";
        ASSERT_NE(mkdtemp(folderName), nullptr);
        folder = folderName;
    }
    void TearDown() override {
        if (viewer > 0) {
            kill(viewer, SIGKILL);
            waitpid(viewer, nullptr, 0);
        }
        xdriver::Close();
        fs::remove_all(folder);
    }

    void Start() {
        viewer = fork();
        if (viewer == 0) {
            if (chdir(folder.c_str()) == 0) execl(SPIRALIS_PATH, SPIRALIS_PATH, nullptr);
            _exit(127);
        }
    }

    // Ctrl+S, then the file name typed over the dialog's proposal, then Return.
    Bitmap SaveAs(const std::string &name) {
        EXPECT_TRUE(xdriver::Focus(kMainWin));
        std::this_thread::sleep_for(300ms);
        xdriver::Key("s", true);
        xdriver::Rect dialog;
        EXPECT_TRUE(WaitFor(
            [&] {
                return xdriver::FindWindow("Save current image in bmp format (True color)", dialog);
            },
            10s));
        std::this_thread::sleep_for(500ms);
        xdriver::Focus("Save current image in bmp format (True color)");
        std::this_thread::sleep_for(300ms);
        xdriver::Key("a", true);
        xdriver::Type((folder / name).string());
        xdriver::Key("Return");
        const fs::path file = folder / (name + ".bmp");
        EXPECT_TRUE(WaitFor(
            [&] {
                return fs::exists(file) && fs::file_size(file) >= 54 &&
                       ReadBitmap(file).bytes.size() == 54 + size_t(ReadBitmap(file).Int32(34));
            },
            10s))
            << file;
        return ReadBitmap(file);
    }

    fs::path folder;
    pid_t viewer = 0;
};

TEST_F(EndToEnd, BannerPictureZoomAndSavedPictures) {
    std::string error;
    ASSERT_TRUE(LoadQuob32(SPIRALIS_FOLDER, error)) << error;
    const int32_t probe = Quob.CreateFiller(&DefaultParams);
    Quob.DeleteFiller(probe);
    UnloadQuob32();
    if (!probe) GTEST_SKIP() << "libquob32 reports the rendering engine unavailable";

    Start();
    xdriver::Rect banner, win;
    ASSERT_TRUE(WaitFor([&] { return xdriver::FindWindow(kBanner, banner); }, 30s))
        << "the banner did not appear";
    EXPECT_FALSE(xdriver::FindWindow(kMainWin, win)) << "the main window came before the banner";
    std::this_thread::sleep_for(500ms);
    xdriver::MoveTo(banner.x + banner.width / 2, banner.y + banner.height / 4);
    xdriver::Key("Return");
    ASSERT_TRUE(WaitFor([&] { return !xdriver::FindWindow(kBanner, banner); }, 10s));
    ASSERT_TRUE(WaitFor([&] { return xdriver::FindWindow(kMainWin, win); }, 30s));
    xdriver::MoveTo(win.x + win.width / 2, win.y + win.height / 2);
    std::this_thread::sleep_for(3s);  // preview at once, the smoothed fill well within this

    const Bitmap home = SaveAs("home");
    ASSERT_GT(home.width, 0);
    ASSERT_GT(home.height, 0);
    const int32_t W = home.width, H = home.height;
    EXPECT_EQ(Differences(home, QuobRender(folder / "home-render.bmp", -0.5, 0, 2.0, W, H)), 0);

    // The display fills the client area below the menu, inside a 1-pixel bevel.
    const int displayLeft = win.x + 1, displayTop = win.y + win.height - 1 - H;
    const int x = W / 2 + W / 5, y = H / 2 - H / 6;
    xdriver::MoveTo(displayLeft + x, displayTop + y);
    std::this_thread::sleep_for(200ms);
    xdriver::Click();  // a hot spot, armed
    std::this_thread::sleep_for(800ms);
    xdriver::DoubleClick();
    std::this_thread::sleep_for(3s);

    const Bitmap zoomed = SaveAs("zoomed");
    ASSERT_EQ(zoomed.width, W);
    ASSERT_EQ(zoomed.height, H);
    // ZoomToSpot's arithmetic for a spot of the default radius at (x, y).
    double re = -0.5, im = 0, scale = 2.0;
    re += scale / H * (x - W / 2);
    im -= scale / H * (y - H / 2);
    scale = 2 * scale * (std::min(W, H) / 10) / H;
    const Bitmap rendered = QuobRender(folder / "zoomed-render.bmp", re, im, scale, W, H);
    EXPECT_EQ(Differences(zoomed, rendered), 0);
    // Headers too: both are the same 24-bit layout.
    EXPECT_TRUE(
        std::equal(zoomed.bytes.begin(), zoomed.bytes.begin() + 54, rendered.bytes.begin()));

    EXPECT_TRUE(xdriver::Focus(kMainWin));
    std::this_thread::sleep_for(300ms);
    xdriver::Key("F10");
    int status = -1;
    ASSERT_TRUE(WaitFor([&] { return waitpid(viewer, &status, WNOHANG) == viewer; }, 20s))
        << "spiralis did not end on F10";
    viewer = 0;
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
