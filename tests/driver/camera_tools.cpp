// vx-test-labels: tsan
// The camera tools: typed parameters with their refusals, and each filter's effect
// on event slices. Also run under ThreadSanitizer: parameters set while filtering,
// pictures of the scene drawn while its stream is generated.
#include "driver/antiflickertool.h"
#include "driver/biasestool.h"
#include "driver/eventratecontroltool.h"
#include "driver/eventtrailfiltertool.h"
#include "driver/roitool.h"
#include "driver/simulatedscene.h"
#include "driver/triggerintool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <tuple>
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

namespace {

// The camera's order: ROI, trail filter, anti-flicker, rate control.
struct Pipeline {
    explicit Pipeline(uint16_t w, uint16_t h) : scene(w, h, 17), roi(w, h), trail(w, h), flicker(w, h) {}

    // Slices of sliceUs over [t0, t1), filtered; the raw stream too when asked.
    std::vector<Event2D> run(uint64_t t0, uint64_t t1, uint64_t sliceUs,
                             std::vector<Event2D> *raw = nullptr)
    {
        std::vector<Event2D> out, slice;
        for (uint64_t t = t0; t < t1; t += sliceUs) {
            slice.clear();
            scene.generate(t, t + sliceUs, biases.settings(), slice);
            if (raw)
                raw->insert(raw->end(), slice.begin(), slice.end());
            for (EventFilterStage *stage : std::initializer_list<EventFilterStage *>{&roi, &trail, &flicker, &rate})
                stage->apply(slice, t, t + sliceUs);
            out.insert(out.end(), slice.begin(), slice.end());
        }
        return out;
    }

    bool inLamp(const Event2D &e) const
    {
        double x, y, r;
        scene.flickerLight(x, y, r);
        return std::hypot(e.x - x, e.y - y) <= r;
    }

    SimulatedScene scene;
    BiasesTool biases;
    RoiTool roi;
    EventTrailFilterTool trail;
    AntiFlickerTool flicker;
    EventRateControlTool rate;
};

std::pair<size_t, size_t> lampAndRest(const Pipeline &p, const std::vector<Event2D> &events)
{
    size_t lamp = 0;
    for (const Event2D &e : events)
        lamp += p.inLamp(e);
    return {lamp, events.size() - lamp};
}

} // namespace

TEST(AntiFlickerTool, BandStopRemovesTheFlickeringLightAndBandPassKeepsOnlyIt)
{
    Pipeline p(640, 480);
    ASSERT_TRUE(p.flicker.setBoolValue("enable", true));
    ASSERT_TRUE(p.flicker.setIntValue("low_frequency", 90));
    ASSERT_TRUE(p.flicker.setIntValue("high_frequency", 110));
    p.run(0, 50000, 10000); // the filter learns the pixels' rhythm
    std::vector<Event2D> raw;
    const auto stopped = p.run(50000, 550000, 10000, &raw);
    auto [lampIn, restIn] = lampAndRest(p, raw);
    const auto [lampOut, restOut] = lampAndRest(p, stopped);
    ASSERT_GT(lampIn, 10000u);
    EXPECT_LT(lampOut, lampIn * 0.05) << lampOut << " of " << lampIn;
    EXPECT_GT(restOut, restIn * 0.9) << restOut << " of " << restIn;

    ASSERT_TRUE(p.flicker.setEnumValue("mode", "band_pass"));
    raw.clear();
    const auto passed = p.run(550000, 850000, 10000, &raw);
    std::tie(lampIn, restIn) = lampAndRest(p, raw);
    const auto [lampKept, restKept] = lampAndRest(p, passed);
    EXPECT_GT(lampKept, lampIn * 0.9) << lampKept << " of " << lampIn;
    EXPECT_LT(restKept, restIn * 0.05) << restKept << " of " << restIn;

    // A band away from 100 Hz leaves the light alone.
    ASSERT_TRUE(p.flicker.setEnumValue("mode", "band_stop"));
    ASSERT_TRUE(p.flicker.setIntValue("low_frequency", 300));
    ASSERT_TRUE(p.flicker.setIntValue("high_frequency", 1000));
    raw.clear();
    const auto elsewhere = p.run(850000, 1050000, 10000, &raw);
    EXPECT_GT(lampAndRest(p, elsewhere).first, lampAndRest(p, raw).first * 0.95);
}

