#pragma once

// The .raw recording format, version 1. docs/raw-format.md holds the same tables;
// change both together.
//
// All integers are little-endian. Checksums are CRC-32C (crc32c.h).
//
//   file   := FileHeader Block* [Index Trailer]
//
// FileHeader (H bytes, H = header size field, 68 <= H <= 1 MiB, H <= file size):
//   off  size type  field
//   0    8    u8[8] magic 89 56 58 52 41 57 0D 0A ("\x89VXRAW\r\n")
//   8    2    u16   read version: the oldest reader version that can decode this file (1)
//   10   2    u16   write version: the version that wrote it (1); a reader that does not know
//                   it may still read the file but must not modify it
//   12   4    u32   header size H, including the variable part and the trailing CRC
//   16   2    u16   sensor width  (>= 1)
//   18   2    u16   sensor height (>= 1)
//   20   4    u32   flags, 0 (reserved)
//   24   8    u64   recording start, wall clock, µs since the Unix epoch
//   32   8    i64   APS time offset, µs (event time = APS time + offset; 0 without APS)
//   40   2    u16   S: serial length in bytes
//   42   2    u16   P: product length in bytes
//   44   4    u32   M: metadata entry count (<= 65535)
//   48   16   -     reserved, 0
//   64   S    bytes serial (UTF-8, no terminator)
//   64+S P    bytes product
//   ...       M entries: u16 key length K, u32 value length V (<= 1 MiB), K key bytes, V value bytes
//   H-4  4    u32   CRC-32C of bytes [0, H-4)
//   The variable part must end exactly at H-4.
//
// Block (40-byte header + payload), written with one write() each:
//   off  size type  field
//   0    4    u8[4] magic "VXBK" (56 58 42 4B)
//   4    4    u32   payload size in bytes (<= 64 MiB)
//   8    4    u32   event count E (<= 4 Mi)
//   12   4    u32   trigger count T (<= 1 Mi)
//   16   8    u64   first timestamp F, µs: smallest event or trigger timestamp in the block
//   24   8    u64   last timestamp L, µs: largest (F <= L)
//   32   4    u32   CRC-32C of the payload
//   36   4    u32   CRC-32C of header bytes [0, 36)
//   40   ...        payload:
//     T trigger records of 12 bytes, in time order:
//        u64 timestamp - F, i16 edge, i16 id
//     E events, in time order, each a W-byte little-endian word, optionally followed by
//     an escape varint:
//        bits [0, xb)          x            xb = bits needed for width - 1 (at least 1)
//        bits [xb, xb+yb)      y            yb = bits needed for height - 1 (at least 1)
//        bit  xb+yb            polarity (1 = ON)
//        bits [B, 8W)          time delta   B = xb + yb + 1, W = ceil((B + 6) / 8), D = 8W - B
//        delta = timestamp - previous event timestamp (F for the first event). When
//        delta >= 2^D - 1 the field holds 2^D - 1 and the full delta follows the word as
//        an unsigned LEB128 varint (at most 10 bytes).
//     For a 1280 x 720 sensor: xb = 11, yb = 10, W = 4, D = 10 (deltas up to 1022 µs inline).
//     The payload ends exactly after the last event; x < width and y < height.
//   Blocks follow each other in time: F of a block >= L of the previous block.
//
// Index (after the last block; optional: a writer killed before close leaves none):
//   off  size type  field
//   0    4    u8[4] magic "VXIX" (56 58 49 58)
//   4    4    u32   reserved, 0
//   8    40*N       N entries: u64 F, u64 L, u64 block offset, u32 payload size,
//                   u32 event count, u32 trigger count, u32 reserved (0)
//
// Trailer (the last 48 bytes of the file):
//   0    4    u8[4] magic "VXFT" (56 58 46 54)
//   4    4    u32   reserved, 0
//   8    8    u64   index offset I
//   16   8    u64   block count N (<= 2^25)
//   24   8    u64   total events
//   32   8    u64   total triggers
//   40   4    u32   CRC-32C of the index [I, I + 8 + 40N)
//   44   4    u32   CRC-32C of trailer bytes [0, 44)
//   I + 8 + 40N + 48 equals the file size.
//
// Versions: a reader refuses a file whose read version is above its own; a file whose
// write version it does not know is still read (read-only) and its reserved fields
// are not checked. Reserved fields are checked for the write versions we know.

