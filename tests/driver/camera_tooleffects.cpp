// The camera tools act on the live stream of a simulated camera (the filters are
// tested in depth on their own; here: that a setting made while streaming reaches
// the stream within a step), and setters refuse what they cannot take.
#include "camera/dvscamera.h"
#include "camera/dvscameramanager.h"
#include "driver/simulatedcamerakind.h"
#include "driver/streamingcamera.h"
#include "support/cameratestkit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

using namespace vexadin;
using vxtest::Slice;

namespace {

struct Measure {
    uint64_t events = 0, on = 0, durationUs = 0, outsideRoi = 0;
    double rate() const { return durationUs ? double(events) * 1e6 / double(durationUs) : 0; }
};

struct Window {
    int x = 0, y = 0, width = 0, height = 0;
};

class ToolEffects : public ::testing::Test {
protected:
    void SetUp() override
    {
        handle_ = manager_.openCamera(SimulatedCameraKind::kTaskeloSerial);
        ASSERT_TRUE(handle_);
        vxtest::runLateButWhole(camera());
        camera().setBatchSliceTime(10000);
        ASSERT_EQ(camera().start(), 0);
    }
    StreamingCamera &camera() { return vxtest::streamingCamera(handle_); }
    std::shared_ptr<CameraTool> tool(ToolType type) { return handle_->getTool(type); }

    // About durationMs of the stream (stream time: on a slow build the camera runs
    // late but whole), counting only slices that began after the last change had
    // been picked up (one producer step after it).
    Measure measure(int durationMs, const Window *roi = nullptr,
                    const std::function<void(const Event2D &)> &onEvent = nullptr)
    {
        const uint64_t settled = camera().producedUntil() + StreamingCamera::kMaxStepUs;
        Measure m;
        Slice s;
        vxtest::waitFor([&] {
            if (camera().fetchSlice(s.events, s.start, s.end) && s.start >= settled) {
                m.durationUs += s.end - s.start;
                m.events += s.events.size();
                for (const Event2D &e : s.events) {
                    if (onEvent)
                        onEvent(e);
                    m.on += e.polarity;
                    if (roi && (e.x < roi->x || e.x >= roi->x + roi->width || e.y < roi->y ||
                                e.y >= roi->y + roi->height))
                        ++m.outsideRoi;
                }
            }
            return m.durationUs >= uint64_t(durationMs) * 1000;
        }, 120000);
        return m;
    }

    DvsCameraManager manager_;
    std::shared_ptr<DvsCamera> handle_;
};

} // namespace

TEST_F(ToolEffects, HigherThresholdsGiveFewerEventsOfTheirPolarity)
{
    const Measure nominal = measure(400);
    ASSERT_GT(nominal.events, 1000u);
    ASSERT_TRUE(tool(TOOL_BIASES)->setIntValue("on_threshold", 100));
    const Measure fewerOn = measure(400);
    EXPECT_LT(fewerOn.rate(), nominal.rate() * 0.9);
    EXPECT_LT(double(fewerOn.on) / double(fewerOn.events), double(nominal.on) / double(nominal.events));
    ASSERT_TRUE(tool(TOOL_BIASES)->setIntValue("off_threshold", 100));
    EXPECT_LT(measure(400).rate(), fewerOn.rate() * 0.9);
}

TEST_F(ToolEffects, RoiKeepsOnlyItsWindow)
{
    const Measure whole = measure(300);
    const Window w{100, 60, 200, 150};
    auto roi = tool(TOOL_ROI);
    ASSERT_TRUE(roi->setIntValue("width", w.width)); // shrink first: the window must stay on the sensor
    ASSERT_TRUE(roi->setIntValue("height", w.height));
    ASSERT_TRUE(roi->setIntValue("x", w.x));
    ASSERT_TRUE(roi->setIntValue("y", w.y));
    ASSERT_TRUE(roi->setBoolValue("enable", true));
    const Measure inside = measure(300, &w);
    EXPECT_GT(inside.events, 0u);
    EXPECT_EQ(inside.outsideRoi, 0u);
    EXPECT_LT(inside.rate(), whole.rate() * 0.6);
}

TEST_F(ToolEffects, EventRateControlCapsTheRate)
{
    const Measure free = measure(300);
    ASSERT_GT(free.rate(), 300000.0) << "the scene must exceed the cap for this test";
    auto erc = tool(TOOL_EVENT_RATE_CONTROL);
    ASSERT_TRUE(erc->setIntValue("max_event_rate", 100)); // kev/s
    ASSERT_TRUE(erc->setBoolValue("enable", true));
    const Measure capped = measure(1000);
    EXPECT_NEAR(capped.rate(), 100000.0, 10000.0);
}

