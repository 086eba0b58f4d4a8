// vx-test-labels: tsan
// Our simulated and replay cameras as the window uses them: listing and opening,
// slices of the live stream (order, bounds, skipping), time across stop/start,
// losing the device, replaying a recording exactly, statistics and trigger-in
// callbacks.
#include "camera/dvscamera.h"
#include "camera/dvscameramanager.h"
#include "driver/cameratesthooks.h"
#include "driver/simulatedcamerakind.h"
#include "driver/streamingcamera.h"
#include "support/cameratestkit.h"
#include "support/syntheticevents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

using namespace vexadin;
using vxtest::Slice;
using vxtest::streamingCamera;
using vxtest::waitFor;

namespace {

constexpr const char *kTaskelo = SimulatedCameraKind::kTaskeloSerial;
constexpr const char *kEvk4 = SimulatedCameraKind::kEvk4Serial;

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Fetches slices (polling every ms) until `count` slices of `length` came;
// skippedAfter holds the camera's skip count right after each fetch.
void fetchSlices(StreamingCamera &camera, uint64_t length, size_t count, std::vector<Slice> &slices,
                 std::vector<uint64_t> &skippedAfter)
{
    size_t got = 0;
    Slice s;
    waitFor([&] {
        uint64_t skipped = 0;
        if (camera.fetchSlice(s.events, s.start, s.end, &skipped)) {
            slices.push_back(s);
            skippedAfter.push_back(skipped);
            got += s.end - s.start == length;
        }
        return got >= count;
    }, 60000);
}

// A synthetic recording in the cameras folder, with trigger edges on input 0.
struct ReplayFile {
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    std::string path;
};

ReplayFile makeReplay(const vxtest::ScopedCameraFolder &folder, const std::string &serial, uint64_t durationUs,
                      double rate, uint16_t width = 320, uint16_t height = 240, const std::string &product = "DVX")
{
    vxtest::SyntheticOptions o;
    o.seed = 11;
    o.width = width;
    o.height = height;
    o.eventRate = rate;
    o.durationUs = durationUs;
    o.startTimestampUs = 1'600'000'000'000'000ull; // a wall-clock origin, far from camera time
    o.triggerRateHz = 20;
    ReplayFile f;
    f.events = vxtest::generateEvents(o);
    f.triggers = vxtest::generateTriggers(o);
    f.path = folder.file(serial + ".raw");
    RawFileHeader h;
    h.width = width;
    h.height = height;
    h.product = product;
    h.serial = "ORIGINAL";
    EXPECT_TRUE(vxtest::writeRecording(f.path, f.events, f.triggers, h));
    return f;
}

std::vector<ToolType> toolTypes(const DvsCamera &camera)
{
    std::vector<ToolType> types;
    for (const ToolInfo &t : camera.getAllToolsInfo())
        types.push_back(t.type);
    return types;
}

} // namespace

