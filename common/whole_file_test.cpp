// Files replaced whole: what the file holds afterwards, with which permissions and which reason,
// and that no temporary file is left behind, for each kind of file the name stands for and each
// way of writing it. Writes that the disk or the folder refuses are the viewer's tests
// (viewer/tests: a read-only folder, a full file system, size and descriptor limits).
#include "whole_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace quob::common {
namespace {

namespace fs = std::filesystem;

enum class TTarget {
    Missing,   // no file of that name yet
    Regular,   // "old", permissions 0640
    Link,      // a symbolic link to kept/NAME, which holds "old" with permissions 0640
    Folder,    // a folder of that name
    NoFolder,  // the name lies in a folder that does not exist
};
enum class TWay {
    Bytes,      // WriteWholeFile with the bytes "new"
    Committed,  // TWholeFile: "new" onto Fd(), then Commit
    Abandoned,  // TWholeFile: "new" onto Fd(), no Commit
    Failing,    // WriteWholeFile whose contents write "ne" and fail with ENOSPC
};

struct WriteCase {
    const char *name;
    TTarget target;
    TWay way;
    std::string file;      // its name in the test's folder
    const char *contents;  // of the file afterwards; nullptr: none (or the folder)
    const char *error;     // the reason; empty when the file was written
    fs::perms mode;        // of the file afterwards
};

void PrintTo(const WriteCase &c, std::ostream *out) { *out << c.name; }

std::string Contents(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void Put(const fs::path &path, const std::string &bytes, fs::perms mode) {
    std::ofstream(path, std::ios::binary) << bytes;
    fs::permissions(path, mode);
}

class WholeFiles : public ::testing::TestWithParam<WriteCase> {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("whole_file_test_" + std::to_string(getpid()));
        fs::create_directories(folder_ / "kept");
        mask_ = umask(022);
    }
    void TearDown() override {
        umask(mask_);
        fs::remove_all(folder_);
    }

    // Every name in the folders that the writer may have used.
    std::vector<std::string> Partial() const {
        std::vector<std::string> left;
        for (const fs::path &folder : {folder_, folder_ / "kept"})
            for (const auto &entry : fs::directory_iterator(folder))
                if (entry.path().filename().string().find(".partial-") != std::string::npos)
                    left.push_back(entry.path().filename().string());
        return left;
    }

    fs::path folder_;
    mode_t mask_ = 0;
};

constexpr fs::perms k0640 = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
constexpr fs::perms k0644 = k0640 | fs::perms::others_read;

TEST_P(WholeFiles, ReplaceTheFileOrLeaveItAsItWas) {
    const WriteCase &c = GetParam();
    fs::path path = folder_ / c.file, written = path;
    switch (c.target) {
        case TTarget::Missing:
            break;
        case TTarget::Regular:
            Put(path, "old", k0640);
            break;
        case TTarget::Link:
            written = folder_ / "kept" / c.file;
            Put(written, "old", k0640);
            fs::create_symlink(written, path);
            break;
        case TTarget::Folder:
            fs::create_directory(path);
            break;
        case TTarget::NoFolder:
            path = written = folder_ / "none" / c.file;
            break;
    }

    std::string error;
    if (c.way == TWay::Bytes || c.way == TWay::Failing) {
        const bool done =
            c.way == TWay::Bytes
                ? WriteWholeFile(path.string(), "new", error)
                : WriteWholeFile(
                      path.string(), [](int fd) { return write(fd, "ne", 2) == 2 ? ENOSPC : EIO; },
                      error);
        EXPECT_EQ(done, error.empty());
    } else {
        TWholeFile file(path.string());
        if (file.Fd() >= 0) {
            ASSERT_EQ(write(file.Fd(), "new", 3), 3);
            if (c.way == TWay::Committed) {
                EXPECT_TRUE(file.Commit());
            }
        }
        error = file.Error();
    }

    EXPECT_EQ(error, c.error);
    if (c.contents) {
        EXPECT_EQ(Contents(written), c.contents);
        EXPECT_EQ(fs::status(written).permissions(), c.mode);
    } else {
        EXPECT_FALSE(fs::is_regular_file(written));
    }
    EXPECT_EQ(fs::is_symlink(path), c.target == TTarget::Link);
    EXPECT_EQ(fs::is_directory(path), c.target == TTarget::Folder);
    EXPECT_EQ(Partial(), std::vector<std::string>{});
}

const std::string kLongest(255, 'n');  // the longest name that a folder holds

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, WholeFiles, ::testing::Values(
    WriteCase{"NewFileTakesTheUmask", TTarget::Missing, TWay::Bytes, "list.dat", "new", "", k0644},
    WriteCase{"KeepsThePermissions", TTarget::Regular, TWay::Bytes, "list.dat", "new", "", k0640},
    WriteCase{"FollowsALink", TTarget::Link, TWay::Bytes, "list.dat", "new", "", k0640},
    WriteCase{"LongestName", TTarget::Regular, TWay::Bytes, kLongest, "new", "", k0640},
    WriteCase{"FailingContents", TTarget::Regular, TWay::Failing, "list.dat", "old",
              "No space left on device", k0640},
    WriteCase{"FolderNotReplaced", TTarget::Folder, TWay::Bytes, "list.dat", nullptr,
              "Not a regular file", {}},
    WriteCase{"NoFolder", TTarget::NoFolder, TWay::Bytes, "list.dat", nullptr,
              "No such file or directory", {}},
    WriteCase{"StreamCommitted", TTarget::Link, TWay::Committed, "a.png", "new", "", k0640},
    WriteCase{"StreamCommittedNew", TTarget::Missing, TWay::Committed, "a.png", "new", "", k0644},
    WriteCase{"StreamAbandoned", TTarget::Regular, TWay::Abandoned, "a.png", "old", "", k0640},
    WriteCase{"StreamIntoAFolder", TTarget::Folder, TWay::Committed, "a.png", nullptr,
              "Not a regular file", {}}),
    [](const auto &info) { return info.param.name; });
// clang-format on

}  // namespace
}  // namespace quob::common
