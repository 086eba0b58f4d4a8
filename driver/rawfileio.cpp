#include "driver/rawfileio.h"

#include "driver/rawformaterror.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexadin {

namespace {

std::atomic<uint64_t> g_failAt{0};       // countdown; 0 = off
std::atomic<bool> g_failPersistent{false};
std::atomic<bool> g_failing{false};      // persistent failure reached

bool injectWriteFailure()
{
    if (g_failing.load(std::memory_order_relaxed))
        return true;
    uint64_t n = g_failAt.load(std::memory_order_relaxed);
    while (n != 0) {
        if (g_failAt.compare_exchange_weak(n, n - 1)) {
            if (n == 1) {
                if (g_failPersistent.load())
                    g_failing.store(true);
                return true;
            }
            return false;
        }
    }
    return false;
}

std::string errnoText(int err)
{
    return std::strerror(err);
}

} // namespace

namespace fileio_faults {
void failWrite(uint64_t nth, bool persistent)
{
    g_failing.store(false);
    g_failPersistent.store(persistent);
    g_failAt.store(nth);
}
void reset()
{
    failWrite(0, false);
}
} // namespace fileio_faults

RawFile::~RawFile()
{
    close();
}

RawFile::RawFile(RawFile &&other) noexcept
    : m_fd(other.m_fd), m_path(std::move(other.m_path)), m_writePos(other.m_writePos)
{
    other.m_fd = -1;
}

RawFile &RawFile::operator=(RawFile &&other) noexcept
{
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        m_path = std::move(other.m_path);
        m_writePos = other.m_writePos;
        other.m_fd = -1;
    }
    return *this;
}

RawFile RawFile::openForRead(const std::string &path)
{
    RawFile f;
    f.m_path = path;
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever.
    // It is cleared again below; for a regular file it changes nothing.
    f.m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (f.m_fd < 0)
        throw FileIoError(path, RawFormatError::kNoOffset, "cannot open: " + errnoText(errno));
    struct stat st;
    if (::fstat(f.m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw FileIoError(path, RawFormatError::kNoOffset, "not a regular file");
    const int flags = ::fcntl(f.m_fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(f.m_fd, F_SETFL, flags & ~O_NONBLOCK);
    return f;
}

RawFile RawFile::createForWrite(const std::string &path)
{
    RawFile f;
    f.m_path = path;
    f.m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (f.m_fd < 0)
        throw FileIoError(path, RawFormatError::kNoOffset, "cannot create: " + errnoText(errno));
    return f;
}

uint64_t RawFile::size() const
{
    struct stat st;
    if (::fstat(m_fd, &st) != 0)
        throw FileIoError(m_path, RawFormatError::kNoOffset, "cannot stat: " + errnoText(errno));
    return static_cast<uint64_t>(st.st_size);
}

size_t RawFile::readAtMost(uint64_t offset, void *buffer, size_t n) const
{
    auto *p = static_cast<uint8_t *>(buffer);
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(m_fd, p + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            throw FileIoError(m_path, offset + done, "read failed: " + errnoText(errno));
        }
        if (r == 0)
            break;
        done += static_cast<size_t>(r);
    }
    return done;
}

void RawFile::readAt(uint64_t offset, void *buffer, size_t n) const
{
    const size_t got = readAtMost(offset, buffer, n);
    if (got != n)
        throw FileIoError(m_path, offset + got, "unexpected end of file");
}

void RawFile::append(const void *data, size_t n)
{
    if (injectWriteFailure())
        throw FileIoError(m_path, m_writePos, "write failed: " + errnoText(ENOSPC));
    const auto *p = static_cast<const uint8_t *>(data);
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::write(m_fd, p + done, n - done);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            throw FileIoError(m_path, m_writePos + done, "write failed: " + errnoText(errno));
        }
        done += static_cast<size_t>(r);
    }
    m_writePos += n;
}

void RawFile::writeAt(uint64_t offset, const void *data, size_t n)
{
    if (injectWriteFailure())
        throw FileIoError(m_path, offset, "write failed: " + errnoText(ENOSPC));
    const auto *p = static_cast<const uint8_t *>(data);
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pwrite(m_fd, p + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            throw FileIoError(m_path, offset + done, "write failed: " + errnoText(errno));
        }
        done += static_cast<size_t>(r);
    }
}

void RawFile::truncate(uint64_t size)
{
    if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0)
        throw FileIoError(m_path, size, "truncate failed: " + errnoText(errno));
    if (::lseek(m_fd, static_cast<off_t>(size), SEEK_SET) < 0)
        throw FileIoError(m_path, size, "seek failed: " + errnoText(errno));
    m_writePos = size;
}

bool RawFile::identity(uint64_t &device, uint64_t &inode) const
{
    struct stat st;
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return false;
    device = static_cast<uint64_t>(st.st_dev);
    inode = static_cast<uint64_t>(st.st_ino);
    return true;
}

void RawFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

} // namespace vexadin
