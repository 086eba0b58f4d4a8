#pragma once

// Seeded generators of camera-like event streams shared by tests and benchmarks.
// The same options and seed always give the same events.

#include "camera/dvsfileinfo.h"
#include "camera/event2d.h"
#include "camera/eventtriggerin.h"
#include "driver/rawfilewriter.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace vxtest {

struct SyntheticOptions {
    uint64_t seed = 1;
    uint16_t width = 1280;
    uint16_t height = 720;
    double eventRate = 1e6;          // events per second, on average
    uint64_t durationUs = 1000000;   // length of the stream
    uint64_t startTimestampUs = 0;   // timestamp of the stream start
    double noiseFraction = 0.1;      // share of uniformly scattered noise events
    unsigned edgeCount = 3;          // moving edges (straight lines sweeping the sensor)
    double triggerRateHz = 0;        // trigger-in edges per second (alternating 1 / 0)
};

// Streams events in time slices so arbitrarily long recordings fit in bounded memory.
// Timestamps never decrease; x < width, y < height.
class SyntheticEventStream {
public:
    explicit SyntheticEventStream(const SyntheticOptions &options);

    // Appends to out (after clearing it) the events of the next sliceUs microseconds.
    // False (out empty) once the whole duration has been produced.
    bool nextSlice(std::vector<vexadin::Event2D> &out, uint64_t sliceUs = 1000);
    uint64_t currentTimestamp() const { return m_now; }

private:
    struct Edge {
        double pos;   // current position along its axis, pixels
        double speed; // pixels per µs
        bool vertical;
        uint8_t polarity;
    };

    SyntheticOptions m_opt;
    std::mt19937_64 m_rng;
    std::vector<Edge> m_edges;
    uint64_t m_now;
    uint64_t m_end;
    double m_carry = 0; // fractional events owed to the next µs
};

// Whole stream in memory (fine for tests; benchmarks of big files use the stream).
std::vector<vexadin::Event2D> generateEvents(const SyntheticOptions &options);
// Trigger-in edges over the same duration: rate triggerRateHz, alternating edges 1 / 0,
// id 0, sorted by timestamp. Empty when triggerRateHz <= 0.
std::vector<vexadin::EventTriggerIn> generateTriggers(const SyntheticOptions &options);

// Writes events and triggers (merged by timestamp) as a recording with the given header.
// True when the file was written and closed completely.
bool writeRecording(const std::string &path, const std::vector<vexadin::Event2D> &events,
                    const std::vector<vexadin::EventTriggerIn> &triggers = {},
                    vexadin::RawFileHeader header = {});

// Everything a recording holds, read back through the reader (ok false when it
// cannot be opened or a block cannot be read).
struct RecordingContents {
    bool ok = false;
    std::vector<vexadin::Event2D> events;
    std::vector<vexadin::EventTriggerIn> triggers;
    vexadin::DvsFileInfo info;
    // Empty when the key is missing.
    std::string metadataValue(const std::string &key) const;
};
RecordingContents readRecording(const std::string &path);

// A unique path under the system temp folder (not created): <tmp>/<stem>-<pid>-<n><suffix>.
std::string tempPath(const std::string &stem, const std::string &suffix = ".raw");

} // namespace vxtest