TEST(CameraStreaming, ListsSimulatedAndReplayCamerasAndOpensThem)
{
    vxtest::ScopedCameraFolder folder;
    makeReplay(folder, "bench-a", 200000, 1e5, 640, 480, "Taskelo");
    makeReplay(folder, "bench-b", 200000, 1e5, 320, 240, "SomethingElse");
    { std::ofstream(folder.file("notes.raw")) << "not a recording"; }

    DvsCameraManager manager;
    std::vector<CameraDescription> all = manager.getCameraDescs();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].serial, kEvk4);
    EXPECT_EQ(all[0].product, "EVK4");
    EXPECT_EQ(all[0].width, 1280);
    EXPECT_EQ(all[0].height, 720);
    EXPECT_EQ(all[1].serial, kTaskelo);
    EXPECT_EQ(all[1].product, "Taskelo");
    EXPECT_EQ(all[1].width, 640);
    EXPECT_EQ(all[1].height, 480);
    EXPECT_EQ(all[0].manufacturer, all[1].manufacturer);
    EXPECT_EQ(all[2].serial, "bench-a");
    EXPECT_EQ(all[2].product, "Taskelo");
    EXPECT_EQ(all[2].kind, "replay");
    EXPECT_EQ(all[3].serial, "bench-b");
    EXPECT_EQ(all[3].product, "EVK4"); // a product the window does not know
    EXPECT_EQ(all[3].width, 320);
    EXPECT_EQ(all[3].height, 240);

    EXPECT_EQ(manager.openCamera("no-such-camera"), nullptr);
    EXPECT_EQ(manager.openFusionCamera(kEvk4), nullptr);

    std::shared_ptr<DvsCamera> sim = manager.openCamera(kTaskelo);
    ASSERT_TRUE(sim);
    EXPECT_EQ(sim->getDescription().serial, kTaskelo);
    const std::vector<ToolType> simTools = {TOOL_BIASES, TOOL_TRIGGER_IN, TOOL_ANTI_FLICKER, TOOL_EVENT_TRAIL_FILTER,
                                            TOOL_EVENT_RATE_CONTROL, TOOL_ROI};
    EXPECT_EQ(toolTypes(*sim), simTools);
    EXPECT_EQ(sim->getTool(TOOL_APS), nullptr);

    std::shared_ptr<DvsCamera> replay = manager.openCamera("bench-b");
    ASSERT_TRUE(replay);
    const std::vector<ToolType> replayTools = {TOOL_TRIGGER_IN, TOOL_EVENT_RATE_CONTROL, TOOL_ROI};
    EXPECT_EQ(toolTypes(*replay), replayTools);
    EXPECT_EQ(replay->getTool(TOOL_BIASES), nullptr);
    EXPECT_TRUE(replay->isConnected());

    {
        vxtest::ScopedCameraFolder onlyReplays(false);
        makeReplay(onlyReplays, "solo", 100000, 1e5);
        const std::vector<CameraDescription> replays = manager.getCameraDescs();
        ASSERT_EQ(replays.size(), 1u);
        EXPECT_EQ(replays[0].serial, "solo");
        EXPECT_EQ(manager.openCamera(kTaskelo), nullptr);
    }
}

TEST(CameraStreaming, ReopeningASerialGivesAWorkingCameraAndDisconnectsTheOldHandle)
{
    vxtest::ScopedCameraFolder folder;
    DvsCameraManager manager;
    std::shared_ptr<DvsCamera> first = manager.openCamera(kTaskelo);
    ASSERT_TRUE(first);
    first->setBatchSliceTime(5000);
    ASSERT_EQ(first->start(), 0);
    std::vector<Event2D> batch;
    ASSERT_TRUE(waitFor([&] { return first->getNextBatch(batch); }, 20000));

    std::shared_ptr<DvsCamera> second = manager.openCamera(kTaskelo);
    ASSERT_TRUE(second);
    EXPECT_FALSE(first->isConnected());
    EXPECT_FALSE(first->getNextBatch(batch));
    EXPECT_NE(first->start(), 0);
    EXPECT_TRUE(waitFor([&] { return !streamingCamera(first).streaming(); }, 10000));

    second->setBatchSliceTime(5000);
    ASSERT_EQ(second->start(), 0);
    EXPECT_TRUE(waitFor([&] { return second->getNextBatch(batch) && !batch.empty(); }, 20000));
    first.reset(); // the old handle going away leaves the new one alone
    EXPECT_TRUE(second->isConnected());
    EXPECT_TRUE(waitFor([&] { return second->getNextBatch(batch) && !batch.empty(); }, 20000));
}

