#pragma once

#include "camera/event2d.h"
#include "camera/eventtriggerin.h"
#include "driver/rawfilewriter.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace vexadin {

// The last N seconds of a camera's stream, kept on disk as a chain of short
// recordings ("segments") in a folder, so that a recording started later can
// begin N seconds back. Disk use stays bounded: a segment is deleted as soon as
// all of it lies more than N seconds behind the stream. Every file it made is
// removed when the cache is turned off, moved, or destroyed; files left behind by
// a process that died are removed when a cache starts in their folder.
//
// Used by one thread (the camera's recorder thread).
class RecordingCache {
public:
    // header: sensor size, serial and product for the segment files.
    explicit RecordingCache(RawFileHeader header);
    ~RecordingCache();

    RecordingCache(const RecordingCache &) = delete;
    RecordingCache &operator=(const RecordingCache &) = delete;

    // seconds = 0 turns the cache off. False (with the reason in error) when the
    // folder cannot be used.
    bool configure(uint16_t seconds, const std::string &dir, std::string *error);
    bool enabled() const { return seconds_ != 0; }
    uint16_t seconds() const { return seconds_; }

    // The stream of camera time [t0, t1) (both spans in time order).
    void add(uint64_t t0, uint64_t t1, const Event2D *events, const Event2D *eventsEnd,
             const EventTriggerIn *triggers, const EventTriggerIn *triggersEnd);
    // Events of [t0, t1) that never reached the cache (the disk did not keep up).
    void addLoss(uint64_t t0, uint64_t t1, uint64_t events);

    // Writes everything cached from camera time `from` on into writer, in time
    // order; lost receives the losses counted in that span. False when a segment
    // could not be read (what could be read was written).
    bool copyInto(RawFileWriter &writer, uint64_t from, uint64_t &lost, std::string *error);

    // The segment files now on disk (for tests and diagnostics).
    std::vector<std::string> files() const;

private:
    struct Segment {
        std::string path;
        uint64_t t0 = 0;
        uint64_t t1 = 0;
        uint64_t lost = 0;
    };

    void closeCurrent();
    void removeAll();
    void retire(uint64_t now);
    void removeLeftovers();

    RawFileHeader header_;
    std::string prefix_; // file name prefix of this cache: vxcache_<serial>_<pid>_
    uint16_t seconds_ = 0;
    std::string dir_;
    uint64_t segmentSpan_ = 1000000;
    uint64_t nextSequence_ = 0;
    std::deque<Segment> segments_; // oldest first; the last one is being written when writer_ is open
    std::unique_ptr<RawFileWriter> writer_;
    bool reportedFailure_ = false;
};

} // namespace vexadin
