#include "driver/rawfilereader.h"

#include "driver/crc32c.h"
#include "driver/driverlog.h"
#include "driver/rawfileio.h"
#include "driver/rawformat.h"
#include "driver/rawformaterror.h"

#include <algorithm>
#include <cstring>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace vexadin {

using namespace rawformat;

namespace {

thread_local std::string t_lastError;

// Sanity maximum for the number of index entries (40 bytes each in memory); a
// ten-hour recording at 10 Mev/s needs about 5.5 million.
constexpr uint64_t kMaxBlocks = uint64_t(1) << 25;

void reportFailure(DriverLogLevel level, const std::string &message)
{
    t_lastError = message;
    driverLog(level, message);
}

uint64_t saturatingAdd(uint64_t a, uint64_t b)
{
    return a > ~uint64_t(0) - b ? ~uint64_t(0) : a + b;
}

std::string rangeText(const RawBlockInfo &b)
{
    return "[" + std::to_string(b.firstTimestamp) + ", " + std::to_string(b.lastTimestamp) + "] us";
}

bool byTime(const Event2D &e, uint64_t t)
{
    return e.timestamp < t;
}

bool afterTime(uint64_t t, const Event2D &e)
{
    return t < e.timestamp;
}

bool triggerByTime(const EventTriggerIn &e, uint64_t t)
{
    return e.timestamp < t;
}

// Thrown out of an index rebuild whose control was cancelled.
struct RebuildCancelled {};

// Share of the closed range [start, end] passed once everything up to `reached`
// is done.
double shareDone(uint64_t start, uint64_t end, uint64_t reached)
{
    if (end <= start)
        return 1.0;
    reached = std::min(std::max(reached, start), end);
    return double(reached - start) / double(end - start);
}

// Block index of an opened recording. Shared (read-only apart from the damage
// marks) by all threads and by sibling readers of the same file.
struct Index {
    std::vector<RawBlockInfo> blocks;
    std::unique_ptr<std::atomic<uint8_t>[]> damaged; // 1 = found damaged (and logged)
    std::atomic<uint64_t> damagedCount{0};
    bool rebuilt = false;
    std::vector<std::string> scanProblems;
    uint64_t totalEvents = 0;
    uint64_t totalTriggers = 0;

    bool empty() const { return blocks.empty(); }
    uint64_t start() const { return blocks.front().firstTimestamp; }
    uint64_t end() const { return blocks.back().lastTimestamp; }
    // First block whose last timestamp is >= t.
    size_t firstEndingAtOrAfter(uint64_t t) const
    {
        return static_cast<size_t>(
            std::partition_point(blocks.begin(), blocks.end(),
                                 [t](const RawBlockInfo &b) { return b.lastTimestamp < t; }) -
            blocks.begin());
    }
    // First block whose first timestamp is > t.
    size_t firstStartingAfter(uint64_t t) const
    {
        return static_cast<size_t>(
            std::partition_point(blocks.begin(), blocks.end(),
                                 [t](const RawBlockInfo &b) { return b.firstTimestamp <= t; }) -
            blocks.begin());
    }
};

// Buffers of one decoding thread.
struct Scratch {
    std::vector<uint8_t> block; // header + payload + slack
    std::vector<Event2D> events;    // grow-only; `count` entries valid
    std::vector<EventTriggerIn> triggers;
    uint32_t eventCount = 0;
    uint32_t triggerCount = 0;
};

struct CacheSlot {
    int64_t block = -1;
    uint64_t lastUse = 0;
    Scratch data;
};

} // namespace

struct RawFileReader::Impl {
    std::string path;
    RawFile file;
    ParsedHeader parsed;
    EventPacking packing;
    uint64_t fileSize = 0;

    std::mutex openMutex;
    std::shared_ptr<Index> index; // set once by open()
    bool openFailed = false;

    // Playback cursor: position and cache of decoded blocks.
    std::mutex cursorMutex;
    uint64_t position = 0;
    bool positioned = false;
    CacheSlot cache[2];
    uint64_t useClock = 0;
    Scratch cursorScratch;

    std::mutex optionsMutex;
    VideoExportOptions videoOptions;

    std::shared_ptr<Index> currentIndex()
    {
        std::lock_guard<std::mutex> lock(openMutex);
        return index;
    }

    std::shared_ptr<Index> ensureIndex(OperationControl *control = nullptr)
    {
        std::lock_guard<std::mutex> lock(openMutex);
        if (index || openFailed)
            return index;
        try {
            index = loadIndex(control);
        } catch (const RebuildCancelled &) {
            // Not a property of the file: a later open() may try again.
            reportFailure(DriverLogLevel::Info, path + ": index rebuild cancelled");
        } catch (const RawFormatError &e) {
            openFailed = true;
            reportFailure(DriverLogLevel::Warning, std::string("cannot open recording: ") + e.what());
        } catch (const std::bad_alloc &) {
            openFailed = true;
            reportFailure(DriverLogLevel::Warning, "cannot open recording " + path + ": out of memory");
        }
        return index;
    }

