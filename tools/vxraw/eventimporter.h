#pragma once

#include "camera/event2d.h"

#include <cstdint>
#include <cstddef>
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

    // Sensor model named by the user ("dvs128", "davis240", "davis346"), for formats
    // whose address layout depends on the sensor. Call before open().
    void setSensorName(const std::string &name) { sensorName_ = name; }

    // Events with x >= width or y >= height: the text and AEDAT 4.0 importers stop
    // with an error naming their line or packet; the others skip and count them
    // (outsideSensor()).
    void setSensorSize(uint16_t width, uint16_t height)
    {
        width_ = width;
        height_ = height;
    }
    // True when the file states no sensor size and the size is best found by reading
    // every event once (the converter then makes a first pass at 65535 x 65535).
    virtual bool sizeFromScan() const { return false; }

    // Replaces `out` with the next batch of at most about `maxEvents` events (at
    // least one). False at the end of the input or on an error (error() non-empty);
    // after an error `out` holds the good events read before it.
    virtual bool next(std::vector<vexadin::Event2D> &out, size_t maxEvents) = 0;

    // Share of the input read so far, 0..1.
    virtual double progress() const { return 0; }
    // Events skipped because they lie outside the sensor.
    uint64_t outsideSensor() const { return outsideSensor_; }
    // What else was skipped, e.g. "12 frame/IMU samples skipped"; empty when nothing was.
    virtual std::string skippedSummary() const { return {}; }

    const std::string &error() const { return error_; }
    // True when the input was recognised as this format but then turned out damaged.
    // False when open() failed because the input is not of this format at all.
    bool recognised() const { return recognised_; }
    // True when reading the input failed (an I/O error, not its content).
    bool readFailed() const { return readFailed_; }

protected:
    // Keeps the first error: later ones are consequences of it.
    bool fail(const std::string &message)
    {
        if (error_.empty())
            error_ = message;
        return false;
    }

    // The error for an event whose time t goes back (callers compare with lastTimestamp_
    // themselves: this builds the message only when needed).
    std::string backInTimeError(const std::string &where, uint64_t t) const
    {
        return where + ": timestamp " + std::to_string(t) + " us is earlier than the previous event's "
               + std::to_string(lastTimestamp_) + " us (events must be in time order)";
    }
    // The error for an event outside the sensor, for importers that refuse one.
    std::string outsideSensorError(const std::string &where, long long x, long long y) const
    {
        return where + ": event at x=" + std::to_string(x) + " y=" + std::to_string(y) + " is outside the "
               + std::to_string(width_) + " x " + std::to_string(height_) + " sensor (use --width/--height)";
    }

    bool failRead(const std::string &message)
    {
        readFailed_ = true;
        return fail(message);
    }

    uint16_t width_ = 1280;
    uint16_t height_ = 720;
    // Recordings are written in time order; an input that steps back in time is
    // refused rather than having the writer drop events silently.
    uint64_t lastTimestamp_ = 0;
    uint64_t outsideSensor_ = 0;
    std::string sensorName_;
    std::string error_;
    bool recognised_ = false;
    bool readFailed_ = false;
};

} // namespace vxraw
