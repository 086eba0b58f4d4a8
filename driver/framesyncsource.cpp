#include "driver/framesyncsource.h"

#include "driver/apstool.h"
#include "driver/simulatedsource.h"

#include <algorithm>

namespace vexadin {

namespace {

// Exposures end this much before the next one starts at the latest (read-out).
constexpr uint64_t kMinGapUs = 1000;

} // namespace

FrameSyncSource::FrameSyncSource(std::unique_ptr<SimulatedSource> sensor, uint32_t fps, std::shared_ptr<ApsTool> aps)
    : sensor_(std::move(sensor)), fps_(std::max<uint32_t>(fps, 1)), aps_(std::move(aps))
{
}

FrameSyncSource::~FrameSyncSource() = default;

bool FrameSyncSource::connected() const
{
    return sensor_->connected();
}

std::string FrameSyncSource::lostReason() const
{
    return sensor_->lostReason();
}

const SimulatedScene &FrameSyncSource::scene() const
{
    return sensor_->scene();
}

uint64_t FrameSyncSource::indexAt(uint64_t t) const
{
    uint64_t k = t / 1000000u * fps_ + (t % 1000000u) * fps_ / 1000000u;
    while (k > 0 && startOf(k) > t)
        --k;
    while (startOf(k + 1) <= t)
        ++k;
    return k;
}

FrameExposure FrameSyncSource::exposureOf(uint64_t index) const
{
    const uint64_t start = startOf(index);
    const uint64_t period = startOf(index + 1) - start;
    const uint64_t longest = period > kMinGapUs ? period - kMinGapUs : 1;
    const uint64_t exposure = std::clamp<uint64_t>(uint64_t(std::max(aps_->settings().exposureUs, 1)), 1, longest);
    return FrameExposure{index, start, start + exposure};
}

void FrameSyncSource::startAt(uint64_t t)
{
    sensor_->startAt(t);
    // An exposure cut off by stop() is not completed: its picture was never read
    // out, and the consumers start afresh with the stream.
    const uint64_t k = indexAt(t);
    open_ = exposureOf(k);
    next_ = k + 1;
}

void FrameSyncSource::produce(uint64_t t0, uint64_t t1, std::vector<Event2D> &events,
                              std::vector<EventTriggerIn> &triggers)
{
    const size_t firstTrigger = triggers.size();
    sensor_->produce(t0, t1, events, triggers);
    const size_t firstSync = triggers.size();
    for (;;) {
        if (open_) {
            if (open_->end >= t1)
                break; // still exposing
            // An end that fell into a gap of the stream is signalled as soon as the
            // stream goes on.
            open_->end = std::max(open_->end, t0);
            triggers.emplace_back(kSyncChannel, int16_t(0), open_->end);
            completed_.push_back(*open_);
            open_.reset();
            continue;
        }
        if (startOf(next_) < t0) { // frames that fell into a gap are skipped
            next_ = indexAt(t0);
            if (startOf(next_) < t0)
                ++next_;
        }
        const uint64_t start = startOf(next_);
        if (start >= t1)
            break;
        open_ = exposureOf(next_);
        triggers.emplace_back(kSyncChannel, int16_t(1), start);
        ++next_;
    }
    if (firstSync != firstTrigger && firstSync != triggers.size())
        std::inplace_merge(triggers.begin() + std::ptrdiff_t(firstTrigger), triggers.begin() + std::ptrdiff_t(firstSync),
                           triggers.end(), [](const EventTriggerIn &a, const EventTriggerIn &b) {
                               return a.timestamp < b.timestamp;
                           });
}

void FrameSyncSource::takeCompleted(std::vector<FrameExposure> &out)
{
    out.insert(out.end(), completed_.begin(), completed_.end());
    completed_.clear();
}

} // namespace vexadin
