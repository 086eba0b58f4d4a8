// The simulated event sensor: a stream that behaves like a real pixel array in
// front of the scene, and a colour picture of the same scene. (Pictures drawn
// while the stream is generated: camera_tools, which runs under ThreadSanitizer.)
#include "driver/simulatedscene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <cmath>
#include <tuple>

using namespace vexadin;

namespace {

std::vector<Event2D> generateSlices(SimulatedScene &scene, uint64_t t0, uint64_t t1, uint64_t slice,
                                    const PixelModelSettings &settings = {})
{
    std::vector<Event2D> all;
    for (uint64_t t = t0; t < t1; t += slice)
        scene.generate(t, std::min(t + slice, t1), settings, all);
    return all;
}

} // namespace

TEST(SimulatedScene, EventsAreInTimeOrderInsideTheSensorAndTheRange)
{
    for (auto [w, h] : {std::pair<int, int>{1280, 720}, {640, 480}}) {
        SimulatedScene scene(uint16_t(w), uint16_t(h), 3);
        std::vector<Event2D> slice;
        std::set<uint64_t> microseconds; // within the millisecond
        uint64_t previous = 0;
        size_t total = 0;
        for (uint64_t t = 5000; t < 105000; t += 3333) {
            slice.clear();
            scene.generate(t, t + 3333, PixelModelSettings{}, slice);
            for (const Event2D &e : slice) {
                ASSERT_GE(e.timestamp, t);
                ASSERT_LT(e.timestamp, t + 3333);
                ASSERT_GE(e.timestamp, previous);
                ASSERT_LT(e.x, w);
                ASSERT_LT(e.y, h);
                previous = e.timestamp;
                microseconds.insert(e.timestamp % 1000);
            }
            total += slice.size();
        }
        // Times between the model's steps are worked out, not rounded to them.
        EXPECT_GT(microseconds.size(), 990u);
        // A few million events per second at 1280 x 720, fewer on a smaller sensor.
        const double rate = total / 0.1;
        if (w == 1280)
            EXPECT_TRUE(rate > 1.5e6 && rate < 6e6) << rate;
        else
            EXPECT_TRUE(rate > 0.4e6 && rate < 2e6) << rate;
    }
}

TEST(SimulatedScene, SameSeedSameStreamWhateverTheSlicing)
{
    SimulatedScene a(640, 480, 11), b(640, 480, 11), c(640, 480, 12);
    const auto fine = generateSlices(a, 1000, 61000, 1000);
    const auto coarse = generateSlices(b, 1000, 61000, 7777);
    const auto other = generateSlices(c, 1000, 61000, 1000);
    ASSERT_FALSE(fine.empty());
    // Within one microsecond the order may differ with the slicing; the events do not.
    auto byKey = [](std::vector<Event2D> v) {
        std::sort(v.begin(), v.end(), [](const Event2D &l, const Event2D &r) {
            return std::tie(l.timestamp, l.y, l.x, l.polarity) < std::tie(r.timestamp, r.y, r.x, r.polarity);
        });
        return v;
    };
    EXPECT_TRUE(byKey(fine) == byKey(coarse));
    EXPECT_FALSE(byKey(fine) == byKey(other));
}

namespace {

struct Counts {
    size_t on = 0, off = 0, lamp = 0, rest = 0;
};

Counts count(const SimulatedScene &scene, const std::vector<Event2D> &events)
{
    double lx, ly, lr;
    scene.flickerLight(lx, ly, lr);
    Counts c;
    for (const Event2D &e : events) {
        (e.polarity ? c.on : c.off)++;
        const double dx = e.x - lx, dy = e.y - ly;
        (dx * dx + dy * dy <= lr * lr ? c.lamp : c.rest)++;
    }
    return c;
}

Counts run(const PixelModelSettings &settings, uint64_t durationUs = 300000)
{
    SimulatedScene scene(640, 480, 5);
    return count(scene, generateSlices(scene, 0, durationUs, 5000, settings));
}

} // namespace

TEST(SimulatedScene, EachThresholdActsOnItsOwnPolarity)
{
    PixelModelSettings nominal;
    PixelModelSettings highOn = nominal, highOff = nominal;
    highOn.onThreshold = 0.4;
    highOff.offThreshold = 0.4;
    const Counts n = run(nominal), on = run(highOn), off = run(highOff);
    EXPECT_LT(on.on, n.on * 0.7);
    EXPECT_GT(on.off, n.off * 0.8);
    EXPECT_LT(off.off, n.off * 0.7);
    EXPECT_GT(off.on, n.on * 0.8);
    // Edges of both signs and the lamp's two half-periods balance the polarities.
    EXPECT_NEAR(double(n.on) / (n.on + n.off), 0.5, 0.1);
}

