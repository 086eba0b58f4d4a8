#include "aedat2importer.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vxraw {
namespace {

constexpr char kVersionLine[] = "#!AER-DAT2.0";
constexpr size_t kRecordSize = 8;
constexpr size_t kRecordsPerRead = 1 << 16;

uint32_t be32(const unsigned char *p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16)
           | (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

std::string plural(uint64_t n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

Aedat2Importer::Aedat2Importer(std::string path) : path_(std::move(path)) {}

bool Aedat2Importer::looksLikeAedat2(const char *head, size_t size)
{
    return size >= sizeof kVersionLine - 1 && std::memcmp(head, kVersionLine, sizeof kVersionLine - 1) == 0;
}

double Aedat2Importer::progress() const
{
    return file_.fractionRead();
}

std::string Aedat2Importer::skippedSummary() const
{
    std::string s;
    auto add = [&](uint64_t n, const char *one, const char *many) {
        if (n)
            s += (s.empty() ? "" : ", ") + plural(n, one, many);
    };
    add(samples_, "frame/IMU sample", "frame/IMU samples");
    add(special_, "external event", "external events");
    add(foreign_, "address that is not a DVS128 event", "addresses that are not DVS128 events");
    return s.empty() ? s : s + " skipped";
}

bool Aedat2Importer::open()
{
    AedatHeader header;
    std::string why;
    const AedatHeader::Opened opened = header.open(file_, path_, kVersionLine, AedatHeader::End::FirstDataByte, why);
    recognised_ = opened == AedatHeader::Opened::Ok || opened == AedatHeader::Opened::Damaged;
    if (opened != AedatHeader::Opened::Ok)
        return opened == AedatHeader::Opened::ReadError ? failRead(why) : fail(why);
    const std::string chip = header.value("AEChip:");
    const size_t dot = chip.find_last_of('.');
    product_ = dot == std::string::npos ? chip : chip.substr(dot + 1);
    if (!sensorName_.empty()) {
        model_ = SensorModel::byName(sensorName_);
        if (!model_)
            return fail("unknown sensor '" + sensorName_ + "' (known: " + SensorModel::knownNames() + ")");
    } else {
        model_ = SensorModel::byChipName(chip);
        if (!model_)
            return fail("header: " + (chip.empty() ? std::string("no 'AEChip:' line names the sensor")
                                                    : "chip '" + chip + "' is not a sensor whose addresses we know")
                        + " (give --sensor: " + SensorModel::knownNames() + ")");
    }
    width_ = model_->width;
    height_ = model_->height;
    buffer_.resize(kRecordsPerRead * kRecordSize);
    return true;
}

bool Aedat2Importer::next(std::vector<vexadin::Event2D> &out, size_t maxEvents)
{
    out.clear();
    if (!error_.empty() || !model_)
        return false;
    const size_t records = std::clamp<size_t>(maxEvents, 1, kRecordsPerRead);
    const bool dvs128 = model_->layout == SensorModel::Layout::Dvs128;
    const int sx1 = model_->width - 1;
    const int sy1 = model_->height - 1;
    while (out.empty()) {
        const uint64_t at = file_.position();
        size_t got = 0;
        // A read may return less than asked; only whole records are decoded.
        size_t have = 0;
        const size_t want = records * kRecordSize;
        for (;;) {
            const InputFile::Read r = file_.read(buffer_.data() + have, want - have, got);
            if (r == InputFile::Read::Error)
                return failRead("record " + std::to_string(record_ + have / kRecordSize + 1) + " at byte "
                            + std::to_string(at + have) + ": " + file_.error());
            have += got;
            if (r == InputFile::Read::End || have == want)
                break;
        }
        if (have == 0)
            return false;
        // Whole records first: the events before a cut-off end are good ones.
        const size_t whole = have - have % kRecordSize;
        out.reserve(whole / kRecordSize);
        for (size_t i = 0; i < whole; i += kRecordSize) {
            ++record_;
            const uint32_t a = be32(&buffer_[i]);
            const uint32_t raw = be32(&buffer_[i + 4]);
            // 32-bit µs clock: a large step back is the counter wrapping, not time going back.
            if (haveLast_ && raw < lastRaw_) {
                if (lastRaw_ - raw > 0x80000000u)
                    ++wraps_;
                else
                    return fail(backInTimeError("record " + std::to_string(record_) + " at byte "
                                                    + std::to_string(at + i),
                                                (wraps_ << 32) | raw));
            }
            haveLast_ = true;
            lastRaw_ = raw;
            lastTimestamp_ = (wraps_ << 32) | raw;

            int x = 0;
            int y = 0;
            uint8_t polarity = 0;
            if (dvs128) {
                if (a & 0xFFFF0000u) {
                    ++foreign_;
                    continue;
                }
                if (a & 0x8000u) {
                    ++special_;
                    continue;
                }
                polarity = (a & 1u) ? 0 : 1;
                x = sx1 - static_cast<int>((a >> 1) & 0x7Fu);
                y = sy1 - static_cast<int>((a >> 8) & 0x7Fu);
            } else {
                if (a & 0x80000000u) {
                    ++samples_;
                    continue;
                }
                if (a & 0x400u) {
                    ++special_;
                    continue;
                }
                polarity = static_cast<uint8_t>((a >> 11) & 1u);
                x = sx1 - static_cast<int>((a >> 12) & 0x3FFu);
                y = sy1 - static_cast<int>((a >> 22) & 0x1FFu);
            }
            if (x < 0 || y < 0 || x >= width_ || y >= height_) {
                ++outsideSensor_;
                continue;
            }
            out.emplace_back(static_cast<uint16_t>(x), static_cast<uint16_t>(y), polarity, lastTimestamp_);
        }
        if (whole != have)
            return fail("the file ends inside record " + std::to_string(record_ + 1) + " (byte "
                        + std::to_string(at + whole) + ")");
    }
    return true;
}

} // namespace vxraw
