#include "textimporter.h"

#include <cstring>
#include <limits>
#include <utility>

namespace vxraw {
namespace {

constexpr size_t kChunkSize = 1 << 20;

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }

std::string quoted(const char *begin, const char *end)
{
    // Enough of the field to recognise it, never a whole runaway line.
    const size_t n = static_cast<size_t>(end - begin);
    std::string s(begin, n > 40 ? 40 : n);
    if (n > 40)
        s += "...";
    return "'" + s + "'";
}

bool parseUnsigned(const char *begin, const char *end, uint64_t limit, uint64_t &value)
{
    if (begin == end)
        return false;
    uint64_t v = 0;
    for (const char *p = begin; p != end; ++p) {
        if (!isDigit(*p))
            return false;
        const uint64_t digit = static_cast<uint64_t>(*p - '0');
        if (v > (limit - digit) / 10)
            return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

struct Field {
    const char *begin;
    const char *end;
};

// Splits a line into fields separated by blanks, or by one comma with optional
// blanks around it. False (with `why`) on an empty field between two commas.
bool splitFields(const char *begin, const char *end, std::vector<Field> &fields, std::string &why)
{
    fields.clear();
    const char *p = begin;
    while (p != end && isBlank(*p))
        ++p;
    while (p != end) {
        const char *start = p;
        while (p != end && !isBlank(*p) && *p != ',')
            ++p;
        if (p == start) {
            why = "empty field";
            return false;
        }
        fields.push_back({start, p});
        while (p != end && isBlank(*p))
            ++p;
        if (p != end && *p == ',') {
            ++p;
            while (p != end && isBlank(*p))
                ++p;
            if (p == end) {
                why = "empty field at the end of the line";
                return false;
            }
        }
    }
    return true;
}

bool isHeaderLine(const char *begin, const char *end)
{
    std::vector<Field> fields;
    std::string why;
    // One name per column of "t x y p".
    if (!splitFields(begin, end, fields, why) || fields.size() != 4)
        return false;
    for (const Field &f : fields)
        if (!isLetter(*f.begin))
            return false;
    return true;
}

} // namespace

TextImporter::TextImporter(std::string path) : path_(std::move(path)) {}

TextImporter::~TextImporter() = default;

double TextImporter::progress() const
{
    return file_.fractionRead();
}

bool TextImporter::fill()
{
    while (!eof_ && bufEnd_ < buffer_.size()) {
        size_t got = 0;
        switch (file_.read(buffer_.data() + bufEnd_, buffer_.size() - bufEnd_, got)) {
        case InputFile::Read::Ok:
            bufEnd_ += got;
            break;
        case InputFile::Read::End:
            eof_ = true;
            break;
        case InputFile::Read::Error:
            // Never taken for the end of the file: the events after it would be lost.
            return failRead((lineNumber_ ? "after line " + std::to_string(lineNumber_) + ": " : std::string())
                        + file_.error());
        }
    }
    return true;
}

bool TextImporter::parseTimestampUs(const char *begin, const char *end, uint64_t &us)
{
    const char *dot = begin;
    while (dot != end && *dot != '.')
        ++dot;
    const uint64_t max = std::numeric_limits<uint64_t>::max();
    uint64_t whole = 0;
    const bool haveWhole = dot != begin;
    if (haveWhole && !parseUnsigned(begin, dot, max, whole))
        return false;
    if (dot == end) {
        // No decimal point: the value is already in microseconds.
        if (!haveWhole)
            return false;
        us = whole;
        return true;
    }
    // Seconds with decimals: exact arithmetic on the digits, half rounds up.
    const char *frac = dot + 1;
    if (!haveWhole && frac == end)
        return false;
    uint64_t micros = 0;
    int digits = 0;
    bool roundUp = false;
    for (const char *p = frac; p != end; ++p) {
        if (!isDigit(*p))
            return false;
        if (digits < 6)
            micros = micros * 10 + static_cast<uint64_t>(*p - '0');
        else if (digits == 6)
            roundUp = *p >= '5';
        ++digits;
    }
    for (int i = digits; i < 6; ++i)
        micros *= 10;
    if (whole > (max - 1'000'000) / 1'000'000)
        return false;
    us = whole * 1'000'000 + micros + (roundUp ? 1 : 0);
    return true;
}

bool TextImporter::parseLine(const char *begin, const char *end, vexadin::Event2D &ev, std::string &why)
{
    std::vector<Field> fields;
    fields.reserve(5);
    if (!splitFields(begin, end, fields, why))
        return false;
    if (fields.size() != 4) {
        why = "expected 4 fields 't x y p', found " + std::to_string(fields.size());
        return false;
    }
    uint64_t t = 0;
    if (!parseTimestampUs(fields[0].begin, fields[0].end, t)) {
        why = "bad timestamp " + quoted(fields[0].begin, fields[0].end);
        return false;
    }
    uint64_t x = 0;
    uint64_t y = 0;
    if (!parseUnsigned(fields[1].begin, fields[1].end, 65535, x)) {
        why = "bad x " + quoted(fields[1].begin, fields[1].end);
        return false;
    }
    if (!parseUnsigned(fields[2].begin, fields[2].end, 65535, y)) {
        why = "bad y " + quoted(fields[2].begin, fields[2].end);
        return false;
    }
    const std::string p(fields[3].begin, fields[3].end);
    uint8_t polarity = 0;
    if (p == "1" || p == "+1")
        polarity = 1;
    else if (p == "0" || p == "-1")
        polarity = 0;
    else {
        why = "bad polarity " + quoted(fields[3].begin, fields[3].end) + " (expected 0/1 or -1/1)";
        return false;
    }
    ev = vexadin::Event2D(static_cast<uint16_t>(x), static_cast<uint16_t>(y), polarity, t);
    return true;
}

bool TextImporter::nextLine(const char *&lineBegin, const char *&lineEnd)
{
    for (;;) {
        const char *data = buffer_.data();
        const void *nl = std::memchr(data + bufBegin_, '\n', bufEnd_ - bufBegin_);
        size_t stop = 0;
        size_t next = 0;
        if (nl) {
            stop = static_cast<size_t>(static_cast<const char *>(nl) - data);
            next = stop + 1;
        } else if (eof_) {
            if (bufBegin_ == bufEnd_)
                return false;
            stop = next = bufEnd_; // last line without a final newline
        } else {
            if (bufEnd_ - bufBegin_ > kMaxLineLength)
                return fail("line " + std::to_string(lineNumber_ + 1) + ": longer than "
                            + std::to_string(kMaxLineLength) + " characters");
            std::memmove(buffer_.data(), data + bufBegin_, bufEnd_ - bufBegin_);
            bufEnd_ -= bufBegin_;
            bufBegin_ = 0;
            if (!fill())
                return false;
            continue;
        }
        if (stop - bufBegin_ > kMaxLineLength)
            return fail("line " + std::to_string(lineNumber_ + 1) + ": longer than "
                        + std::to_string(kMaxLineLength) + " characters");
        lineBegin = data + bufBegin_;
        lineEnd = data + stop;
        if (lineEnd != lineBegin && lineEnd[-1] == '\r')
            --lineEnd;
        bufBegin_ = next;
        ++lineNumber_;
        return true;
    }
}

bool TextImporter::open()
{
    if (!file_.open(path_))
        return fail(file_.error());
    buffer_.resize(kChunkSize);
    if (!fill())
        return false;

    // Plain text only: a NUL or other control byte at the start means a binary file.
    const size_t got = bufEnd_;
    const size_t sniff = got < 4096 ? got : 4096;
    for (size_t i = 0; i < sniff; ++i) {
        const unsigned char c = static_cast<unsigned char>(buffer_[i]);
        if (c < 0x20 && c != '\n' && c != '\r' && c != '\t')
            return fail("not a text event list: binary content");
    }
    // Editors on some systems start UTF-8 text with a byte-order mark.
    if (got >= 3 && std::memcmp(buffer_.data(), "\xEF\xBB\xBF", 3) == 0)
        bufBegin_ = 3;

    const char *b = nullptr;
    const char *e = nullptr;
    bool headerAllowed = true;
    while (nextLine(b, e)) {
        const char *p = b;
        while (p != e && isBlank(*p))
            ++p;
        if (p == e || *p == '#')
            continue;
        if (headerAllowed && isHeaderLine(p, e)) {
            headerAllowed = false;
            continue;
        }
        std::string why;
        if (!parseLine(p, e, pending_, why))
            return fail("not a text event list: line " + std::to_string(lineNumber_) + ": " + why);
        recognised_ = true;
        havePending_ = true;
        return true;
    }
    if (!error_.empty())
        return false;
    // Only comments and blank lines: an empty but valid event list.
    recognised_ = true;
    return true;
}

bool TextImporter::next(std::vector<vexadin::Event2D> &out, size_t maxEvents)
{
    out.clear();
    if (!error_.empty() || !file_.isOpen())
        return false;
    if (maxEvents == 0)
        maxEvents = 1;
    auto accept = [&](const vexadin::Event2D &ev) {
        if (ev.x >= width_ || ev.y >= height_)
            return fail(outsideSensorError("line " + std::to_string(lineNumber_), ev.x, ev.y));
        if (ev.timestamp < lastTimestamp_)
            return fail(backInTimeError("line " + std::to_string(lineNumber_), ev.timestamp));
        lastTimestamp_ = ev.timestamp;
        out.push_back(ev);
        return true;
    };
    if (havePending_) {
        havePending_ = false;
        if (!accept(pending_))
            return false;
    }
    const char *b = nullptr;
    const char *e = nullptr;
    while (out.size() < maxEvents && nextLine(b, e)) {
        const char *p = b;
        while (p != e && isBlank(*p))
            ++p;
        if (p == e || *p == '#')
            continue;
        vexadin::Event2D ev;
        std::string why;
        if (!parseLine(p, e, ev, why))
            return fail("line " + std::to_string(lineNumber_) + ": " + why);
        if (!accept(ev))
            return false;
    }
    if (!error_.empty())
        return false;
    return !out.empty();
}

} // namespace vxraw