    // ---- index -------------------------------------------------------------

    std::shared_ptr<Index> loadIndex(OperationControl *control)
    {
        auto ix = std::make_shared<Index>();
        std::string whyNot;
        if (!readFooter(*ix, whyNot)) {
            ix = std::make_shared<Index>();
            ix->rebuilt = true;
            scan(*ix, control);
            std::string line = path + ": footer index " + whyNot + "; rebuilt the index by scanning " +
                               std::to_string(ix->blocks.size()) + " block headers";
            if (!ix->scanProblems.empty())
                line += " (" + std::to_string(ix->scanProblems.size()) + " problem(s), first: " +
                        ix->scanProblems.front() + ")";
            driverLog(DriverLogLevel::Warning, line);
            ix->scanProblems.insert(ix->scanProblems.begin(), "footer index " + whyNot + "; index rebuilt by scan");
        }
        ix->damaged.reset(new std::atomic<uint8_t>[ix->blocks.size()]);
        for (size_t i = 0; i < ix->blocks.size(); ++i)
            ix->damaged[i].store(0, std::memory_order_relaxed);
        for (const RawBlockInfo &b : ix->blocks) {
            ix->totalEvents += b.eventCount;
            ix->totalTriggers += b.triggerCount;
        }
        return ix;
    }

    // False (with the reason) when there is no usable footer.
    bool readFooter(Index &ix, std::string &why)
    {
        const uint64_t headerEnd = parsed.size;
        if (fileSize < headerEnd + kIndexHeaderSize + kTrailerSize) {
            why = "missing";
            return false;
        }
        // Reserved fields are ours to check only for the write versions we know.
        const bool knownWriter = parsed.writeVersion <= kWriteVersion;
        uint8_t t[kTrailerSize];
        file.readAt(fileSize - kTrailerSize, t, kTrailerSize);
        if (std::memcmp(t, kTrailerMagic, 4) != 0) {
            why = "missing";
            return false;
        }
        if (load32(t + 44) != crc32c(t, 44) || (knownWriter && load32(t + 4) != 0)) {
            why = "damaged (trailer checksum)";
            return false;
        }
        const uint64_t indexOffset = load64(t + 8);
        const uint64_t count = load64(t + 16);
        const uint64_t totalEvents = load64(t + 24);
        const uint64_t totalTriggers = load64(t + 32);
        if (count > kMaxBlocks || indexOffset < headerEnd ||
            indexOffset > fileSize - kTrailerSize - kIndexHeaderSize ||
            (fileSize - kTrailerSize - kIndexHeaderSize - indexOffset) != count * kIndexEntrySize) {
            why = "damaged (index position or size)";
            return false;
        }
        const size_t bytes = static_cast<size_t>(kIndexHeaderSize + count * kIndexEntrySize);
        std::vector<uint8_t> raw(bytes);
        file.readAt(indexOffset, raw.data(), bytes);
        if (load32(t + 40) != crc32c(raw.data(), bytes) || std::memcmp(raw.data(), kIndexMagic, 4) != 0 ||
            (knownWriter && load32(raw.data() + 4) != 0)) {
            why = "damaged (index checksum)";
            return false;
        }
        ix.blocks.resize(static_cast<size_t>(count));
        uint64_t nextFree = headerEnd, events = 0, triggers = 0;
        for (size_t i = 0; i < count; ++i) {
            const uint8_t *p = raw.data() + kIndexHeaderSize + i * kIndexEntrySize;
            RawBlockInfo &b = ix.blocks[i];
            b.firstTimestamp = load64(p);
            b.lastTimestamp = load64(p + 8);
            b.fileOffset = load64(p + 16);
            b.payloadSize = load32(p + 24);
            b.eventCount = load32(p + 28);
            b.triggerCount = load32(p + 32);
            const bool ordered = b.firstTimestamp <= b.lastTimestamp &&
                                 (i == 0 || b.firstTimestamp >= ix.blocks[i - 1].lastTimestamp);
            const bool placed = b.fileOffset >= nextFree && b.payloadSize <= kMaxPayloadSize &&
                                b.fileOffset <= indexOffset &&
                                b.fileOffset + kBlockHeaderSize + b.payloadSize <= indexOffset;
            // Counts must fit the payload, so that what a window allocates from them is
            // bounded by the bytes really in the file.
            const uint64_t minPayload =
                uint64_t(b.triggerCount) * kTriggerRecordSize + uint64_t(b.eventCount) * packing.wordBytes;
            const bool sized = b.eventCount <= kMaxBlockEvents && b.triggerCount <= kMaxBlockTriggers &&
                               minPayload <= b.payloadSize && (!knownWriter || load32(p + 36) == 0);
            if (!ordered || !placed || !sized) {
                why = "inconsistent (entry " + std::to_string(i) + ")";
                return false;
            }
            nextFree = b.fileOffset + kBlockHeaderSize + b.payloadSize;
            events += b.eventCount;
            triggers += b.triggerCount;
        }
        if (events != totalEvents || triggers != totalTriggers) {
            why = "inconsistent (totals)";
            return false;
        }
        return true;
    }

