// Files replaced whole: the new contents go to a temporary file beside the old one
// ("NAME.partial-XXXXXX"), which is flushed to the disk and renamed over it, so that the old file
// stays byte for byte as it was whenever any step fails and no reader ever sees a file cut short.
// A symbolic link is followed and stays a link to the file written; a file that exists keeps its
// permissions, a new one gets those of any new file. Only regular files are replaced: renaming
// over a folder or a device would replace it rather than write into it.
#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace quob::common {

// A file written in steps onto Fd() and put in place by Commit: quob-render's bands as they are
// computed. Until then the destructor removes the temporary file, so that a writer that fails or
// is interrupted leaves nothing behind.
class TWholeFile {
  public:
    explicit TWholeFile(const std::string &path);
    ~TWholeFile();
    TWholeFile(const TWholeFile &) = delete;
    TWholeFile &operator=(const TWholeFile &) = delete;

    // -1 when the temporary file cannot be made; Error() tells why.
    int Fd() const { return fd_; }
    // Flushes and closes the file and renames it over the old one; false when any step fails,
    // and Error() tells why.
    bool Commit();
    // Why the file cannot be made or put in place; empty while all goes well.
    const std::string &Error() const { return error_; }

  private:
    void Fail(int error);

    std::string target_;  // the file that the name stands for, a link's target
    std::string temporary_;
    int fd_ = -1;
    std::string error_;
};

// Replaces the file by what writeContents puts onto the descriptor it is given (it returns 0
// when all went well, else an errno value), or by the bytes. False with the reason on failure.
bool WriteWholeFile(const std::string &path, const std::function<int(int fd)> &writeContents,
                    std::string &error);
bool WriteWholeFile(const std::string &path, std::string_view bytes, std::string &error);

}  // namespace quob::common
