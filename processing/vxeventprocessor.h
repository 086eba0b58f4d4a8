#pragma once

#include "app/appsettings.h"
#include "app/vxmessagetype.h"
#include "camera/dvsfilereader.h"
#include "camera/event2d.h"
#include "camera/operationcontrol.h"
#include "processing/vxrangejob.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class QSocketNotifier;

// Turns events into images at the sensor's size and plays .raw recordings back.
//
// Rendering: producers add events to the accumulation buffer (`accumulate`) and end a
// frame with `publishFrame`; the render worker draws the finished counts into an image
// and emits it. Each pixel takes the colour of the polarity that fired more often
// during the frame (each polarity counted up to `countCap`), ties go to polarity 1.
// The frame has the size of the source's sensor: setSensorSize() is the one place it
// changes (a loaded recording sets it from its header; whoever opens a camera calls it
// with the camera's size); 1280 x 720 until then or when the size is unknown.
//
// Playback: one window of the recording per step, one step every 33,333 µs of wall
// time; a step advances the position by 1,000,000 / fps µs and shows `accTime` µs.
//
// Export and cut of a range are jobs queued per kind: one of each kind runs at a time
// and the next starts when it ends, the GUI thread never waits. Long work (the index
// rebuild of a load, exports, cuts) reports its progress and stops on slotCancelJobs().
//
// All slots are called on the GUI thread. Worker results reach the GUI thread through
// one queue and are emitted there, each tied to the load (or playback run) it belongs
// to: results of a load that has been replaced are dropped. Rendered images are the
// exception: the render worker emits them itself.
class VxEventProcessor : public QObject {
    Q_OBJECT
public:
    // The frame size while the sensor size is unknown.
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 720;
    // Larger sensors are not rendered (a frame would take hundreds of MB); they fall
    // back to the default size.
    static constexpr int kMaxSide = 4096;
    static constexpr uint8_t countCap = 10;
    static constexpr uint64_t kStepPeriodUs = 33333;

    // Reads the colour scheme from `settings` for every drawn frame; the store must
    // outlive the processor. Null means AppSettings::instance() (GUI thread only).
    explicit VxEventProcessor(AppSettings *settings = nullptr, QObject *parent = nullptr);
    ~VxEventProcessor() override;

    VxEventProcessor(const VxEventProcessor &) = delete;
    VxEventProcessor &operator=(const VxEventProcessor &) = delete;

    // Adds the events of [first, last) to the frame being collected. Any thread.
    void accumulate(const vexadin::Event2D *first, const vexadin::Event2D *last);
    void accumulate(const std::vector<vexadin::Event2D> &events)
    {
        accumulate(events.data(), events.data() + events.size());
    }
    // Ends the current frame and hands it to the render worker. Any thread.
    void publishFrame();
    // Live camera: reports the latest batch timestamp, then publishes the frame.
    void publishLiveFrame();

    // Renders from now on at width x height: the frame being collected is dropped and
    // frames are that size from the next one. 0, negative or more than kMaxSide (with a
    // warning) means unknown: kWidth x kHeight. Any thread; live producers may keep
    // accumulating meanwhile.
    void setSensorSize(int width, int height);
    QSize frameSize() const;

    // Draws counts (W*H*2 entries, (y*W + x)*2 + polarity, W x H the image's size) into
    // an RGB888 image. Exposed for the benchmarks; allocation-free when `image` is not
    // shared.
    static void drawCounts(const uint8_t *counts, QImage &image, const EventColors &colors);

    bool isPlaying() const { return playing_.load(); }
    // An export or cut is queued or running and has not been cancelled.
    bool hasRangeJobs() const;

public slots:
    void loadFile(QString path);
    void slotPlaybackCtrl(bool play);
    void slotPlaybackReset();
    void slotPlayLoop(bool on);
    void preFrame();
    void nextFrame();
    void setPlayPos(uint64_t timestamp_us);
    void setFps(int fps);
    void setAccTime(uint64_t time_us);
    void slotSetLowerTimeStamp(uint64_t timestamp_us);
    void slotSetUpperTimeStamp(uint64_t timestamp_us);
    void slotExportVideo(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts, uint64_t end_ts);
    void slotCutRawFile(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts, uint64_t end_ts);
    // Stops the long work: a load that rebuilds the index (the engine is then empty),
    // every queued and running export and cut (no file, no notification). Each still
    // ends with signalLoadingStatus(false).
    void slotCancelJobs();

signals:
    void signalEventImage(QImage image);
    void signalRealTimeTimeStamp(uint64_t timestamp_us);
    void signalStartTimeStamp(uint64_t timestamp_us);
    void signalEndTimeStamp(uint64_t timestamp_us);
    void signalPlayStatus(bool playing);
    // One per load, export or cut: true when it starts (or is queued), false when it
    // ends, whichever way; a window counts them.
    void signalLoadingStatus(bool loading);
    // Share done of the long work under way (the mean over the running and queued
    // exports and cuts and a load rebuilding its index), a few times per second.
    void signalProgress(double fraction);
    void signalShowLeftBottomTips(QString tips, VxMessageType type = VxMessageType::Success,
                                  QString file_path = QString());

private:
    // Which results a posted one belongs to: those of a replaced load or of a stopped
    // playback run are dropped.
    enum class Channel { Load, Playback, Job };
    struct Posted {
        Channel channel;
        uint64_t id;
        std::function<void()> deliver;
    };
    // Export and cut jobs of one kind, run one after the other by one worker.
    struct JobLane {
        std::deque<std::shared_ptr<VxRangeJob>> pending; // guarded by jobsMutex_
        std::shared_ptr<VxRangeJob> running;             // guarded by jobsMutex_
        bool draining = false; // guarded by jobsMutex_: the worker takes the next job
        std::thread worker;    // GUI thread
    };
    static constexpr uint64_t kLoadProgressKey = 0; // job ids start at 1