    // Stops a rebuild whose control was cancelled; otherwise reports the share of the
    // file's blocks scanned.
    void scanCheckpoint(OperationControl *control, uint64_t pos)
    {
        if (!control)
            return;
        if (control->cancelled())
            throw RebuildCancelled{};
        control->report(shareDone(parsed.size, fileSize, pos));
    }

    // Rebuilds the index from the self-describing block headers.
    void scan(Index &ix, OperationControl *control)
    {
        uint64_t pos = parsed.size;
        uint8_t h[kBlockHeaderSize];
        while (pos < fileSize) {
            scanCheckpoint(control, pos);
            const size_t got = file.readAtMost(pos, h, kBlockHeaderSize);
            if (got >= 4 && std::memcmp(h, kIndexMagic, 4) == 0)
                break; // the (unusable) footer index starts here
            BlockHeader bh;
            std::string why;
            if (got == kBlockHeaderSize && parseBlockHeader(h, packing, bh, &why)) {
                const uint64_t end = pos + kBlockHeaderSize + bh.payloadSize;
                if (end > fileSize) {
                    ix.scanProblems.push_back("block at byte " + std::to_string(pos) + " (" +
                                              std::to_string(bh.firstTimestamp) + " to " +
                                              std::to_string(bh.lastTimestamp) + " us) is cut off by the end of the file");
                    break;
                }
                RawBlockInfo b{bh.firstTimestamp, bh.lastTimestamp, pos, bh.payloadSize, bh.eventCount,
                               bh.triggerCount};
                if (!ix.blocks.empty() && b.firstTimestamp < ix.blocks.back().lastTimestamp) {
                    ix.scanProblems.push_back("block at byte " + std::to_string(pos) +
                                              " goes back in time; skipped");
                } else if (ix.blocks.size() >= kMaxBlocks) {
                    ix.scanProblems.push_back("too many blocks; the rest of the file is ignored");
                    break;
                } else {
                    ix.blocks.push_back(b);
                }
                pos = end;
                continue;
            }
            if (got < kBlockHeaderSize) {
                ix.scanProblems.push_back(std::to_string(got) + " stray bytes at the end of the file (byte " +
                                          std::to_string(pos) + ")");
                break;
            }
            const uint64_t next = findNextBlock(pos + 1, control);
            ix.scanProblems.push_back("unreadable bytes from byte " + std::to_string(pos) + " to " +
                                      (next == ~uint64_t(0) ? std::string("the end") : std::to_string(next)) +
                                      " (" + why + ")");
            if (next == ~uint64_t(0))
                break;
            pos = next;
        }
        if (control)
            control->report(1.0);
    }

    uint64_t findNextBlock(uint64_t from, OperationControl *control)
    {
        constexpr uint64_t kChunk = 1u << 20;
        if (from >= fileSize)
            return ~uint64_t(0);
        // Small files (and the tail of large ones) need no full-size scan buffer.
        std::vector<uint8_t> buf(static_cast<size_t>(std::min<uint64_t>(kChunk + kBlockHeaderSize, fileSize - from)));
        uint64_t off = from;
        while (off + kBlockHeaderSize <= fileSize) {
            scanCheckpoint(control, off); // a long stretch of garbage takes a while
            const size_t n = file.readAtMost(off, buf.data(), buf.size());
            if (n < kBlockHeaderSize)
                break;
            const uint8_t *base = buf.data();
            const uint8_t *p = base;
            const uint8_t *last = base + (n - kBlockHeaderSize);
            while (p <= last) {
                p = static_cast<const uint8_t *>(std::memchr(p, 'V', static_cast<size_t>(last - p) + 1));
                if (!p)
                    break;
                BlockHeader bh;
                if (std::memcmp(p, kBlockMagic, 4) == 0 && parseBlockHeader(p, packing, bh, nullptr)) {
                    const uint64_t at = off + static_cast<uint64_t>(p - base);
                    if (at + kBlockHeaderSize + bh.payloadSize <= fileSize)
                        return at;
                }
                ++p;
            }
            if (n < buf.size())
                break;
            off += n - (kBlockHeaderSize - 1);
        }
        return ~uint64_t(0);
    }

