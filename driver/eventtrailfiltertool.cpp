#include "driver/eventtrailfiltertool.h"

#include "driver/pixelprefetch.h"

#include <algorithm>

namespace vexadin {

namespace {

constexpr const char *kTrail = "trail";
constexpr const char *kStc = "stc";

// One word per pixel: bits 0-61 the time of its previous event + 1 (0 = none
// yet), bit 62 its polarity, bit 63 set once the current burst's second event
// went through (the "stc" type keeps only that one).
constexpr uint64_t kTimeMask = (uint64_t(1) << 62) - 1;
constexpr uint64_t kPolarityBit = uint64_t(1) << 62;
constexpr uint64_t kSecondBit = uint64_t(1) << 63;

} // namespace

struct EventTrailFilterTool::State {
    uint16_t width = 0, height = 0;
    std::vector<uint64_t> pixels;
    uint64_t seenChanges = ~uint64_t(0);
    bool enabled = false;
    bool stc = false;
    uint64_t thresholdUs = 0;
};

EventTrailFilterTool::EventTrailFilterTool(uint16_t sensorWidth, uint16_t sensorHeight)
    : state_(std::make_unique<State>())
{
    state_->width = sensorWidth;
    state_->height = sensorHeight;
    state_->pixels.assign(size_t(sensorWidth) * sensorHeight, 0);
    addBool("enable", "Removes the repeated events a pixel gives after its first one when on.",
            false);
    addEnum("type",
            "How a burst is thinned: trail keeps its first event, stc keeps its second and so "
            "also drops lone noise events.",
            {kTrail, kStc}, kTrail);
    addInt("threshold",
           "Longest gap between two events of the same polarity at a pixel that still counts as "
           "one burst.",
           1, 100000, 5000, "us");
}

EventTrailFilterTool::~EventTrailFilterTool() = default;

void EventTrailFilterTool::apply(std::vector<Event2D> &events, uint64_t, uint64_t)
{
    State &s = *state_;
    refreshIfChanged(s.seenChanges, [&] {
        s.enabled = boolValue("enable");
        s.stc = enumValue("type") == kStc;
        s.thresholdUs = uint64_t(std::max(intValue("threshold"), 0));
    });
    if (!s.enabled)
        return;

    auto out = events.begin();
    for (size_t i = 0; i < events.size(); ++i) {
        prefetchPixel(s.pixels, events, i, s.width, s.height);
        const Event2D e = events[i];
        if (e.x >= s.width || e.y >= s.height) {
            *out++ = e; // not ours to judge; the sensor never gives such events
            continue;
        }
        uint64_t &pixel = s.pixels[size_t(e.y) * s.width + e.x];
        const uint64_t previous = pixel & kTimeMask;
        const uint64_t polarity = e.polarity ? kPolarityBit : 0;
        // Measured from the previous event, kept or not, so a whole burst counts as one.
        const bool sameBurst = previous != 0 && (pixel & kPolarityBit) == polarity
                               && e.timestamp + 1 >= previous
                               && e.timestamp + 1 - previous <= s.thresholdUs;
        bool keep;
        uint64_t second = 0;
        if (!s.stc) {
            keep = !sameBurst;
        } else {
            keep = sameBurst && !(pixel & kSecondBit);
            second = sameBurst ? kSecondBit : 0;
        }
        pixel = ((e.timestamp + 1) & kTimeMask) | polarity | second;
        if (keep)
            *out++ = e;
    }
    events.erase(out, events.end());
}

} // namespace vexadin
