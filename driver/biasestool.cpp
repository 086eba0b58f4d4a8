#include "driver/biasestool.h"

#include <cmath>

namespace vexadin {

namespace {

// Every bias is a step offset from the nominal pixel, 0 being nominal: the
// parameter panel shows 0 until it first reads the camera, and then writes the
// value it read back, so 0 must be a real, sensible setting. The steps are
// logarithmic (a bias current scales the pixel by factors, not by sums), and each
// end of the range still gives a usable stream.
constexpr int kMinStep = -100;
constexpr int kMaxStep = 100;

// nominal * factor^(step / 100): the range ends scale the nominal by factor.
double scaled(double nominal, double factor, int step)
{
    return nominal * std::pow(factor, step / 100.0);
}

} // namespace

BiasesTool::BiasesTool()
{
    addInt("on_threshold",
           "Contrast an ON event needs, from 0.05 to 0.8 log units with 0 at the nominal 0.2; "
           "higher gives fewer ON events.",
           kMinStep, kMaxStep, 0, "step");
    addInt("off_threshold",
           "Contrast an OFF event needs, from 0.05 to 0.8 log units with 0 at the nominal 0.2; "
           "higher gives fewer OFF events.",
           kMinStep, kMaxStep, 0, "step");
    addInt("refractory_period",
           "Time a pixel stays blind after an event, from 50 us to 5 ms with 0 at the nominal "
           "0.5 ms; higher caps each pixel's rate lower.",
           kMinStep, kMaxStep, 0, "step");
    addInt("bandwidth",
           "Cut-off of the photoreceptor low-pass, from 30 Hz to 3 kHz with 0 at the nominal "
           "300 Hz; lower smooths fast flicker and noise away.",
           kMinStep, kMaxStep, 0, "step");
    addInt("noise_level",
           "Background activity per pixel, from 0.001 to 10 events per second with 0 at the "
           "nominal 0.1; higher gives more noise events.",
           kMinStep, kMaxStep, 0, "step");
}

PixelModelSettings BiasesTool::settings() const
{
    int on = 0, off = 0, refractory = 0, bandwidth = 0, noise = 0;
    underLock([&] {
        on = intValue("on_threshold");
        off = intValue("off_threshold");
        refractory = intValue("refractory_period");
        bandwidth = intValue("bandwidth");
        noise = intValue("noise_level");
    });
    const PixelModelSettings nominal;
    PixelModelSettings s;
    s.onThreshold = scaled(nominal.onThreshold, 4.0, on);
    s.offThreshold = scaled(nominal.offThreshold, 4.0, off);
    s.refractoryUs = static_cast<uint32_t>(std::lround(scaled(nominal.refractoryUs, 10.0, refractory)));
    s.cutoffHz = scaled(nominal.cutoffHz, 10.0, bandwidth);
    s.noiseRateHz = scaled(nominal.noiseRateHz, 100.0, noise);
    return s;
}

} // namespace vexadin
