#pragma once

#include "eventimporter.h"
#include "inputfile.h"

#include <string>

namespace vxraw {

// Text or CSV event lists as research data sets publish them: one event per
// line, "t x y p", separated by blanks, tabs or commas.
//   t  with a decimal point: seconds, rounded to the nearest µs (exact decimal
//      arithmetic on the digits, any number of decimals); without: integer µs.
//   p  0/1 or -1/1 (-1 is OFF). Also accepted: +1.
// Lines starting with '#' and blank lines are skipped, and so is a first
// non-comment line of four names (a CSV header such as "t,x,y,p").
// The input is read in chunks; memory stays bounded whatever the file size.
class TextImporter : public EventImporter {
public:
    explicit TextImporter(std::string path);
    ~TextImporter() override;
    TextImporter(const TextImporter &) = delete;
    TextImporter &operator=(const TextImporter &) = delete;

    const char *formatName() const override { return "text"; }
    // Recognises the input when its start is plain text and the first data line is an event.
    bool open() override;
    bool next(std::vector<vexadin::Event2D> &out, size_t maxEvents) override;
    double progress() const override;

    // Parses one timestamp field; false when it is not a non-negative decimal number
    // or does not fit in 64 bits of microseconds.
    static bool parseTimestampUs(const char *begin, const char *end, uint64_t &us);
    // Parses one data line (no line terminator). On failure `why` says what is wrong.
    static bool parseLine(const char *begin, const char *end, vexadin::Event2D &ev, std::string &why);

    // Longest line accepted; a longer one means the input is not an event list.
    static constexpr size_t kMaxLineLength = 4096;

private:
    // Next complete line into [lineBegin, lineEnd); false at the end of the input.
    bool nextLine(const char *&lineBegin, const char *&lineEnd);
    // Appends what the file holds to the buffer; false on a read error.
    bool fill();

    std::string path_;
    InputFile file_;
    std::vector<char> buffer_;
    size_t bufBegin_ = 0;
    size_t bufEnd_ = 0;
    bool eof_ = false;
    uint64_t lineNumber_ = 0;
    // The first data line is parsed by open() and handed out by the first next().
    bool havePending_ = false;
    vexadin::Event2D pending_;
};

} // namespace vxraw