    // ---- blocks ------------------------------------------------------------

    void markDamaged(Index &ix, size_t i, const std::string &why)
    {
        if (ix.damaged[i].exchange(1) == 0) {
            ix.damagedCount.fetch_add(1);
            const RawBlockInfo &b = ix.blocks[i];
            driverLog(DriverLogLevel::Warning, path + ": skipping damaged block " + std::to_string(i) +
                                                   " with events " + rangeText(b) + " at byte " +
                                                   std::to_string(b.fileOffset) + ": " + why);
        }
    }

    // Reads, checks and decodes block i into s. False when the block is damaged
    // (marked and logged once). withEvents = false decodes only the triggers; with
    // appendTo the events are appended there instead (and the triggers skipped).
    bool decodeBlock(Index &ix, size_t i, Scratch &s, bool withEvents, std::vector<Event2D> *appendTo = nullptr)
    {
        if (ix.damaged[i].load(std::memory_order_relaxed))
            return false;
        const RawBlockInfo &b = ix.blocks[i];
        const size_t need = kBlockHeaderSize + size_t(b.payloadSize) + kDecodeSlack;
        if (s.block.size() < need)
            s.block.resize(need);
        try {
            file.readAt(b.fileOffset, s.block.data(), kBlockHeaderSize + size_t(b.payloadSize));
        } catch (const RawFormatError &e) {
            markDamaged(ix, i, e.what());
            return false;
        }
        std::memset(s.block.data() + kBlockHeaderSize + b.payloadSize, 0, kDecodeSlack);
        BlockHeader h;
        std::string why;
        if (!parseBlockHeader(s.block.data(), packing, h, &why)) {
            markDamaged(ix, i, why);
            return false;
        }
        if (h.firstTimestamp != b.firstTimestamp || h.lastTimestamp != b.lastTimestamp ||
            h.payloadSize != b.payloadSize || h.eventCount != b.eventCount || h.triggerCount != b.triggerCount) {
            markDamaged(ix, i, "block header does not match the index");
            return false;
        }
        const uint8_t *payload = s.block.data() + kBlockHeaderSize;
        if (crc32c(payload, h.payloadSize) != h.payloadCrc) {
            markDamaged(ix, i, "payload checksum mismatch");
            return false;
        }
        if (appendTo) {
            if (!decodeEventsAppend(packing, h, payload, *appendTo, &why)) {
                markDamaged(ix, i, why);
                return false;
            }
            s.eventCount = s.triggerCount = 0;
            return true;
        }
        if (s.triggers.size() < h.triggerCount)
            s.triggers.resize(h.triggerCount);
        Event2D *dst = nullptr;
        if (withEvents) {
            if (s.events.size() < h.eventCount)
                s.events.resize(h.eventCount);
            dst = s.events.data();
        }
        if (!decodePayload(packing, h, payload, dst, s.triggers.data(), &why)) {
            markDamaged(ix, i, why);
            return false;
        }
        s.eventCount = withEvents ? h.eventCount : 0;
        s.triggerCount = h.triggerCount;
        return true;
    }

    // ---- cursor (cursorMutex held) ---------------------------------------

    CacheSlot *cached(int64_t block)
    {
        for (CacheSlot &c : cache)
            if (c.block == block) {
                c.lastUse = ++useClock;
                return &c;
            }
        return nullptr;
    }

    CacheSlot &victim()
    {
        CacheSlot *v = &cache[0];
        for (CacheSlot &c : cache)
            if (c.block < 0 || c.lastUse < v->lastUse)
                v = &c;
        return *v;
    }

    // Events of the window [start, start + duration): a half-open window whose end may
    // lie beyond the largest timestamp (then everything from start on). Null when start
    // lies after the recording.
    std::shared_ptr<std::vector<Event2D>> readWindow(Index &ix, uint64_t start, uint64_t duration)
    {
        auto out = std::make_shared<std::vector<Event2D>>();
        if (!readWindowInto(ix, start, duration, *out))
            return nullptr;
        return out;
    }

    // out is cleared first; false (out empty) for a window past the recording.
    bool readWindowInto(Index &ix, uint64_t start, uint64_t duration, std::vector<Event2D> &out)
    {
        out.clear();
        if (ix.empty() || start > ix.end())
            return false;
        if (duration == 0)
            return true;
        const uint64_t last = duration - 1 > ~uint64_t(0) - start ? ~uint64_t(0) : start + (duration - 1);
        readClosed(ix, start, last, out);
        return true;
    }

