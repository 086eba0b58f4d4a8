// vx-test-labels: tsan
// The simulated fusion camera as the window uses it: listing and opening, the
// three callback streams (events and edges in order on one thread, frames with
// one edge 1 each so pairing by order works), its calibration against what the
// two sensors see, the APS tool, losing the device, and fusion recordings it
// writes (three files, the video's frames on the recording's clock).
#include "camera/apsfilereader.h"
#include "camera/calibrationjson.h"
#include "camera/dvscameramanager.h"
#include "camera/dvsfilereader.h"
#include "camera/fusioncamera.h"
#include "driver/apstool.h"
#include "driver/cameratesthooks.h"
#include "driver/framesyncsource.h"
#include "driver/simulatedcamerakind.h"
#include "driver/simulatedfusioncamera.h"
#include "driver/simulatedfusioncamerakind.h"
#include "support/cameratestkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

using namespace vexadin;
using vxtest::waitFor;

namespace {

constexpr const char *kOmnira = SimulatedFusionCameraKind::kSerial;

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Sets an environment variable while it lives.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : name_(name)
    {
        if (const char *old = std::getenv(name)) {
            had_ = true;
            old_ = old;
        }
        ::setenv(name, value, 1);
    }
    ~ScopedEnv()
    {
        if (had_)
            ::setenv(name_.c_str(), old_.c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }

private:
    std::string name_, old_;
    bool had_ = false;
};

// A camera with a small frame sensor where the size does not matter. It runs
// late but whole on a loaded machine, so tests count frames in stream time.
std::shared_ptr<SimulatedFusionCamera> openOmnira(DvsCameraManager &manager, const char *frameSize = "320x180")
{
    ScopedEnv size("VEXADIN_FUSION_FRAME_SIZE", frameSize);
    auto camera = std::dynamic_pointer_cast<SimulatedFusionCamera>(manager.openFusionCamera(kOmnira));
    if (camera)
        vxtest::runLateButWhole(*camera->eventCamera());
    return camera;
}

// Streams until the camera has produced its stream `us` past camera time `from`.
bool streamFor(SimulatedFusionCamera &camera, uint64_t from, uint64_t us)
{
    return vxtest::waitStream(*camera.eventCamera(), from + us);
}

struct Frame {
    uint64_t number = 0;
    uint64_t timestamp = 0;
    ApsFrame picture; // a clone
};

// Everything the three callbacks deliver, as the fusion worker would receive it.
struct Capture {
    std::mutex mutex;
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> edges;
    std::vector<Frame> frames;
    // Position in `events` at each edge.
    std::vector<size_t> eventsBeforeEdge;
    std::thread::id eventThread, edgeThread;
    bool oneStreamThread = true;
    bool keepPictures = false;

    void attach(FusionCamera &camera)
    {
        camera.addEventsCallback([this](const Event2D *b, const Event2D *e) {
            std::lock_guard<std::mutex> lock(mutex);
            note(eventThread);
            events.insert(events.end(), b, e);
        });
        camera.addTriggerInCallback([this](const EventTriggerIn &edge) {
            std::lock_guard<std::mutex> lock(mutex);
            note(edgeThread);
            edges.push_back(edge);
            eventsBeforeEdge.push_back(events.size());
        });
        camera.addApsFrameCallback([this](ApsFrame frame) {
            std::lock_guard<std::mutex> lock(mutex);
            frames.push_back({frame.getFrameNumber(), frame.getTimestamp(), keepPictures ? frame.clone() : ApsFrame()});
        });
    }
    void note(std::thread::id &slot)
    {
        slot = std::this_thread::get_id();
        if (eventThread != std::thread::id() && edgeThread != std::thread::id() && eventThread != edgeThread)
            oneStreamThread = false;
    }
    size_t frameCount()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return frames.size();
    }
};

double meanLevel(const ApsFrame &f)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < f.getDataSize(); ++i)
        sum += f.data()[i];
    return double(sum) / double(f.getDataSize());
}

} // namespace