TEST(CameraStreaming, SlicesFollowEachOtherWithTheirLengthAndRecordingHoldsTheSame)
{
    vxtest::ScopedCameraFolder folder;
    vxtest::ScopedTempFolder out("slices");
    makeReplay(folder, "light", 500000, 2e5);
    DvsCameraManager manager;
    std::shared_ptr<DvsCamera> handle = manager.openCamera("light");
    ASSERT_TRUE(handle);
    StreamingCamera &camera = streamingCamera(handle);
    vxtest::runLateButWhole(camera);
    camera.setBatchSliceTime(10000);
    ASSERT_EQ(camera.start(), 0);
    ASSERT_TRUE(camera.startRecording(out.file("all.raw")));
    std::vector<uint64_t> skipped;
    std::vector<Slice> slices;
    fetchSlices(camera, 10000, 10, slices, skipped);
    camera.setBatchSliceTime(3000); // acts from the next slice
    fetchSlices(camera, 3000, 10, slices, skipped);
    ASSERT_TRUE(camera.stopRecording());
    camera.stop();

    const vxtest::RecordingContent recorded = vxtest::readRecording(out.file("all.raw"));
    ASSERT_TRUE(recorded.ok);
    ASSERT_FALSE(recorded.events.empty());
    size_t shortSlices = 0;
    for (size_t i = 0; i < slices.size(); ++i) {
        const Slice &s = slices[i];
        const uint64_t length = s.end - s.start;
        EXPECT_TRUE(length == 10000 || length == 3000) << length;
        if (length == 10000) {
            EXPECT_EQ(shortSlices, 0u) << "the length changed back";
        }
        shortSlices += length == 3000;
        if (i > 0) {
            EXPECT_GE(s.start, slices[i - 1].end); // in time order, never overlapping
            // No gap, unless the slices between were skipped (and counted): polled
            // every ms that is rare, but a loaded machine may keep us waiting.
            if (s.start != slices[i - 1].end) {
                EXPECT_GT(skipped[i], skipped[i - 1]) << "slice " << i;
            }
        }
        for (size_t k = 0; k < s.events.size(); ++k) {
            ASSERT_GE(s.events[k].timestamp, s.start);
            ASSERT_LT(s.events[k].timestamp, s.end);
            if (k > 0) {
                ASSERT_LE(s.events[k - 1].timestamp, s.events[k].timestamp);
            }
        }
        // The recording (started before these slices) holds exactly what was delivered.
        if (s.start >= recorded.events.front().timestamp && s.end <= recorded.events.back().timestamp) {
            EXPECT_EQ(vxtest::eventsIn(recorded.events, s.start, s.end), s.events) << "slice " << i;
        }
    }
    EXPECT_GE(shortSlices, 10u);
}

TEST(CameraStreaming, ASlowConsumerGetsTheNewestSliceAndSkipsTheRest)
{
    vxtest::ScopedCameraFolder folder;
    makeReplay(folder, "light", 500000, 2e5);
    DvsCameraManager manager;
    std::shared_ptr<DvsCamera> handle = manager.openCamera("light");
    ASSERT_TRUE(handle);
    StreamingCamera &camera = streamingCamera(handle);
    camera.setBatchSliceTime(2000);
    ASSERT_EQ(camera.start(), 0);
    std::vector<Slice> slices;
    std::vector<uint64_t> skipped;
    for (int i = 0; i < 6; ++i) {
        sleepMs(40);
        Slice s;
        const auto t0 = std::chrono::steady_clock::now();
        uint64_t skippedSoFar = 0;
        if (camera.fetchSlice(s.events, s.start, s.end, &skippedSoFar)) {
            skipped.push_back(skippedSoFar);
            // The newest complete slice: it ended within a producer step or so of
            // what the camera has produced.
            EXPECT_LE(camera.producedUntil(), s.end + 100000);
            slices.push_back(s);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(20)); // never waits
    }
    ASSERT_GE(slices.size(), 4u);
    uint64_t skippedSeen = 0;
    for (size_t i = 1; i < slices.size(); ++i) {
        // Every slice between two fetched ones was skipped, and counted.
        EXPECT_EQ(skipped[i] - skipped[i - 1], (slices[i].start - slices[i - 1].end) / 2000) << i;
        skippedSeen += skipped[i] - skipped[i - 1];
    }
    EXPECT_GE(skippedSeen, slices.size()); // a 40 ms pause leaves many 2 ms slices behind
}