    // Appends the events of the closed range [start, last] to out.
    void readClosed(Index &ix, uint64_t start, uint64_t lastTs, std::vector<Event2D> &result)
    {
        std::vector<Event2D> *out = &result;
        const size_t first = ix.firstEndingAtOrAfter(start);
        const size_t last = ix.firstStartingAfter(lastTs); // blocks [first, last) overlap
        uint64_t upper = 0;
        for (size_t i = first; i < last; ++i)
            upper += ix.blocks[i].eventCount;
        if (upper == 0)
            return;
        // Appending (after one reserve) rather than sizing the result up front saves a
        // zero-filling pass over it.
        out->reserve(out->size() + static_cast<size_t>(upper));
        for (size_t i = first; i < last; ++i) {
            const RawBlockInfo &b = ix.blocks[i];
            if (b.eventCount == 0)
                continue;
            const Scratch *data = nullptr;
            if (CacheSlot *slot = cached(static_cast<int64_t>(i))) {
                data = &slot->data;
            } else if (b.firstTimestamp >= start && b.lastTimestamp <= lastTs) {
                // Entirely inside the window: decoded straight onto the result.
                decodeBlock(ix, i, cursorScratch, true, out);
                continue;
            } else {
                CacheSlot &v = victim();
                v.block = -1;
                if (!decodeBlock(ix, i, v.data, true))
                    continue;
                v.block = static_cast<int64_t>(i);
                v.lastUse = ++useClock;
                data = &v.data;
            }
            const Event2D *begin = data->events.data();
            const Event2D *stop = begin + data->eventCount;
            const Event2D *lo = std::lower_bound(begin, stop, start, byTime);
            const Event2D *hi = std::upper_bound(lo, stop, lastTs, afterTime);
            out->insert(out->end(), lo, hi);
        }
    }
};

// ---- factory ----------------------------------------------------------------

std::unique_ptr<DvsFileReader> DvsFileReader::createFileReader(const std::string &path)
{
    return RawFileReader::create(path);
}

RawFileReader::RawFileReader() : d(new Impl) {}

RawFileReader::~RawFileReader() = default;

std::unique_ptr<RawFileReader> RawFileReader::create(const std::string &path)
{
    if (path.empty()) {
        t_lastError = "no recording: empty path";
        return nullptr;
    }
    try {
        std::unique_ptr<RawFileReader> r(new RawFileReader);
        Impl &d = *r->d;
        d.path = path;
        d.file = RawFile::openForRead(path);
        d.fileSize = d.file.size();
        uint8_t fixed[kFixedHeaderSize];
        const size_t got = d.file.readAtMost(0, fixed, sizeof fixed);
        const uint32_t headerSize = checkFixedHeader(fixed, got, d.fileSize, path);
        std::vector<uint8_t> bytes(headerSize);
        d.file.readAt(0, bytes.data(), headerSize);
        d.parsed = parseHeader(bytes.data(), bytes.size(), path);
        d.packing = EventPacking::forSensor(d.parsed.header.width, d.parsed.header.height);
        if (d.parsed.writeVersion > kWriteVersion)
            driverLog(DriverLogLevel::Info, path + ": written by format version " +
                                                std::to_string(d.parsed.writeVersion) +
                                                "; opened read-only");
        return r;
    } catch (const RawFormatError &e) {
        reportFailure(DriverLogLevel::Warning, std::string("not a readable recording: ") + e.what());
    } catch (const std::bad_alloc &) {
        reportFailure(DriverLogLevel::Warning, "not a readable recording: " + path + ": out of memory");
    }
    return nullptr;
}

std::unique_ptr<RawFileReader> RawFileReader::sibling() const
{
    std::unique_ptr<RawFileReader> r(new RawFileReader);
    Impl &s = *r->d;
    s.path = d->path;
    s.file = RawFile::openForRead(d->path);
    s.fileSize = d->fileSize;
    s.parsed = d->parsed;
    s.packing = d->packing;
    s.index = d->currentIndex();
    {
        std::lock_guard<std::mutex> lock(d->optionsMutex);
        s.videoOptions = d->videoOptions;
    }
    return r;
}

// ---- DvsFileReader ------------------------------------------------------------

bool RawFileReader::open()
{
    OperationControl control;
    return open(control);
}

bool RawFileReader::open(OperationControl &control)
{
    const auto ix = d->ensureIndex(&control);
    if (!ix)
        return false;
    std::lock_guard<std::mutex> lock(d->cursorMutex);
    if (!d->positioned) {
        d->position = ix->empty() ? 0 : ix->start();
        d->positioned = true;
    }
    return true;
}

bool RawFileReader::getStartTimestamp(uint64_t &timestamp)
{
    const auto ix = d->ensureIndex();
    if (!ix || ix->empty())
        return false;
    timestamp = ix->start();
    return true;
}

