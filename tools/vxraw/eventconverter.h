#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vxraw {

class EventImporter;

struct ConvertOptions {
    // 0 = take the size from the input file, else 1280 x 720.
    uint16_t width = 0;
    uint16_t height = 0;
    // Empty = take them from the input file when it names the camera.
    std::string serial;
    std::string product;
};

struct ConvertResult {
    enum class Status {
        Ok,
        BadData,      // recognised input, but damaged or outside the sensor, or the output failed
        NotEventFile, // input missing, unreadable as an event file, or of an unknown format
    };
    Status status = Status::Ok;
    std::string error; // one line, set unless Ok
    std::string format;
    uint64_t events = 0;
    uint16_t width = 0;
    uint16_t height = 0;
};

// The importer for `path`, chosen by content (not by name): AEDAT 4.0 by its
// version line, otherwise a text event list. Null (with `error`) when the file
// cannot be read.
std::unique_ptr<EventImporter> importerFor(const std::string &path, std::string &error);

// Converts a foreign event file into a recording at outPath, in bounded memory
// (one batch or packet at a time). The recording is written under a temporary
// name beside outPath and renamed at the end, so a failure leaves no output file
// (and an existing file at outPath untouched).
ConvertResult convertToRecording(const std::string &inPath, const std::string &outPath,
                                 const ConvertOptions &options);

} // namespace vxraw
