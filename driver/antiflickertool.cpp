#include "driver/antiflickertool.h"

#include "driver/pixelprefetch.h"

#include <algorithm>
#include <cmath>

namespace vexadin {

namespace {

constexpr const char *kBandStop = "band_stop";
constexpr const char *kBandPass = "band_pass";

// A pixel counts as flickering once this many burst intervals in a row agreed
// with its period; edges passing by give no such regular series.
constexpr uint8_t kConfirmations = 2;
constexpr uint8_t kMaxConfirmations = 4;
// Two burst intervals agree within this share of the period.
constexpr double kPeriodTolerance = 0.15;

// Times are the low 32 bits of the µs clock; differences of them are right for
// gaps up to 71 minutes, far beyond any flicker period.
struct PixelHistory {
    uint32_t lastTime = 0;
    uint32_t burstStart[2] = {0, 0}; // start of the latest burst, per polarity
    uint32_t periodUs = 0;           // estimated time between same-polarity bursts
    uint8_t lastPolarity = 0;
    uint8_t confirmations = 0;
    uint8_t seen = 0; // bit 0: any event; bits 1, 2: a burst of OFF, ON
};

} // namespace

struct AntiFlickerTool::State {
    uint16_t width = 0, height = 0;
    std::vector<PixelHistory> pixels;
    uint64_t seenChanges = ~uint64_t(0);
    bool enabled = false;
    bool bandPass = false;
    uint32_t minPeriodUs = 0, maxPeriodUs = 0; // the band, as periods
    double duty = 0.5;
    uint32_t burstGapUs = 1000;

    // Updates the pixel's history with e; true when e belongs to a flicker burst
    // whose frequency lies in the band.
    bool inBand(PixelHistory &h, const Event2D &e) const;
};

bool AntiFlickerTool::State::inBand(PixelHistory &h, const Event2D &e) const
{
    const uint32_t t = uint32_t(e.timestamp);
    const int p = e.polarity ? 1 : 0;
    const uint8_t polarityBit = uint8_t(2 << p);
    const bool newBurst = !(h.seen & 1) || h.lastPolarity != p || t - h.lastTime > burstGapUs;
    if (newBurst) {
        if (h.seen & polarityBit) {
            const uint32_t interval = t - h.burstStart[p];
            const double period = h.periodUs;
            const double ratio = period > 0 ? interval / period : 0;
            const double nearest = std::round(ratio);
            if (period > 0 && std::fabs(ratio - 1) <= kPeriodTolerance) {
                h.confirmations = std::min<uint8_t>(h.confirmations + 1, kMaxConfirmations);
            } else if (nearest >= 2 && nearest <= 3
                       && std::fabs(ratio - nearest) <= kPeriodTolerance * nearest) {
                // A burst or two too weak to fire: the rhythm goes on.
            } else if (h.confirmations > 0) {
                --h.confirmations;
            } else {
                h.periodUs = interval;
            }
        }
        h.burstStart[p] = t;
        h.seen |= polarityBit;
    }
    h.lastTime = t;
    h.lastPolarity = uint8_t(p);
    h.seen |= 1;

    if (h.confirmations < kConfirmations || h.periodUs < minPeriodUs || h.periodUs > maxPeriodUs)
        return false;
    // Only the part of the period that the duty cycle covers, from the burst on.
    return t - h.burstStart[p] < duty * h.periodUs;
}

AntiFlickerTool::AntiFlickerTool(uint16_t sensorWidth, uint16_t sensorHeight)
    : state_(std::make_unique<State>())
{
    state_->width = sensorWidth;
    state_->height = sensorHeight;
    state_->pixels.resize(size_t(sensorWidth) * sensorHeight);
    addBool("enable", "Filters the events of flickering lights when on.", false);
    addEnum("mode",
            "band_stop removes the pixels that flicker inside the band, band_pass keeps only them.",
            {kBandStop, kBandPass}, kBandStop);
    addInt("low_frequency", "Lowest flicker frequency of the band.", 1, 5000, 50, "Hz");
    addInt("high_frequency", "Highest flicker frequency of the band; below the low one the band is empty.",
           1, 5000, 150, "Hz");
    addFloat("duty_cycle",
             "Share of each flicker period, from the start of a burst, whose events count as "
             "flicker.",
             1.0f, 100.0f, 50.0f, "%");
}

AntiFlickerTool::~AntiFlickerTool() = default;

void AntiFlickerTool::apply(std::vector<Event2D> &events, uint64_t, uint64_t)
{
    State &s = *state_;
    refreshIfChanged(s.seenChanges, [&] {
        s.enabled = boolValue("enable");
        s.bandPass = enumValue("mode") == kBandPass;
        const int low = std::max(intValue("low_frequency"), 1);
        const int high = std::max(intValue("high_frequency"), 1);
        // An empty band (low above high) matches no pixel.
        s.minPeriodUs = uint32_t(1000000 / high);
        s.maxPeriodUs = low <= high ? uint32_t(1000000 / low) : 0;
        s.duty = std::clamp(double(floatValue("duty_cycle")), 0.0, 100.0) / 100.0;
        // Same-polarity events closer than half the shortest period belong to one
        // burst: the slow tail of a burst must not start a new one.
        s.burstGapUs = std::max<uint32_t>(uint32_t(500000 / high), 100);
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
        const bool flicker = s.inBand(s.pixels[size_t(e.y) * s.width + e.x], e);
        if (flicker == s.bandPass)
            *out++ = e;
    }
    events.erase(out, events.end());
}

} // namespace vexadin
