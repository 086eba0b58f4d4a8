#include "aedatheader.h"

#include <algorithm>
#include <cstring>

namespace vxraw {
namespace {

// Header lines are text: a control byte before the line end means binary data
// that happens to start with '#'.
bool isTextByte(unsigned char c) { return c >= 0x20 || c == '\t' || c == '\r'; }

std::string trimmed(const std::string &s)
{
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return {};
    const size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

} // namespace

AedatHeader::Opened AedatHeader::open(InputFile &file, const std::string &path, const char *versionLine, End end,
                                      std::string &error)
{
    if (!file.open(path)) {
        error = file.error();
        return Opened::NotThisFormat;
    }
    const size_t want = std::strlen(versionLine);
    std::vector<char> head(want);
    const size_t n = static_cast<size_t>(std::min<uint64_t>(file.size(), want));
    if (file.readAt(0, head.data(), n) == InputFile::Read::Error) {
        error = file.error();
        return Opened::ReadError;
    }
    if (n < want || std::memcmp(head.data(), versionLine, want) != 0) {
        error = std::string("not an AEDAT ") + (want > 9 ? versionLine + 9 : "") + " file"; // "#!AER-DAT" + version
        return Opened::NotThisFormat;
    }
    if (!read(file, end, error))
        return Opened::Damaged;
    file.seek(dataOffset_);
    return Opened::Ok;
}

bool AedatHeader::read(InputFile &file, End end, std::string &error)
{
    lines_.clear();
    const size_t n = static_cast<size_t>(std::min<uint64_t>(file.size(), kMaxHeaderBytes));
    std::vector<char> head(n);
    if (file.readAt(0, head.data(), n) != InputFile::Read::Ok) {
        error = file.error().empty() ? "header: cannot be read" : "header: " + file.error();
        return false;
    }
    size_t pos = 0;
    while (pos < n && head[pos] == '#') {
        size_t eol = pos;
        while (eol < n && head[eol] != '\n' && isTextByte(static_cast<unsigned char>(head[eol])))
            ++eol;
        if (eol == n || head[eol] != '\n') {
            if (end == End::FirstDataByte && eol < n)
                break; // binary data starting with '#'
            if (eol == n && n == kMaxHeaderBytes) {
                error = "header: longer than " + std::to_string(kMaxHeaderBytes >> 20) + " MiB";
                return false;
            }
            error = "header: line " + std::to_string(lines_.size() + 1) + " at byte " + std::to_string(pos)
                    + (eol < n ? " holds binary bytes" : " is not terminated");
            return false;
        }
        size_t stop = eol;
        if (stop > pos && head[stop - 1] == '\r')
            --stop;
        lines_.emplace_back(head.data() + pos + 1, stop - pos - 1);
        pos = eol + 1;
        if (end == End::EndMarker && lines_.back() == "!END-HEADER") {
            dataOffset_ = pos;
            return true;
        }
    }
    if (end == End::EndMarker) {
        error = "header: no '#!END-HEADER' line";
        return false;
    }
    dataOffset_ = pos;
    return true;
}

std::string AedatHeader::value(const std::string &key) const
{
    for (const std::string &line : lines_) {
        const size_t at = line.find(key);
        if (at != std::string::npos)
            return trimmed(line.substr(at + key.size()));
    }
    return {};
}

} // namespace vxraw