TEST(FusionCamera, ListedBesideTheEventCamerasAndOpenedOnlyAsAFusionCamera)
{
    vxtest::ScopedCameraFolder folder;
    DvsCameraManager manager;
    const auto descs = manager.getCameraDescs();
    const auto omnira = std::find_if(descs.begin(), descs.end(), [](const CameraDescription &d) {
        return d.serial == kOmnira;
    });
    ASSERT_NE(omnira, descs.end());
    EXPECT_EQ(omnira->product, "Omnira");
    EXPECT_EQ(omnira->width, 1280);
    EXPECT_EQ(omnira->height, 720);
    EXPECT_TRUE(std::any_of(descs.begin(), descs.end(), [](const CameraDescription &d) { return d.product == "EVK4"; }));

    EXPECT_EQ(manager.openCamera(kOmnira), nullptr);
    EXPECT_EQ(manager.openFusionCamera(SimulatedCameraKind::kEvk4Serial), nullptr);
    EXPECT_EQ(manager.openFusionCamera("no-such-camera"), nullptr);
    std::shared_ptr<FusionCamera> camera = manager.openFusionCamera(kOmnira);
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->getDescription().serial, kOmnira);
    EXPECT_EQ(camera->getFirmwareVersion(), "Omnira_V1.7.2");
    for (ToolType t : {TOOL_BIASES, TOOL_TRIGGER_IN, TOOL_ANTI_FLICKER, TOOL_EVENT_TRAIL_FILTER,
                       TOOL_EVENT_RATE_CONTROL, TOOL_ROI, TOOL_APS})
        EXPECT_NE(camera->getTool(t), nullptr) << t;
    // The side panel handles int, float and bool parameters only.
    for (const auto &[name, info] : camera->getTool(TOOL_APS)->getParameters())
        EXPECT_TRUE(info.type == PARAM_INT || info.type == PARAM_FLOAT || info.type == PARAM_BOOL) << name;

    vxtest::ScopedCameraFolder hidden(false);
    for (const CameraDescription &d : manager.getCameraDescs())
        EXPECT_NE(d.serial, kOmnira);
    EXPECT_EQ(manager.openFusionCamera(kOmnira), nullptr);
}

TEST(FusionCamera, FirmwareHookAndFrameSettingsApplyToCamerasOpenedLater)
{
    vxtest::ScopedCameraFolder folder;
    DvsCameraManager manager;
    auto before = openOmnira(manager);
    ASSERT_NE(before, nullptr);
    testhooks::setFusionFirmwareVersion("Omnira_V1.7.1");
    auto older = openOmnira(manager);
    testhooks::setFusionFirmwareVersion("no version here");
    auto unparsable = openOmnira(manager);
    testhooks::setFusionFirmwareVersion("");
    auto restored = openOmnira(manager);
    EXPECT_EQ(before->getFirmwareVersion(), "Omnira_V1.7.2");
    EXPECT_EQ(older->getFirmwareVersion(), "Omnira_V1.7.1");
    EXPECT_EQ(unparsable->getFirmwareVersion(), "no version here");
    EXPECT_EQ(restored->getFirmwareVersion(), "Omnira_V1.7.2");

    // Frame size and rate from the environment; values a camera cannot have are ignored.
    {
        ScopedEnv fps("VEXADIN_FUSION_FPS", "15");
        auto lowered = openOmnira(manager, "640x360");
        EXPECT_EQ(lowered->options().frameWidth, 640);
        EXPECT_EQ(lowered->options().frameHeight, 360);
        EXPECT_EQ(lowered->options().fps, 15u);
        CalibratorParameters c;
        ASSERT_TRUE(lowered->getCalibration(c));
        EXPECT_EQ(c.aps_width, 640);
        EXPECT_EQ(c.aps_height, 360);
    }
    for (const char *bad : {"641x360", "640", "0x0", "99999x360", "640x-2", "x"}) {
        ScopedEnv size("VEXADIN_FUSION_FRAME_SIZE", bad);
        ScopedEnv fps("VEXADIN_FUSION_FPS", "0");
        const SimulatedFusionCamera::Options options = SimulatedFusionCameraKind::optionsFromEnvironment();
        EXPECT_EQ(options.frameWidth, 3840) << bad;
        EXPECT_EQ(options.frameHeight, 2160) << bad;
        EXPECT_EQ(options.fps, 30u);
    }
}

