#pragma once

#include "camera/apsframe.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexadin {

// Reader of the colour frames of a fusion recording (the .mp4 beside the .raw).
// Frame time stamps are µs on the APS clock; ApsFrame::getFrameNumber() is the
// frame's position in the video (0 = first). Frames come out as B, G, R at the
// video's size.
//
// One thread at a time. No exception crosses this interface: failures answer
// false / null and write one log line.
class ApsFileReader {
public:
    // Null for an empty path, a missing file, or a file that is not a video we can
    // decode. The file is checked but no frame is read until open().
    static std::unique_ptr<ApsFileReader> createFileReader(const std::string &path);

    virtual ~ApsFileReader() = default;

    // Frame size in pixels, known from createFileReader() on.
    uint16_t getWidth() const { return width_; }
    uint16_t getHeight() const { return height_; }

    // Prepares decoding and the frame index. False for a video without frames or
    // one that cannot be decoded. Other operations fail until it succeeded.
    virtual bool open() = 0;
    // The next readNextFrame() gives the first frame whose time stamp is >= apsTime
    // (rewind(0): the first frame). False when there is no such frame.
    virtual bool rewind(uint64_t apsTime) = 0;
    // The time stamps of all frames in display order, without decoding any picture.
    virtual bool getFrameIndex(std::vector<uint64_t> &timestamps) = 0;
    // Reading a frame replaces `frame`; its buffer is reused when it has the video's
    // size and no other frame shares it, so a caller's older copies never change.
    //
    // The next frame; false at the end of the video (or when it cannot be decoded).
    virtual bool readNextFrame(ApsFrame &frame) = 0;
    // The frame shown at apsTime: the last one whose time stamp is <= apsTime, or the
    // first frame when apsTime lies before it. Afterwards readNextFrame() gives the
    // frame after it.
    virtual bool readFrameAt(uint64_t apsTime, ApsFrame &frame) = 0;

protected:
    ApsFileReader() = default;
    uint16_t width_ = 0;
    uint16_t height_ = 0;
};

} // namespace vexadin
