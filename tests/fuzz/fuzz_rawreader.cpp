// vx-fuzz: corpus=corpus seconds=45
// libFuzzer target: arbitrary bytes as a .raw recording, through every reader
// operation (open, info, range reads, seek, triggers, cut, full verification).
// A crash, sanitizer report, leak or timeout is a finding; false/null answers
// are the expected outcome for damaged input.
#include "driver/driverlog.h"
#include "driver/rawfilereader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string scratchPath(const char *what)
{
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/fuzz_rawreader-" + std::to_string(::getpid()) + what;
}

// [start, start + duration) without wrapping past the largest timestamp.
uint64_t clampedDuration(uint64_t start, uint64_t endInclusive)
{
    if (endInclusive < start)
        return 1;
    const uint64_t span = endInclusive - start;
    return span == UINT64_MAX ? UINT64_MAX : span + 1;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Damaged input makes the driver log on every run; keep the fuzzer output readable.
    vexadin::setDriverLogHook([](vexadin::DriverLogLevel, const std::string &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string input = scratchPath(".raw");
    static const std::string cutOutput = scratchPath("-cut.raw");
    {
        std::ofstream f(input, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    }

    std::unique_ptr<vexadin::DvsFileReader> generic = vexadin::DvsFileReader::createFileReader(input);
    if (!generic)
        return 0;
    auto *reader = dynamic_cast<vexadin::RawFileReader *>(generic.get());
    if (!reader)
        __builtin_trap(); // our own factory must hand out our reader
    if (!reader->open())
        return 0;

    vexadin::DvsFileInfo info;
    reader->getFileInfo(info);
    uint64_t start = 0;
    uint64_t end = 0;
    reader->getStartTimestamp(start);
    reader->getEndTimestamp(end);
    (void)reader->blockCount();
    (void)reader->blockInfo(0);
    (void)reader->blockInfo(reader->blockCount());

    reader->readRange(start, clampedDuration(start, end));
    reader->readTriggers(start, clampedDuration(start, end));
    const uint64_t middle = start + (end >= start ? (end - start) / 2 : 0);
    reader->readRange(middle, 1);
    reader->readRange(0, 0);
    reader->readRange(UINT64_MAX, UINT64_MAX);

    if (reader->seek(start)) {
        const uint64_t step = end > start ? (end - start) / 4 + 1 : 1;
        for (int i = 0; i < 6; ++i)
            reader->readNext(step);
    }
    reader->seek(middle);
    reader->readNext(UINT64_MAX);
    reader->seek(UINT64_MAX);

    size_t blocks = 0;
    reader->forEachBlockInRange(start, end, [&](const vexadin::Event2D *, const vexadin::Event2D *,
                                                const vexadin::EventTriggerIn *, const vexadin::EventTriggerIn *) {
        return ++blocks < 64;
    });

    if (reader->cut(start, middle, cutOutput)) {
        // What the reader wrote must itself read back.
        auto again = vexadin::RawFileReader::create(cutOutput);
        if (!again || !again->open() || !again->verifyAll(nullptr))
            __builtin_trap();
    }
    std::remove(cutOutput.c_str());

    std::vector<std::string> problems;
    reader->verifyAll(&problems);
    return 0;
}