TEST(FusionCamera, EachFrameHasOneEdgeAndPairingByOrderGivesItsOwnEvents)
{
    vxtest::ScopedCameraFolder folder;
    DvsCameraManager manager;
    auto camera = openOmnira(manager);
    ASSERT_NE(camera, nullptr);
    Capture capture;
    capture.attach(*camera);
    EXPECT_FALSE(camera->start(STREAM_DVS)); // the two sensors stream together
    ASSERT_TRUE(camera->start(STREAM_FUSION));
    ASSERT_TRUE(waitFor([&] { return capture.frameCount() >= 12; }, 60000));
    camera->stop(STREAM_FUSION);

    std::lock_guard<std::mutex> lock(capture.mutex);
    EXPECT_TRUE(capture.oneStreamThread);
    ASSERT_FALSE(capture.events.empty());
    EXPECT_TRUE(std::is_sorted(capture.events.begin(), capture.events.end(),
                               [](const Event2D &a, const Event2D &b) { return a.timestamp < b.timestamp; }));
    const int64_t offset = camera->apsTimeOffset();
    const auto &frames = capture.frames;
    std::vector<size_t> rising; // edges of value 1
    for (size_t i = 0; i < capture.edges.size(); ++i) {
        EXPECT_EQ(capture.edges[i].id, FrameSyncSource::kSyncChannel);
        if (capture.edges[i].edge == 1)
            rising.push_back(i);
    }
    // The frame under way when the stream started comes without its edge 1; every
    // later frame has one, at its time stamp (+ offset). The last edge may still be
    // exposing when the stream stopped.
    ASSERT_GE(frames.size(), 12u);
    ASSERT_TRUE(rising.size() + 1 == frames.size() || rising.size() == frames.size());
    for (size_t n = 1; n < frames.size(); ++n) {
        EXPECT_GT(frames[n].number, frames[n - 1].number); // frames skip only where the stream did
        EXPECT_EQ(int64_t(frames[n].timestamp) + offset, int64_t(capture.edges[rising[n - 1]].timestamp)) << n;
        // The edge 0 of the exposure comes after its edge 1 and before the next one.
        const EventTriggerIn &end = capture.edges[rising[n - 1] + 1];
        EXPECT_EQ(end.edge, 0);
        EXPECT_LT(end.timestamp - capture.edges[rising[n - 1]].timestamp, 1000000u / 30);
    }
    // Pairing by order: the n-th frame takes the events before the n-th edge 1 (and
    // after the one before); they all lie in that frame's period.
    size_t from = 0;
    for (size_t n = 0; n < rising.size(); ++n) {
        const size_t to = capture.eventsBeforeEdge[rising[n]];
        const uint64_t periodStart = uint64_t(int64_t(frames[n].timestamp) + offset);
        const uint64_t periodEnd = capture.edges[rising[n]].timestamp;
        ASSERT_LE(from, to);
        EXPECT_GT(to - from, 0u) << "frame " << n << " got no events";
        for (size_t i = from; i < to; ++i) {
            ASSERT_GE(capture.events[i].timestamp, periodStart) << "frame " << n;
            ASSERT_LT(capture.events[i].timestamp, periodEnd) << "frame " << n;
        }
        from = to;
    }
}

