#pragma once

#include "eventimporter.h"
#include "inputfile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vxraw {

// AEDAT 4.0 files, as written by research event cameras' recording software.
//
// Layout read here (little-endian):
//   "#!AER-DAT4.0\r\n"                   14-byte version line
//   int32 headerSize, then headerSize bytes: a size-less FlatBuffer "IOHE"
//     table IOHeader { 0: compression int32 (0 = none), 1: dataTablePosition
//     int64 (byte offset of the packet table, -1/absent when not written),
//     2: infoNode string (XML stream description) }
//   packets until dataTablePosition (or the end of the file when the header has
//   no table, as after an interrupted recording):
//     int32 streamId, int32 size, `size` bytes: an LZ4 or Zstandard frame (or
//     raw bytes without compression) that holds a size-prefixed FlatBuffer
//   polarity packets ("EVTS"): table EventPacket { 0: elements, a vector of
//     16-byte structs: int64 t (µs), int16 x, int16 y, uint8 on, 3 padding }
//   the data table at dataTablePosition: one frame (compressed as the packets)
//     holding a size-prefixed FlatBuffer "FTAB". Only its identifier is checked: a
//     position that does not lead to it is damage, not an early end of the events.
// Only the first polarity stream of the XML is imported; other streams (IMU,
// triggers, frames) are skipped. Packets are decoded one at a time.
class Aedat4Importer : public EventImporter {
public:
    explicit Aedat4Importer(std::string path);
    ~Aedat4Importer() override;
    Aedat4Importer(const Aedat4Importer &) = delete;
    Aedat4Importer &operator=(const Aedat4Importer &) = delete;

    const char *formatName() const override { return "AEDAT 4.0"; }
    bool open() override;
    uint16_t fileWidth() const override { return fileWidth_; }
    uint16_t fileHeight() const override { return fileHeight_; }
    std::string fileSerial() const override { return source_; }
    std::string fileProduct() const override;
    // One polarity packet per call (maxEvents is not used: packets are the unit).
    bool next(std::vector<vexadin::Event2D> &out, size_t maxEvents) override;
    double progress() const override;

    // True when `head` (the first bytes of a file) starts with the AEDAT version line.
    static bool looksLikeAedat(const char *head, size_t size);

    // Decompressed packets larger than this are refused as damaged.
    static constexpr size_t kMaxPacketBytes = size_t(512) << 20;

private:
    bool parseStreamXml(const std::string &xml);
    // The whole frame, or with `prefix` only its first `prefix` bytes (the input may
    // then stop short of the frame's end).
    // The output is the first outSize bytes of `out`, which only ever grows.
    bool decompress(const std::vector<uint8_t> &in, std::vector<uint8_t> &out, size_t &outSize,
                    const std::string &where, size_t prefix = SIZE_MAX);
    // Reads n bytes at offset, failing with `where` and the reason when it cannot.
    bool readAt(uint64_t offset, void *dst, size_t n, const std::string &where);
    // True when the bytes at packetsEnd_ start the data table.
    bool dataTableFollows();
    bool decodeEventPacket(const uint8_t *bytes, size_t size, std::vector<vexadin::Event2D> &out,
                           const std::string &where);

    std::string path_;
    InputFile file_;
    uint64_t fileSize_ = 0;
    bool hasDataTable_ = false;
    bool tableChecked_ = false;
    uint64_t position_ = 0;
    uint64_t packetsEnd_ = 0;
    uint64_t packetIndex_ = 0;
    int32_t compression_ = 0;
    int64_t eventStream_ = -1;
    uint16_t fileWidth_ = 0;
    uint16_t fileHeight_ = 0;
    std::string source_;
    std::vector<uint8_t> compressed_;
    std::vector<uint8_t> packet_;
    struct Codecs;
    std::unique_ptr<Codecs> codecs_;
};

} // namespace vxraw