bool RawFileReader::getEndTimestamp(uint64_t &timestamp)
{
    const auto ix = d->ensureIndex();
    if (!ix || ix->empty())
        return false;
    timestamp = ix->end();
    return true;
}

bool RawFileReader::seek(uint64_t timestamp)
{
    const auto ix = d->ensureIndex();
    if (!ix)
        return false;
    if (ix->empty() || timestamp > ix->end()) {
        t_lastError = d->path + ": seek to " + std::to_string(timestamp) + " us is past the end of the recording";
        return false;
    }
    std::lock_guard<std::mutex> lock(d->cursorMutex);
    d->position = timestamp;
    d->positioned = true;
    return true;
}

std::shared_ptr<std::vector<Event2D>> RawFileReader::readNext(uint64_t duration)
{
    const auto ix = d->ensureIndex();
    if (!ix)
        return nullptr;
    try {
        std::lock_guard<std::mutex> lock(d->cursorMutex);
        if (!d->positioned) {
            d->position = ix->empty() ? 0 : ix->start();
            d->positioned = true;
        }
        auto out = d->readWindow(*ix, d->position, duration);
        if (out)
            d->position = saturatingAdd(d->position, duration);
        return out;
    } catch (const std::bad_alloc &) {
        reportFailure(DriverLogLevel::Warning, d->path + ": out of memory reading events");
    }
    return nullptr;
}

std::shared_ptr<std::vector<Event2D>> RawFileReader::readRange(uint64_t start, uint64_t duration)
{
    const auto ix = d->ensureIndex();
    if (!ix)
        return nullptr;
    try {
        std::lock_guard<std::mutex> lock(d->cursorMutex);
        return d->readWindow(*ix, start, duration);
    } catch (const std::bad_alloc &) {
        reportFailure(DriverLogLevel::Warning, d->path + ": out of memory reading events");
    }
    return nullptr;
}

bool RawFileReader::readRangeInto(uint64_t start, uint64_t duration, std::vector<Event2D> &out)
{
    out.clear();
    const auto ix = d->ensureIndex();
    if (!ix)
        return false;
    try {
        std::lock_guard<std::mutex> lock(d->cursorMutex);
        return d->readWindowInto(*ix, start, duration, out);
    } catch (const std::bad_alloc &) {
        out.clear();
        reportFailure(DriverLogLevel::Warning, d->path + ": out of memory reading events");
    }
    return false;
}

std::shared_ptr<std::vector<EventTriggerIn>> RawFileReader::readTriggers(uint64_t start, uint64_t duration)
{
    const auto ix = d->ensureIndex();
    if (!ix)
        return nullptr;
    try {
        auto out = std::make_shared<std::vector<EventTriggerIn>>();
        if (ix->empty() || duration == 0)
            return out;
        const uint64_t lastTs = duration - 1 > ~uint64_t(0) - start ? ~uint64_t(0) : start + (duration - 1);
        Scratch s;
        const size_t last = ix->firstStartingAfter(lastTs);
        for (size_t i = ix->firstEndingAtOrAfter(start); i < last; ++i) {
            if (ix->blocks[i].triggerCount == 0 || !d->decodeBlock(*ix, i, s, false))
                continue;
            const EventTriggerIn *b = s.triggers.data(), *e = b + s.triggerCount;
            const EventTriggerIn *lo = std::lower_bound(b, e, start, triggerByTime);
            const EventTriggerIn *hi = std::upper_bound(
                lo, e, lastTs, [](uint64_t t, const EventTriggerIn &x) { return t < x.timestamp; });
            out->insert(out->end(), lo, hi);
        }
        return out;
    } catch (const std::bad_alloc &) {
        reportFailure(DriverLogLevel::Warning, d->path + ": out of memory reading triggers");
    }
    return nullptr;
}

bool RawFileReader::forEachBlockInRange(uint64_t start, uint64_t endInclusive, const BlockCallback &fn)
{
    return forEachBlockInRange(start, endInclusive, fn, nullptr);
}

