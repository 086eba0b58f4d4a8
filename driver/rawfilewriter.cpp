#include "driver/rawfilewriter.h"

#include "driver/crc32c.h"
#include "driver/driverlog.h"
#include "driver/rawfileio.h"
#include "driver/rawformat.h"
#include "driver/rawformaterror.h"

#include <algorithm>
#include <chrono>
#include <unistd.h>

namespace vexadin {

using namespace rawformat;

struct RawFileWriter::Impl {
    RawFile file;
    std::string path;
    RawFileHeader header;
    EventPacking packing;
    bool open = false;
    bool failed = false; // a write failed: nothing more is written
    std::string lastError;

    uint32_t maxEvents = kDefaultBlockEvents;
    uint64_t maxSpan = kDefaultBlockSpanUs;
    uint64_t flushIntervalUs = kDefaultBlockSpanUs;
    static constexpr uint32_t kMaxPendingTriggers = 65536;

    // Pending block.
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    bool eventsSorted = true;
    bool triggersSorted = true;
    uint64_t pendingMin = 0, pendingMax = 0;
    bool havePending = false;
    std::chrono::steady_clock::time_point pendingSince; // wall clock of the oldest pending item

    // Everything older than this was already written (last timestamp of the last block).
    uint64_t floor = 0;

    std::vector<uint8_t> buffer;
    struct IndexEntry {
        uint64_t first, last, offset;
        uint32_t payloadSize, events, triggers;
    };
    std::vector<IndexEntry> index;
    uint64_t goodEnd = 0; // end of the last block that reached the file

    // Glitch screening (see the class comment). `high` is the largest timestamp
    // accepted so far; `established` turns true with the first accepted item.
    uint64_t outlierSpan = kDefaultOutlierSpanUs;
    bool established = false;
    uint64_t high = 0;
    std::vector<Event2D> heldEvents;
    std::vector<EventTriggerIn> heldTriggers;
    uint64_t heldMin = 0, heldMax = 0;
    std::chrono::steady_clock::time_point heldSince;
    std::vector<uint8_t> headerBytes;

    uint64_t accepted = 0, acceptedTriggers = 0, dropped = 0, droppedTriggers = 0;
    uint64_t outliers = 0, outlierTriggerCount = 0;
    uint64_t storedEvents = 0, storedTriggers = 0;
    uint64_t blocks = 0;

    void setError(const std::string &message)
    {
        lastError = message;
        driverLog(DriverLogLevel::Warning, message);
    }

    void resetPending()
    {
        events.clear();
        triggers.clear();
        eventsSorted = triggersSorted = true;
        havePending = false;
    }

    // Makes room for timestamp t in the pending block: writes the block first when t
    // would stretch it beyond the span limit.
    bool admit(uint64_t t)
    {
        if (havePending) {
            const uint64_t lo = std::min(pendingMin, t), hi = std::max(pendingMax, t);
            if (hi - lo >= maxSpan && !flushPending())
                return false;
        }
        return true;
    }

    // A slow stream must not keep data in memory for long: a pending block older
    // than the span limit in wall-clock time is written at the next call.
    bool flushIfStale()
    {
        // The first items of a quiet stream are not held back longer than a block.
        if (!established && holding() && flushIntervalUs != 0 &&
            std::chrono::steady_clock::now() - heldSince >= std::chrono::microseconds(flushIntervalUs)) {
            const auto since = heldSince;
            if (!takeHeld())
                return false;
            if (havePending)
                pendingSince = std::min(pendingSince, since); // they waited long enough already
        }
        if (havePending && flushIntervalUs != 0 &&
            std::chrono::steady_clock::now() - pendingSince >= std::chrono::microseconds(flushIntervalUs))
            return flushPending();
        return true;
    }

    void note(uint64_t t)
    {
        if (!havePending) {
            pendingMin = pendingMax = t;
            havePending = true;
            pendingSince = std::chrono::steady_clock::now();
        } else {
            pendingMin = std::min(pendingMin, t);
            pendingMax = std::max(pendingMax, t);
        }
    }