TEST(EventRateControlTool, CapsEachSliceAndThinsEvenlyOverTheSensor)
{
    Pipeline p(640, 480);
    ASSERT_TRUE(p.rate.setBoolValue("enable", true));
    ASSERT_TRUE(p.rate.setIntValue("max_event_rate", 200)); // 200 k events per second
    std::vector<Event2D> raw;
    std::vector<Event2D> kept, slice;
    size_t worst = 0;
    for (uint64_t t = 0; t < 300000; t += 5000) {
        slice.clear();
        p.scene.generate(t, t + 5000, p.biases.settings(), slice);
        raw.insert(raw.end(), slice.begin(), slice.end());
        p.rate.apply(slice, t, t + 5000);
        worst = std::max(worst, slice.size());
        kept.insert(kept.end(), slice.begin(), slice.end());
    }
    ASSERT_GT(raw.size(), kept.size() * 3); // the stream is well above the cap
    EXPECT_LE(worst, 1000u);                 // 200 k/s over 5 ms
    EXPECT_NEAR(double(kept.size()), 200000 * 0.3, 200000 * 0.3 * 0.1);
    EXPECT_TRUE(std::is_sorted(kept.begin(), kept.end(), [](const Event2D &a, const Event2D &b) {
        return a.timestamp < b.timestamp;
    }));

    // Every busy region of the sensor keeps about the same share, and so does each
    // part of every slice: not the first events only.
    const double share = double(kept.size()) / raw.size();
    std::map<int, std::pair<size_t, size_t>> regions; // 80 x 80 blocks: raw, kept
    for (const Event2D &e : raw)
        ++regions[e.y / 80 * 8 + e.x / 80].first;
    for (const Event2D &e : kept)
        ++regions[e.y / 80 * 8 + e.x / 80].second;
    for (const auto &[region, n] : regions) {
        if (n.first < 20000)
            continue;
        EXPECT_NEAR(double(n.second) / n.first, share, share * 0.15) << "block " << region;
    }
    size_t late = 0;
    for (const Event2D &e : kept)
        late += e.timestamp % 5000 >= 2500;
    EXPECT_NEAR(double(late) / kept.size(), 0.5, 0.1);

    // Deterministic, and off means off.
    ASSERT_TRUE(p.rate.setBoolValue("enable", false));
    slice = raw;
    p.rate.apply(slice, 0, 300000);
    EXPECT_EQ(slice.size(), raw.size());
}

TEST(EventRateControlTool, ShortSlicesAddUpToTheAllowedRate)
{
    EventRateControlTool rate;
    ASSERT_TRUE(rate.setBoolValue("enable", true));
    ASSERT_TRUE(rate.setIntValue("max_event_rate", 1)); // 1000 events per second
    size_t total = 0;
    for (uint64_t t = 0; t < 1000000; t += 100) { // 0.1 events allowed per slice
        std::vector<Event2D> slice(50, Event2D(1, 1, 1, t));
        rate.apply(slice, t, t + 100);
        EXPECT_LE(slice.size(), 1u);
        total += slice.size();
    }
    EXPECT_NEAR(double(total), 1000, 10);
}

TEST(EventTrailFilterTool, KeepsTheFirstEventOfEachBurstOnly)
{
    Pipeline p(640, 480);
    ASSERT_TRUE(p.trail.setBoolValue("enable", true));
    ASSERT_TRUE(p.trail.setIntValue("threshold", 3000));
    std::vector<Event2D> raw;
    const auto kept = p.run(0, 200000, 10000, &raw);
    EXPECT_LT(kept.size(), raw.size() / 2); // edges leave trails of several events
    EXPECT_GT(kept.size(), raw.size() / 10);

    // Worked out from the raw stream: an event is the first of its burst when its
    // pixel's previous event is older than the threshold or of the other polarity.
    std::vector<int64_t> last(640 * 480, -1);
    std::vector<uint8_t> polarity(640 * 480, 0);
    std::vector<Event2D> firsts;
    for (const Event2D &e : raw) {
        const size_t i = size_t(e.y) * 640 + e.x;
        if (last[i] < 0 || polarity[i] != e.polarity || int64_t(e.timestamp) - last[i] > 3000)
            firsts.push_back(e);
        last[i] = int64_t(e.timestamp);
        polarity[i] = e.polarity;
    }
    EXPECT_TRUE(kept == firsts);

    // The stc type keeps the second event of a burst instead: lone events go.
    ASSERT_TRUE(p.trail.setEnumValue("type", "stc"));
    std::vector<Event2D> raw2;
    const auto stc = p.run(200000, 400000, 10000, &raw2);
    EXPECT_LT(stc.size(), kept.size());
    EXPECT_GT(stc.size(), 0u);
}