bool RawFileReader::forEachBlockInRange(uint64_t start, uint64_t endInclusive, const BlockCallback &fn,
                                        OperationControl *control)
{
    const auto ix = d->ensureIndex();
    if (!ix)
        return false;
    if (ix->empty() || endInclusive < start)
        return true;
    // Progress over the part of the range the recording covers.
    const uint64_t from = std::max(start, ix->start());
    const uint64_t to = std::max(from, std::min(endInclusive, ix->end()));
    // A run of damaged blocks is one gap: noted when the next good block (or the end) comes.
    bool gapOpen = false;
    OperationControl::Range gap;
    const auto closeGap = [&] {
        if (gapOpen && control)
            control->noteUnreadable(gap.first, gap.last);
        gapOpen = false;
    };
    try {
        Scratch s;
        const size_t last = ix->firstStartingAfter(endInclusive);
        for (size_t i = ix->firstEndingAtOrAfter(start); i < last; ++i) {
            if (control) {
                if (control->cancelled()) {
                    t_lastError = d->path + ": cancelled";
                    return false;
                }
                control->report(shareDone(from, to, ix->blocks[i].firstTimestamp));
            }
            if (!d->decodeBlock(*ix, i, s, true)) {
                const RawBlockInfo &b = ix->blocks[i];
                const uint64_t first = std::max(b.firstTimestamp, start);
                const uint64_t lastTs = std::min(b.lastTimestamp, endInclusive);
                if (!gapOpen)
                    gap.first = first;
                gap.last = lastTs;
                gapOpen = true;
                continue;
            }
            closeGap();
            const Event2D *eb = s.events.data(), *ee = eb + s.eventCount;
            const EventTriggerIn *tb = s.triggers.data(), *te = tb + s.triggerCount;
            const Event2D *elo = std::lower_bound(eb, ee, start, byTime);
            const Event2D *ehi = std::upper_bound(elo, ee, endInclusive,
                                                  [](uint64_t t, const Event2D &e) { return t < e.timestamp; });
            const EventTriggerIn *tlo = std::lower_bound(tb, te, start, triggerByTime);
            const EventTriggerIn *thi = std::upper_bound(
                tlo, te, endInclusive, [](uint64_t t, const EventTriggerIn &e) { return t < e.timestamp; });
            if (!fn(elo, ehi, tlo, thi))
                return false;
        }
        closeGap();
        return true;
    } catch (const std::exception &e) {
        reportFailure(DriverLogLevel::Warning, d->path + ": reading blocks failed: " + e.what());
    }
    return false;
}

bool RawFileReader::cut(uint64_t start, uint64_t end, const std::string &outPath)
{
    OperationControl control;
    return cut(start, end, outPath, control);
}

