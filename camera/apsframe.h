#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vexadin {

// One colour frame of a fusion camera's frame sensor (APS).
//
// Pixels are 3 bytes each in B, G, R order, rows top to bottom with no gap between
// them (row stride = width * 3). A new frame is black.
//
// Copies share the pixel buffer (a copy is cheap and writes through one copy show
// in all of them); clone() gives a frame with a buffer of its own. The buffer's
// ownership is thread-safe like a std::shared_ptr's: copies may be made and
// dropped on any thread; writing pixels while another thread reads them is not.
// A moved-from frame is empty (0 x 0, no buffer).
class ApsFrame {
public:
    // An empty frame: 0 x 0, data() null.
    ApsFrame() = default;
    // A black width x height frame. frameNumber is the camera's running frame count
    // (or the frame's position in a video); timestamp is the frame's time in µs on
    // the APS clock (event time = APS time + the recording's APS time offset).
    // A zero width or height gives a frame without a buffer (data() null).
    // Throws std::bad_alloc when the buffer cannot be allocated.
    ApsFrame(uint16_t width, uint16_t height, uint64_t frameNumber, uint64_t timestamp);

    ApsFrame(const ApsFrame &) = default;
    ApsFrame &operator=(const ApsFrame &) = default;
    ApsFrame(ApsFrame &&other) noexcept;
    ApsFrame &operator=(ApsFrame &&other) noexcept;
    ~ApsFrame() = default;

    // A deep copy: same size, numbers and pixels, its own buffer.
    ApsFrame clone() const;

    uint8_t *data() { return pixels_.get(); }
    const uint8_t *data() const { return pixels_.get(); }
    // width * height * 3 bytes.
    size_t getDataSize() const { return size_t(width_) * height_ * 3; }

    uint16_t getWidth() const { return width_; }
    uint16_t getHeight() const { return height_; }
    bool isEmpty() const { return !pixels_; }

    // The first of the frame's two 64-bit values.
    uint64_t getFrameNumber() const { return frameNumber_; }
    void setFrameNumber(uint64_t frameNumber) { frameNumber_ = frameNumber; }
    // The second: the frame's time stamp in µs on the APS clock.
    uint64_t getTimestamp() const { return timestamp_; }
    void setTimestamp(uint64_t timestamp) { timestamp_ = timestamp; }

    // True when no other frame shares this buffer, so writing into it cannot
    // change another frame's picture (also when the last other copy was just
    // dropped on another thread: that thread's reads happen before our writes).
    bool ownsBufferAlone() const
    {
        if (!pixels_)
            return false;
        // Counted through a copy: taking a reference is an acquire-release step on the
        // count, which orders it after the release of a copy dropped elsewhere.
        const std::shared_ptr<uint8_t[]> probe = pixels_;
        return probe.use_count() == 2;
    }

private:
    uint16_t width_ = 0;
    uint16_t height_ = 0;
    uint64_t frameNumber_ = 0;
    uint64_t timestamp_ = 0;
    std::shared_ptr<uint8_t[]> pixels_;
};

} // namespace vexadin
