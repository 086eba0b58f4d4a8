// vx-test-labels: tsan
// Recording from our cameras: the file holds the delivered stream and passes
// vxraw check; refused starts write nothing; the recording cache puts the seconds
// before a trigger in front of a recording without gap or duplicate and keeps its
// disk use bounded; a disk that cannot keep up is counted, logged and stored;
// closing the camera finishes the file.
#include "camera/dvscamera.h"
#include "camera/dvscameramanager.h"
#include "driver/cameratesthooks.h"
#include "driver/driverlog.h"
#include "driver/rawfilereader.h"
#include "driver/simulatedcamerakind.h"
#include "driver/streamingcamera.h"
#include "driver/streamrecorder.h"
#include "support/cameratestkit.h"
#include "support/syntheticevents.h"
#include "vxrawcommands.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <thread>

using namespace vexadin;
using vxtest::waitFor;

namespace {

constexpr const char *kTaskelo = SimulatedCameraKind::kTaskeloSerial;

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool exists(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

int vxrawCheck(const std::string &path, std::string *err = nullptr)
{
    std::ostringstream out, errors;
    const int status = runVxrawArgs({"check", path}, out, errors);
    if (err)
        *err = errors.str();
    return status;
}

struct LogCapture {
    std::mutex m;
    std::vector<std::string> lines;
    LogCapture()
    {
        setDriverLogHook([this](DriverLogLevel, const std::string &line) {
            std::lock_guard<std::mutex> lock(m);
            lines.push_back(line);
        });
    }
    ~LogCapture() { setDriverLogHook({}); }
    size_t count(const std::string &fragment)
    {
        std::lock_guard<std::mutex> lock(m);
        size_t n = 0;
        for (const std::string &l : lines)
            n += l.find(fragment) != std::string::npos;
        return n;
    }
};

} // namespace

TEST(CameraRecording, RecordingWhileStreamingIsAWholeFileOfTheCamera)
{
    vxtest::ScopedCameraFolder cameras;
    vxtest::ScopedTempFolder out("rec");
    DvsCameraManager manager;
    std::shared_ptr<DvsCamera> camera = manager.openCamera(kTaskelo);
    ASSERT_TRUE(camera);
    camera->setBatchSliceTime(10000);
    ASSERT_EQ(camera->start(), 0);
    sleepMs(50);
    const std::string path = out.file("live.raw");
    ASSERT_TRUE(camera->startRecording(path));
    std::vector<Event2D> batch;
    uint64_t fetched = 0, lastFetched = 0;
    waitFor([&] {
        if (camera->getNextBatch(batch) && !batch.empty()) {
            lastFetched = batch.back().timestamp;
            fetched += batch.size();
        }
        return false;
    }, 400);
    ASSERT_TRUE(camera->stopRecording());
    EXPECT_FALSE(camera->stopRecording()); // nothing runs any more
    EXPECT_GT(fetched, 0u);

    std::string err;
    EXPECT_EQ(vxrawCheck(path, &err), 0) << err;
    auto reader = RawFileReader::create(path);
    ASSERT_TRUE(reader && reader->open());
    EXPECT_FALSE(reader->indexRebuilt());
    DvsFileInfo info;
    ASSERT_TRUE(reader->getFileInfo(info));
    EXPECT_EQ(info.serial, kTaskelo);
    EXPECT_EQ(info.product, "Taskelo");
    EXPECT_EQ(info.width, 640);
    EXPECT_EQ(info.height, 480);
    EXPECT_GT(info.eventCount, 0u);
    const vxtest::RecordingContent content = vxtest::readRecording(path);
    EXPECT_EQ(content.metadataValue(StreamRecorder::kLostEventsKey), "00000000000000000000");
    EXPECT_EQ(content.metadataValue("camera_kind"), "simulated");
    // Up to the last batch delivered while it ran, and the camera goes on streaming.
    EXPECT_GE(info.endTimestamp, lastFetched);
    EXPECT_TRUE(waitFor([&] { return camera->getNextBatch(batch); }, 10000));
}

TEST(CameraRecording, RefusedStartsWriteNothing)
{
    vxtest::ScopedCameraFolder cameras;
    vxtest::ScopedTempFolder out("refused");
    DvsCameraManager manager;
    std::shared_ptr<DvsCamera> camera = manager.openCamera(kTaskelo);
    ASSERT_TRUE(camera);
    ASSERT_EQ(camera->start(), 0);
    LogCapture log;
    EXPECT_FALSE(camera->startRecording(out.file("no/such/folder/a.raw")));
    EXPECT_FALSE(camera->startRecording(""));
    EXPECT_EQ(log.count("cannot record to"), 2u);
    ASSERT_TRUE(camera->startRecording(out.file("first.raw")));
    EXPECT_FALSE(camera->startRecording(out.file("second.raw")));
    EXPECT_EQ(log.count("a recording to"), 1u);
    EXPECT_FALSE(exists(out.file("second.raw")));
    sleepMs(100);
    ASSERT_TRUE(camera->stopRecording());
    EXPECT_EQ(vxrawCheck(out.file("first.raw")), 0);
    EXPECT_FALSE(camera->setRecordingCache(2, out.file("missing-folder")));
    const std::vector<std::string> expected = {"first.raw"};
    EXPECT_EQ(out.entries(), expected);
}

TEST(CameraRecording, CacheBeforeATriggerJoinsTheLiveStreamWithoutGapOrDuplicate)
{
    vxtest::ScopedCameraFolder cameras;
    vxtest::ScopedTempFolder out("cache");
    vxtest::ScopedTempFolder cacheDir("cachedir");
    // A replay camera: its stream is known exactly, so the file can be checked event by event.
    vxtest::SyntheticOptions o;
    o.seed = 5;
    o.width = 320;
    o.height = 240;
    o.eventRate = 2e5;
    o.durationUs = 700000;
    const std::vector<Event2D> source = vxtest::generateEvents(o);
    RawFileHeader h;
    h.width = 320;
    h.height = 240;
    ASSERT_TRUE(vxtest::writeRecording(cameras.file("source.raw"), source, {}, h));
    const uint64_t fileStart = source.front().timestamp;
    const uint64_t period = source.back().timestamp - fileStart + 1;

    DvsCameraManager manager;
    std::shared_ptr<DvsCamera> camera = manager.openCamera("source");
    ASSERT_TRUE(camera);
    StreamingCamera &streaming = vxtest::streamingCamera(camera);
    vxtest::runLateButWhole(streaming);
    // A short recording from the very start tells where the replay began.
    ASSERT_TRUE(camera->startRecording(out.file("probe.raw")));
    ASSERT_EQ(camera->start(), 0);
    ASSERT_TRUE(waitFor([&] { return streaming.deliveredEvents() > 1000; }, 50000));
    ASSERT_TRUE(camera->stopRecording());
    const vxtest::RecordingContent probe = vxtest::readRecording(out.file("probe.raw"));
    ASSERT_TRUE(probe.ok && !probe.events.empty());
    const uint64_t base = probe.events.front().timestamp;

    ASSERT_TRUE(camera->setRecordingCache(1, cacheDir.path()));
    std::mutex m;
    std::vector<EventTriggerIn> triggers;
    std::atomic<bool> started{false};
    const std::string path = out.file("triggered.raw");
    const int callback = camera->addTriggerInCallback([&](EventTriggerIn t) {
        if (t.edge != 1)
            return;
        std::lock_guard<std::mutex> lock(m);
        triggers.push_back(t);
        started = camera->startRecording(path);
    });
    ASSERT_TRUE(vxtest::waitStream(streaming, base + 1500000));
    ASSERT_TRUE(testhooks::injectTriggerIn("source", 1));
    ASSERT_TRUE(waitFor([&] { return started.load(); }, 10000));
    uint64_t triggerTime = 0;
    {
        std::lock_guard<std::mutex> lock(m);
        ASSERT_EQ(triggers.size(), 1u);
        triggerTime = triggers[0].timestamp;
    }
    ASSERT_TRUE(vxtest::waitStream(streaming, triggerTime + 400000));
    ASSERT_TRUE(camera->stopRecording());
    camera->removeTriggerInCallback(callback);

    const vxtest::RecordingContent rec = vxtest::readRecording(path);
    ASSERT_TRUE(rec.ok);
    ASSERT_FALSE(rec.events.empty());
    // It begins one second before the trigger (the join is a few steps after it).
    EXPECT_GE(rec.events.front().timestamp + 1000000, triggerTime);
    EXPECT_LE(rec.events.front().timestamp + 1000000, triggerTime + 200000);
    ASSERT_EQ(rec.triggers.size(), 1u);
    EXPECT_EQ(rec.triggers[0].timestamp, triggerTime);
    EXPECT_GT(rec.events.back().timestamp, triggerTime + 300000);

    // Exactly the replayed stream over the file's span: nothing missing, nothing twice.
    const uint64_t from = rec.events.front().timestamp, to = rec.events.back().timestamp + 1;
    std::vector<Event2D> expected;
    for (uint64_t loop = (from - base) / period; base + loop * period < to; ++loop)
        for (Event2D e : source) {
            e.timestamp = e.timestamp - fileStart + base + loop * period;
            if (e.timestamp >= from && e.timestamp < to)
                expected.push_back(e);
        }
    EXPECT_EQ(rec.events.size(), expected.size());
    EXPECT_TRUE(rec.events == expected);
}

TEST(CameraRecording, CacheDiskUseStaysBoundedAndItsFilesGoAway)
{
    vxtest::ScopedCameraFolder cameras;
    vxtest::ScopedTempFolder cacheDir("bounded");
    vxtest::SyntheticOptions o;
    o.width = 320;
    o.height = 240;
    o.eventRate = 1e5;
    o.durationUs = 500000;
    RawFileHeader h;
    h.width = 320;
    h.height = 240;
    h.serial = "bounded";
    ASSERT_TRUE(vxtest::writeRecording(cameras.file("bounded.raw"), vxtest::generateEvents(o), {}, h));
    DvsCameraManager manager;
    std::shared_ptr<DvsCamera> camera = manager.openCamera("bounded");
    ASSERT_TRUE(camera);
    vxtest::runLateButWhole(vxtest::streamingCamera(camera));
    ASSERT_TRUE(camera->setRecordingCache(1, cacheDir.path()));
    const uint64_t start = vxtest::streamingCamera(camera).cameraTime();
    ASSERT_EQ(camera->start(), 0);
    ASSERT_TRUE(vxtest::waitStream(vxtest::streamingCamera(camera), start + 2600000));
    // One-second segments: the one being written and the ones reaching back one second.
    const std::vector<std::string> files = vxtest::streamingCamera(camera).recorder().cacheFiles();
    EXPECT_GE(files.size(), 2u);
    EXPECT_LE(files.size(), 3u);
    EXPECT_EQ(cacheDir.entries().size(), files.size());
    ASSERT_TRUE(camera->setRecordingCache(0, "."));
    EXPECT_TRUE(cacheDir.entries().empty());

    // Files of a process that died are cleared away, others' files are left alone.
    const std::string orphan = cacheDir.file("vxcache_bounded_999999999_0.raw");
    const std::string foreign = cacheDir.file("notes.raw");
    { std::ofstream(orphan) << "x"; std::ofstream(foreign) << "y"; }
    ASSERT_TRUE(camera->setRecordingCache(1, cacheDir.path()));
    EXPECT_FALSE(exists(orphan));
    EXPECT_TRUE(waitFor([&] { return cacheDir.entries().size() == 2; }, 10000)); // a segment and the foreign file
    camera.reset(); // closing the camera removes its cache
    const std::vector<std::string> left = {"notes.raw"};
    EXPECT_EQ(cacheDir.entries(), left);
}

TEST(CameraRecording, ADiskThatCannotKeepUpIsCountedLoggedAndStored)
{
    vxtest::ScopedCameraFolder cameras;
    vxtest::ScopedTempFolder out("slowdisk");
    // A dense replay: the queue fills at once, however slow the machine.
    vxtest::SyntheticOptions o;
    o.width = 320;
    o.height = 240;
    o.eventRate = 2e6;
    o.durationUs = 200000;
    RawFileHeader h;
    h.width = 320;
    h.height = 240;
    ASSERT_TRUE(vxtest::writeRecording(cameras.file("dense.raw"), vxtest::generateEvents(o), {}, h));
    DvsCameraManager manager;
    std::shared_ptr<DvsCamera> handle = manager.openCamera("dense");
    ASSERT_TRUE(handle);
    StreamingCamera &camera = vxtest::streamingCamera(handle);
    camera.recorder().setQueueLimit(2000);
    camera.recorder().setWriteDelayForTesting(50000); // 50 ms per step of 2 ms or more
    LogCapture log;
    ASSERT_EQ(camera.start(), 0);
    const std::string path = out.file("lossy.raw");
    ASSERT_TRUE(camera.startRecording(path));
    ASSERT_TRUE(waitFor([&] { return camera.recorder().lostEvents() > 0; }, 20000));
    sleepMs(200);
    ASSERT_TRUE(camera.stopRecording());
    camera.stop();
    const uint64_t lost = camera.recorder().lostEvents();
    EXPECT_GT(lost, 0u);
    const vxtest::RecordingContent content = vxtest::readRecording(path);
    ASSERT_TRUE(content.ok);
    EXPECT_FALSE(content.events.empty());
    // The file counts what it lacks; the camera also counted a last step or so that
    // came as the recording stopped.
    const uint64_t stored = std::stoull(content.metadataValue(StreamRecorder::kLostEventsKey));
    EXPECT_LE(stored, lost);
    EXPECT_GE(double(stored), 0.9 * double(lost));
    EXPECT_GE(log.count("could not be written in time"), 2u); // while it happens, and for the file
    EXPECT_EQ(vxrawCheck(path), 0);
}

TEST(CameraRecording, ClosingTheCameraWhileRecordingFinishesTheFile)
{
    vxtest::ScopedCameraFolder cameras;
    vxtest::ScopedTempFolder out("closing");
    const std::string path = out.file("closed.raw");
    {
        DvsCameraManager manager;
        std::shared_ptr<DvsCamera> camera = manager.openCamera(kTaskelo);
        ASSERT_TRUE(camera);
        ASSERT_EQ(camera->start(), 0);
        ASSERT_TRUE(camera->startRecording(path));
        sleepMs(150);
    }
    auto reader = RawFileReader::create(path);
    ASSERT_TRUE(reader && reader->open());
    EXPECT_FALSE(reader->indexRebuilt());
    EXPECT_EQ(vxrawCheck(path), 0);
}
