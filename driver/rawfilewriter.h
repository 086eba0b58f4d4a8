#pragma once

#include "camera/event2d.h"
#include "camera/eventtriggerin.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vexadin {

// What a recording says about itself (stored in the file header, see rawformat.h).
struct RawFileHeader {
    uint16_t width = 1280;
    uint16_t height = 720;
    std::string serial;
    std::string product;
    uint64_t recordingStartUnixUs = 0; // wall clock, µs since the Unix epoch
    int64_t apsTimeOffset = 0;         // µs, event time = APS time + offset
    std::vector<std::pair<std::string, std::string>> metadata;
};

// Appends events and trigger-in signals to a new .raw recording.
//
// Events are gathered into a pending block that is encoded and written with one
// write() as soon as it spans kDefaultBlockSpanUs of recording time or holds
// kDefaultBlockEvents events, so a writer killed at any instant loses at most the
// pending block (< 100 ms of recording). A pending block that has waited 100 ms of
// wall-clock time is also written by the next write() or writeTrigger() call (an
// empty write() will do), so a quiet stream does not hold data back either.
// Memory stays bounded by one block plus the in-memory index (40 bytes per block).
//
// Ordering: events (and triggers) may arrive out of order within the pending
// block; they are stored sorted. Anything older than the last timestamp of the
// block already written is dropped and counted, as are events whose x or y lie
// outside the sensor given in the header.
//
// Time-stamp glitches: an item more than the outlier span (default 1 s) ahead of
// everything accepted so far is held back instead of moving the time bound. It is
// taken (with the items held after it) once kOutlierConfirmItems items in a row
// agree that time really jumped (a stream restarted after a pause), or by close();
// when an item arrives at the old time first, the held items were glitches and are
// dropped and counted (outlierEvents(), outlierTriggers()). The first items of a
// stream are checked the same way against each other, so a glitch at the very
// start does not throw away the rest either; they are held no longer than the
// flush interval (or until flush()), so a quiet stream still reaches the file.
//
// Not thread-safe: one thread writes.
class RawFileWriter {
public:
    static constexpr uint32_t kDefaultBlockEvents = 1u << 16;
    static constexpr uint64_t kDefaultBlockSpanUs = 100000;
    static constexpr uint64_t kDefaultOutlierSpanUs = 1000000;
    static constexpr size_t kOutlierConfirmItems = 4;

    RawFileWriter();
    ~RawFileWriter(); // closes (footer written)

    RawFileWriter(const RawFileWriter &) = delete;
    RawFileWriter &operator=(const RawFileWriter &) = delete;

    // Block limits; call before open(). maxEvents is clamped to [1, kDefaultBlockEvents * 16],
    // maxSpanUs to [1, kDefaultBlockSpanUs].
    void setBlockLimits(uint32_t maxEvents, uint64_t maxSpanUs);

    // Wall-clock age after which a pending block is written by the next call
    // (default kDefaultBlockSpanUs; 0 = only by recording time and size).
    void setFlushInterval(uint64_t wallClockUs);

    // How far ahead of the stream an item must lie to be suspected of being a
    // glitch (0 = never suspect); call before open().
    void setOutlierSpan(uint64_t spanUs);

    // Creates (truncates) path and writes the header. False on failure (see lastError()).
    bool open(const std::string &path, const RawFileHeader &header);
    bool isOpen() const;

    bool write(const Event2D *begin, const Event2D *end);
    bool write(const std::vector<Event2D> &events);
    bool writeTrigger(const EventTriggerIn &trigger);
    // Events and triggers, each span in time order, written merged by time (a
    // trigger before events of the same microsecond), so a block written half-way
    // never leaves an older trigger behind it.
    bool writeMerged(const Event2D *events, const Event2D *eventsEnd, const EventTriggerIn *triggers,
                     const EventTriggerIn *triggersEnd);

    // Writes the pending block now (even if it is not full). Items held back as
    // possible glitches after a jump of time stay held.
    bool flush();
    // Replaces the value of the first header metadata entry named key by one of the
    // same length (a counter reserved at open() with a fixed width) and rewrites the
    // header in place. False when there is no such entry or the length differs.
    bool updateMetadata(const std::string &key, const std::string &value);
    // Flushes the last block and writes the footer index. True when everything
    // written so far reached the file.
    bool close();

    uint64_t eventsWritten() const;   // accepted events (stored or pending)
    uint64_t triggersWritten() const; // accepted triggers
    uint64_t droppedEvents() const;   // outside the sensor, too far out of order, or glitches
    uint64_t droppedTriggers() const; // too far out of order, or glitches
    uint64_t outlierEvents() const;   // the glitches among droppedEvents()
    uint64_t outlierTriggers() const; // the glitches among droppedTriggers()
    uint64_t blocksWritten() const;
    const std::string &lastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace vexadin
