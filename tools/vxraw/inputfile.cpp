#include "inputfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vxraw {

InputFile::~InputFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool InputFile::open(const std::string &path)
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    error_.clear();
    position_ = 0;
    // O_NONBLOCK: opening a FIFO without a writer would otherwise wait forever.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        error_ = std::strerror(errno);
    } else if (S_ISDIR(st.st_mode)) {
        error_ = "is a directory";
    } else if (!S_ISREG(st.st_mode)) {
        error_ = "not a regular file (a pipe or device cannot be imported)";
    } else {
        // Regular files never block; reads should wait for the disk as usual.
        const int flags = ::fcntl(fd_, F_GETFL);
        if (flags >= 0)
            ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
        size_ = static_cast<uint64_t>(st.st_size);
        return true;
    }
    ::close(fd_);
    fd_ = -1;
    return false;
}

InputFile::Read InputFile::readAt(uint64_t offset, void *dst, size_t n)
{
    auto *out = static_cast<char *>(dst);
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            error_ = std::string("read error: ") + std::strerror(errno);
            return Read::Error;
        }
        if (r == 0) {
            error_ = "the file ends at byte " + std::to_string(offset + done);
            return Read::End;
        }
        done += static_cast<size_t>(r);
    }
    return Read::Ok;
}

InputFile::Read InputFile::read(void *dst, size_t n, size_t &got)
{
    got = 0;
    if (n == 0)
        return Read::Ok;
    for (;;) {
        const ssize_t r = ::pread(fd_, dst, n, static_cast<off_t>(position_));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            error_ = std::string("read error: ") + std::strerror(errno);
            return Read::Error;
        }
        if (r == 0)
            return Read::End;
        got = static_cast<size_t>(r);
        position_ += got;
        return Read::Ok;
    }
}

bool InputFile::isReadableRegularFile(const std::string &path, std::string &error)
{
    InputFile f;
    if (f.open(path))
        return true;
    error = f.error();
    return false;
}

} // namespace vxraw