TEST(BiasesTool, ZeroIsNominalAndEachBiasMovesItsOwnPartOfTheModel)
{
    BiasesTool biases;
    const PixelModelSettings nominal;
    const PixelModelSettings s0 = biases.settings();
    EXPECT_DOUBLE_EQ(s0.onThreshold, nominal.onThreshold);
    EXPECT_DOUBLE_EQ(s0.offThreshold, nominal.offThreshold);
    EXPECT_EQ(s0.refractoryUs, nominal.refractoryUs);
    EXPECT_DOUBLE_EQ(s0.cutoffHz, nominal.cutoffHz);
    EXPECT_DOUBLE_EQ(s0.noiseRateHz, nominal.noiseRateHz);
    // Only integers, each with a range around 0 (the panel shows 0 before it reads).
    for (const auto &[name, info] : biases.getParameters()) {
        IntParameterInfo ii;
        ASSERT_TRUE(biases.getIntParamInfo(name, ii)) << name;
        EXPECT_LT(ii.min, 0);
        EXPECT_GT(ii.max, 0);
        EXPECT_FALSE(info.description.empty());
    }

    // Rate falls as a threshold rises, for that threshold's polarity.
    Pipeline p(640, 480);
    auto polarities = [&](uint64_t t0) {
        const auto events = p.run(t0, t0 + 150000, 10000);
        size_t on = 0;
        for (const Event2D &e : events)
            on += e.polarity;
        return std::pair<size_t, size_t>{on, events.size() - on};
    };
    const auto [on0, off0] = polarities(0);
    ASSERT_TRUE(p.biases.setIntValue("on_threshold", 60));
    const auto [on1, off1] = polarities(150000);
    ASSERT_TRUE(p.biases.setIntValue("on_threshold", 0));
    ASSERT_TRUE(p.biases.setIntValue("off_threshold", 60));
    const auto [on2, off2] = polarities(300000);
    EXPECT_LT(on1, on0 * 0.7);
    EXPECT_GT(off1, off0 * 0.8);
    EXPECT_LT(off2, off0 * 0.7);
    EXPECT_GT(on2, on0 * 0.8);

    // The ends of every range still give a stream, neither empty nor flooding.
    uint64_t t = 450000;
    for (const char *name : {"on_threshold", "off_threshold", "refractory_period", "bandwidth", "noise_level"}) {
        for (int v : {-100, 100}) {
            ASSERT_TRUE(p.biases.setIntValue(name, v));
            const size_t n = p.run(t, t + 20000, 10000).size() * 50; // events per second
            t += 20000;
            EXPECT_GT(n, 50000u) << name << " " << v;
            EXPECT_LT(n, 50000000u) << name << " " << v;
            ASSERT_TRUE(p.biases.setIntValue(name, 0));
        }
    }
}

TEST(TriggerInTool, OneSwitchPerChannel)
{
    TriggerInTool trigger(3);
    EXPECT_EQ(trigger.channelCount(), 3);
    EXPECT_EQ(trigger.getParameters().size(), 3u);
    EXPECT_FALSE(trigger.channelEnabled(1));
    ASSERT_TRUE(trigger.setBoolValue("channel_1", true));
    EXPECT_TRUE(trigger.channelEnabled(1));
    EXPECT_FALSE(trigger.channelEnabled(0));
    EXPECT_FALSE(trigger.channelEnabled(3));
    EXPECT_FALSE(trigger.channelEnabled(-1));
    EXPECT_FALSE(trigger.setBoolValue("channel_3", true));
}

