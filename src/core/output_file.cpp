#include "core/output_file.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace occusim {

std::string file_error_text(const char *verb, const std::string &name, int err) {
    return std::string("error: cannot ") + verb + " '" + name + "': " + std::strerror(err);
}

void throw_file_error(const char *verb, const std::string &name, int err) {
    throw FileError(file_error_text(verb, name, err));
}

bool OutputFile::create(const std::string &path, const std::string &name) {
    discard();
    path_ = path;
    name_ = name;
    err_ = 0;
    struct stat st;
    in_place_ = ::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
    if (in_place_ && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    // A file that may not be written is refused as opening it would be,
    // rather than replaced by the rename.
    if (!in_place_ && ::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0) return false;
    if (in_place_) {
        part_ = path;
        do fd_ = ::open(part_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        while (fd_ < 0 && errno == EINTR);
    } else {
        // A part name no other file holds: "<name>.part", else "<name>.part-2", ...
        // (two files of a run may be bound for the same name).
        for (int n = 1; fd_ < 0 && n <= 100; n++) {
            part_ = path + ".part" + (n > 1 ? "-" + std::to_string(n) : "");
            fd_ = ::open(part_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ < 0 && errno != EEXIST && errno != EINTR) break;
        }
    }
    if (fd_ < 0) return false;
    cookie_io_functions_t io{nullptr, write_fd, nullptr, close_fd};
    f_ = fopencookie(this, "w", io);
    if (!f_) {
        const int e = errno;
        ::close(fd_);
        fd_ = -1;
        if (!in_place_) ::unlink(part_.c_str());
        errno = e;
        return false;
    }
    std::setvbuf(f_, nullptr, _IOFBF, std::size_t{1} << 16);
    return true;
}

void OutputFile::create_or_throw(const std::string &path, const std::string &name) {
    if (!create(path, name)) throw_file_error("create", name, errno);
}

int OutputFile::write_all(const char *buf, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, buf + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : ENOSPC;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

ssize_t OutputFile::write_fd(void *cookie, const char *buf, std::size_t size) {
    auto *self = static_cast<OutputFile *>(cookie);
    // After the first failure nothing more is written: the file is lost anyway.
    if (self->err_) return 0;
    if (const int e = self->write_all(buf, size)) {
        self->err_ = e;
        return 0;
    }
    return static_cast<ssize_t>(size);
}

void OutputFile::append_whole(std::string_view piece) {
    if (!f_) throw_file_error("write", name_, err_ ? err_ : EBADF);
    // What the stream still holds goes first; a failure there loses the file.
    int e = std::fflush(f_) != 0 || std::ferror(f_) ? (err_ ? err_ : EIO) : 0;
    if (!e) {
        const off_t at = ::lseek(fd_, 0, SEEK_CUR);
        e = write_all(piece.data(), piece.size());
        if (!e) return;
        // Not one byte of the piece may stay.
        if (at >= 0 && ::ftruncate(fd_, at) == 0 && ::lseek(fd_, at, SEEK_SET) == at)
            throw_file_error("write", name_, e);
    }
    err_ = e;
    discard();
    throw_file_error("write", name_, e);
}

int OutputFile::close_fd(void *cookie) {
    auto *self = static_cast<OutputFile *>(cookie);
    const int r = ::close(self->fd_);
    self->fd_ = -1;
    if (r != 0 && !self->err_ && errno != EINTR) {
        self->err_ = errno;
        return -1;
    }
    return 0;
}

void OutputFile::commit() {
    if (!f_) return;
    int e = 0;
    if (std::fflush(f_) != 0 || std::ferror(f_)) e = err_ ? err_ : EIO;
    if (std::fclose(f_) != 0 && !e) e = err_ ? err_ : EIO;
    f_ = nullptr;
    if (!e && !in_place_ && std::rename(part_.c_str(), path_.c_str()) != 0) e = errno;
    if (!e) return;
    if (!in_place_) ::unlink(part_.c_str());
    throw_file_error("write", name_, e);
}

void OutputFile::discard() noexcept {
    if (!f_) return;
    if (!err_) err_ = ECANCELED; // what is still buffered is dropped, not written
    std::fclose(f_);
    f_ = nullptr;
    if (!in_place_) ::unlink(part_.c_str());
}

bool remove_regular_file(const std::string &path) noexcept {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0;
}

} // namespace occusim
