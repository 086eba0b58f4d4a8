#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vxraw {

class EventImporter;

struct ConvertOptions {
    // 0 = take the size from the input file (or --sensor), else 1280 x 720.
    uint16_t width = 0;
    uint16_t height = 0;
    // Sensor model for formats whose address layout depends on it ("dvs128", ...).
    std::string sensor;
    // Empty = take them from the input file when it names the camera.
    std::string serial;
    std::string product;
    // Called after every batch with the share done (0..1). Returning false stops the
    // conversion: Status::Cancelled, and no output file.
    std::function<bool(double fraction)> progress;
};

struct ConvertResult {
    enum class Status {
        Ok,
        BadData,      // recognised input, but damaged or unreadable, or the output failed
        NotEventFile, // input missing, not a regular file, or of an unknown format
        Cancelled,    // the progress callback asked to stop
    };
    Status status = Status::Ok;
    std::string error; // one line, set unless Ok
    std::string format;
    uint64_t events = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint64_t outsideSensor = 0;    // events skipped for lying outside the sensor
    std::string skipped;           // what else was skipped, empty when nothing
    uint64_t recordingStartUnixUs = 0; // non-zero when absolute times were made relative
};

// Times at or after 2000-01-01 00:00 UTC in µs since the Unix epoch are wall-clock
// times: no relative recording runs for 30 years. An import whose first event is
// at or past this is stored relative to that event, with the event's time as the
// recording's start (recording_start_unix_us).
constexpr uint64_t kAbsoluteTimeThresholdUs = 946684800000000ull;

// The importer for `path`, chosen by content (not by name): AEDAT 2.0, 3.1 or 4.0
// by their version line, HDF5 by its signature, otherwise a text event list. Null
// (with `error`) when the path is missing, not a regular file or unreadable.
std::unique_ptr<EventImporter> importerFor(const std::string &path, std::string &error);

// Converts a foreign event file into a recording at outPath, in bounded memory
// (one batch or packet at a time). The recording is written under a temporary
// name beside outPath and renamed at the end, so a failure or cancellation leaves
// no output file (and an existing file at outPath untouched).
ConvertResult convertToRecording(const std::string &inPath, const std::string &outPath,
                                 const ConvertOptions &options);

} // namespace vxraw
