#pragma once

#include "eventimporter.h"
#include "inputfile.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vxraw {

// AEDAT 3.1 files, as C/C++ recording tools of the DAVIS generation write them.
//
// Layout: text header lines starting with '#' (the first is "#!AER-DAT3.1", the
// last "#!END-HEADER"; "#Source N: CHIP" names the camera), then packets until the
// end of the file, each a 28-byte little-endian header
//   int16 eventType, int16 eventSource, int32 eventSize, int32 eventTSOffset,
//   int32 eventTSOverflow, int32 eventCapacity, int32 eventNumber, int32 eventValid
// followed by eventCapacity * eventSize bytes of events.
// Polarity packets (type 1) hold 8-byte events: uint32 data (bit 0 valid, bit 1
// polarity 1 = ON, bits 2-16 y, bits 17-31 x; origin top-left) and int32 timestamp
// (µs, 31 bits, extended by eventTSOverflow << 31). Invalid events, packets of
// other types and polarity packets of a second source are skipped and counted.
// The sensor size comes from the chip name when it is a known one; otherwise the
// converter finds it by a first pass.
class Aedat3Importer : public EventImporter {
public:
    explicit Aedat3Importer(std::string path);

    const char *formatName() const override { return "AEDAT 3.1"; }
    bool open() override;
    uint16_t fileWidth() const override { return fileWidth_; }
    uint16_t fileHeight() const override { return fileHeight_; }
    std::string fileProduct() const override { return chip_; }
    bool sizeFromScan() const override { return fileWidth_ == 0; }
    bool next(std::vector<vexadin::Event2D> &out, size_t maxEvents) override;
    double progress() const override;
    std::string skippedSummary() const override;

    static bool looksLikeAedat3(const char *head, size_t size);

    // Packets larger than this are refused as damaged.
    static constexpr uint64_t kMaxPacketBytes = uint64_t(256) << 20;

private:
    std::string path_;
    InputFile file_;
    std::string chip_;
    uint16_t fileWidth_ = 0;
    uint16_t fileHeight_ = 0;
    uint64_t packetIndex_ = 0;
    int32_t source_ = -1; // the first source with polarity packets
    uint64_t invalid_ = 0;
    std::map<int, uint64_t> skippedPackets_; // by type; -1 = polarity of another source
    std::vector<unsigned char> packet_;
};

} // namespace vxraw
