#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vxraw {

// Read-only access to one regular input file, shared by the importers.
//
// open() never blocks: a FIFO or device would hang a plain open() or read()
// until some other process writes, so anything but a regular file is refused.
// Reads distinguish the end of the file from a read error, so an importer never
// takes a failing disk for a short file.
class InputFile {
public:
    enum class Read { Ok, End, Error };

    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    // False (see error()) when the path is missing, unreadable, a directory or
    // not a regular file.
    bool open(const std::string &path);
    bool isOpen() const { return fd_ >= 0; }
    // Size when opened: importers check offsets against it.
    uint64_t size() const { return size_; }

    // Exactly n bytes at offset: End when the file holds fewer (nothing is
    // guaranteed about dst then), Error on a failed read; error() says which.
    Read readAt(uint64_t offset, void *dst, size_t n);
    // Up to n bytes from the sequential position; `got` says how many. End only
    // when nothing is left.
    Read read(void *dst, size_t n, size_t &got);
    uint64_t position() const { return position_; }
    // Share of the file before the sequential position, 0..1 (1 for an empty file).
    double fractionRead() const
    {
        return size_ ? static_cast<double>(position_ < size_ ? position_ : size_) / static_cast<double>(size_) : 1.0;
    }
    void seek(uint64_t offset) { position_ = offset; }

    // Why the last open() or read failed, e.g. "read error: Input/output error".
    const std::string &error() const { return error_; }

    // Checks a path the way open() does, without keeping it open (for readers
    // that open the file through another library).
    static bool isReadableRegularFile(const std::string &path, std::string &error);

private:
    int fd_ = -1;
    uint64_t size_ = 0;
    uint64_t position_ = 0;
    std::string error_;
};

} // namespace vxraw