    bool flushPending()
    {
        if (!havePending)
            return true;
        if (failed) {
            resetPending();
            return false;
        }
        if (!eventsSorted)
            std::stable_sort(events.begin(), events.end(),
                             [](const Event2D &a, const Event2D &b) { return a.timestamp < b.timestamp; });
        if (!triggersSorted)
            std::stable_sort(triggers.begin(), triggers.end(),
                             [](const EventTriggerIn &a, const EventTriggerIn &b) { return a.timestamp < b.timestamp; });
        const size_t cap = kBlockHeaderSize + maxPayloadSize(packing, events.size(), triggers.size()) + kDecodeSlack;
        if (buffer.size() < cap)
            buffer.resize(cap);
        BlockHeader h;
        h.firstTimestamp = pendingMin;
        h.lastTimestamp = pendingMax;
        h.eventCount = static_cast<uint32_t>(events.size());
        h.triggerCount = static_cast<uint32_t>(triggers.size());
        const size_t payload = encodePayload(packing, pendingMin, events.data(), events.size(), triggers.data(),
                                             triggers.size(), buffer.data() + kBlockHeaderSize);
        h.payloadSize = static_cast<uint32_t>(payload);
        h.payloadCrc = crc32c(buffer.data() + kBlockHeaderSize, payload);
        writeBlockHeader(buffer.data(), h);
        const uint64_t offset = file.writePosition();
        try {
            file.append(buffer.data(), kBlockHeaderSize + payload);
        } catch (const RawFormatError &e) {
            failed = true;
            setError(e.what());
            resetPending();
            return false;
        }
        index.push_back({h.firstTimestamp, h.lastTimestamp, offset, h.payloadSize, h.eventCount, h.triggerCount});
        goodEnd = file.writePosition();
        storedEvents += h.eventCount;
        storedTriggers += h.triggerCount;
        ++blocks;
        floor = pendingMax;
        resetPending();
        return true;
    }

    // The stored path of one event that passed screening: false only when a block
    // could not be written.
    bool acceptEvent(const Event2D &e)
    {
        const uint64_t t = e.timestamp;
        if (havePending) {
            // Hot path: inside the current block's span.
            if (t >= pendingMin && t <= pendingMax) {
                // no change of bounds
            } else if (t > pendingMax && t - pendingMin < maxSpan) {
                pendingMax = t;
            } else {
                if (!admit(t))
                    return false;
                if (t < floor) {
                    ++dropped;
                    return true;
                }
                note(t);
            }
            if (!events.empty() && t < events.back().timestamp)
                eventsSorted = false;
        } else {
            if (t < floor) {
                ++dropped;
                return true;
            }
            note(t);
        }
        events.push_back(e);
        ++accepted;
        if (t > high)
            high = t;
        established = true;
        if (events.size() >= maxEvents && !flushPending())
            return false;
        return true;
    }

    bool acceptTrigger(const EventTriggerIn &trigger)
    {
        const uint64_t t = trigger.timestamp;
        if (!admit(t))
            return false;
        if (t < floor) {
            ++droppedTriggers;
            return true;
        }
        if (!triggers.empty() && t < triggers.back().timestamp)
            triggersSorted = false;
        note(t);
        triggers.push_back(trigger);
        ++acceptedTriggers;
        if (t > high)
            high = t;
        established = true;
        if (triggers.size() >= kMaxPendingTriggers)
            return flushPending();
        return true;
    }

    bool holding() const { return !heldEvents.empty() || !heldTriggers.empty(); }
    size_t heldCount() const { return heldEvents.size() + heldTriggers.size(); }

    // True when t can go straight to the stored path.
    bool plainTime(uint64_t t) const
    {
        return outlierSpan == 0 || (established && !holding() && !farAhead(t, high));
    }

    // t lies more than the outlier span after reference (no overflow near 2^64).
    bool farAhead(uint64_t t, uint64_t reference) const { return t > reference && t - reference > outlierSpan; }

    void hold(uint64_t t)
    {
        if (!holding()) {
            heldMin = heldMax = t;
            heldSince = std::chrono::steady_clock::now();
        } else {
            heldMin = std::min(heldMin, t);
            heldMax = std::max(heldMax, t);
        }
    }

    void dropHeld()
    {
        outliers += heldEvents.size();
        dropped += heldEvents.size();
        outlierTriggerCount += heldTriggers.size();
        droppedTriggers += heldTriggers.size();
        heldEvents.clear();
        heldTriggers.clear();
    }

    // Time really moved on: the held items join the stream, in time order.
    bool takeHeld()
    {
        const auto byTime = [](const auto &a, const auto &b) { return a.timestamp < b.timestamp; };
        std::stable_sort(heldEvents.begin(), heldEvents.end(), byTime);
        std::stable_sort(heldTriggers.begin(), heldTriggers.end(), byTime);
        std::vector<Event2D> evs;
        std::vector<EventTriggerIn> trs;
        evs.swap(heldEvents);
        trs.swap(heldTriggers);
        size_t i = 0, j = 0;
        while (i < evs.size() || j < trs.size()) {
            const bool takeTrigger = j < trs.size() && (i == evs.size() || trs[j].timestamp <= evs[i].timestamp);
            if (!(takeTrigger ? acceptTrigger(trs[j++]) : acceptEvent(evs[i++])))
                return false;
        }
        return true;
    }

