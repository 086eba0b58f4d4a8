#pragma once

#include "camera/event2d.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace vexadin {

// How the simulated pixel array responds; set through the Biases tool.
struct PixelModelSettings {
    double onThreshold = 0.2;   // log-intensity rise that fires an ON event
    double offThreshold = 0.2;  // log-intensity fall that fires an OFF event
    uint32_t refractoryUs = 500;
    double cutoffHz = 300.0;    // photoreceptor low-pass cut-off (bandwidth)
    double noiseRateHz = 0.1;   // background events per pixel per second
};

// An analytic scene in front of a simulated event sensor: objects moving at
// different speeds, a light flickering at 100 Hz in one corner, background noise
// and a few hot pixels. Events come from a per-pixel log-intensity model with
// per-pixel threshold mismatch, refractory period and low-pass bandwidth, worked
// out only where the intensity changes. Deterministic for a seed.
//
// Not thread-safe: one producer thread calls generate(); renderBgr() may run on
// another thread at the same time (it only reads the analytic scene).
class SimulatedScene {
public:
    SimulatedScene(uint16_t width, uint16_t height, uint64_t seed);
    ~SimulatedScene();

    SimulatedScene(const SimulatedScene &) = delete;
    SimulatedScene &operator=(const SimulatedScene &) = delete;

    uint16_t width() const;
    uint16_t height() const;

    // Where the flickering light is: centre and radius in sensor pixels. Its
    // pixels (those within the radius) see only the light.
    void flickerLight(double &x, double &y, double &radius) const;

    // Appends the events of camera time [t0, t1) to out, in time order, with
    // t0 <= timestamp < t1. Successive calls continue the pixel state: t0 is the
    // previous call's t1 (a jump forward is treated as a quiet gap).
    void generate(uint64_t t0, uint64_t t1, const PixelModelSettings &settings,
                  std::vector<Event2D> &out);

    // Draws the scene as a colour picture (B, G, R bytes, rows top to bottom
    // without gaps) of frameWidth x frameHeight at time t. frameToSensor is the
    // affine (a00, a01, a02, a10, a11, a12) taking a frame pixel to sensor
    // coordinates, so that an edge seen by the event sensor lies on the frame's
    // edge after that mapping. gain scales the brightness (1 = nominal).
    void renderBgr(uint64_t t, uint16_t frameWidth, uint16_t frameHeight,
                   const double frameToSensor[6], double gain, uint8_t *bgr) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace vexadin
