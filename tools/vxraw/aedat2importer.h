#pragma once

#include "aedatheader.h"
#include "eventimporter.h"
#include "inputfile.h"
#include "sensormodel.h"

#include <string>
#include <vector>

namespace vxraw {

// AEDAT 2.0 files, as older Java-based viewers record them.
//
// Layout: text header lines starting with '#' (the first is "#!AER-DAT2.0"), then
// 8-byte records until the end of the file: big-endian uint32 address, big-endian
// int32 timestamp in µs (wrapping after 2^32 µs; a wrap is a step back of more
// than 2^31 µs, any smaller step back is refused).
//
// The address layout depends on the sensor, taken from --sensor or else from the
// header's "AEChip:" line:
//   DVS128 (128 x 128): bit 0 polarity (0 = ON), bits 1-7 x, bits 8-14 y,
//     bit 15 external event (skipped); higher bits must be 0 (else skipped and
//     counted: the file is probably not from a DVS128).
//   DAVIS (240 x 180, 346 x 260): bit 31 set = frame (APS) or IMU sample (skipped
//     and counted); else bit 10 set = external event (skipped), bit 11 polarity
//     (1 = ON), bits 12-21 x, bits 22-30 y.
// The recording tool counts x from the right and y from the bottom; both are
// turned into our top-left origin (x' = W-1-x, y' = H-1-y). Events outside the
// sensor are skipped and counted.
class Aedat2Importer : public EventImporter {
public:
    explicit Aedat2Importer(std::string path);

    const char *formatName() const override { return "AEDAT 2.0"; }
    bool open() override;
    uint16_t fileWidth() const override { return model_ ? model_->width : 0; }
    uint16_t fileHeight() const override { return model_ ? model_->height : 0; }
    std::string fileProduct() const override { return product_; }
    bool next(std::vector<vexadin::Event2D> &out, size_t maxEvents) override;
    double progress() const override;
    std::string skippedSummary() const override;

    static bool looksLikeAedat2(const char *head, size_t size);

private:
    std::string path_;
    InputFile file_;
    const SensorModel *model_ = nullptr;
    std::string product_;
    uint64_t record_ = 0; // records read, for positions in messages
    uint32_t lastRaw_ = 0;
    uint64_t wraps_ = 0;
    bool haveLast_ = false;
    uint64_t samples_ = 0;  // frame/IMU
    uint64_t special_ = 0;  // external events
    uint64_t foreign_ = 0;  // DVS128 addresses with high bits
    std::vector<unsigned char> buffer_;
};

} // namespace vxraw
