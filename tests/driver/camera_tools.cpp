// vx-test-labels: tsan
// The camera tools: typed parameters with their refusals, and each filter's effect
// on event slices. Also run under ThreadSanitizer (parameters set while filtering).
#include "driver/antiflickertool.h"
#include "driver/biasestool.h"
#include "driver/eventratecontroltool.h"
#include "driver/eventtrailfiltertool.h"
#include "driver/roitool.h"
#include "driver/triggerintool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

using namespace vexadin;

TEST(ParameterTool, RefusesUnknownNamesWrongTypesAndValuesOutOfRange)
{
    AntiFlickerTool tool(640, 480);
    int i = -1;
    float f = -1;
    bool b = true;
    std::string e;

    EXPECT_FALSE(tool.setIntValue("no_such_parameter", 1));
    EXPECT_FALSE(tool.getIntValue("no_such_parameter", i));
    EXPECT_FALSE(tool.setFloatValue("low_frequency", 60.0f)); // an int
    EXPECT_FALSE(tool.setIntValue("duty_cycle", 60));         // a float
    EXPECT_FALSE(tool.setBoolValue("mode", true));            // an enum
    EXPECT_FALSE(tool.setEnumValue("enable", "band_stop"));   // a bool
    EXPECT_FALSE(tool.setEnumValue("mode", "notch"));         // not an option
    EXPECT_FALSE(tool.setIntValue("low_frequency", 0));
    EXPECT_FALSE(tool.setIntValue("low_frequency", 5001));
    EXPECT_FALSE(tool.setFloatValue("duty_cycle", 100.5f));
    EXPECT_FALSE(tool.setFloatValue("duty_cycle", std::nanf("")));

    // Refusals kept the old values.
    ASSERT_TRUE(tool.getIntValue("low_frequency", i));
    EXPECT_EQ(i, 50);
    ASSERT_TRUE(tool.getFloatValue("duty_cycle", f));
    EXPECT_EQ(f, 50.0f);
    ASSERT_TRUE(tool.getEnumValue("mode", e));
    EXPECT_EQ(e, "band_stop");
    ASSERT_TRUE(tool.getBoolValue("enable", b));
    EXPECT_FALSE(b);

    // Accepted values read back, also through the infos.
    EXPECT_TRUE(tool.setIntValue("low_frequency", 90));
    EXPECT_TRUE(tool.setFloatValue("duty_cycle", 100.0f));
    EXPECT_TRUE(tool.setEnumValue("mode", "band_pass"));
    IntParameterInfo ii;
    ASSERT_TRUE(tool.getIntParamInfo("low_frequency", ii));
    EXPECT_EQ(ii.value, 90);
    EXPECT_EQ(ii.type, PARAM_INT);
    EXPECT_EQ(ii.unit, "Hz");
    EnumParameterInfo ei;
    ASSERT_TRUE(tool.getEnumParamInfo("mode", ei));
    EXPECT_EQ(ei.value, "band_pass");
    EXPECT_EQ(ei.options, (std::vector<std::string>{"band_stop", "band_pass"}));
    FloatParameterInfo fi;
    EXPECT_FALSE(tool.getFloatParamInfo("mode", fi));
}

TEST(RoiTool, KeepsOnlyItsWindowAndRefusesWindowsLeavingTheSensor)
{
    RoiTool roi(640, 480);
    EXPECT_TRUE(roi.setIntValue("width", 100));
    EXPECT_TRUE(roi.setIntValue("height", 50));
    EXPECT_TRUE(roi.setIntValue("x", 500));
    EXPECT_TRUE(roi.setIntValue("y", 10));
    EXPECT_FALSE(roi.setIntValue("x", 541)); // 541 + 100 > 640
    EXPECT_FALSE(roi.setIntValue("height", 471));
    int x = 0;
    ASSERT_TRUE(roi.getIntValue("x", x));
    EXPECT_EQ(x, 500);

    std::vector<Event2D> events;
    for (uint16_t y = 0; y < 480; y += 5)
        for (uint16_t xx = 0; xx < 640; xx += 5)
            events.emplace_back(xx, y, 1, 10);
    const size_t all = events.size();
    std::vector<Event2D> disabled = events;
    roi.apply(disabled, 0, 100);
    EXPECT_EQ(disabled.size(), all);

    ASSERT_TRUE(roi.setBoolValue("enable", true));
    roi.apply(events, 0, 100);
    EXPECT_EQ(events.size(), 20u * 10u);
    for (const Event2D &e : events) {
        EXPECT_TRUE(e.x >= 500 && e.x < 600 && e.y >= 10 && e.y < 60) << e.x << "," << e.y;
    }
}
