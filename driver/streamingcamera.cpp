#include "driver/streamingcamera.h"

#include "driver/driverlog.h"
#include "driver/eventfilterstage.h"
#include "driver/eventsource.h"
#include "driver/rawformat.h"

#include <algorithm>

namespace vexadin {

namespace {

RawFileHeader recordingHeader(const CameraDescription &d)
{
    RawFileHeader h;
    h.width = d.width;
    h.height = d.height;
    h.serial = d.serial;
    h.product = d.product;
    h.metadata.emplace_back("camera_kind", d.kind);
    return h;
}

std::string cameraName(const CameraDescription &d)
{
    return "camera " + d.serial;
}

} // namespace

StreamingCamera::StreamingCamera(Setup setup)
    : DvsCamera(setup.description, std::move(setup.tools)),
      opened_(std::chrono::steady_clock::now()),
      source_(std::move(setup.source)),
      stages_(std::move(setup.stages)),
      bytesPerEvent_(rawformat::EventPacking::forSensor(setup.description.width, setup.description.height).wordBytes),
      dispatcher_(cameraName(setup.description)),
      recorder_(recordingHeader(setup.description), cameraName(setup.description))
{
    thread_ = std::thread([this] { run(); });
}

StreamingCamera::~StreamingCamera()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
    // The recorder (a running recording is finished), the callback thread and the
    // source go with the members.
}

uint64_t StreamingCamera::cameraTime() const
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - opened_).count());
}

bool StreamingCamera::deviceConnected() const
{
    return lost_.load() == int(Lost::No) && source_->connected();
}

bool StreamingCamera::isConnected()
{
    return deviceConnected();
}

uint64_t StreamingCamera::producedUntil() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return cursor_;
}

bool StreamingCamera::streaming() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return streaming_;
}

int StreamingCamera::addTriggerInCallback(std::function<void(EventTriggerIn)> callback)
{
    return dispatcher_.addTriggerCallback(std::move(callback));
}

void StreamingCamera::removeTriggerInCallback(int id)
{
    dispatcher_.removeTriggerCallback(id);
}

void StreamingCamera::setStatisticInfoCallback(std::function<void(VxStatisticInfo)> callback)
{
    dispatcher_.setStatisticsCallback(std::move(callback));
}

bool StreamingCamera::getNextBatch(std::vector<Event2D> &events)
{
    if (!deviceConnected())
        return false;
    return slicer_.fetch(events);
}

bool StreamingCamera::fetchSlice(std::vector<Event2D> &events, uint64_t &start, uint64_t &end, uint64_t *skipped)
{
    if (!deviceConnected())
        return false;
    return slicer_.fetch(events, &start, &end, skipped);
}

void StreamingCamera::setBatchSliceTime(uint64_t sliceUs)
{
    slicer_.setSliceLength(sliceUs);
}

int StreamingCamera::start()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!deviceConnected())
        return -1;
    if (!streaming_) {
        streaming_ = true;
        startPending_ = true;
        wake_.notify_all();
    }
    return 0;
}

void StreamingCamera::stop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    // No new step starts from here on (a producer running behind would otherwise
    // keep starting steps while we wait); nothing of the step under way may reach
    // a consumer after stop() returned.
    streaming_ = false;
    startPending_ = false;
    idle_.wait(lock, [&] { return !stepping_; });
    slicer_.end();
}

bool StreamingCamera::startRecording(const std::string &path)
{
    return recorder_.startRecording(path);
}

bool StreamingCamera::setRecordingCache(uint16_t seconds, const std::string &dir)
{
    return recorder_.setCache(seconds, dir);
}

bool StreamingCamera::stopRecording()
{
    return recorder_.stopRecording();
}

void StreamingCamera::unplug()
{
    int expected = int(Lost::No);
    lost_.compare_exchange_strong(expected, int(Lost::Unplugged));
    wake_.notify_all();
}

void StreamingCamera::takeOver()
{
    int expected = int(Lost::No);
    lost_.compare_exchange_strong(expected, int(Lost::TakenOver));
    wake_.notify_all();
}

void StreamingCamera::injectTrigger(int16_t edge, int16_t channel)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        injected_.emplace_back(channel, edge, 0);
    }
    wake_.notify_all();
}