TEST_F(ToolEffects, TrailFilterLeavesOnlyTheFirstEventOfABurst)
{
    // An event of the same polarity as the pixel's previous one, closer than the
    // filter's threshold: a trail.
    int threshold = 0;
    ASSERT_TRUE(tool(TOOL_EVENT_TRAIL_FILTER)->getIntValue("threshold", threshold));
    auto repeats = [&] {
        std::vector<uint64_t> last(640 * 480, 0);
        std::vector<uint8_t> polarity(640 * 480, 0);
        uint64_t n = 0;
        measure(400, nullptr, [&](const Event2D &e) {
            const size_t i = size_t(e.y) * 640 + e.x;
            n += last[i] != 0 && polarity[i] == e.polarity && e.timestamp - last[i] < uint64_t(threshold);
            last[i] = e.timestamp;
            polarity[i] = e.polarity;
        });
        return n;
    };
    EXPECT_GT(repeats(), 100u);
    ASSERT_TRUE(tool(TOOL_EVENT_TRAIL_FILTER)->setBoolValue("enable", true));
    EXPECT_EQ(repeats(), 0u);
}

TEST_F(ToolEffects, AntiFlickerPassesOrStopsTheFlickeringLight)
{
    auto flicker = tool(TOOL_ANTI_FLICKER);
    ASSERT_TRUE(flicker->setIntValue("low_frequency", 80));
    ASSERT_TRUE(flicker->setIntValue("high_frequency", 120));
    const Measure all = measure(300);

    // Band-pass around 100 Hz keeps only the lamp: those are its pixels.
    ASSERT_TRUE(flicker->setEnumValue("mode", "band_pass"));
    ASSERT_TRUE(flicker->setBoolValue("enable", true));
    measure(200); // the filter first learns which pixels flicker
    std::vector<bool> lamp(640 * 480, false);
    const Measure passed = measure(300, nullptr, [&](const Event2D &e) { lamp[size_t(e.y) * 640 + e.x] = true; });
    EXPECT_GT(passed.events, 0u);
    EXPECT_LT(passed.rate(), all.rate() * 0.5);

    // Band-stop: the lamp's events go, the rest stays.
    ASSERT_TRUE(flicker->setEnumValue("mode", "band_stop"));
    measure(200);
    uint64_t onLamp = 0;
    const Measure stopped = measure(300, nullptr, [&](const Event2D &e) { onLamp += lamp[size_t(e.y) * 640 + e.x]; });
    EXPECT_LT(double(onLamp), double(passed.events) * 0.1);
    EXPECT_GT(stopped.rate(), all.rate() * 0.2);
}

TEST_F(ToolEffects, SettersRefuseWhatTheyCannotTakeAndKeepTheOldValue)
{
    auto roi = tool(TOOL_ROI);
    int width = 0, x = 0;
    ASSERT_TRUE(roi->getIntValue("width", width));
    EXPECT_EQ(width, 640);
    EXPECT_FALSE(roi->setIntValue("x", 100)); // a 640 wide window at x = 100 leaves the sensor
    EXPECT_FALSE(roi->setIntValue("width", 641));
    EXPECT_FALSE(roi->setIntValue("width", 0));
    EXPECT_FALSE(roi->setIntValue("no_such_parameter", 1));
    EXPECT_FALSE(roi->setIntValue("enable", 1)); // a boolean
    ASSERT_TRUE(roi->getIntValue("x", x));
    ASSERT_TRUE(roi->getIntValue("width", width));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(width, 640);
    EXPECT_TRUE(roi->setIntValue("width", 300));
    EXPECT_TRUE(roi->setIntValue("x", 340)); // now it fits exactly

    auto biases = tool(TOOL_BIASES);
    IntParameterInfo info;
    ASSERT_TRUE(biases->getIntParamInfo("bandwidth", info));
    EXPECT_FALSE(biases->setIntValue("bandwidth", info.max + 1));
    EXPECT_FALSE(biases->setIntValue("bandwidth", info.min - 1));
    EXPECT_FALSE(tool(TOOL_ANTI_FLICKER)->setEnumValue("mode", "no_such_mode"));
    EXPECT_FALSE(tool(TOOL_EVENT_RATE_CONTROL)->setIntValue("max_event_rate", 0));
}