TEST(CameraTools, SetFromAnotherThreadWhileTheProducerFilters)
{
    // The GUI thread changes every tool while the producer generates and filters;
    // the producer must always see a consistent ROI window inside the sensor.
    Pipeline p(320, 240);
    ASSERT_TRUE(p.roi.setBoolValue("enable", true));
    std::atomic<bool> done{false};
    std::thread gui([&] {
        for (int i = 0; !done.load(); ++i) {
            const int w = 20 + i % 200;
            p.roi.setWindow(i % 100, i % 50, w, 100);
            p.roi.setIntValue("x", i % 300);
            p.biases.setIntValue("on_threshold", i % 200 - 100);
            p.biases.setIntValue("bandwidth", i % 50);
            p.trail.setBoolValue("enable", i % 2 == 0);
            p.trail.setEnumValue("type", i % 3 ? "trail" : "stc");
            p.flicker.setBoolValue("enable", i % 5 != 0);
            p.flicker.setFloatValue("duty_cycle", float(1 + i % 99));
            p.rate.setBoolValue("enable", true);
            p.rate.setIntValue("max_event_rate", 1 + i % 500);
            int value;
            p.roi.getIntValue("width", value);
            p.flicker.getParameters();
            std::this_thread::yield();
        }
    });
    uint64_t t = 0;
    for (int slice = 0; slice < 200; ++slice, t += 1000) {
        const auto events = p.run(t, t + 1000, 1000);
        for (const Event2D &e : events) {
            ASSERT_LT(e.x, 320);
            ASSERT_LT(e.y, 240);
        }
    }
    done = true;
    gui.join();
}

TEST(CameraTools, PicturesDrawnWhileTheStreamIsGenerated)
{
    Pipeline p(320, 240);
    const double identity[6] = {1, 0, 0, 0, 1, 0};
    std::vector<uint8_t> first(size_t(320) * 240 * 3), again(first.size());
    std::thread painter([&] {
        std::vector<uint8_t> bgr(first.size());
        for (int i = 0; i < 20; ++i)
            p.scene.renderBgr(uint64_t(i) * 5000, 320, 240, identity, 1.0 + (i % 3) * 0.1, bgr.data());
    });
    EXPECT_FALSE(p.run(0, 100000, 2000).empty());
    painter.join();
    // The same moment drawn twice gives the same picture.
    p.scene.renderBgr(50000, 320, 240, identity, 1.0, first.data());
    p.scene.renderBgr(50000, 320, 240, identity, 1.0, again.data());
    EXPECT_EQ(first, again);
}

TEST(CameraTools, EveryParameterDescribesItselfForThePanel)
{
    // The parameter panel builds its items from these descriptions alone: labels
    // from snake_case names, tool tips, ranges holding the value, known types.
    BiasesTool biases;
    TriggerInTool trigger;
    RoiTool roi(1280, 720);
    EventTrailFilterTool trail(1280, 720);
    AntiFlickerTool flicker(1280, 720);
    EventRateControlTool rate;
    for (CameraTool *tool : std::initializer_list<CameraTool *>{&biases, &trigger, &roi, &trail, &flicker, &rate}) {
        const auto params = tool->getParameters();
        ASSERT_FALSE(params.empty());
        for (const auto &[name, info] : params) {
            EXPECT_EQ(name, info.name);
            for (char c : name)
                EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') << name;
            EXPECT_EQ(info.description.back(), '.') << name;
            IntParameterInfo i;
            FloatParameterInfo f;
            BoolParameterInfo b;
            EnumParameterInfo e;
            switch (info.type) {
            case PARAM_INT:
                ASSERT_TRUE(tool->getIntParamInfo(name, i));
                EXPECT_TRUE(i.min <= i.value && i.value <= i.max) << name;
                EXPECT_TRUE(tool->setIntValue(name, i.value)) << name;
                break;
            case PARAM_FLOAT:
                ASSERT_TRUE(tool->getFloatParamInfo(name, f));
                EXPECT_TRUE(f.min <= f.value && f.value <= f.max) << name;
                break;
            case PARAM_BOOL:
                EXPECT_TRUE(tool->getBoolParamInfo(name, b));
                break;
            case PARAM_ENUM:
                ASSERT_TRUE(tool->getEnumParamInfo(name, e));
                EXPECT_NE(std::find(e.options.begin(), e.options.end(), e.value), e.options.end());
                break;
            default:
                ADD_FAILURE() << name << " has type " << info.type;
            }
        }
    }
}
