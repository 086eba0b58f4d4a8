// vx-test-labels: tsan
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
        camera().setBatchSliceTime(10000);
        ASSERT_EQ(camera().start(), 0);
    }
    StreamingCamera &camera() { return vxtest::streamingCamera(handle_); }
    std::shared_ptr<CameraTool> tool(ToolType type) { return handle_->getTool(type); }

    // The stream over about durationMs, counting only slices that began after the
    // last change had been picked up (one producer step after it).
    Measure measure(int durationMs, const Window *roi = nullptr)
    {
        const uint64_t settled = camera().cameraTime() + StreamingCamera::kMaxStepUs;
        Measure m;
        Slice s;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(durationMs);
        while (std::chrono::steady_clock::now() < until) {
            if (camera().fetchSlice(s.events, s.start, s.end) && s.start >= settled) {
                m.durationUs += s.end - s.start;
                m.events += s.events.size();
                for (const Event2D &e : s.events) {
                    m.on += e.polarity;
                    if (roi && (e.x < roi->x || e.x >= roi->x + roi->width || e.y < roi->y ||
                                e.y >= roi->y + roi->height))
                        ++m.outsideRoi;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
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

TEST_F(ToolEffects, TrailAndFlickerFiltersThinTheStream)
{
    const Measure before = measure(400);
    ASSERT_TRUE(tool(TOOL_EVENT_TRAIL_FILTER)->setBoolValue("enable", true));
    const Measure trail = measure(400);
    EXPECT_LT(trail.rate(), before.rate() * 0.95);
    ASSERT_TRUE(tool(TOOL_EVENT_TRAIL_FILTER)->setBoolValue("enable", false));

    // Band-stop around the 100 Hz light: its events go, the rest stays.
    auto flicker = tool(TOOL_ANTI_FLICKER);
    ASSERT_TRUE(flicker->setIntValue("low_frequency", 80));
    ASSERT_TRUE(flicker->setIntValue("high_frequency", 120));
    ASSERT_TRUE(flicker->setEnumValue("mode", "band_stop"));
    ASSERT_TRUE(flicker->setBoolValue("enable", true));
    measure(200); // the filter first learns which pixels flicker
    const Measure stopped = measure(400);
    EXPECT_LT(stopped.rate(), before.rate() * 0.95);
    EXPECT_GT(stopped.rate(), before.rate() * 0.2);
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