TEST(FusionCamera, CalibrationPutsEventEdgesOnTheFrameEdges)
{
    // Events taken while a frame was exposed, mapped into the frame by the camera's
    // calibration, lie on an edge of the picture (within a pixel of the event
    // sensor). The nominal design's affine, scaled to this frame, does not fit.
    vxtest::ScopedCameraFolder folder;
    DvsCameraManager manager;
    auto camera = openOmnira(manager, "1920x1080");
    ASSERT_NE(camera, nullptr);
    // The lamp flickers everywhere inside its disc, not only at edges: filtered away.
    auto flicker = camera->getTool(TOOL_ANTI_FLICKER);
    ASSERT_TRUE(flicker->setIntValue("low_frequency", 80));
    ASSERT_TRUE(flicker->setIntValue("high_frequency", 120));
    ASSERT_TRUE(flicker->setBoolValue("enable", true));
    Capture capture;
    capture.keepPictures = true;
    capture.attach(*camera);
    ASSERT_TRUE(camera->start(STREAM_FUSION));
    ASSERT_TRUE(waitFor([&] { return capture.frameCount() >= 7; }, 60000));
    camera->stop(STREAM_FUSION);

    CalibratorParameters calibration;
    ASSERT_TRUE(camera->getCalibration(calibration));
    const std::vector<double> toAps = calibration.transforms["1"].values;
    ASSERT_EQ(toAps.size(), 6u);
    // The default affine of the viewer's calibrator, for a 3840 x 2160 frame, halved.
    const double s = 3.351724137931035 / 2;
    const std::vector<double> nominal = {s, 0, -225.10344827586232 / 2, 0, s, -126.62068965517255 / 2};

    std::lock_guard<std::mutex> lock(capture.mutex);
    const auto onEdge = [&](const ApsFrame &f, const std::vector<double> &m, const Event2D &e) {
        const int u = int(e.y * m[1] + e.x * m[0] + m[2]), v = int(e.y * m[4] + e.x * m[3] + m[5]);
        // One event-sensor pixel is 1.6 frame pixels here: look that far around.
        int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
        for (int dv = -2; dv <= 2; ++dv)
            for (int du = -2; du <= 2; ++du) {
                const int x = u + du, y = v + dv;
                if (x < 0 || y < 0 || x >= f.getWidth() || y >= f.getHeight())
                    continue;
                const uint8_t *p = f.data() + (size_t(y) * f.getWidth() + x) * 3;
                for (int c = 0; c < 3; ++c) {
                    lo[c] = std::min<int>(lo[c], p[c]);
                    hi[c] = std::max<int>(hi[c], p[c]);
                }
            }
        return (hi[0] - lo[0]) + (hi[1] - lo[1]) + (hi[2] - lo[2]) > 24;
    };
    size_t checked = 0, fits = 0, fitsNominal = 0;
    for (size_t n = 1; n < capture.frames.size(); ++n) {
        // Pictures are drawn at the middle of the exposure: edge 1 at the frame's time.
        const uint64_t start = uint64_t(int64_t(capture.frames[n].timestamp) + camera->apsTimeOffset());
        const auto edge = std::find_if(capture.edges.begin(), capture.edges.end(), [&](const EventTriggerIn &e) {
            return e.edge == 0 && e.timestamp > start;
        });
        ASSERT_NE(edge, capture.edges.end());
        const uint64_t middle = start + (edge->timestamp - start) / 2;
        for (const Event2D &e : capture.events) {
            if (e.timestamp + 300 < middle || e.timestamp > middle + 300)
                continue;
            ++checked;
            fits += onEdge(capture.frames[n].picture, toAps, e);
            fitsNominal += onEdge(capture.frames[n].picture, nominal, e);
        }
    }
    ASSERT_GT(checked, 1000u);
    // Noise and hot pixels fire away from edges: a few percent.
    EXPECT_GT(double(fits) / checked, 0.85) << fits << " of " << checked;
    EXPECT_LT(double(fitsNominal) / checked, 0.3) << fitsNominal << " of " << checked;
}

