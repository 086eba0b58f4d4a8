#pragma once

#include "camera/dvscamera.h"
#include "driver/callbackdispatcher.h"
#include "driver/liveslicer.h"
#include "driver/streamrecorder.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vexadin {

class EventFilterStage;
class EventSource;

// The camera runtime shared by our simulated and replay cameras. A producer thread
// advances the camera in small steps of camera time (µs since the camera was
// opened, from a monotonic clock): each step takes the source's events, passes
// them through the filter tools in camera order (the tools' settings are picked up
// per step), and hands the result to
//   - the live slicer, from which getNextBatch takes the newest complete slice;
//   - the stream recorder (recordings and the recording cache), which never skips;
//   - the statistics, counted per second of camera time;
// and the trigger-in edges to the callback thread. Stopping and starting never
// turns time back: a restarted stream continues at the present time.
class StreamingCamera : public DvsCamera {
public:
    static constexpr uint64_t kMinStepUs = 2000;
    static constexpr uint64_t kMaxStepUs = 20000;
    // A producer this far behind (a stalled machine) jumps to the present: the
    // stream gets a quiet gap instead of a growing delay.
    static constexpr uint64_t kMaxLagUs = 500000;

    struct Setup {
        CameraDescription description;
        std::vector<std::pair<ToolType, std::shared_ptr<CameraTool>>> tools;
        std::vector<EventFilterStage *> stages; // camera order; owned by the tools above
        std::unique_ptr<EventSource> source;
    };

    explicit StreamingCamera(Setup setup);
    ~StreamingCamera() override;

    bool isConnected() override;
    int addTriggerInCallback(std::function<void(EventTriggerIn)> callback) override;
    void removeTriggerInCallback(int id) override;
    bool getNextBatch(std::vector<Event2D> &events) override;
    void setBatchSliceTime(uint64_t sliceUs) override;
    int start() override;
    void stop() override;
    bool startRecording(const std::string &path) override;
    bool setRecordingCache(uint16_t seconds, const std::string &dir) override;
    bool stopRecording() override;
    void setStatisticInfoCallback(std::function<void(VxStatisticInfo)> callback) override;

    // Driver side: the camera manager, the test hooks and tests.
    // getNextBatch, also giving the slice's bounds [start, end) in camera time and
    // the number of slices skipped before it.
    bool fetchSlice(std::vector<Event2D> &events, uint64_t &start, uint64_t &end, uint64_t *skipped = nullptr);
    void unplug();   // as if the cable were pulled
    void takeOver(); // the same device was opened again through another handle
    // An edge at the present camera time, delivered like the inputs' own.
    void injectTrigger(int16_t edge, int16_t channel);
    uint64_t cameraTime() const; // µs since open
    bool streaming() const;
    uint64_t skippedSlices() const { return slicer_.skippedSlices(); }
    uint64_t deliveredEvents() const { return delivered_.load(); }
    // Times the producer fell the maximum lag behind and jumped to the present.
    uint64_t lagJumps() const { return lagJumps_.load(); }
    // How far behind the producer may fall before it jumps (default kMaxLagUs).
    // Tests on slow (sanitizer) builds raise it: the stream then runs late but whole.
    void setMaxLag(uint64_t us) { maxLagUs_.store(us); }
    // Camera time up to which the stream has been produced (0 before the first start).
    uint64_t producedUntil() const;
    // Bytes per event the statistics count: one event word of our recording format.
    uint64_t bytesPerEvent() const { return bytesPerEvent_; }
    static constexpr uint64_t kBytesPerTrigger = 12;
    StreamRecorder &recorder() { return recorder_; }

private:
    enum class Lost { No, Unplugged, TakenOver };
    void run();
    void step(uint64_t t0, uint64_t t1, std::vector<EventTriggerIn> &injected);
    void countStatistics(uint64_t t1);
    bool deviceConnected() const;

    const std::chrono::steady_clock::time_point opened_;
    std::unique_ptr<EventSource> source_;
    std::vector<EventFilterStage *> stages_;
    const uint64_t bytesPerEvent_;

    LiveSlicer slicer_;
    CallbackDispatcher dispatcher_;
    StreamRecorder recorder_;

    mutable std::mutex mutex_;
    std::condition_variable wake_; // the producer waits here
    std::condition_variable idle_; // stop() waits here for a step to end
    bool quit_ = false;
    bool streaming_ = false;
    bool startPending_ = false;
    bool stepping_ = false;
    uint64_t cursor_ = 0; // camera time up to which the stream was produced
    std::vector<EventTriggerIn> injected_;
    std::atomic<int> lost_{0}; // a Lost value
    bool lostLogged_ = false;

    // Producer thread only.
    std::vector<Event2D> events_;
    std::vector<EventTriggerIn> triggers_;
    uint64_t statsEnd_ = 0;
    uint64_t statsEvents_ = 0;
    uint64_t statsTriggers_ = 0;
    bool lagLogged_ = false;

    std::atomic<uint64_t> delivered_{0};
    std::atomic<uint64_t> lagJumps_{0};
    std::atomic<uint64_t> maxLagUs_{kMaxLagUs};
    std::thread thread_;
};

} // namespace vexadin
