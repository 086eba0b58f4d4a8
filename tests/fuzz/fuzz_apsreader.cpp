// vx-fuzz: corpus=corpus-apsreader seconds=15
// libFuzzer target: arbitrary bytes as a fusion recording's .mp4, through every
// APS reader operation (open, frame index, sequential reads, seeks, rewind).
// False/null answers are the expected outcome for damaged input; a crash,
// sanitizer report, leak or timeout is a finding.
#include "camera/apsfilereader.h"
#include "driver/driverlog.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string scratchPath()
{
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/fuzz_apsreader-" + std::to_string(::getpid()) + ".mp4";
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    vexadin::setDriverLogHook([](vexadin::DriverLogLevel, const std::string &) {});
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string path = scratchPath();
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char *>(data), std::streamsize(size));
    }
    auto reader = vexadin::ApsFileReader::createFileReader(path);
    // Large pictures only make runs slow; the size checks themselves ran already.
    if (!reader || size_t(reader->getWidth()) * reader->getHeight() > 320 * 240 || !reader->open())
        return 0;
    std::vector<uint64_t> index;
    reader->getFrameIndex(index);
    vexadin::ApsFrame frame;
    for (int i = 0; i < 8 && reader->readNextFrame(frame); ++i) {
    }
    if (!index.empty()) {
        reader->readFrameAt(index.back(), frame);
        reader->readNextFrame(frame);
        reader->readFrameAt(index[index.size() / 2] + 1, frame);
    }
    reader->readFrameAt(0, frame);
    reader->rewind(0);
    reader->readNextFrame(frame);
    return 0;
}
