#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vexadin {

// Failures inside the recording code. They never leave the driver: the reader and
// writer catch them at their public interface and answer false / null plus one
// log line built from what().
class RawFormatError : public std::runtime_error {
public:
    static constexpr uint64_t kNoOffset = ~uint64_t(0);

    RawFormatError(const std::string &path, uint64_t offset, const std::string &message)
        : std::runtime_error(compose(path, offset, message)), m_path(path), m_offset(offset) {}

    const std::string &path() const { return m_path; }
    uint64_t offset() const { return m_offset; } // kNoOffset when not tied to a byte

private:
    static std::string compose(const std::string &path, uint64_t offset, const std::string &message)
    {
        std::string s = path;
        if (offset != kNoOffset)
            s += " at byte " + std::to_string(offset);
        return s + ": " + message;
    }

    std::string m_path;
    uint64_t m_offset;
};

// The operating system refused an open, read, write or rename.
class FileIoError : public RawFormatError {
public:
    using RawFormatError::RawFormatError;
};

// The file does not start with our magic: not one of our recordings.
class NotARecordingError : public RawFormatError {
public:
    using RawFormatError::RawFormatError;
};

// The file is ours but needs a newer reader.
class UnsupportedVersionError : public RawFormatError {
public:
    using RawFormatError::RawFormatError;
};

// Bytes that contradict the layout: bad checksum, impossible count, length or offset.
class CorruptDataError : public RawFormatError {
public:
    using RawFormatError::RawFormatError;
};

} // namespace vexadin