TEST(FusionCamera, ApsToolSettingsActOnTheFrames)
{
    vxtest::ScopedCameraFolder folder;
    DvsCameraManager manager;
    auto camera = openOmnira(manager);
    ASSERT_NE(camera, nullptr);
    auto aps = camera->getTool(TOOL_APS);
    Capture capture;
    capture.keepPictures = true;
    capture.attach(*camera);
    ASSERT_TRUE(camera->start(STREAM_FUSION));
    // Mean level of a frame exposed wholly under the settings made before `since`.
    const auto levelAfter = [&](size_t since) {
        EXPECT_TRUE(waitFor([&] { return capture.frameCount() >= since + 3; }, 60000));
        std::lock_guard<std::mutex> lock(capture.mutex);
        return meanLevel(capture.frames.back().picture);
    };
    const double nominal = levelAfter(capture.frameCount());
    ASSERT_TRUE(aps->setIntValue("exposure_time", ApsTool::kNominalExposureUs / 4));
    const double shorter = levelAfter(capture.frameCount());
    ASSERT_TRUE(aps->setFloatValue("analog_gain", 4.0f));
    const double amplified = levelAfter(capture.frameCount());
    EXPECT_LT(shorter, nominal * 0.5);
    EXPECT_NEAR(amplified, nominal, nominal * 0.1);
    EXPECT_FALSE(aps->setIntValue("exposure_time", 40000)); // longer than a frame at 30 fps

    // Auto exposure brings a dark picture to its target and shows the exposure it chose.
    ASSERT_TRUE(aps->setFloatValue("analog_gain", 1.0f));
    ASSERT_TRUE(aps->setIntValue("auto_exposure_target", 60));
    ASSERT_TRUE(aps->setBoolValue("auto_exposure", true));
    const double settled = levelAfter(capture.frameCount() + 20);
    int exposure = 0;
    ASSERT_TRUE(aps->getIntValue("exposure_time", exposure));
    EXPECT_NEAR(settled, 60, 10);
    EXPECT_NE(exposure, ApsTool::kNominalExposureUs / 4);
    camera->stop(STREAM_FUSION);
}

TEST(FusionCamera, AdoptsOnlyCalibrationFilesWithUsableTransforms)
{
    vxtest::ScopedCameraFolder folder;
    vxtest::ScopedTempFolder files("fusioncal");
    DvsCameraManager manager;
    auto camera = openOmnira(manager);
    ASSERT_NE(camera, nullptr);
    CalibratorParameters factory;
    ASSERT_TRUE(camera->getCalibration(factory));
    ASSERT_EQ(factory.transforms.count("0") + factory.transforms.count("1"), 2u);

    const auto write = [&](const std::string &name, const std::string &text) {
        std::ofstream(files.file(name)) << text;
        return files.file(name);
    };
    CalibratorParameters noInverse = factory;
    noInverse.transforms.erase("0");
    CalibratorParameters singular = factory;
    singular.transforms["1"].values = {0, 0, 5, 0, 0, 7};
    ASSERT_TRUE(paramToJsonFile(noInverse, files.file("noinverse.json")));
    ASSERT_TRUE(paramToJsonFile(singular, files.file("singular.json")));
    for (const std::string &path :
         {files.file("missing.json"), write("garbage.json", "{\"format\": \"vexadin-calibration\", \"label\": "),
          write("other.json", "{\"some\": \"settings\"}"), files.file("noinverse.json"), files.file("singular.json"),
          files.path()}) {
        EXPECT_FALSE(camera->writeCalibrationFile(path)) << path;
        CalibratorParameters now;
        ASSERT_TRUE(camera->getCalibration(now));
        EXPECT_EQ(now.transforms["1"].values, factory.transforms["1"].values) << path;
    }

    // A manual calibration (the translation moved) is kept exactly, then given back.
    CalibratorParameters manual = factory;
    manual.label = "manual";
    manual.transforms["1"].values[2] += 12.5;
    manual.transforms["0"].values[2] -= 0.1;
    ASSERT_TRUE(paramToJsonFile(manual, files.file("manual.json")));
    ASSERT_TRUE(camera->writeCalibrationFile(files.file("manual.json")));
    CalibratorParameters now;
    ASSERT_TRUE(camera->getCalibration(now));
    EXPECT_EQ(now.label, "manual");
    EXPECT_EQ(now.transforms["1"].values, manual.transforms["1"].values);
    EXPECT_EQ(now.transforms["0"].values, manual.transforms["0"].values);
}