TEST(SimulatedScene, RefractoryPeriodCapsEachPixel)
{
    PixelModelSettings settings;
    settings.noiseRateHz = 0; // background noise does not go through the pixel's reset
    settings.refractoryUs = 4000;
    SimulatedScene scene(640, 480, 9);
    const auto events = generateSlices(scene, 0, 200000, 10000, settings);
    std::vector<uint64_t> last(640 * 480, 0);
    std::vector<bool> seen(640 * 480, false);
    size_t pairs = 0;
    for (const Event2D &e : events) {
        const size_t i = size_t(e.y) * 640 + e.x;
        if (seen[i]) {
            ASSERT_GE(e.timestamp - last[i], settings.refractoryUs) << e.x << "," << e.y;
            ++pairs;
        }
        seen[i] = true;
        last[i] = e.timestamp;
    }
    EXPECT_GT(pairs, 1000u);
    // A short refractory period lets the same scene give more events.
    settings.refractoryUs = 100;
    EXPECT_GT(run(settings, 200000).on, count(scene, events).on * 1.1);
}

TEST(SimulatedScene, LowerBandwidthSmoothsFlickerAndNoiseAway)
{
    PixelModelSettings wide, narrow;
    wide.noiseRateHz = narrow.noiseRateHz = 2.0;
    wide.cutoffHz = 3000;
    narrow.cutoffHz = 30;
    const Counts w = run(wide), n = run(narrow);
    EXPECT_LT(n.lamp, w.lamp * 0.6);
    EXPECT_LT(n.rest, w.rest * 0.8);
    EXPECT_GT(n.rest, 0u);
}

TEST(SimulatedScene, ClampsSettingsThatWouldFloodTheStream)
{
    PixelModelSettings extreme;
    extreme.onThreshold = extreme.offThreshold = 0;
    extreme.refractoryUs = 0;
    extreme.cutoffHz = 1e9;
    extreme.noiseRateHz = 1e9;
    SimulatedScene scene(320, 240, 1);
    const auto events = generateSlices(scene, 0, 20000, 1000, extreme);
    // 100 Hz of noise per pixel at most, and edges of a few dozen events per crossing.
    EXPECT_LT(events.size(), size_t(320 * 240 * 0.02 * 100 * 4));
    EXPECT_GT(events.size(), 0u);
}

TEST(SimulatedScene, JumpForwardIsAQuietGapAndTimeNeverGoesBack)
{
    SimulatedScene scene(640, 480, 2);
    std::vector<Event2D> events;
    scene.generate(0, 20000, {}, events);
    const size_t steady = events.size();
    events.clear();
    scene.generate(5000000, 5020000, {}, events); // pixels settle on the new view
    EXPECT_LT(events.size(), steady * 2);
    ASSERT_FALSE(events.empty());
    EXPECT_GE(events.front().timestamp, 5000000u);
    events.clear();
    scene.generate(5010000, 5030000, {}, events); // overlaps what was delivered
    ASSERT_FALSE(events.empty());
    EXPECT_GE(events.front().timestamp, 5020000u);
    EXPECT_LT(events.back().timestamp, 5030000u);
}

namespace {

std::vector<uint8_t> render(const SimulatedScene &scene, uint64_t t, int w, int h, const double m[6])
{
    std::vector<uint8_t> bgr(size_t(w) * h * 3);
    scene.renderBgr(t, uint16_t(w), uint16_t(h), m, 1.0, bgr.data());
    return bgr;
}

int gray(const std::vector<uint8_t> &bgr, int w, int u, int v)
{
    const uint8_t *p = &bgr[(size_t(v) * w + u) * 3];
    return p[0] + p[1] + p[2];
}

} // namespace

