#pragma once

#include "inputfile.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vxraw {

// The text header that AEDAT 2.0 and 3.1 files start with: lines beginning with
// '#', ended by "\r\n" (a bare "\n" is accepted too), followed by binary data.
class AedatHeader {
public:
    enum class End {
        FirstDataByte, // 2.0: the header ends before the first line that is not a text line starting with '#'
        EndMarker,     // 3.1: the header ends after the line "#!END-HEADER"
    };

    enum class Opened { Ok, NotThisFormat, ReadError, Damaged };
    // Opens `path`, checks that it starts with `versionLine` and reads the header;
    // the file is then positioned at the first data byte. Anything but Ok comes
    // with a one-line reason.
    Opened open(InputFile &file, const std::string &path, const char *versionLine, End end, std::string &error);

    // Reads the header from the start of the file. False with a one-line reason
    // when it is too long, unterminated or unreadable.
    bool read(InputFile &file, End end, std::string &error);

    // Lines without '#' and line terminator.
    const std::vector<std::string> &lines() const { return lines_; }
    // Byte offset of the first data byte.
    uint64_t dataOffset() const { return dataOffset_; }
    // Text after the first occurrence of `key` in a line, trimmed; empty when no line has it.
    std::string value(const std::string &key) const;

    // Longest header accepted: real ones are a few kilobytes.
    static constexpr size_t kMaxHeaderBytes = 1 << 20;

private:
    std::vector<std::string> lines_;
    uint64_t dataOffset_ = 0;
};

} // namespace vxraw