TEST(FusionCamera, UnpluggedShutDownOrReopenedCameraStopsDelivering)
{
    vxtest::ScopedCameraFolder folder;
    DvsCameraManager manager;
    {
        auto camera = openOmnira(manager);
        Capture capture;
        capture.attach(*camera);
        ASSERT_TRUE(camera->start(STREAM_FUSION));
        ASSERT_TRUE(waitFor([&] { return capture.frameCount() >= 2; }, 60000));
        ASSERT_TRUE(testhooks::unplugCamera(kOmnira));
        ASSERT_TRUE(waitFor([&] { return !camera->isConnected(); }, 60000));
        // The stream ends with the unplug (a step under way is finished); frames
        // exposed before it may still be on their way, none after it.
        const uint64_t unplugged = camera->eventCamera()->producedUntil();
        sleepMs(300);
        EXPECT_FALSE(camera->start(STREAM_FUSION));
        camera->stop(STREAM_FUSION);
        const uint64_t end = camera->eventCamera()->producedUntil();
        EXPECT_LE(end, unplugged + StreamingCamera::kMaxStepUs);
        std::lock_guard<std::mutex> lock(capture.mutex);
        for (const Frame &f : capture.frames)
            EXPECT_LE(int64_t(f.timestamp) + camera->apsTimeOffset(), int64_t(end));
    }
    {
        auto first = openOmnira(manager);
        ASSERT_TRUE(first->start(STREAM_FUSION));
        auto second = openOmnira(manager);
        EXPECT_TRUE(waitFor([&] { return !first->isConnected(); }, 60000));
        EXPECT_TRUE(second->isConnected());
        second->shutdown();
        EXPECT_FALSE(second->isConnected());
        EXPECT_FALSE(second->start(STREAM_FUSION));
        EXPECT_FALSE(second->startRecording(folder.path(), "after", STREAM_FUSION));
    }
}

namespace {

// A fusion recording's three files as a viewer reads them.
struct RecordedSet {
    vxtest::RecordingContent raw;
    DvsFileInfo info;
    uint64_t first = 0, last = 0; // the event recording's range
    std::vector<uint64_t> frameTimes;
};

RecordedSet readSet(const std::string &base)
{
    RecordedSet set;
    set.raw = vxtest::readRecording(base + ".raw");
    auto events = DvsFileReader::createFileReader(base + ".raw");
    EXPECT_TRUE(events && events->open() && events->getFileInfo(set.info) && events->getStartTimestamp(set.first) &&
                events->getEndTimestamp(set.last));
    auto video = ApsFileReader::createFileReader(base + ".mp4");
    EXPECT_TRUE(video && video->open() && video->getFrameIndex(set.frameTimes));
    return set;
}

uint64_t checksum(const ApsFrame &f)
{
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < f.getDataSize(); i += 7)
        h = (h ^ f.data()[i]) * 1099511628211ull;
    return h;
}

} // namespace