    void renderLoop();
    void playbackLoop(uint64_t runId, uint64_t loadId);
    void loadingTask(uint64_t loadId, std::shared_ptr<vexadin::OperationControl> control);
    void finishLoad(bool cancelled, uint64_t lower, uint64_t upper, int width, int height);
    void startRangeJob(VxRangeJob::Kind kind, const QString &outPath, const QString &outDir, uint64_t start, uint64_t end);
    void drainLane(JobLane *lane);
    void finishRangeJob(const VxRangeJob &job, bool ok, bool cancelled,
                        const std::vector<vexadin::OperationControl::Range> &unreadable);
    void noteProgress(uint64_t key, double fraction);
    // From a worker: runs `deliver` on the GUI thread unless its load or run is stale.
    void post(Channel channel, uint64_t id, std::function<void()> deliver);
    Q_INVOKABLE void deliverPosted();
    // Stops a running playback worker and tells the GUI; true when it was playing.
    void stopPlaybackForStep();
    // Joins the playback worker; the positions it reported are emitted first unless
    // deliverPositions is false (destruction).
    void stopPlaybackWorker(bool deliverPositions = true);
    // Accumulates and publishes one read window; reports `positionTs` before publishing.
    void showEvents(const std::vector<vexadin::Event2D> &events, uint64_t positionTs);
    bool hasRecording() const;

    // Rendering.
    AppSettings *settings_;
    // Counts never exceed countCap, so a byte holds one: a 1280 x 720 buffer (1.8 MB)
    // then stays in a core's cache, which roughly doubles the accumulation rate.
    // Buffers, pointers and size change together, under both mutexes.
    std::vector<uint8_t> countsA_;
    std::vector<uint8_t> countsB_;
    uint8_t *accumulation_;        // guarded by accumulationMutex_
    uint8_t *display_;             // guarded by renderMutex_
    int width_ = kWidth;           // guarded by either mutex for reading
    int height_ = kHeight;
    QImage images_[2];             // drawn alternately so a receiver's copy rarely forces a detach
    int nextImage_ = 0;            // render worker only
    std::atomic<uint64_t> latestBatchTs_{0};
    mutable std::mutex renderMutex_;       // buffer swap and drawing
    mutable std::mutex accumulationMutex_; // accumulation buffer: live producer vs. publisher
    std::condition_variable renderWake_;  // a frame is pending, or the worker must stop
    std::condition_variable renderTaken_; // the worker has taken the pending frame
    bool framePending_ = false;    // guarded by renderMutex_
    bool renderRunning_ = false;   // guarded by renderMutex_
    std::thread renderWorker_;

    // Playback. Values below are written on the GUI thread and read by the workers.
    std::unique_ptr<vexadin::DvsFileReader> reader_;
    std::string readerPath_; // local 8-bit path of the open recording (GUI thread)
    std::atomic<int> fps_{33};
    std::atomic<uint64_t> playInterval_{1000000 / 33};
    std::atomic<uint64_t> accTime_{33333};
    std::atomic<bool> loopEnabled_{false};
    std::atomic<bool> playing_{false};
    std::atomic<uint64_t> currentTs_{0};
    std::atomic<uint64_t> upperTs_{0};
    std::atomic<uint64_t> lowerTs_{0};
    std::atomic<bool> loading_{false};
    std::mutex playbackMutex_; // serialises every use of reader_
    std::mutex pacingMutex_;   // lets a stop cut the step's sleep short
    std::condition_variable pacingWake_;
    std::thread playbackWorker_;
    std::thread loadingWorker_;
    // GUI thread: the current load and playback run; posted results of others are stale.
    uint64_t loadId_ = 0;
    uint64_t playRunId_ = 0;
    std::shared_ptr<vexadin::OperationControl> loadControl_; // GUI thread

    // Export and cut.
    mutable std::mutex jobsMutex_;
    JobLane lanes_[2]; // by VxRangeJob::Kind: export, cut
    uint64_t nextJobId_ = 0;               // GUI thread
    std::map<uint64_t, double> progress_;  // GUI thread: share done per job under way

    // Results on their way to the GUI thread. A byte in the pipe wakes the GUI thread:
    // no Qt event crosses threads (whose hand-over ThreadSanitizer cannot follow).
    std::mutex postedMutex_;
    std::vector<Posted> posted_;
    int wakeFds_[2] = {-1, -1};
    QSocketNotifier *wakeNotifier_ = nullptr;
};