#include "camera/event2d.h"
#include "camera/eventtriggerin.h"
#include "driver/rawfilewriter.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vexadin {
namespace rawformat {

constexpr uint8_t kFileMagic[8] = {0x89, 'V', 'X', 'R', 'A', 'W', '\r', '\n'};
constexpr uint16_t kReadVersion = 1;
constexpr uint16_t kWriteVersion = 1;
constexpr uint32_t kFixedHeaderSize = 64;
constexpr uint32_t kMaxHeaderSize = 1u << 20;
constexpr uint32_t kMaxMetadataEntries = 65535;
constexpr uint32_t kMaxMetadataValue = 1u << 20;

constexpr uint32_t kBlockHeaderSize = 40;
constexpr uint32_t kMaxPayloadSize = 64u << 20;
constexpr uint32_t kMaxBlockEvents = 4u << 20;
constexpr uint32_t kMaxBlockTriggers = 1u << 20;
constexpr uint32_t kTriggerRecordSize = 12;
constexpr uint32_t kMaxVarintBytes = 10;
constexpr size_t kDecodeSlack = 8; // zero bytes kept after a payload in memory (8-byte loads)

constexpr uint32_t kIndexHeaderSize = 8;
constexpr uint32_t kIndexEntrySize = 40;
constexpr uint32_t kTrailerSize = 48;

constexpr uint8_t kBlockMagic[4] = {'V', 'X', 'B', 'K'};
constexpr uint8_t kIndexMagic[4] = {'V', 'X', 'I', 'X'};
constexpr uint8_t kTrailerMagic[4] = {'V', 'X', 'F', 'T'};

inline uint16_t load16(const uint8_t *p) { uint16_t v; std::memcpy(&v, p, 2); return v; }
inline uint32_t load32(const uint8_t *p) { uint32_t v; std::memcpy(&v, p, 4); return v; }
inline uint64_t load64(const uint8_t *p) { uint64_t v; std::memcpy(&v, p, 8); return v; }
inline void store16(uint8_t *p, uint16_t v) { std::memcpy(p, &v, 2); }
inline void store32(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void store64(uint8_t *p, uint64_t v) { std::memcpy(p, &v, 8); }

// How events are packed for a given sensor size (see the layout above).
struct EventPacking {
    uint32_t xBits = 0, yBits = 0;
    uint32_t wordBytes = 0;  // W
    uint32_t deltaShift = 0; // B
    uint32_t deltaBits = 0;  // D
    uint64_t xMask = 0, yMask = 0, deltaMask = 0;
    uint16_t width = 0, height = 0;

    static EventPacking forSensor(uint16_t width, uint16_t height);
};

struct BlockHeader {
    uint32_t payloadSize = 0;
    uint32_t eventCount = 0;
    uint32_t triggerCount = 0;
    uint64_t firstTimestamp = 0;
    uint64_t lastTimestamp = 0;
    uint32_t payloadCrc = 0;
};

// Writes the 40-byte block header (with its own CRC).
void writeBlockHeader(uint8_t *out, const BlockHeader &header);
// Checks magic, header CRC and the sanity limits (counts against payload size,
// F <= L). On failure returns false and says why.
bool parseBlockHeader(const uint8_t *in, const EventPacking &packing, BlockHeader &header, std::string *why);

// Upper bound of the encoded payload of n events and m triggers (kDecodeSlack not included).
size_t maxPayloadSize(const EventPacking &packing, size_t n, size_t m);
// Encodes sorted triggers and sorted events (timestamps >= firstTimestamp, x < width,
// y < height). out must hold maxPayloadSize() + kDecodeSlack bytes. Returns the payload size.
size_t encodePayload(const EventPacking &packing, uint64_t firstTimestamp, const Event2D *events, size_t n,
                     const EventTriggerIn *triggers, size_t m, uint8_t *out);

// Decodes a payload whose CRC has been checked. payload must be followed by
// kDecodeSlack readable bytes. events must have room for header.eventCount entries
// (null: decode only the triggers); triggers (null to skip them) for header.triggerCount. Returns false when the
// payload contradicts the header (lengths, time order, coordinates outside the sensor).
bool decodePayload(const EventPacking &packing, const BlockHeader &header, const uint8_t *payload,
                   Event2D *events, EventTriggerIn *triggers, std::string *why);

// Appends the block's events to out (triggers are skipped); out is left as it was
// when the payload is rejected.
bool decodeEventsAppend(const EventPacking &packing, const BlockHeader &header, const uint8_t *payload,
                        std::vector<Event2D> &out, std::string *why);

// File header: serialise (throws RawFormatError subclasses on values that do not fit)
// and parse (throws NotARecordingError, UnsupportedVersionError, CorruptDataError).
std::vector<uint8_t> serializeHeader(const RawFileHeader &header, const std::string &path);
struct ParsedHeader {
    RawFileHeader header;
    uint16_t readVersion = 0;
    uint16_t writeVersion = 0;
    uint32_t size = 0;
};
// Checks magic, versions and header size from the first min(file size, 64) bytes;
// returns the header size H (<= fileSize).
uint32_t checkFixedHeader(const uint8_t *bytes, size_t available, uint64_t fileSize, const std::string &path);
// bytes: the H bytes of the header.
ParsedHeader parseHeader(const uint8_t *bytes, size_t size, const std::string &path);

} // namespace rawformat
} // namespace vexadin