TEST(FusionRecording, ThreeSecondsGiveThreeFilesOnOneClock)
{
    vxtest::ScopedCameraFolder folder;
    vxtest::ScopedTempFolder out("fusionrec");
    DvsCameraManager manager;
    auto camera = openOmnira(manager, "640x360");
    ASSERT_NE(camera, nullptr);
    ASSERT_TRUE(camera->start(STREAM_FUSION));
    // The recording starts while the stream runs, mid-frame.
    ASSERT_TRUE(streamFor(*camera, 0, 300000 + 1000000 / 60));
    EXPECT_FALSE(camera->stopRecording(STREAM_FUSION));
    EXPECT_FALSE(camera->startRecording(out.path(), "rec.2024", STREAM_APS));
    const uint64_t started = camera->eventCamera()->cameraTime();
    ASSERT_TRUE(camera->startRecording(out.path(), "rec.2024", STREAM_FUSION));
    EXPECT_FALSE(camera->startRecording(out.path(), "again", STREAM_FUSION));
    ASSERT_TRUE(streamFor(*camera, started, 3000000));
    ASSERT_TRUE(camera->stopRecording(STREAM_FUSION));
    camera->stop(STREAM_FUSION);

    std::vector<std::string> names = out.entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"rec.2024.json", "rec.2024.mp4", "rec.2024.raw"}));
    const std::string base = out.file("rec.2024");
    const RecordedSet set = readSet(base);
    ASSERT_TRUE(set.raw.ok);
    EXPECT_EQ(set.raw.metadataValue("camera_kind"), "fusion");

    // 30 frames for each second of stream time (the recording may hold a little
    // more than the 3 s waited for); the video's clock starts with the recording.
    const size_t frames = set.frameTimes.size();
    const double seconds = double(set.last - set.first) / 1e6;
    EXPECT_GE(seconds, 2.95);
    EXPECT_GE(double(frames), seconds * 30 - 2) << seconds << " s";
    EXPECT_LE(double(frames), seconds * 30 + 1) << seconds << " s";
    ASSERT_GT(frames, 0u);
    const int64_t offset = set.info.apsTimeOffset;
    EXPECT_GT(offset, 0);
    EXPECT_LE(uint64_t(offset), set.first);
    EXPECT_LT(set.frameTimes.front(), 500000u); // a player shows the picture at once
    // The first frame is the first exposure that began inside the recorded stream.
    EXPECT_LT(set.frameTimes.front() + offset, set.first + 1000000 / 30 + 1000);
    // Every frame lies inside the event recording, exactly at its edge 1 there.
    std::vector<uint64_t> rising;
    for (const EventTriggerIn &t : set.raw.triggers)
        if (t.id == FrameSyncSource::kSyncChannel && t.edge == 1)
            rising.push_back(t.timestamp);
    for (uint64_t t : set.frameTimes) {
        const uint64_t eventTime = uint64_t(int64_t(t) + offset);
        EXPECT_GE(eventTime, set.first);
        EXPECT_LE(eventTime, set.last);
        EXPECT_TRUE(std::binary_search(rising.begin(), rising.end(), eventTime)) << eventTime;
    }
    // Each recorded edge 1 has its frame, but the last one's exposure may have ended after the stop.
    EXPECT_LE(rising.size() - frames, 1u);

    // The calibration file holds the camera's calibration.
    CalibratorParameters stored, live;
    ASSERT_TRUE(jsonFileToParam(base + ".json", stored));
    ASSERT_TRUE(camera->getCalibration(live));
    EXPECT_EQ(stored.transforms["1"].values, live.transforms["1"].values);
    EXPECT_EQ(stored.aps_width, 640);

    // Every frame decodes; a frame found by its time is the same as read in order,
    // and reading on gives the one after it.
    auto video = ApsFileReader::createFileReader(base + ".mp4");
    ASSERT_TRUE(video && video->open());
    EXPECT_EQ(video->getWidth(), 640);
    std::vector<uint64_t> sums;
    ApsFrame frame;
    while (video->readNextFrame(frame)) {
        EXPECT_EQ(frame.getTimestamp(), set.frameTimes[sums.size()]);
        sums.push_back(checksum(frame));
    }
    ASSERT_EQ(sums.size(), frames);
    std::mt19937_64 random(13);
    for (int i = 0; i < 12; ++i) {
        const uint64_t t = random() % (set.frameTimes.back() + 40000);
        const size_t expected =
            size_t(std::upper_bound(set.frameTimes.begin(), set.frameTimes.end(), t) - set.frameTimes.begin());
        ASSERT_TRUE(video->readFrameAt(t, frame)) << t;
        const size_t index = expected == 0 ? 0 : expected - 1; // before the first frame: the first
        EXPECT_EQ(frame.getTimestamp(), set.frameTimes[index]) << t;
        EXPECT_EQ(checksum(frame), sums[index]) << t;
        if (index + 1 < frames) {
            ASSERT_TRUE(video->readNextFrame(frame));
            EXPECT_EQ(checksum(frame), sums[index + 1]) << t;
        }
    }
}