TEST(CameraStreaming, TimeNeverGoesBackAcrossStopAndStart)
{
    vxtest::ScopedCameraFolder folder;
    makeReplay(folder, "light", 500000, 2e5);
    DvsCameraManager manager;
    std::shared_ptr<DvsCamera> camera = manager.openCamera("light");
    ASSERT_TRUE(camera);
    camera->setBatchSliceTime(5000);
    std::vector<Event2D> batch;
    uint64_t last = 0;
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(camera->start(), 0);
        ASSERT_EQ(camera->start(), 0); // already streaming: fine
        int got = 0;
        ASSERT_TRUE(waitFor([&] {
            if (camera->getNextBatch(batch) && !batch.empty()) {
                EXPECT_GT(batch.front().timestamp, last);
                last = batch.back().timestamp;
                ++got;
            }
            return got >= 3;
        }, 30000));
        camera->stop();
        EXPECT_FALSE(camera->getNextBatch(batch)); // nothing after stop()
        sleepMs(30);
    }
}

TEST(CameraStreaming, UnpluggedCameraAndVanishedRecordingStopTheStream)
{
    vxtest::ScopedCameraFolder folder;
    makeReplay(folder, "unplugged", 300000, 2e5);
    const ReplayFile file = makeReplay(folder, "vanishing", 300000, 2e5);
    DvsCameraManager manager;
    for (const std::string &serial : {std::string("unplugged"), std::string("vanishing")}) {
        SCOPED_TRACE(serial);
        std::shared_ptr<DvsCamera> handle = manager.openCamera(serial);
        ASSERT_TRUE(handle);
        StreamingCamera &camera = streamingCamera(handle);
        camera.setBatchSliceTime(33333);
        ASSERT_EQ(camera.start(), 0);
        std::vector<Event2D> batch;
        ASSERT_TRUE(waitFor([&] { return camera.getNextBatch(batch); }, 20000));

        const auto t0 = std::chrono::steady_clock::now();
        if (serial == "unplugged") {
            ASSERT_TRUE(testhooks::unplugCamera(serial));
        }
        else
            ASSERT_EQ(std::remove(file.path.c_str()), 0);
        ASSERT_TRUE(waitFor([&] { return !camera.isConnected(); }, 1000));
        // Within one batch period; a generous bound for a loaded test machine.
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));
        EXPECT_TRUE(waitFor([&] { return !camera.streaming(); }, 10000));
        const uint64_t delivered = camera.deliveredEvents();
        sleepMs(60);
        EXPECT_FALSE(camera.getNextBatch(batch));
        EXPECT_EQ(camera.deliveredEvents(), delivered);
        EXPECT_NE(camera.start(), 0);
    }
    EXPECT_FALSE(testhooks::unplugCamera("no-such-camera"));
}

