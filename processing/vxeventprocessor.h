#pragma once

#include "app/appsettings.h"
#include "app/vxmessagetype.h"
#include "camera/dvsfilereader.h"
#include "camera/event2d.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Turns events into 1280 x 720 images and plays .raw recordings back.
//
// Rendering: producers add events to the accumulation buffer (`accumulate`) and end a
// frame with `publishFrame`; the render worker draws the finished counts into an image
// and emits it. Each pixel takes the colour of the polarity that fired more often
// during the frame (each polarity counted up to `countCap`), ties go to polarity 1.
//
// Playback: one window of the recording per step, one step every 33,333 µs of wall
// time; a step advances the position by 1,000,000 / fps µs and shows `accTime` µs.
// Export and cut of a range run on their own workers.
//
// All slots are called on the GUI thread; every worker reports through signals.
class VxEventProcessor : public QObject {
    Q_OBJECT
public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 720;
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

    // Draws counts (W*H*2 entries, (y*W + x)*2 + polarity) into an RGB888 image of
    // kWidth x kHeight. Exposed for the benchmarks; allocation-free when `image` is
    // not shared.
    static void drawCounts(const uint8_t *counts, QImage &image, const EventColors &colors);

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

signals:
    void signalEventImage(QImage image);
    void signalRealTimeTimeStamp(uint64_t timestamp_us);
    void signalStartTimeStamp(uint64_t timestamp_us);
    void signalEndTimeStamp(uint64_t timestamp_us);
    void signalPlayStatus(bool playing);
    void signalLoadingStatus(bool loading);
    void signalShowLeftBottomTips(QString tips, VxMessageType type = VxMessageType::Success,
                                  QString file_path = QString());

private:
    enum class RangeJob { Export, Cut };

    void renderLoop();
    void playbackLoop();
    void loadingTask();
    void rangeTask(RangeJob job, std::string sourcePath, QString outPath, QString outDir,
                   uint64_t start, uint64_t end);
    void startRangeJob(RangeJob job, const QString &outPath, const QString &outDir,
                       uint64_t start, uint64_t end);
    // Stops a running playback worker and tells the GUI; true when it was playing.
    void stopPlaybackForStep();
    void stopPlaybackWorker();
    // Accumulates and publishes one read window; reports `positionTs` before publishing.
    void showEvents(const std::vector<vexadin::Event2D> &events, uint64_t positionTs);
    bool hasRecording() const;

    // Rendering.
    AppSettings *settings_;
    // Counts never exceed countCap, so a byte holds one: the buffer (1.8 MB) then
    // stays in a core's cache, which roughly doubles the accumulation rate.
    std::vector<uint8_t> countsA_;
    std::vector<uint8_t> countsB_;
    uint8_t *accumulation_;        // guarded by accumulationMutex_
    uint8_t *display_;             // guarded by renderMutex_
    QImage images_[2];             // drawn alternately so a receiver's copy rarely forces a detach
    int nextImage_ = 0;            // render worker only
    std::atomic<uint64_t> latestBatchTs_{0};
    std::mutex renderMutex_;       // buffer swap and drawing
    std::mutex accumulationMutex_; // accumulation buffer: live producer vs. publisher
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
    std::thread exportWorker_;
    std::thread cutWorker_;
};
