#include "aedat3importer.h"

#include "aedatheader.h"
#include "sensormodel.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vxraw {
namespace {

constexpr char kVersionLine[] = "#!AER-DAT3.1";
constexpr size_t kPacketHeaderSize = 28;
constexpr int kPolarityType = 1;

int32_t le32(const unsigned char *p)
{
    const uint32_t u = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8)
                       | (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    int32_t v = 0;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

int16_t le16(const unsigned char *p)
{
    const uint16_t u = static_cast<uint16_t>(p[0] | (p[1] << 8));
    int16_t v = 0;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

std::string typeName(int type)
{
    switch (type) {
    case -1:
        return "polarity packet(s) of another source";
    case 0:
        return "special-event packet(s)";
    case 2:
        return "frame packet(s)";
    case 3:
    case 4:
        return "IMU packet(s)";
    default:
        return "packet(s) of type " + std::to_string(type);
    }
}

} // namespace

Aedat3Importer::Aedat3Importer(std::string path) : path_(std::move(path)) {}

bool Aedat3Importer::looksLikeAedat3(const char *head, size_t size)
{
    return size >= sizeof kVersionLine - 1 && std::memcmp(head, kVersionLine, sizeof kVersionLine - 1) == 0;
}

double Aedat3Importer::progress() const
{
    return file_.fractionRead();
}

std::string Aedat3Importer::skippedSummary() const
{
    std::string s;
    if (invalid_)
        s = std::to_string(invalid_) + " invalid event(s)";
    // IMU6 and IMU9 share one name: merge them.
    std::map<std::string, uint64_t> byName;
    for (const auto &t : skippedPackets_)
        byName[typeName(t.first)] += t.second;
    for (const auto &n : byName)
        s += (s.empty() ? "" : ", ") + std::to_string(n.second) + " " + n.first;
    return s.empty() ? s : s + " skipped";
}

bool Aedat3Importer::open()
{
    AedatHeader header;
    std::string why;
    const AedatHeader::Opened opened = header.open(file_, path_, kVersionLine, AedatHeader::End::EndMarker, why);
    recognised_ = opened == AedatHeader::Opened::Ok || opened == AedatHeader::Opened::Damaged;
    if (opened != AedatHeader::Opened::Ok)
        return opened == AedatHeader::Opened::ReadError ? failRead(why) : fail(why);
    // "#Source 1: DAVIS240C": the first source names the camera.
    for (const std::string &l : header.lines()) {
        if (l.compare(0, 7, "Source ") == 0) {
            const size_t colon = l.find(':');
            if (colon != std::string::npos) {
                chip_ = l.substr(colon + 1);
                chip_.erase(0, chip_.find_first_not_of(" \t"));
                break;
            }
        }
    }
    const SensorModel *model = sensorName_.empty() ? SensorModel::byChipName(chip_) : SensorModel::byName(sensorName_);
    if (!sensorName_.empty() && !model)
        return fail("unknown sensor '" + sensorName_ + "' (known: " + SensorModel::knownNames() + ")");
    if (model) {
        fileWidth_ = model->width;
        fileHeight_ = model->height;
        width_ = fileWidth_;
        height_ = fileHeight_;
    }
    return true;
}

bool Aedat3Importer::next(std::vector<vexadin::Event2D> &out, size_t)
{
    out.clear();
    if (!error_.empty() || !file_.isOpen())
        return false;
    while (out.empty()) {
        const uint64_t at = file_.position();
        if (at >= file_.size())
            return false;
        ++packetIndex_;
        const std::string where = "packet " + std::to_string(packetIndex_) + " at byte " + std::to_string(at);
        unsigned char h[kPacketHeaderSize];
        if (file_.size() - at < kPacketHeaderSize)
            return fail(where + ": the file ends inside the packet header");
        if (file_.readAt(at, h, kPacketHeaderSize) != InputFile::Read::Ok)
            return fail(where + ": " + file_.error());
        const int type = le16(h);
        const int source = le16(h + 2);
        const int32_t eventSize = le32(h + 4);
        const int32_t tsOffset = le32(h + 8);
        const int32_t tsOverflow = le32(h + 12);
        const int32_t capacity = le32(h + 16);
        const int32_t number = le32(h + 20);
        const int32_t valid = le32(h + 24);
        if (eventSize <= 0 || capacity < 0 || number < 0 || valid < 0 || number > capacity || valid > number)
            return fail(where + ": damaged packet header (size " + std::to_string(eventSize) + ", capacity "
                        + std::to_string(capacity) + ", number " + std::to_string(number) + ", valid "
                        + std::to_string(valid) + ")");
        const uint64_t bodySize = static_cast<uint64_t>(eventSize) * static_cast<uint64_t>(capacity);
        const uint64_t body = at + kPacketHeaderSize;
        if (bodySize > file_.size() - body)
            return fail(where + ": " + std::to_string(capacity) + " events of " + std::to_string(eventSize)
                        + " bytes run past the end of the file");
        file_.seek(body + bodySize);
        if (type == kPolarityType && source_ < 0)
            source_ = source;
        if (type != kPolarityType || source != source_) {
            ++skippedPackets_[type == kPolarityType ? -1 : type];
            continue;
        }
        if (eventSize < 8 || tsOffset < 0 || tsOffset > eventSize - 4 || tsOverflow < 0)
            return fail(where + ": damaged polarity packet (event size " + std::to_string(eventSize)
                        + ", timestamp offset " + std::to_string(tsOffset) + ", overflow "
                        + std::to_string(tsOverflow) + ")");
        if (bodySize > kMaxPacketBytes)
            return fail(where + ": " + std::to_string(bodySize) + " bytes is too large for a packet");
        const size_t used = static_cast<size_t>(eventSize) * static_cast<size_t>(number);
        packet_.resize(used);
        if (used && file_.readAt(body, packet_.data(), used) != InputFile::Read::Ok)
            return fail(where + ": " + file_.error());
        const uint64_t high = static_cast<uint64_t>(tsOverflow) << 31;
        out.reserve(static_cast<size_t>(number));
        for (int32_t k = 0; k < number; ++k) {
            const unsigned char *e = packet_.data() + static_cast<size_t>(k) * static_cast<size_t>(eventSize);
            const uint32_t data = static_cast<uint32_t>(le32(e));
            const int32_t ts = le32(e + tsOffset);
            if (!(data & 1u)) {
                ++invalid_;
                continue;
            }
            if (ts < 0)
                return fail(where + ", event " + std::to_string(k) + ": negative timestamp " + std::to_string(ts));
            const uint64_t t = high | static_cast<uint64_t>(ts);
            if (t < lastTimestamp_)
                return fail(backInTimeError(where + ", event " + std::to_string(k), t));
            lastTimestamp_ = t;
            const uint32_t x = (data >> 17) & 0x7FFFu;
            const uint32_t y = (data >> 2) & 0x7FFFu;
            if (x >= width_ || y >= height_) {
                ++outsideSensor_;
                continue;
            }
            out.emplace_back(static_cast<uint16_t>(x), static_cast<uint16_t>(y), static_cast<uint8_t>((data >> 1) & 1u),
                             t);
        }
    }
    return true;
}

} // namespace vxraw
