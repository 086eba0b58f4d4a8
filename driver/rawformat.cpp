#include "driver/rawformat.h"

#include "driver/crc32c.h"
#include "driver/rawformaterror.h"

#include <cstddef>
#include <type_traits>

namespace vexadin {
namespace rawformat {

static_assert(sizeof(Event2D) == 16 && offsetof(Event2D, x) == 0 && offsetof(Event2D, y) == 2 &&
                  offsetof(Event2D, polarity) == 4 && offsetof(Event2D, timestamp) == 8,
              "the decoder writes Event2D as two 64-bit words");
static_assert(std::is_trivially_copyable<Event2D>::value, "Event2D is written with memcpy");

namespace {

uint32_t bitsFor(uint32_t maxValue)
{
    uint32_t bits = 1;
    while (bits < 32 && (maxValue >> bits) != 0)
        ++bits;
    return bits;
}

inline size_t writeVarint(uint8_t *p, uint64_t v)
{
    size_t n = 0;
    while (v >= 0x80) {
        p[n++] = static_cast<uint8_t>(v | 0x80);
        v >>= 7;
    }
    p[n++] = static_cast<uint8_t>(v);
    return n;
}

// Reads at most min(avail, 10) bytes; 0 on a malformed or overlong varint.
inline size_t readVarint(const uint8_t *p, size_t avail, uint64_t &v)
{
    v = 0;
    const size_t limit = avail < kMaxVarintBytes ? avail : kMaxVarintBytes;
    for (size_t i = 0; i < limit; ++i) {
        const uint64_t b = p[i];
        if (i == 9 && b > 1)
            return 0; // would overflow 64 bits
        v |= (b & 0x7f) << (7 * i);
        if (!(b & 0x80))
            return i + 1;
    }
    return 0;
}

void fail(std::string *why, const char *text)
{
    if (why)
        *why = text;
}

} // namespace

EventPacking EventPacking::forSensor(uint16_t width, uint16_t height)
{
    EventPacking p;
    p.width = width;
    p.height = height;
    p.xBits = bitsFor(width > 0 ? width - 1u : 0u);
    p.yBits = bitsFor(height > 0 ? height - 1u : 0u);
    p.deltaShift = p.xBits + p.yBits + 1;
    p.wordBytes = (p.deltaShift + 6 + 7) / 8;
    p.deltaBits = 8 * p.wordBytes - p.deltaShift;
    p.xMask = (uint64_t(1) << p.xBits) - 1;
    p.yMask = (uint64_t(1) << p.yBits) - 1;
    p.deltaMask = (uint64_t(1) << p.deltaBits) - 1;
    return p;
}

void writeBlockHeader(uint8_t *out, const BlockHeader &h)
{
    std::memcpy(out, kBlockMagic, 4);
    store32(out + 4, h.payloadSize);
    store32(out + 8, h.eventCount);
    store32(out + 12, h.triggerCount);
    store64(out + 16, h.firstTimestamp);
    store64(out + 24, h.lastTimestamp);
    store32(out + 32, h.payloadCrc);
    store32(out + 36, crc32c(out, 36));
}

bool parseBlockHeader(const uint8_t *in, const EventPacking &packing, BlockHeader &h, std::string *why)
{
    if (std::memcmp(in, kBlockMagic, 4) != 0)
        return fail(why, "no block magic"), false;
    if (load32(in + 36) != crc32c(in, 36))
        return fail(why, "block header checksum mismatch"), false;
    h.payloadSize = load32(in + 4);
    h.eventCount = load32(in + 8);
    h.triggerCount = load32(in + 12);
    h.firstTimestamp = load64(in + 16);
    h.lastTimestamp = load64(in + 24);
    h.payloadCrc = load32(in + 32);
    if (h.payloadSize > kMaxPayloadSize || h.eventCount > kMaxBlockEvents || h.triggerCount > kMaxBlockTriggers)
        return fail(why, "block sizes beyond the format's limits"), false;
    const uint64_t minimum = uint64_t(h.triggerCount) * kTriggerRecordSize + uint64_t(h.eventCount) * packing.wordBytes;
    const uint64_t maximum = uint64_t(h.triggerCount) * kTriggerRecordSize +
                             uint64_t(h.eventCount) * (packing.wordBytes + kMaxVarintBytes);
    if (h.payloadSize < minimum || h.payloadSize > maximum)
        return fail(why, "payload size does not fit the event and trigger counts"), false;
    if (h.firstTimestamp > h.lastTimestamp)
        return fail(why, "first timestamp after last timestamp"), false;
    return true;
}

size_t maxPayloadSize(const EventPacking &packing, size_t n, size_t m)
{
    return m * kTriggerRecordSize + n * (packing.wordBytes + kMaxVarintBytes);
}

size_t encodePayload(const EventPacking &pk, uint64_t firstTimestamp, const Event2D *events, size_t n,
                     const EventTriggerIn *triggers, size_t m, uint8_t *out)
{
    uint8_t *p = out;
    for (size_t i = 0; i < m; ++i) {
        store64(p, triggers[i].timestamp - firstTimestamp);
        store16(p + 8, static_cast<uint16_t>(triggers[i].edge));
        store16(p + 10, static_cast<uint16_t>(triggers[i].id));
        p += kTriggerRecordSize;
    }
    const size_t W = pk.wordBytes;
    const uint32_t xb = pk.xBits, pshift = pk.xBits + pk.yBits, dshift = pk.deltaShift;
    const uint64_t dmask = pk.deltaMask;
    uint64_t prev = firstTimestamp;
    for (size_t i = 0; i < n; ++i) {
        const Event2D &e = events[i];
        const uint64_t delta = e.timestamp - prev;
        prev = e.timestamp;
        uint64_t word = uint64_t(e.x) | (uint64_t(e.y) << xb) | (uint64_t(e.polarity != 0) << pshift);
        if (delta < dmask) {
            store64(p, word | (delta << dshift));
            p += W;
        } else {
            store64(p, word | (dmask << dshift));
            p += W;
            p += writeVarint(p, delta);
        }
    }
    return static_cast<size_t>(p - out);
}

namespace {

// The event loop, with the word size as a constant for the usual sensor sizes
// (kWord = 0: taken from the packing at run time).
// Where decoded events go: a caller-sized array, or the end of a vector.
struct ArraySink {
    uint8_t *out;
    void put(uint64_t lo, uint64_t ts)
    {
        std::memcpy(out, &lo, 8);
        std::memcpy(out + 8, &ts, 8);
        out += sizeof(Event2D);
    }
};

struct VectorSink {
    std::vector<Event2D> &v;
    void put(uint64_t lo, uint64_t ts)
    {
        v.emplace_back(static_cast<uint16_t>(lo), static_cast<uint16_t>(lo >> 16), static_cast<uint8_t>(lo >> 32), ts);
    }
};

template <size_t kWord, typename Sink>
bool decodeEvents(const EventPacking &pk, const BlockHeader &h, const uint8_t *p, const uint8_t *end,
                  Sink sink, std::string *why)
{
    const size_t W = kWord ? kWord : pk.wordBytes;
    const uint64_t first = h.firstTimestamp;
    const uint64_t span = h.lastTimestamp - h.firstTimestamp;
    const uint32_t xb = pk.xBits, pshift = pk.xBits + pk.yBits, dshift = pk.deltaShift;
    const uint64_t xmask = pk.xMask, ymask = pk.yMask, dmask = pk.deltaMask;
    const uint64_t width = pk.width, height = pk.height;
    const uint32_t n = h.eventCount;
    uint64_t rel = 0;
    uint64_t bad = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint64_t v = load64(p);
        p += W;
        uint64_t d = (v >> dshift) & dmask;
        if (__builtin_expect(d == dmask, 0)) {
            const size_t used = readVarint(p, static_cast<size_t>(end - p), d);
            if (used == 0 || rel > span || d > span - rel)
                return fail(why, "bad time delta"), false;
            p += used;
            if (static_cast<uint64_t>(end - p) < uint64_t(n - i - 1) * W)
                return fail(why, "payload too short for its event count"), false;
        }
        rel += d;
        const uint64_t x = v & xmask;
        const uint64_t y = (v >> xb) & ymask;
        bad |= uint64_t(x >= width) | uint64_t(y >= height);
        const uint64_t lo = x | (y << 16) | (((v >> pshift) & 1u) << 32);
        sink.put(lo, first + rel);
    }
    if (bad)
        return fail(why, "event coordinates outside the sensor"), false;
    if (rel > span)
        return fail(why, "event timestamps beyond the block's last timestamp"), false;
    if (p != end)
        return fail(why, "payload length does not match its contents"), false;
    return true;
}

} // namespace

bool decodePayload(const EventPacking &pk, const BlockHeader &h, const uint8_t *payload, Event2D *events,
                   EventTriggerIn *triggers, std::string *why)
{
    const uint64_t first = h.firstTimestamp;
    const uint64_t span = h.lastTimestamp - h.firstTimestamp;
    const uint8_t *p = payload;
    const uint8_t *const end = payload + h.payloadSize;

    if (triggers) {
        uint64_t prevRel = 0;
        for (uint32_t i = 0; i < h.triggerCount; ++i) {
            const uint64_t rel = load64(p);
            if (rel > span || rel < prevRel)
                return fail(why, "trigger timestamps out of the block's range or order"), false;
            prevRel = rel;
            triggers[i].timestamp = first + rel;
            triggers[i].edge = static_cast<int16_t>(load16(p + 8));
            triggers[i].id = static_cast<int16_t>(load16(p + 10));
            p += kTriggerRecordSize;
        }
    } else {
        p += size_t(h.triggerCount) * kTriggerRecordSize;
    }

    if (!events)
        return true; // triggers only; the events were covered by the checksum

    const ArraySink sink{reinterpret_cast<uint8_t *>(events)};
    switch (pk.wordBytes) {
    case 4: return decodeEvents<4>(pk, h, p, end, sink, why);
    case 5: return decodeEvents<5>(pk, h, p, end, sink, why);
    default: return decodeEvents<0>(pk, h, p, end, sink, why);
    }
}

bool decodeEventsAppend(const EventPacking &pk, const BlockHeader &h, const uint8_t *payload,
                        std::vector<Event2D> &out, std::string *why)
{
    const size_t before = out.size();
    out.reserve(before + h.eventCount);
    const uint8_t *p = payload + size_t(h.triggerCount) * kTriggerRecordSize;
    const uint8_t *const end = payload + h.payloadSize;
    const VectorSink sink{out};
    bool ok;
    switch (pk.wordBytes) {
    case 4: ok = decodeEvents<4>(pk, h, p, end, sink, why); break;
    case 5: ok = decodeEvents<5>(pk, h, p, end, sink, why); break;
    default: ok = decodeEvents<0>(pk, h, p, end, sink, why); break;
    }
    if (!ok)
        out.resize(before);
    return ok;
}

std::vector<uint8_t> serializeHeader(const RawFileHeader &header, const std::string &path)
{
    if (header.width == 0 || header.height == 0)
        throw CorruptDataError(path, RawFormatError::kNoOffset, "sensor width and height must be at least 1");
    if (header.serial.size() > 0xffff || header.product.size() > 0xffff)
        throw CorruptDataError(path, RawFormatError::kNoOffset, "serial or product longer than 65535 bytes");
    if (header.metadata.size() > kMaxMetadataEntries)
        throw CorruptDataError(path, RawFormatError::kNoOffset, "more than 65535 metadata entries");
    size_t size = kFixedHeaderSize + header.serial.size() + header.product.size() + 4;
    for (const auto &kv : header.metadata) {
        if (kv.first.size() > 0xffff || kv.second.size() > kMaxMetadataValue)
            throw CorruptDataError(path, RawFormatError::kNoOffset, "metadata key or value too long");
        size += 6 + kv.first.size() + kv.second.size();
    }
    if (size > kMaxHeaderSize)
        throw CorruptDataError(path, RawFormatError::kNoOffset, "header larger than 1 MiB");

    std::vector<uint8_t> b(size, 0);
    std::memcpy(b.data(), kFileMagic, 8);
    store16(&b[8], kReadVersion);
    store16(&b[10], kWriteVersion);
    store32(&b[12], static_cast<uint32_t>(size));
    store16(&b[16], header.width);
    store16(&b[18], header.height);
    store64(&b[24], header.recordingStartUnixUs);
    store64(&b[32], static_cast<uint64_t>(header.apsTimeOffset));
    store16(&b[40], static_cast<uint16_t>(header.serial.size()));
    store16(&b[42], static_cast<uint16_t>(header.product.size()));
    store32(&b[44], static_cast<uint32_t>(header.metadata.size()));
    size_t o = kFixedHeaderSize;
    std::memcpy(&b[o], header.serial.data(), header.serial.size());
    o += header.serial.size();
    std::memcpy(&b[o], header.product.data(), header.product.size());
    o += header.product.size();
    for (const auto &kv : header.metadata) {
        store16(&b[o], static_cast<uint16_t>(kv.first.size()));
        store32(&b[o + 2], static_cast<uint32_t>(kv.second.size()));
        o += 6;
        std::memcpy(&b[o], kv.first.data(), kv.first.size());
        o += kv.first.size();
        std::memcpy(&b[o], kv.second.data(), kv.second.size());
        o += kv.second.size();
    }
    store32(&b[o], crc32c(b.data(), o));
    return b;
}

uint32_t checkFixedHeader(const uint8_t *bytes, size_t available, uint64_t fileSize, const std::string &path)
{
    if (available < sizeof(kFileMagic) || std::memcmp(bytes, kFileMagic, sizeof(kFileMagic)) != 0)
        throw NotARecordingError(path, 0, "not a .raw event recording (no recording signature)");
    if (available < kFixedHeaderSize)
        throw CorruptDataError(path, available, "file ends inside the recording header");
    const uint16_t readVersion = load16(bytes + 8);
    if (readVersion > kReadVersion)
        throw UnsupportedVersionError(path, 8,
                                      "recording format version " + std::to_string(readVersion) +
                                          " needs a newer program (this one reads version " +
                                          std::to_string(kReadVersion) + ")");
    if (readVersion == 0)
        throw CorruptDataError(path, 8, "read version 0 is not valid");
    const uint32_t size = load32(bytes + 12);
    if (size < kFixedHeaderSize + 4 || size > kMaxHeaderSize)
        throw CorruptDataError(path, 12, "header size " + std::to_string(size) + " out of range");
    if (size > fileSize)
        throw CorruptDataError(path, 12, "header size " + std::to_string(size) + " past the end of the file");
    return size;
}

ParsedHeader parseHeader(const uint8_t *b, size_t size, const std::string &path)
{
    ParsedHeader out;
    if (size < kFixedHeaderSize + 4 || load32(b + 12) != size)
        throw CorruptDataError(path, 12, "header size mismatch");
    if (load32(b + size - 4) != crc32c(b, size - 4))
        throw CorruptDataError(path, size - 4, "recording header checksum mismatch");
    out.readVersion = load16(b + 8);
    out.writeVersion = load16(b + 10);
    out.size = static_cast<uint32_t>(size);
    RawFileHeader &h = out.header;
    h.width = load16(b + 16);
    h.height = load16(b + 18);
    if (h.width == 0 || h.height == 0)
        throw CorruptDataError(path, 16, "sensor width or height is 0");
    if (out.writeVersion <= kWriteVersion) {
        // Fields a newer writer may define are only reserved for the versions we know.
        if (load32(b + 20) != 0)
            throw CorruptDataError(path, 20, "reserved flags are not zero");
        for (size_t i = 48; i < kFixedHeaderSize; ++i)
            if (b[i] != 0)
                throw CorruptDataError(path, i, "reserved header bytes are not zero");
    }
    h.recordingStartUnixUs = load64(b + 24);
    h.apsTimeOffset = static_cast<int64_t>(load64(b + 32));
    const size_t serialLen = load16(b + 40);
    const size_t productLen = load16(b + 42);
    const uint32_t entries = load32(b + 44);
    if (entries > kMaxMetadataEntries)
        throw CorruptDataError(path, 44, "metadata entry count " + std::to_string(entries) + " out of range");
    const size_t limit = size - 4;
    size_t o = kFixedHeaderSize;
    auto take = [&](size_t n, std::string &dst, const char *what) {
        if (n > limit - o)
            throw CorruptDataError(path, o, std::string(what) + " runs past the header");
        dst.assign(reinterpret_cast<const char *>(b + o), n);
        o += n;
    };
    take(serialLen, h.serial, "serial");
    take(productLen, h.product, "product");
    h.metadata.reserve(std::min<uint32_t>(entries, 1024));
    for (uint32_t i = 0; i < entries; ++i) {
        if (limit - o < 6)
            throw CorruptDataError(path, o, "metadata entry runs past the header");
        const size_t keyLen = load16(b + o);
        const size_t valueLen = load32(b + o + 2);
        o += 6;
        std::pair<std::string, std::string> kv;
        take(keyLen, kv.first, "metadata key");
        take(valueLen, kv.second, "metadata value");
        h.metadata.push_back(std::move(kv));
    }
    if (o != limit)
        throw CorruptDataError(path, o, "unexpected bytes at the end of the header");
    return out;
}

} // namespace rawformat
} // namespace vexadin
