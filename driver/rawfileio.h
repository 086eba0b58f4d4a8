#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexadin {

// A file descriptor with the few operations the recording code needs. Reads are
// positional (pread), so several threads may read through one RawFile at once.
// Failures throw FileIoError (path and offset in the message).
class RawFile {
public:
    RawFile() = default;
    ~RawFile();
    RawFile(const RawFile &) = delete;
    RawFile &operator=(const RawFile &) = delete;
    RawFile(RawFile &&other) noexcept;
    RawFile &operator=(RawFile &&other) noexcept;

    static RawFile openForRead(const std::string &path);
    // Creates or truncates.
    static RawFile createForWrite(const std::string &path);

    bool isOpen() const { return m_fd >= 0; }
    const std::string &path() const { return m_path; }
    uint64_t size() const;

    // Exactly n bytes at offset, or throws.
    void readAt(uint64_t offset, void *buffer, size_t n) const;
    // Up to n bytes (fewer at the end of the file).
    size_t readAtMost(uint64_t offset, void *buffer, size_t n) const;
    // Writes all n bytes at the end position, or throws. Each call is one write
    // attempt for the fault injection below.
    void append(const void *data, size_t n);
    uint64_t writePosition() const { return m_writePos; }
    // Overwrites n bytes at offset (before the write position), or throws; the
    // write position does not move. Counts as a write attempt for fault injection.
    void writeAt(uint64_t offset, const void *data, size_t n);
    void truncate(uint64_t size);
    // Device and inode, to tell whether two paths name the same file.
    bool identity(uint64_t &device, uint64_t &inode) const;
    void close();

private:
    int m_fd = -1;
    std::string m_path;
    uint64_t m_writePos = 0;
};

// Fault injection for tests: make append() calls fail (as a full disk would).
namespace fileio_faults {
// Fail the nth append() from now (1 = the next one); persistent: that one and all
// later ones. nth = 0 switches injection off.
void failWrite(uint64_t nth, bool persistent);
void reset();
} // namespace fileio_faults

} // namespace vexadin
