#pragma once

#include "camera/event2d.h"
#include "camera/eventtriggerin.h"
#include "driver/rawfilewriter.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexadin {

class RecordingCache;

// Writes a camera's stream to recordings and to its recording cache on a thread of
// its own. The producer hands over each step of the stream; nothing is skipped.
// The queue between them is bounded (by the queue limit, or one step when a single
// step is larger): when the disk cannot keep up and the queue is full, a step's
// events are not queued but counted, logged and stored in the recording's header
// metadata (key kLostEventsKey), never lost silently.
//
// Commands (start, stop, cache) pass through the same queue as the data, so a
// recording begins exactly after the data that went to the cache before it: a
// recording that starts with the cache on holds the cached seconds and then the
// live stream, without gap or duplicate at the join.
class StreamRecorder {
public:
    static constexpr size_t kDefaultQueueEvents = 6u << 20; // ~100 MB of events
    // Header metadata: events that could not be written in time, as 20 decimal digits.
    static constexpr const char *kLostEventsKey = "lost_events";

    // header: sensor size, serial, product (start time and metadata are filled in).
    // name: the camera, for log lines.
    StreamRecorder(RawFileHeader header, std::string name);
    ~StreamRecorder(); // finishes a running recording, removes the cache files, joins

    StreamRecorder(const StreamRecorder &) = delete;
    StreamRecorder &operator=(const StreamRecorder &) = delete;

    // Any thread. False (with a log line) when a recording runs already or the file
    // cannot be created; nothing is written then.
    bool startRecording(const std::string &path);
    // Waits until the file is finished (index written). False when no recording
    // ran, or when the file could not be completed (logged).
    bool stopRecording();
    // seconds = 0 turns the cache off (its files are gone when this returns).
    bool setCache(uint16_t seconds, const std::string &dir);

    bool recording() const { return recording_.load(); }
    // Producer: whether push() has anyone to write for.
    bool wantsData() const { return recording_.load(std::memory_order_relaxed) || cacheOn_.load(std::memory_order_relaxed); }

    // Producer: the stream of camera time [t0, t1), after the camera's tools, each
    // span in time order. Never blocks on the disk.
    void push(uint64_t t0, uint64_t t1, const Event2D *events, const Event2D *eventsEnd,
              const EventTriggerIn *triggers, const EventTriggerIn *triggersEnd);

    // Events not written in time since this recorder was made.
    uint64_t lostEvents() const { return lostTotal_.load(); }
    // Segment files of the cache now on disk (waits for the queue; for tests).
    std::vector<std::string> cacheFiles();

    // Tests: a small queue and a slow disk.
    void setQueueLimit(size_t events);
    void setWriteDelayForTesting(uint64_t microsecondsPerStep);

private:
    struct Item;
    bool submit(std::unique_ptr<Item> item, bool wait);
    void run();
    void process(Item &item);
    bool finishRecording();
    void reportLoss(uint64_t t0, uint64_t t1, uint64_t count);

    const RawFileHeader header_;
    const std::string name_;

    std::mutex control_; // serialises start/stop/cache from the API threads
    std::atomic<bool> recording_{false};
    std::atomic<bool> cacheOn_{false};
    std::atomic<uint16_t> cacheSeconds_{0};
    std::string activePath_; // under control_
    std::atomic<uint64_t> lostTotal_{0};

    std::mutex mutex_; // the queue
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<std::unique_ptr<Item>> queue_;
    std::vector<std::unique_ptr<Item>> spare_; // emptied data items, their buffers kept
    size_t queuedEvents_ = 0;
    size_t queueLimit_ = kDefaultQueueEvents;
    uint64_t finishedCommands_ = 0;
    uint64_t submittedCommands_ = 0;
    bool commandResult_ = false;
    bool quit_ = false;
    std::atomic<uint64_t> writeDelayUs_{0};

    // Recorder thread only.
    std::unique_ptr<RawFileWriter> writer_;
    std::string path_;
    bool writeFailed_ = false;
    uint64_t lostInRecording_ = 0;
    uint64_t lastEnd_ = 0; // end of the last step processed
    std::unique_ptr<RecordingCache> cache_;
    uint64_t lossReportedAt_ = 0;
    uint64_t lossSinceReport_ = 0;
    std::vector<std::string> cacheFiles_;

    std::thread thread_;
};

} // namespace vexadin