TEST(CameraStreaming, ReplayReproducesItsRecordingShiftedAndLooping)
{
    vxtest::ScopedCameraFolder folder;
    vxtest::ScopedTempFolder out("replay");
    const ReplayFile file = makeReplay(folder, "loop", 150000, 4e5);
    DvsCameraManager manager;
    std::shared_ptr<DvsCamera> handle = manager.openCamera("loop");
    ASSERT_TRUE(handle);
    vxtest::runLateButWhole(streamingCamera(handle));
    ASSERT_TRUE(handle->getTool(TOOL_TRIGGER_IN)->setBoolValue("channel_0", true));
    // Recording from before the start holds the stream from its first step on.
    ASSERT_TRUE(handle->startRecording(out.file("copy.raw")));
    ASSERT_EQ(handle->start(), 0);
    // Almost three loops.
    ASSERT_TRUE(waitFor([&] { return streamingCamera(handle).deliveredEvents() > file.events.size() * 5 / 2; }, 60000));
    ASSERT_TRUE(handle->stopRecording());
    handle->stop();

    const vxtest::RecordingContent copy = vxtest::readRecording(out.file("copy.raw"));
    ASSERT_TRUE(copy.ok);
    ASSERT_GT(copy.events.size(), file.events.size() * 2);
    const uint64_t fileStart = std::min(file.events.front().timestamp, file.triggers.front().timestamp);
    const uint64_t period = std::max(file.events.back().timestamp, file.triggers.back().timestamp) - fileStart + 1;
    // The first loop's shift comes from its first event; the rest follows from it.
    const uint64_t base = copy.events.front().timestamp - (file.events.front().timestamp - fileStart);
    for (uint64_t loop = 0; loop < 2; ++loop) {
        const uint64_t shift = base + loop * period - fileStart;
        std::vector<Event2D> expected = file.events;
        for (Event2D &e : expected)
            e.timestamp += shift;
        EXPECT_EQ(vxtest::eventsIn(copy.events, base + loop * period, base + (loop + 1) * period), expected)
            << "loop " << loop;
        std::vector<EventTriggerIn> expectedTriggers;
        for (EventTriggerIn t : file.triggers) {
            t.timestamp += shift;
            expectedTriggers.push_back(t);
        }
        std::vector<EventTriggerIn> got;
        for (const EventTriggerIn &t : copy.triggers)
            if (t.timestamp >= base + loop * period && t.timestamp < base + (loop + 1) * period)
                got.push_back(t);
        EXPECT_EQ(got, expectedTriggers) << "loop " << loop;
    }
}

TEST(CameraStreaming, StatisticsMatchTheDeliveredStreamPerSecond)
{
    vxtest::ScopedCameraFolder folder;
    vxtest::ScopedTempFolder out("stats");
    const ReplayFile file = makeReplay(folder, "steady", 700000, 3e5);
    DvsCameraManager manager;
    std::shared_ptr<DvsCamera> handle = manager.openCamera("steady");
    ASSERT_TRUE(handle);
    vxtest::runLateButWhole(streamingCamera(handle));
    std::mutex m;
    std::vector<VxStatisticInfo> reports;
    std::atomic<bool> onCameraThread{true};
    const std::thread::id self = std::this_thread::get_id();
    handle->setStatisticInfoCallback([&](VxStatisticInfo info) {
        if (std::this_thread::get_id() == self)
            onCameraThread = false;
        std::lock_guard<std::mutex> lock(m);
        reports.push_back(info);
    });
    ASSERT_TRUE(handle->startRecording(out.file("stats.raw")));
    ASSERT_EQ(handle->start(), 0);
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> lock(m);
        return reports.size() >= 2;
    }, 60000));
    ASSERT_TRUE(handle->stopRecording());
    handle->stop();
    handle->setStatisticInfoCallback({});
    EXPECT_TRUE(onCameraThread);

    const vxtest::RecordingContent copy = vxtest::readRecording(out.file("stats.raw"));
    ASSERT_TRUE(copy.ok);
    const uint64_t fileStart = std::min(file.events.front().timestamp, file.triggers.front().timestamp);
    const uint64_t base = copy.events.front().timestamp - (file.events.front().timestamp - fileStart);
    std::lock_guard<std::mutex> lock(m);
    for (size_t k = 0; k < 2; ++k) {
        const uint64_t from = base + k * 1000000, to = from + 1000000;
        const uint64_t events = vxtest::eventsIn(copy.events, from, to).size();
        uint64_t triggers = 0;
        for (const EventTriggerIn &t : copy.triggers)
            triggers += t.timestamp >= from && t.timestamp < to;
        EXPECT_EQ(reports[k].eventRate, events) << "second " << k;
        EXPECT_EQ(reports[k].bandwidth, events * streamingCamera(handle).bytesPerEvent() +
                                            triggers * StreamingCamera::kBytesPerTrigger);
        EXPECT_NEAR(double(reports[k].eventRate), 3e5, 3e5 * 0.05);
    }
}

