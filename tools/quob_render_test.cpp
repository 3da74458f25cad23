// The quob-render program: exit statuses and messages, --from, and Ctrl+C.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "picture_files.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> Bytes(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class QuobRender : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("quob_render_test_" + std::to_string(getpid()));
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    // Starts quob-render with its standard error going to a file of the folder.
    pid_t Start(const std::vector<std::string> &args) {
        std::vector<char *> argv = {const_cast<char *>(QUOB_RENDER)};
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, Errors().c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t child = -1;
        EXPECT_EQ(posix_spawn(&child, QUOB_RENDER, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        return child;
    }

    // The exit status; -1 when the process did not exit by itself.
    static int Wait(pid_t child) {
        int status = 0;
        if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

    int Run(const std::vector<std::string> &args) { return Wait(Start(args)); }
    std::string Errors() const { return (folder_ / "stderr").string(); }
    std::string Path(const std::string &name) const { return (folder_ / name).string(); }

    fs::path folder_;
};

struct RunCase {
    std::vector<std::string> args;  // after "-o FOLDER/p.bmp --width 64 --height 48"
    int status;
    std::string message;      // in standard error
    std::string absent = {};  // not in standard error, when not empty
};

void PrintTo(const RunCase &c, std::ostream *out) {
    for (const std::string &a : c.args) *out << a << ' ';
}

constexpr const char *kJacobian = "x y jxx jyx = jxx 40 * ret jyx 40 * ret 0 ret";

class Runs : public QuobRender, public ::testing::WithParamInterface<RunCase> {};

TEST_P(Runs, StatusAndMessage) {
    const RunCase &c = GetParam();
    std::vector<std::string> args = {"-o", Path("p.bmp"), "--width", "64", "--height", "48"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(Run(args), c.status);
    const std::vector<uint8_t> errors = Bytes(Errors());
    const std::string text(errors.begin(), errors.end());
    EXPECT_NE(text.find(c.message), std::string::npos) << text;
    if (!c.absent.empty()) {
        EXPECT_EQ(text.find(c.absent), std::string::npos) << text;
    }
    const uintmax_t size = fs::exists(Path("p.bmp")) ? fs::file_size(Path("p.bmp")) : 0;
    EXPECT_EQ(size, c.status == 0 ? 54u + 192 * 48 : 0u);  // rows of 192 bytes
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), {}), c.status == 0 ? 2 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Runs,
    ::testing::Values(
        RunCase{{"--mode", "plain"}, 0, ""},
        RunCase{{"--fractal", "tx ty x y = tx +"}, 1, "fractal formula: "},
        RunCase{{"--color", "x y = x ret"}, 1, "colour formula: needs parameters named x and y"},
        RunCase{{"--scale", "nan"}, 2, "invalid value 'nan' for --scale"},
        RunCase{{"--scale", "-1"}, 2, "invalid value '-1' for --scale"},
        RunCase{{"--max-module", "inf"}, 2, "invalid value 'inf' for --max-module"},
        RunCase{{"--scale", "1e-18"}, 0, "rendering by perturbation (deep)"},
        RunCase{{"--scale", "1e-300", "--center", "0,1", "--differential", "0"}, 0, "(deep)"},
        // A formula without a perturbed form: refused when asked for, in blocks otherwise.
        RunCase{{"--deep", "--fractal", "tx ty x y = tx int x + ret ty y + ret"}, 1, "\"int\""},
        RunCase{{"--scale", "1e-18", "--fractal", "tx ty x y = tx int x + ret ty y + ret"},
                0,
                "the picture will be made of blocks"},
        // A colour formula that reads the derivative of a fractal formula that gives none: a
        // warning, and the picture.
        RunCase{{"--color", kJacobian, "--fractal", "tx ty x y = tx tan x + ret ty y + ret"},
                0,
                "quob-render: warning: the colour formula's derivative inputs read 0: the fractal "
                "formula's derivative is not followed: its \"tan\""},
        RunCase{{"--color", kJacobian}, 0, "", "derivative"},
        // Deep with a formula whose skips could not carry all it feeds back: every iteration.
        RunCase{{"--scale", "1e-300", "--center", "0,1", "--fractal",
                 "tx ty x y = tx sqr ty sqr - x + ret"},
                0,
                "quob-render: warning: no linear approximation: the formula feeds back 1 value, "
                "and skips carry the iterate's two alone; every iteration is run"},
        RunCase{{"--scale", "1e-300", "--center", "0,1"}, 0, "", "approximation"},
        RunCase{
            {"-o", "/proc/no/such/folder/p.bmp"}, 1, "cannot write /proc/no/such/folder/p.bmp"}));

struct FromCase {
    std::string center, scale;
};

void PrintTo(const FromCase &c, std::ostream *out) { *out << c.scale; }

class From : public QuobRender, public ::testing::WithParamInterface<FromCase> {};

// A PNG keeps its parameters: --from makes the same file again, and another size on request.
TEST_P(From, ReproducesThePngByteForByte) {
    const FromCase &view = GetParam();
    ASSERT_EQ(Run({"-o", Path("a.png"), "--width", "90", "--height", "61", "--center", view.center,
                   "--scale", view.scale, "--iterations", "60", "--block-length", "7", "--mode",
                   "plain", "--supersample", "2"}),
              0);
    ASSERT_EQ(Run({"--from", Path("a.png"), "-o", Path("b.png")}), 0);
    EXPECT_EQ(Bytes(Path("b.png")), Bytes(Path("a.png")));

    ASSERT_EQ(
        Run({"--from", Path("b.png"), "-o", Path("c.png"), "--width", "30", "--height", "20"}), 0);
    std::vector<quob::common::TextChunk> texts;
    std::string error;
    ASSERT_TRUE(quob::common::ReadPngTexts(Path("c.png"), texts, error)) << error;
    auto text = [&](const std::string &keyword) {
        for (const auto &[k, t] : texts)
            if (k == keyword) return t;
        return std::string("(none)");
    };
    EXPECT_EQ(text("Width"), "30");
    EXPECT_EQ(text("Height"), "20");
    EXPECT_EQ(text("Center"), view.center);
    EXPECT_EQ(text("Scale"), view.scale);
    EXPECT_EQ(text("Supersample"), "2");
    const std::vector<uint8_t> c = Bytes(Path("c.png"));
    ASSERT_GT(c.size(), 24u);
    EXPECT_EQ(std::vector<uint8_t>(c.begin() + 16, c.begin() + 24),
              (std::vector<uint8_t>{0, 0, 0, 30, 0, 0, 0, 20}));  // IHDR's width and height
}

INSTANTIATE_TEST_SUITE_P(
    Views, From,
    ::testing::Values(FromCase{"-0.7435000000000000000000001,0.1314", "0.0020"},
                      // Deep: more digits than any floating-point type keeps.
                      FromCase{"-1.74995768370609350360221450607069970727110579726252077930242"
                               "8378202860080829728048872186727844317008311005445076556595,"
                               "0.00000000000000000000000000000000000000000000000000000000001",
                               "3.5e-95"}));

// Ctrl+C stops the threads, leaves no file behind, partial or whole, and exits with 130.
TEST_F(QuobRender, InterruptRemovesThePartialFile) {
    const pid_t child =
        Start({"-o", Path("slow.png"), "--width", "2000", "--height", "1500", "--differential", "0",
               "--iterations", "1000", "--block-length", "1000"});
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::distance(fs::directory_iterator(folder_), {}) < 2) {  // stderr, the partial file
        ASSERT_LT(std::chrono::steady_clock::now(), end) << "no partial file appeared";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(child, SIGINT);
    EXPECT_EQ(Wait(child), 130);
    std::vector<std::string> left;
    for (const auto &entry : fs::directory_iterator(folder_))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"stderr"});
}

}  // namespace
