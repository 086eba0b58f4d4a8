#pragma once

#include "camera/apsfilereader.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vexadin {

// ApsFileReader for MP4 videos (what ApsVideoWriter writes; any MP4/MOV video
// that FFmpeg decodes works too).
//
// open() reads every packet's time stamp once (no picture is decoded) to build the
// frame index. readFrameAt() seeks to the key frame at or before the wanted frame
// and decodes forward from there, so its cost is bounded by the key-frame interval,
// not by the position in the file; going forward within the same group of
// pictures decodes on without seeking. Frame numbers are positions in the index.
//
// Damaged or truncated files give false (or fewer frames), never a crash: a frame
// that does not decode is skipped (readNextFrame and readFrameAt give the next one
// that does, with its own number and time stamp). Videos larger than kMaxSide on a
// side are refused.
class ApsVideoReader : public ApsFileReader {
public:
    static constexpr int kMaxSide = 8192;

    // Null, with one log line, for a path that is not a readable MP4 video.
    static std::unique_ptr<ApsVideoReader> create(const std::string &path);
    ~ApsVideoReader() override;

    ApsVideoReader(const ApsVideoReader &) = delete;
    ApsVideoReader &operator=(const ApsVideoReader &) = delete;

    bool open() override;
    bool rewind(uint64_t apsTime) override;
    bool getFrameIndex(std::vector<uint64_t> &timestamps) override;
    bool readNextFrame(ApsFrame &frame) override;
    bool readFrameAt(uint64_t apsTime, ApsFrame &frame) override;

    // After open(): number of frames in the index.
    size_t frameCount() const;
    // Pictures decoded so far (those skipped on the way to a seek target included).
    uint64_t framesDecoded() const;
    const std::string &lastError() const;

private:
    ApsVideoReader();
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace vexadin
