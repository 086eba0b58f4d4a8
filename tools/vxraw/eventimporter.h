#pragma once

#include "camera/event2d.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vxraw {

// Reads the events of a foreign event file in batches, so a conversion never
// holds the whole input in memory. Failures are values: next() returns false
// and error() says what went wrong and where (line number or packet).
class EventImporter {
public:
    virtual ~EventImporter() = default;

    // Name of the input format, for messages ("text", "AEDAT 4.0").
    virtual const char *formatName() const = 0;

    // Reads whatever the format keeps before its events (header, stream
    // description). False when the input is not of this format or is damaged.
    virtual bool open() = 0;

    // Sensor size stated by the file itself; 0 when the format has none.
    virtual uint16_t fileWidth() const { return 0; }
    virtual uint16_t fileHeight() const { return 0; }
    // Camera serial stated by the file itself, empty when unknown.
    virtual std::string fileSerial() const { return {}; }
    virtual std::string fileProduct() const { return {}; }

    // Events with x >= width or y >= height are an error naming their line or packet.
    void setSensorSize(uint16_t width, uint16_t height)
    {
        width_ = width;
        height_ = height;
    }

    // Replaces `out` with the next batch of at most about `maxEvents` events (at
    // least one). False at the end of the input or on an error (error() non-empty);
    // after an error `out` holds the good events read before it.
    virtual bool next(std::vector<vexadin::Event2D> &out, size_t maxEvents) = 0;

    const std::string &error() const { return error_; }
    // True when the input was recognised as this format but then turned out damaged.
    // False when open() failed because the input is not of this format at all.
    bool recognised() const { return recognised_; }

protected:
    uint16_t width_ = 1280;
    uint16_t height_ = 720;
    // Recordings are written in time order; an input that steps back in time is
    // refused rather than having the writer drop events silently.
    uint64_t lastTimestamp_ = 0;
    std::string error_;
    bool recognised_ = false;
};

} // namespace vxraw
