// The simulated event sensor: a stream that behaves like a real pixel array in
// front of the scene, and a colour picture of the same scene.
#include "driver/simulatedscene.h"

#include <gtest/gtest.h>

#include <algorithm>
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
        uint64_t previous = 0;
        size_t total = 0;
        for (uint64_t t = 5000; t < 205000; t += 3333) {
            slice.clear();
            scene.generate(t, t + 3333, PixelModelSettings{}, slice);
            for (const Event2D &e : slice) {
                ASSERT_GE(e.timestamp, t);
                ASSERT_LT(e.timestamp, t + 3333);
                ASSERT_GE(e.timestamp, previous);
                ASSERT_LT(e.x, w);
                ASSERT_LT(e.y, h);
                previous = e.timestamp;
            }
            total += slice.size();
        }
        // A few million events per second at 1280 x 720, fewer on a smaller sensor.
        const double rate = total / 0.2;
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
