// Files a run writes reach their final names only whole. Each is written
// under "<name>.part" (or "<name>.part-2", ... when that is taken) beside its
// final name and renamed onto it once every
// write, the flush and the close have succeeded; on any failure the part is
// removed and the run stops with one line naming the file and the system's
// reason. A final name that is a device, pipe or link (/dev/stdout, /dev/full)
// is written in place, with the same checks.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

namespace occusim {

// A file the run could not create or write; what() is the whole line after
// "occusim8: " ("error: cannot write 'x.pao': No space left on device").
class FileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The line of a FileError: `verb` is "create" or "write", `name` the file as
// the user named it, `err` the errno of the failure.
std::string file_error_text(const char *verb, const std::string &name, int err);
[[noreturn]] void throw_file_error(const char *verb, const std::string &name, int err);

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile() { discard(); }
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Starts the file `path` (its name for messages: `name`). False, with
    // errno telling why, when it cannot be created.
    bool create(const std::string &path, const std::string &name);
    // As create, but a failure throws the FileError "cannot create".
    void create_or_throw(const std::string &path, const std::string &name);
    std::FILE *stream() const { return f_; }
    const std::string &name() const { return name_; }
    bool open() const { return f_ != nullptr; }
    // Whether a write has failed so far (the rest of the file need not be made).
    bool failed() const { return err_ != 0 || (f_ && std::ferror(f_)); }
    // Adds a whole piece at the end of the file, written through at once:
    // either all of it is in the file, or the file is cut back to where it
    // stood before the piece and FileError thrown, the file still open for
    // the next piece. A file that cannot be cut back is given up (removed,
    // no longer open) before the error is thrown.
    void append_whole(std::string_view piece);
    // Flushes and closes the file and gives it its final name; on any failure
    // the unfinished file is removed and FileError thrown.
    void commit();
    // Closes the file and removes what was written of it.
    void discard() noexcept;

  private:
    // Writes all of buf to fd_: 0, or the errno of the failure.
    int write_all(const char *buf, std::size_t size);
    static ssize_t write_fd(void *cookie, const char *buf, std::size_t size);
    static int close_fd(void *cookie);

    std::FILE *f_ = nullptr;
    int fd_ = -1;
    int err_ = 0; // errno of the first failed write
    bool in_place_ = false;
    std::string path_, part_, name_;
};

// Removes a regular file (a device or pipe is left alone); false when there was none.
bool remove_regular_file(const std::string &path) noexcept;

} // namespace occusim