TEST(CameraStreaming, TriggerInEdgesReachEveryCallbackOnACameraThread)
{
    vxtest::ScopedCameraFolder folder;
    DvsCameraManager manager;
    std::shared_ptr<DvsCamera> camera = manager.openCamera(kTaskelo);
    ASSERT_TRUE(camera);
    std::mutex m;
    std::vector<EventTriggerIn> a, b;
    const std::thread::id self = std::this_thread::get_id();
    std::atomic<bool> onCameraThread{true};
    const int idA = camera->addTriggerInCallback([&](EventTriggerIn t) {
        onCameraThread = onCameraThread && std::this_thread::get_id() != self;
        std::lock_guard<std::mutex> lock(m);
        a.push_back(t);
    });
    const int idB = camera->addTriggerInCallback([&](EventTriggerIn t) {
        std::lock_guard<std::mutex> lock(m);
        b.push_back(t);
    });
    EXPECT_GT(idA, 0);
    EXPECT_NE(idA, idB);
    auto count = [&](std::vector<EventTriggerIn> &v) {
        std::lock_guard<std::mutex> lock(m);
        return v.size();
    };

    // An injected edge arrives at once, streaming or not.
    ASSERT_TRUE(testhooks::injectTriggerIn(kTaskelo, 1, 3));
    ASSERT_TRUE(waitFor([&] { return count(a) == 1 && count(b) == 1; }, 5000));
    EXPECT_EQ(a[0].edge, 1);
    EXPECT_EQ(a[0].id, 3);

    // An enabled input gives a 1 Hz square wave: 1 on whole seconds, 0 half a second later.
    vxtest::runLateButWhole(streamingCamera(camera));
    ASSERT_TRUE(camera->getTool(TOOL_TRIGGER_IN)->setBoolValue("channel_0", true));
    ASSERT_EQ(camera->start(), 0);
    ASSERT_TRUE(waitFor([&] { return count(a) >= 3; }, 60000));
    camera->removeTriggerInCallback(idB);
    const size_t bAfterRemove = count(b);
    ASSERT_TRUE(waitFor([&] { return count(a) >= 4; }, 60000));
    camera->stop();
    EXPECT_TRUE(onCameraThread);
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(b.size(), bAfterRemove);
    for (size_t i = 1; i < a.size(); ++i) {
        EXPECT_EQ(a[i].id, 0);
        EXPECT_EQ(a[i].timestamp % 500000, 0u);
        EXPECT_EQ(a[i].edge, a[i].timestamp % 1000000 == 0 ? 1 : 0);
        if (i > 1) {
            EXPECT_EQ(a[i].timestamp - a[i - 1].timestamp, 500000u);
        }
    }
}

TEST(CameraStreaming, RemovingACallbackWaitsForItsCallAndMayHappenInsideIt)
{
    vxtest::ScopedCameraFolder folder;
    DvsCameraManager manager;
    std::shared_ptr<DvsCamera> camera = manager.openCamera(kTaskelo);
    ASSERT_TRUE(camera);
    std::atomic<bool> inside{false}, finished{false};
    const int slow = camera->addTriggerInCallback([&](EventTriggerIn) {
        inside = true;
        sleepMs(100);
        finished = true;
    });
    ASSERT_TRUE(testhooks::injectTriggerIn(kTaskelo, 1));
    ASSERT_TRUE(waitFor([&] { return inside.load(); }, 10000));
    camera->removeTriggerInCallback(slow);
    EXPECT_TRUE(finished); // what the callback used may go now

    std::atomic<int> calls{0};
    std::shared_ptr<int> id = std::make_shared<int>(0);
    *id = camera->addTriggerInCallback([&, id](EventTriggerIn) {
        ++calls;
        camera->removeTriggerInCallback(*id);
    });
    ASSERT_TRUE(testhooks::injectTriggerIn(kTaskelo, 0));
    ASSERT_TRUE(testhooks::injectTriggerIn(kTaskelo, 1));
    ASSERT_TRUE(waitFor([&] { return calls.load() == 1; }, 10000));
    sleepMs(50);
    EXPECT_EQ(calls.load(), 1);
    camera->removeTriggerInCallback(-1); // unknown ids are fine
}