TEST(FusionRecording, AStalledEncoderLosesFramesButNeverHoldsTheStreamUp)
{
    vxtest::ScopedCameraFolder folder;
    vxtest::ScopedTempFolder out("fusionslow");
    DvsCameraManager manager;
    auto camera = openOmnira(manager);
    ASSERT_NE(camera, nullptr);
    // The encoder takes its first frame and then hangs until released.
    std::atomic<bool> release{false};
    ApsVideoWriterOptions stalled;
    stalled.beforeEncode = [&release](const ApsFrame &) {
        while (!release)
            sleepMs(1);
    };
    camera->setVideoOptionsForTesting(stalled);
    Capture capture;
    capture.attach(*camera);
    ASSERT_TRUE(camera->start(STREAM_FUSION));
    const uint64_t started = camera->eventCamera()->cameraTime();
    ASSERT_TRUE(camera->startRecording(out.path(), "slow", STREAM_FUSION));
    // Frames go to the recording before the callbacks: once a frame 1.5 s into the
    // recording has been delivered, every frame up to it was offered to the encoder.
    int64_t stalledUntil = 0;
    const auto lastFrameTime = [&] {
        std::lock_guard<std::mutex> lock(capture.mutex);
        return capture.frames.empty() ? 0 : int64_t(capture.frames.back().timestamp) + camera->apsTimeOffset();
    };
    ASSERT_TRUE(waitFor([&] { return (stalledUntil = lastFrameTime()) >= int64_t(started) + 1500000; }, 60000));
    release = true;
    ASSERT_TRUE(camera->stopRecording(STREAM_FUSION));
    camera->stop(STREAM_FUSION);

    // Every frame of the recorded stretch still reached the callbacks, and every
    // event reached the file; the video holds only what the encoder's queue took.
    const RecordedSet set = readSet(out.file("slow"));
    size_t during = 0;
    {
        std::lock_guard<std::mutex> lock(capture.mutex);
        for (const Frame &f : capture.frames) {
            const int64_t t = int64_t(f.timestamp) + camera->apsTimeOffset();
            during += t >= int64_t(started) && t <= int64_t(set.last);
        }
    }
    EXPECT_GE(double(during + camera->framesDropped()), double(set.last - started) * 30 / 1e6 - 2);
    EXPECT_GE(during, 40u);
    EXPECT_EQ(camera->eventsDropped(), 0u);
    EXPECT_GE(set.last - set.first, 1400000u);
    // Of those, the video holds the one the encoder hung on and what its queue took.
    const size_t whileStalled = size_t(std::count_if(set.frameTimes.begin(), set.frameTimes.end(), [&](uint64_t t) {
        return int64_t(t) + set.info.apsTimeOffset <= stalledUntil;
    }));
    EXPECT_GE(whileStalled, 1u);
    EXPECT_LE(whileStalled, ApsVideoWriterOptions().queueFrames + 1);
    EXPECT_GT(set.raw.events.size(), 0u);
}

TEST(FusionCamera, AllCallbackThreadsRunWhileTheWindowChangesSettingsAndRecords)
{
    // Under ThreadSanitizer: events, edges, frames and statistics on the camera's
    // threads, a recording, and the GUI thread's tool changes at the same time.
    vxtest::ScopedCameraFolder folder;
    vxtest::ScopedTempFolder out("fusionthreads");
    DvsCameraManager manager;
    auto camera = openOmnira(manager);
    ASSERT_NE(camera, nullptr);
    Capture capture;
    capture.attach(*camera);
    std::atomic<int> statistics{0};
    std::atomic<uint64_t> bandwidth{0};
    camera->setStatisticInfoCallback([&](VxStatisticInfo info) {
        bandwidth = info.bandwidth;
        ++statistics;
    });
    ASSERT_TRUE(camera->start(STREAM_FUSION));
    std::atomic<bool> done{false};
    std::thread settings([&] {
        auto aps = camera->getTool(TOOL_APS);
        auto roi = camera->getTool(TOOL_ROI);
        for (int i = 0; !done; ++i) {
            aps->setIntValue("exposure_time", 2000 + (i % 10) * 1000);
            aps->setBoolValue("auto_exposure", i % 3 == 0);
            roi->setBoolValue("enable", i % 2 == 0);
            CalibratorParameters c;
            camera->getCalibration(c);
            sleepMs(5);
        }
    });
    ASSERT_TRUE(camera->startRecording(out.path(), "threads", STREAM_FUSION));
    ASSERT_TRUE(waitFor([&] { return statistics.load() >= 1 && capture.frameCount() >= 40; }, 60000));
    camera->addEventsCallback([](const Event2D *, const Event2D *) {}); // while streaming
    EXPECT_TRUE(camera->stopRecording(STREAM_FUSION));
    camera->stop(STREAM_FUSION);
    ASSERT_TRUE(camera->start(STREAM_FUSION));
    sleepMs(100);
    done = true;
    settings.join();
    camera->shutdown();
    camera.reset(); // joins every thread with callbacks still registered
    // Frames count into the bandwidth: far more than the events' 4 bytes each.
    EXPECT_GT(bandwidth.load(), 320u * 180 * 3 * 20);
}