void StreamingCamera::run()
{
    std::vector<EventTriggerIn> injected;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (quit_)
            return;
        if (streaming_ && !deviceConnected()) {
            streaming_ = false;
            startPending_ = false;
            slicer_.end();
            if (!lostLogged_) {
                lostLogged_ = true;
                const int why = lost_.load();
                driverLog(DriverLogLevel::Warning,
                          "camera " + getDescription().serial + ": connection lost: " +
                              (why == int(Lost::Unplugged)   ? std::string("unplugged")
                               : why == int(Lost::TakenOver) ? std::string("opened again through another handle")
                                                             : source_->lostReason()));
            }
            continue;
        }
        if (!streaming_) {
            if (!injected_.empty()) {
                // Not streaming: the edge still reaches the callbacks and a recording.
                injected.swap(injected_);
                const uint64_t t = std::max(cameraTime(), cursor_);
                for (EventTriggerIn &e : injected)
                    e.timestamp = t;
                cursor_ = t;
                lock.unlock();
                if (recorder_.wantsData())
                    recorder_.push(t, t + 1, nullptr, nullptr, injected.data(), injected.data() + injected.size());
                dispatcher_.postTriggers(injected.data(), injected.data() + injected.size());
                injected.clear();
                lock.lock();
                continue;
            }
            wake_.wait(lock, [&] { return quit_ || streaming_ || !injected_.empty(); });
            continue;
        }
        if (startPending_) {
            startPending_ = false;
            cursor_ = std::max(cameraTime(), cursor_);
            stepping_ = true;
            lock.unlock();
            source_->startAt(cursor_);
            slicer_.begin(cursor_);
            statsEnd_ = cursor_ + 1000000;
            statsEvents_ = statsTriggers_ = 0;
            lock.lock();
            stepping_ = false;
            idle_.notify_all();
            continue;
        }
        const uint64_t now = cameraTime();
        if (now < cursor_ + kMinStepUs) {
            wake_.wait_for(lock, std::chrono::microseconds(cursor_ + kMinStepUs - now));
            continue;
        }
        uint64_t t0 = cursor_;
        if (now - t0 > maxLagUs_.load(std::memory_order_relaxed)) {
            if (!lagLogged_)
                driverLog(DriverLogLevel::Warning, "camera " + getDescription().serial + ": fell " +
                                                       std::to_string((now - t0) / 1000) +
                                                       " ms behind; the stream skips to the present");
            lagLogged_ = true;
            lagJumps_.fetch_add(1);
            t0 = now - kMaxStepUs;
        }
        const uint64_t t1 = std::min(now, t0 + kMaxStepUs);
        injected.swap(injected_);
        stepping_ = true;
        lock.unlock();
        step(t0, t1, injected);
        injected.clear();
        lock.lock();
        stepping_ = false;
        cursor_ = t1;
        idle_.notify_all();
    }
}

void StreamingCamera::step(uint64_t t0, uint64_t t1, std::vector<EventTriggerIn> &injected)
{
    events_.clear();
    triggers_.clear();
    source_->produce(t0, t1, events_, triggers_);
    for (EventFilterStage *stage : stages_)
        stage->apply(events_, t0, t1);
    if (!injected.empty()) {
        for (EventTriggerIn &e : injected) {
            e.timestamp = t1 - 1;
            triggers_.push_back(e);
        }
        std::stable_sort(triggers_.begin(), triggers_.end(),
                         [](const EventTriggerIn &a, const EventTriggerIn &b) { return a.timestamp < b.timestamp; });
    }

    const Event2D *eb = events_.data(), *ee = eb + events_.size();
    const EventTriggerIn *tb = triggers_.data(), *te = tb + triggers_.size();
    // The recorder first: whatever a consumer fetched is then already on its way
    // into a recording that runs, also when the recording stops right after.
    if (recorder_.wantsData())
        recorder_.push(t0, t1, eb, ee, tb, te);
    slicer_.add(eb, ee, t1);
    countStatistics(t1);
    delivered_.fetch_add(events_.size(), std::memory_order_relaxed);
    dispatcher_.postTriggers(tb, te);
}

void StreamingCamera::countStatistics(uint64_t t1)
{
    // Whole seconds of camera time: the rate is what was delivered in that second.
    auto ev = events_.begin();
    auto tr = triggers_.begin();
    while (statsEnd_ <= t1) {
        const auto evEnd = std::lower_bound(ev, events_.end(), statsEnd_,
                                            [](const Event2D &e, uint64_t t) { return e.timestamp < t; });
        const auto trEnd = std::lower_bound(tr, triggers_.end(), statsEnd_,
                                            [](const EventTriggerIn &e, uint64_t t) { return e.timestamp < t; });
        statsEvents_ += static_cast<uint64_t>(evEnd - ev);
        statsTriggers_ += static_cast<uint64_t>(trEnd - tr);
        ev = evEnd;
        tr = trEnd;
        VxStatisticInfo info;
        info.eventRate = statsEvents_;
        info.bandwidth = statsEvents_ * bytesPerEvent_ + statsTriggers_ * kBytesPerTrigger;
        dispatcher_.postStatistics(info);
        statsEvents_ = statsTriggers_ = 0;
        statsEnd_ += 1000000;
    }
    statsEvents_ += static_cast<uint64_t>(events_.end() - ev);
    statsTriggers_ += static_cast<uint64_t>(triggers_.end() - tr);
}

} // namespace vexadin