    // Screening of an item that is not plainly in time (see the class comment).
    // Returns false only when a block could not be written.
    template <typename Item>
    bool screen(const Item &item, std::vector<Item> &heldList)
    {
        const uint64_t t = item.timestamp;
        if (!established) {
            if (holding()) {
                if (farAhead(heldMin, t)) {
                    dropHeld(); // the first items were ahead of the real stream
                } else if (farAhead(t, heldMax)) {
                    if (!takeHeld())
                        return false;
                    return screen(item, heldList); // now judged against what was taken
                }
            }
            hold(t);
            heldList.push_back(item);
            return heldCount() < kOutlierConfirmItems || takeHeld();
        }
        if (farAhead(t, high)) {
            hold(t);
            heldList.push_back(item);
            return heldCount() < kOutlierConfirmItems || takeHeld();
        }
        if (holding())
            dropHeld(); // back at the old time: what was held were glitches
        return acceptOne(item);
    }

    bool acceptOne(const Event2D &e) { return acceptEvent(e); }
    bool acceptOne(const EventTriggerIn &t) { return acceptTrigger(t); }

    bool writeFooter()
    {
        std::vector<uint8_t> b(kIndexHeaderSize + index.size() * kIndexEntrySize + kTrailerSize, 0);
        std::memcpy(b.data(), kIndexMagic, 4);
        uint8_t *p = b.data() + kIndexHeaderSize;
        for (const IndexEntry &e : index) {
            store64(p, e.first);
            store64(p + 8, e.last);
            store64(p + 16, e.offset);
            store32(p + 24, e.payloadSize);
            store32(p + 28, e.events);
            store32(p + 32, e.triggers);
            p += kIndexEntrySize;
        }
        const size_t indexBytes = static_cast<size_t>(p - b.data());
        const uint64_t indexOffset = file.writePosition();
        std::memcpy(p, kTrailerMagic, 4);
        store64(p + 8, indexOffset);
        store64(p + 16, index.size());
        store64(p + 24, storedEvents);
        store64(p + 32, storedTriggers);
        store32(p + 40, crc32c(b.data(), indexBytes));
        store32(p + 44, crc32c(p, 44));
        file.append(b.data(), b.size());
        return true;
    }
};

RawFileWriter::RawFileWriter() : d(new Impl) {}

RawFileWriter::~RawFileWriter()
{
    close();
}

void RawFileWriter::setBlockLimits(uint32_t maxEvents, uint64_t maxSpanUs)
{
    if (d->open)
        return;
    d->maxEvents = std::clamp<uint32_t>(maxEvents, 1, kDefaultBlockEvents * 16);
    d->maxSpan = std::clamp<uint64_t>(maxSpanUs, 1, kDefaultBlockSpanUs);
}

void RawFileWriter::setOutlierSpan(uint64_t spanUs)
{
    if (!d->open)
        d->outlierSpan = spanUs;
}

void RawFileWriter::setFlushInterval(uint64_t wallClockUs)
{
    d->flushIntervalUs = wallClockUs;
}

bool RawFileWriter::open(const std::string &path, const RawFileHeader &header)
{
    if (d->open)
        close();
    d->lastError.clear();
    d->failed = false;
    d->index.clear();
    d->resetPending();
    d->floor = 0;
    d->accepted = d->acceptedTriggers = d->dropped = d->droppedTriggers = 0;
    d->outliers = d->outlierTriggerCount = 0;
    d->established = false;
    d->high = 0;
    d->heldEvents.clear();
    d->heldTriggers.clear();
    d->storedEvents = d->storedTriggers = 0;
    d->blocks = 0;
    if (path.empty()) {
        d->setError("cannot write a recording: empty path");
        return false;
    }
    bool created = false;
    try {
        const std::vector<uint8_t> bytes = serializeHeader(header, path);
        d->file = RawFile::createForWrite(path);
        created = true;
        d->file.append(bytes.data(), bytes.size());
        d->headerBytes = bytes;
    } catch (const RawFormatError &e) {
        d->setError(e.what());
        d->file.close();
        if (created)
            ::unlink(path.c_str()); // a file without a complete header is of no use to anyone
        return false;
    }
    d->path = path;
    d->header = header;
    d->packing = EventPacking::forSensor(header.width, header.height);
    d->goodEnd = d->file.writePosition();
    d->events.reserve(std::min<uint32_t>(d->maxEvents, kDefaultBlockEvents));
    d->open = true;
    return true;
}

bool RawFileWriter::isOpen() const
{
    return d->open;
}

bool RawFileWriter::write(const Event2D *begin, const Event2D *end)
{
    if (!d->open || d->failed) {
        if (d->lastError.empty())
            d->lastError = "recording is not open";
        return false;
    }
    Impl &s = *d;
    if (!s.flushIfStale())
        return false;
    const uint32_t width = s.header.width, height = s.header.height;
    for (const Event2D *e = begin; e != end; ++e) {
        if (e->x >= width || e->y >= height) {
            ++s.dropped;
            continue;
        }
        if (!(s.plainTime(e->timestamp) ? s.acceptEvent(*e) : s.screen(*e, s.heldEvents)))
            return false;
    }
    return true;
}

bool RawFileWriter::write(const std::vector<Event2D> &events)
{
    return write(events.data(), events.data() + events.size());
}

bool RawFileWriter::writeTrigger(const EventTriggerIn &trigger)
{
    if (!d->open || d->failed) {
        if (d->lastError.empty())
            d->lastError = "recording is not open";
        return false;
    }
    if (!d->flushIfStale())
        return false;
    return d->plainTime(trigger.timestamp) ? d->acceptTrigger(trigger) : d->screen(trigger, d->heldTriggers);
}

bool RawFileWriter::writeMerged(const Event2D *events, const Event2D *eventsEnd, const EventTriggerIn *triggers,
                                const EventTriggerIn *triggersEnd)
{
    while (triggers != triggersEnd) {
        const Event2D *run = events;
        while (run != eventsEnd && run->timestamp < triggers->timestamp)
            ++run;
        if (run != events && !write(events, run))
            return false;
        events = run;
        if (!writeTrigger(*triggers++))
            return false;
    }
    return events == eventsEnd || write(events, eventsEnd);
}

bool RawFileWriter::flush()
{
    if (!d->open)
        return false;
    if (!d->established && d->holding() && !d->takeHeld())
        return false;
    return d->flushPending() && !d->failed;
}

bool RawFileWriter::updateMetadata(const std::string &key, const std::string &value)
{
    if (!d->open || d->failed)
        return false;
    for (auto &kv : d->header.metadata) {
        if (kv.first != key)
            continue;
        if (kv.second.size() != value.size())
            return false;
        kv.second = value;
        try {
            std::vector<uint8_t> bytes = serializeHeader(d->header, d->path);
            if (bytes.size() != d->headerBytes.size())
                return false;
            // One positional write of the whole header: the block data after it is untouched.
            d->file.writeAt(0, bytes.data(), bytes.size());
            d->headerBytes.swap(bytes);
        } catch (const RawFormatError &e) {
            d->setError(e.what());
            return false;
        }
        return true;
    }
    return false;
}

bool RawFileWriter::close()
{
    if (!d->open)
        return false;
    // Items still held had nothing after them to contradict them.
    bool ok = (!d->holding() || d->takeHeld()) && d->flushPending() && !d->failed;
    if (d->outliers + d->outlierTriggerCount != 0)
        driverLog(DriverLogLevel::Warning, d->path + ": dropped " + std::to_string(d->outliers) + " events and " +
                                               std::to_string(d->outlierTriggerCount) +
                                               " triggers whose time stamps lay far ahead of the stream");
    try {
        if (d->failed) {
            // Cut off a torn block so that the index below describes the file exactly.
            d->file.truncate(d->goodEnd);
        }
        d->writeFooter();
    } catch (const RawFormatError &e) {
        if (ok)
            d->setError(e.what());
        ok = false;
    }
    d->file.close();
    d->open = false;
    d->resetPending();
    d->index.clear();
    d->index.shrink_to_fit();
    return ok;
}

uint64_t RawFileWriter::eventsWritten() const
{
    return d->accepted;
}

uint64_t RawFileWriter::triggersWritten() const
{
    return d->acceptedTriggers;
}

uint64_t RawFileWriter::droppedEvents() const
{
    return d->dropped;
}

uint64_t RawFileWriter::droppedTriggers() const
{
    return d->droppedTriggers;
}

uint64_t RawFileWriter::outlierEvents() const
{
    return d->outliers;
}

uint64_t RawFileWriter::outlierTriggers() const
{
    return d->outlierTriggerCount;
}

uint64_t RawFileWriter::blocksWritten() const
{
    return d->blocks;
}

const std::string &RawFileWriter::lastError() const
{
    return d->lastError;
}

} // namespace vexadin