bool RawFileReader::cut(uint64_t start, uint64_t end, const std::string &outPath, OperationControl &control)
{
    const auto ix = d->ensureIndex();
    if (!ix)
        return false;
    auto refuse = [&](const std::string &why) {
        reportFailure(DriverLogLevel::Warning, "cut of " + d->path + " refused: " + why);
        return false;
    };
    if (outPath.empty())
        return refuse("empty output path");
    if (end < start)
        return refuse("end " + std::to_string(end) + " us before start " + std::to_string(start) + " us");
    if (ix->empty())
        return refuse("the recording holds no data");
    if (end < ix->start() || start > ix->end())
        return refuse("range [" + std::to_string(start) + ", " + std::to_string(end) +
                      "] us lies outside the recording [" + std::to_string(ix->start()) + ", " +
                      std::to_string(ix->end()) + "] us");
    uint64_t dev = 0, ino = 0;
    struct stat st;
    if (d->file.identity(dev, ino) && ::stat(outPath.c_str(), &st) == 0 &&
        static_cast<uint64_t>(st.st_dev) == dev && static_cast<uint64_t>(st.st_ino) == ino)
        return refuse("the output is the recording itself");

    static std::atomic<unsigned> counter{0};
    const std::string tmp = outPath + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    bool ok = false;
    {
        RawFileWriter writer;
        if (!writer.open(tmp, d->parsed.header)) {
            t_lastError = writer.lastError(); // the writer has logged it
            return false;
        }
        bool writeOk = true;
        const bool iterated = forEachBlockInRange(
            start, end, [&](const Event2D *eb, const Event2D *ee, const EventTriggerIn *tb, const EventTriggerIn *te) {
                // Merge by time so the writer never sees a trigger older than what it flushed.
                while (writeOk && (eb != ee || tb != te)) {
                    if (tb != te && (eb == ee || tb->timestamp <= eb->timestamp)) {
                        writeOk = writer.writeTrigger(*tb++);
                        continue;
                    }
                    const Event2D *run = te == tb ? ee
                                                  : std::lower_bound(eb, ee, tb->timestamp, byTime);
                    writeOk = writer.write(eb, run);
                    eb = run;
                }
                return writeOk;
            },
            &control);
        const bool closed = writer.close();
        ok = iterated && writeOk && closed;
        if (control.cancelled()) {
            ok = false;
            reportFailure(DriverLogLevel::Info, "cut of " + d->path + " to " + outPath + " cancelled");
        } else if (!ok && !writer.lastError().empty())
            t_lastError = writer.lastError(); // logged by the writer
        else if (!ok)
            reportFailure(DriverLogLevel::Warning, "cut of " + d->path + " to " + outPath + " failed: " + t_lastError);
    }
    if (ok && std::rename(tmp.c_str(), outPath.c_str()) != 0) {
        reportFailure(DriverLogLevel::Warning, "cut of " + d->path + ": cannot rename " + tmp + " to " + outPath);
        ok = false;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    control.report(1.0);
    return true;
}

bool RawFileReader::exportVideo(uint64_t start, uint64_t end, const std::string &outPath)
{
    OperationControl control;
    return exportVideo(start, end, outPath, control);
}

bool RawFileReader::exportVideo(uint64_t start, uint64_t end, const std::string &outPath,
                                OperationControl &control)
{
    if (!d->ensureIndex())
        return false;
    std::unique_ptr<RawFileReader> own;
    try {
        own = sibling();
    } catch (const RawFormatError &e) {
        reportFailure(DriverLogLevel::Warning, std::string("video export failed: ") + e.what());
        return false;
    }
    VideoExportOptions options;
    {
        std::lock_guard<std::mutex> lock(d->optionsMutex);
        options = d->videoOptions;
    }
    try {
        return exportEventVideo(*own, start, end, outPath, options, nullptr, &control);
    } catch (const std::exception &e) {
        reportFailure(DriverLogLevel::Warning, "video export of " + d->path + " failed: " + e.what());
    }
    return false;
}

bool RawFileReader::getFileInfo(DvsFileInfo &info)
{
    const auto ix = d->ensureIndex();
    if (!ix)
        return false;
    const RawFileHeader &h = d->parsed.header;
    info.startTimestamp = ix->empty() ? 0 : ix->start();
    info.endTimestamp = ix->empty() ? 0 : ix->end();
    info.apsTimeOffset = h.apsTimeOffset;
    info.eventCount = ix->totalEvents;
    info.triggerCount = ix->totalTriggers;
    info.width = h.width;
    info.height = h.height;
    info.serial = h.serial;
    info.product = h.product;
    info.recordingStartUnixUs = h.recordingStartUnixUs;
    info.metadata = h.metadata;
    return true;
}

void RawFileReader::setVideoExportOptions(const VideoExportOptions &options)
{
    std::lock_guard<std::mutex> lock(d->optionsMutex);
    d->videoOptions = options;
}

// ---- inspection -------------------------------------------------------------------

const std::string &RawFileReader::path() const
{
    return d->path;
}

const RawFileHeader &RawFileReader::header() const
{
    return d->parsed.header;
}

uint16_t RawFileReader::formatReadVersion() const
{
    return d->parsed.readVersion;
}

uint16_t RawFileReader::formatWriteVersion() const
{
    return d->parsed.writeVersion;
}

uint64_t RawFileReader::fileSize() const
{
    return d->fileSize;
}

uint64_t RawFileReader::blockCount() const
{
    const auto ix = d->currentIndex();
    return ix ? ix->blocks.size() : 0;
}

RawBlockInfo RawFileReader::blockInfo(uint64_t i) const
{
    const auto ix = d->currentIndex();
    return ix && i < ix->blocks.size() ? ix->blocks[static_cast<size_t>(i)] : RawBlockInfo{};
}

uint64_t RawFileReader::corruptBlockCount() const
{
    const auto ix = d->currentIndex();
    return ix ? ix->damagedCount.load() : 0;
}

bool RawFileReader::indexRebuilt() const
{
    const auto ix = d->currentIndex();
    return ix && ix->rebuilt;
}

bool RawFileReader::verifyAll(std::vector<std::string> *problems, OperationControl *control)
{
    const auto ix = d->ensureIndex();
    if (!ix) {
        if (problems)
            problems->push_back(t_lastError);
        return false;
    }
    bool sound = ix->scanProblems.empty();
    if (problems)
        problems->insert(problems->end(), ix->scanProblems.begin(), ix->scanProblems.end());
    try {
        Scratch s;
        for (size_t i = 0; i < ix->blocks.size(); ++i) {
            if (control) {
                if (control->cancelled()) {
                    t_lastError = d->path + ": check cancelled";
                    return false;
                }
                control->report(double(i) / double(ix->blocks.size()));
            }
            if (!d->decodeBlock(*ix, i, s, true)) {
                sound = false;
                if (problems)
                    problems->push_back("damaged block " + std::to_string(i) + " with events " +
                                        rangeText(ix->blocks[i]) + " at byte " +
                                        std::to_string(ix->blocks[i].fileOffset));
            }
        }
    } catch (const std::bad_alloc &) {
        reportFailure(DriverLogLevel::Warning, d->path + ": out of memory while checking");
        return false;
    }
    if (control)
        control->report(1.0);
    return sound;
}

const std::string &RawFileReader::lastError() const
{
    return t_lastError;
}

} // namespace vexadin