TEST(SimulatedScene, OnEventsWhereThePictureGotBrighter)
{
    // The picture at the sensor's own size: ON events must lie where the scene got
    // brighter (the bright side of a moving edge), OFF where it got darker.
    SimulatedScene scene(640, 480, 4);
    const double identity[6] = {1, 0, 0, 0, 1, 0};
    double lx, ly, lr;
    scene.flickerLight(lx, ly, lr);
    std::vector<Event2D> events;
    scene.generate(0, 10000, {}, events);
    size_t agree = 0, disagree = 0;
    for (uint64_t t = 20000; t < 220000; t += 20000) {
        events.clear();
        scene.generate(t - 10000, t, {}, events); // continues the stream
        const auto before = render(scene, t - 10000 - 4000, 640, 480, identity);
        const auto after = render(scene, t, 640, 480, identity);
        for (const Event2D &e : events) {
            if (e.timestamp < t - 10000 + 1000 || e.timestamp >= t - 10000 + 2000)
                continue;
            if (std::hypot(e.x - lx, e.y - ly) <= lr + 1)
                continue;
            const int change = gray(after, 640, e.x, e.y) - gray(before, 640, e.x, e.y);
            if (change == 0)
                continue;
            ((change > 0) == (e.polarity == 1) ? agree : disagree)++;
        }
    }
    EXPECT_GT(agree, 2000u);
    EXPECT_GT(agree, 20 * disagree) << agree << " / " << disagree;
}

TEST(SimulatedScene, EdgesThatFireLieOnThePicturesEdges)
{
    // A 3840 x 2160 picture of a 1280 x 720 sensor: frame pixel u shows sensor
    // column (u - 1) / 3. Right after they fire, the pixels of an edge must see an
    // edge of the picture within one sensor pixel.
    SimulatedScene scene(1280, 720, 8);
    const double frameToSensor[6] = {1.0 / 3, 0, -1.0 / 3, 0, 1.0 / 3, -1.0 / 3};
    double lx, ly, lr;
    scene.flickerLight(lx, ly, lr);
    std::vector<Event2D> events;
    scene.generate(0, 30000, {}, events);
    size_t onEdge = 0, checked = 0;
    for (uint64_t t : {60000u, 120000u, 180000u}) {
        events.clear();
        scene.generate(t - 30000, t + 300, {}, events);
        const auto picture = render(scene, t + 150, 3840, 2160, frameToSensor);
        for (const Event2D &e : events) {
            if (e.timestamp < t || e.x < 2 || e.y < 2 || e.x > 1277 || e.y > 717
                || std::hypot(e.x - lx, e.y - ly) <= lr + 1)
                continue; // the lamp flickers as a whole; it has no moving edge
            int lo = 1000, hi = -1;
            for (int v = 3 * (e.y - 1) + 1; v <= 3 * (e.y + 1) + 1; ++v)
                for (int u = 3 * (e.x - 1) + 1; u <= 3 * (e.x + 1) + 1; ++u) {
                    lo = std::min(lo, gray(picture, 3840, u, v));
                    hi = std::max(hi, gray(picture, 3840, u, v));
                }
            ++checked;
            onEdge += hi - lo > 30;
        }
    }
    ASSERT_GT(checked, 500u);
    // All but the background noise.
    EXPECT_GT(onEdge, checked * 0.9) << onEdge << " of " << checked;
}

TEST(SimulatedScene, TinySensorsAndOddPictureMappingsAreSafe)
{
    for (auto [w, h] : {std::pair<int, int>{1, 1}, {3, 2}, {40, 30}}) {
        SimulatedScene scene(uint16_t(w), uint16_t(h), 1);
        const auto events = generateSlices(scene, 0, 20000, 3000);
        for (const Event2D &e : events) {
            ASSERT_LT(e.x, w);
            ASSERT_LT(e.y, h);
        }
        const double nan = std::nan("");
        const double mappings[][6] = {{1, 0, 0, 0, 1, 0},       {0, 0, 0, 0, 0, 0},
                                      {1e9, 1e9, 0, -1e9, 0, 0}, {nan, 0, 0, 0, 1, 0},
                                      {0.3, 0.2, -5, -0.2, 0.3, 7}, {1e-9, 0, 1e5, 0, 1e-9, -1e5}};
        for (const auto &m : mappings) {
            for (auto [fw, fh] : {std::pair<int, int>{1, 1}, {7, 5}}) {
                std::vector<uint8_t> bgr(size_t(fw) * fh * 3 + 1, 0xAB);
                scene.renderBgr(1000, uint16_t(fw), uint16_t(fh), m, 1.0, bgr.data());
                EXPECT_EQ(bgr.back(), 0xAB); // nothing written past the frame
            }
        }
    }
}
