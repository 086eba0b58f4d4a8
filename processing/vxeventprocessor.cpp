#include "processing/vxeventprocessor.h"

#include <QDebug>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <limits>

namespace {

constexpr size_t kCountEntries = size_t(VxEventProcessor::kWidth) * VxEventProcessor::kHeight * 2;

uint64_t saturatingAdd(uint64_t a, uint64_t b)
{
    return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max() : a + b;
}

// Winner of the per-pixel vote for every (on, off) pair of capped counts:
// 0 = background, 1 = positive, 2 = negative. Index on * 11 + off.
constexpr int kVoteSide = VxEventProcessor::countCap + 1;
constexpr std::array<uint8_t, kVoteSide * kVoteSide> makeVoteTable()
{
    std::array<uint8_t, kVoteSide * kVoteSide> table{};
    for (int on = 0; on < kVoteSide; ++on) {
        for (int off = 0; off < kVoteSide; ++off) {
            uint8_t winner = 0;
            if (on > 0 && on >= off)
                winner = 1;
            else if (off > 0 && off > on)
                winner = 2;
            table[size_t(on * kVoteSide + off)] = winner;
        }
    }
    return table;
}
constexpr auto kVoteTable = makeVoteTable();

QImage makeImage(QRgb background)
{
    QImage image(VxEventProcessor::kWidth, VxEventProcessor::kHeight, QImage::Format_RGB888);
    image.fill(QColor::fromRgb(background));
    return image;
}

// A playback step draws a frame only for a window that holds events.
bool hasEvents(const std::shared_ptr<std::vector<vexadin::Event2D>> &events)
{
    return events && !events->empty();
}

bool sameFile(const std::string &localA, const QString &b)
{
    const QString canonicalA = QFileInfo(QString::fromLocal8Bit(localA.c_str())).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

} // namespace

VxEventProcessor::VxEventProcessor(AppSettings *settings, QObject *parent)
    : QObject(parent),
      settings_(settings ? settings : &AppSettings::instance()),
      countsA_(kCountEntries, 0),
      countsB_(kCountEntries, 0),
      accumulation_(countsA_.data()),
      display_(countsB_.data())
{
    const QRgb background = settings_->eventColors().background;
    images_[0] = makeImage(background);
    images_[1] = makeImage(background);
    // Set before the thread starts: a destructor that runs before the worker's
    // first wait must still see it and stop it.
    renderRunning_ = true;
    renderWorker_ = std::thread(&VxEventProcessor::renderLoop, this);
}

VxEventProcessor::~VxEventProcessor()
{
    stopPlaybackWorker();
    // The loading worker uses reader_, the range workers read the same file: all must
    // finish before the reader goes.
    if (loadingWorker_.joinable())
        loadingWorker_.join();
    if (exportWorker_.joinable())
        exportWorker_.join();
    if (cutWorker_.joinable())
        cutWorker_.join();
    {
        std::lock_guard<std::mutex> lock(renderMutex_);
        renderRunning_ = false;
    }
    renderWake_.notify_one();
    renderTaken_.notify_all();
    renderWorker_.join();
    reader_.reset();
}

// ---------------------------------------------------------------------------
// Rendering

void VxEventProcessor::accumulate(const vexadin::Event2D *first, const vexadin::Event2D *last)
{
    if (first == last)
        return;
    {
        std::lock_guard<std::mutex> lock(accumulationMutex_);
        uint8_t *counts = accumulation_;
        constexpr ptrdiff_t kAhead = 16; // events are scattered over the frame: fetch early
        const vexadin::Event2D *prefetchEnd = last - std::min<ptrdiff_t>(kAhead, last - first);
        for (const vexadin::Event2D *e = first; e != last; ++e) {
            if (e < prefetchEnd) {
                const vexadin::Event2D &ahead = e[kAhead];
                if (ahead.x < unsigned(kWidth) && ahead.y < unsigned(kHeight))
                    __builtin_prefetch(counts + (size_t(ahead.y) * kWidth + ahead.x) * 2, 1);
            }
            const unsigned x = e->x;
            const unsigned y = e->y;
            if (x >= unsigned(kWidth) || y >= unsigned(kHeight))
                continue;
            uint8_t &count = counts[(size_t(y) * kWidth + x) * 2 + (e->polarity != 0)];
            count = uint8_t(count + (count < countCap));
        }
    }
    latestBatchTs_.store(first->timestamp, std::memory_order_relaxed);
}

void VxEventProcessor::publishFrame()
{
    std::unique_lock<std::mutex> render(renderMutex_);
    // Until the worker has taken the previous frame, swapping again would throw that
    // frame away unseen (the last frame of a recording, for one). The wait is short:
    // the worker takes a pending frame as soon as it gets the mutex.
    renderTaken_.wait(render, [this] { return !framePending_ || !renderRunning_; });
    std::lock_guard<std::mutex> acc(accumulationMutex_);
    std::swap(accumulation_, display_);
    framePending_ = true;
    renderWake_.notify_one();
    std::memset(accumulation_, 0, kCountEntries);
}

void VxEventProcessor::publishLiveFrame()
{
    emit signalRealTimeTimeStamp(latestBatchTs_.load(std::memory_order_relaxed));
    publishFrame();
}

void VxEventProcessor::drawCounts(const uint8_t *counts, QImage &image, const EventColors &colors)
{
    uchar palette[3][3];
    const QRgb rgbs[3] = {colors.background, colors.positive, colors.negative};
    for (int i = 0; i < 3; ++i) {
        palette[i][0] = uchar(qRed(rgbs[i]));
        palette[i][1] = uchar(qGreen(rgbs[i]));
        palette[i][2] = uchar(qBlue(rgbs[i]));
    }
    uchar *bits = image.bits(); // detaches only when a receiver still holds this image
    const qsizetype stride = image.bytesPerLine();
    for (int y = 0; y < kHeight; ++y) {
        uchar *out = bits + y * stride;
        const uint8_t *c = counts + size_t(y) * kWidth * 2;
        for (int x = 0; x < kWidth; ++x, c += 2, out += 3) {
            const unsigned off = std::min<unsigned>(c[0], countCap);
            const unsigned on = std::min<unsigned>(c[1], countCap);
            const uchar *rgb = palette[kVoteTable[on * kVoteSide + off]];
            out[0] = rgb[0];
            out[1] = rgb[1];
            out[2] = rgb[2];
        }
    }
}

void VxEventProcessor::renderLoop()
{
    std::unique_lock<std::mutex> lock(renderMutex_);
    for (;;) {
        // A frame published while we were drawing is remembered, not lost.
        renderWake_.wait(lock, [this] { return framePending_ || !renderRunning_; });
        const bool stopping = !renderRunning_;
        framePending_ = false;
        renderTaken_.notify_all();
        QImage &image = images_[nextImage_];
        nextImage_ ^= 1;
        drawCounts(display_, image, settings_->eventColors());
        emit signalEventImage(image);
        if (stopping)
            return;
    }
}

// ---------------------------------------------------------------------------
// Loading

bool VxEventProcessor::hasRecording() const
{
    return reader_ && !loading_.load();
}

void VxEventProcessor::loadFile(QString path)
{
    qDebug() << "Load raw file: " << path;
    if (loading_.load()) {
        qDebug() << "is loading.";
        return;
    }
    emit signalPlayStatus(false);
    // The window answers the signal above by stopping playback; do it here as well so
    // the reader never goes away under a running worker, whoever is connected.
    stopPlaybackWorker();
    if (loadingWorker_.joinable())
        loadingWorker_.join();
    {
        std::lock_guard<std::mutex> lock(playbackMutex_);
        reader_.reset();
        readerPath_.clear();
    }
    const std::string localPath = path.toLocal8Bit().toStdString();
    std::unique_ptr<vexadin::DvsFileReader> reader = vexadin::DvsFileReader::createFileReader(localPath);
    if (!reader) {
        qDebug() << "not raw file.";
        return;
    }
    reader_ = std::move(reader);
    readerPath_ = localPath;
    // Set here rather than on the worker, so a second loadFile right behind this one
    // is refused instead of destroying the reader under the worker.
    loading_.store(true);
    loadingWorker_ = std::thread(&VxEventProcessor::loadingTask, this);
}

void VxEventProcessor::loadingTask()
{
    emit signalLoadingStatus(true);
    uint64_t lower = 0;
    uint64_t upper = 0;
    {
        std::lock_guard<std::mutex> lock(playbackMutex_);
        reader_->open();
        reader_->getStartTimestamp(lower);
        reader_->getEndTimestamp(upper);
    }
    lowerTs_.store(lower);
    upperTs_.store(upper);
    qDebug() << "Start time: " << lower;
    qDebug() << "End time: " << upper;
    currentTs_.store(lower);
    // Cleared before the play status goes out: the window answers it by starting
    // playback, which must not find the load still marked as running.
    loading_.store(false);
    emit signalEndTimeStamp(upper);
    emit signalStartTimeStamp(lower);
    emit signalRealTimeTimeStamp(lower);
    emit signalPlayStatus(true);
    emit signalLoadingStatus(false);
    qDebug() << "Load raw file success.";
}

// ---------------------------------------------------------------------------
// Playback

void VxEventProcessor::slotPlaybackCtrl(bool play)
{
    if (!play) {
        stopPlaybackWorker();
        return;
    }
    if (!hasRecording())
        return;
    if (playbackWorker_.joinable()) {
        if (playing_.load())
            return; // already playing: never two workers
        playbackWorker_.join(); // finished at the range end, not yet joined
    }
    playing_.store(true);
    playbackWorker_ = std::thread(&VxEventProcessor::playbackLoop, this);
}

void VxEventProcessor::stopPlaybackWorker()
{
    {
        std::lock_guard<std::mutex> lock(pacingMutex_);
        playing_.store(false);
    }
    pacingWake_.notify_all();
    if (playbackWorker_.joinable())
        playbackWorker_.join();
}

void VxEventProcessor::stopPlaybackForStep()
{
    const bool wasPlaying = playing_.load();
    stopPlaybackWorker();
    if (wasPlaying)
        emit signalPlayStatus(false);
}

void VxEventProcessor::showEvents(const std::vector<vexadin::Event2D> &events, uint64_t positionTs)
{
    accumulate(events);
    emit signalRealTimeTimeStamp(positionTs);
    publishFrame();
}

void VxEventProcessor::playbackLoop()
{
    using Clock = std::chrono::steady_clock;
    while (playing_.load()) {
        const Clock::time_point t0 = Clock::now();
        {
            std::lock_guard<std::mutex> lock(playbackMutex_);
            if (!reader_)
                break;
            const uint64_t current = currentTs_.load();
            const uint64_t upper = upperTs_.load();
            const uint64_t interval = playInterval_.load();
            bool endOfRange = true;
            if (upper < saturatingAdd(current, interval)) {
                // Last, shorter step: the closed window [current, upper].
                if (current <= upper) {
                    uint64_t duration = upper - current + 1;
                    if (duration == 0) // the whole 64-bit range
                        duration = std::numeric_limits<uint64_t>::max();
                    const auto events = reader_->readRange(current, duration);
                    currentTs_.store(upper);
                    if (hasEvents(events))
                        showEvents(*events, upper);
                }
            } else {
                const uint64_t next = current + interval;
                const auto events = reader_->readRange(current, accTime_.load());
                currentTs_.store(next);
                if (hasEvents(events))
                    showEvents(*events, next);
                // An empty window (a quiet stretch) plays on; no result at all means the
                // reader has nothing left (a range end beyond the recording).
                endOfRange = !events || next >= upper;
            }
            if (endOfRange) {
                const uint64_t lower = lowerTs_.load();
                reader_->seek(lower);
                currentTs_.store(lower);
                if (!loopEnabled_.load()) {
                    playing_.store(false);
                    emit signalPlayStatus(false);
                    return;
                }
            }
        }
        // Fixed step period; a stop cuts the wait short.
        std::unique_lock<std::mutex> pacing(pacingMutex_);
        pacingWake_.wait_until(pacing, t0 + std::chrono::microseconds(kStepPeriodUs),
                               [this] { return !playing_.load(); });
    }
}

void VxEventProcessor::nextFrame()
{
    if (!hasRecording()) {
        qDebug() << "not raw file.";
        return;
    }
    stopPlaybackForStep();
    std::lock_guard<std::mutex> lock(playbackMutex_);
    const uint64_t current = currentTs_.load();
    const uint64_t acc = accTime_.load();
    if (saturatingAdd(current, acc) >= upperTs_.load())
        return;
    const auto events = reader_->readRange(current, acc);
    const uint64_t next = saturatingAdd(current, playInterval_.load());
    currentTs_.store(next);
    if (!events) {
        qDebug() << "File read end.";
        return;
    }
    showEvents(*events, next);
}

void VxEventProcessor::preFrame()
{
    if (!hasRecording()) {
        qDebug() << "not raw file.";
        return;
    }
    stopPlaybackForStep();
    const uint64_t lower = lowerTs_.load();
    const uint64_t interval = playInterval_.load();
    uint64_t current = currentTs_.load();
    current = current >= saturatingAdd(lower, interval) ? current - interval : lower;
    currentTs_.store(current);
    std::lock_guard<std::mutex> lock(playbackMutex_);
    if (!reader_->seek(current))
        return;
    const auto events = reader_->readNext(accTime_.load());
    if (events)
        showEvents(*events, current);
}

void VxEventProcessor::setPlayPos(uint64_t timestamp_us)
{
    if (!hasRecording()) {
        qDebug() << "not raw file.";
        return;
    }
    if (timestamp_us < lowerTs_.load() || timestamp_us > upperTs_.load())
        return;
    stopPlaybackForStep();
    std::lock_guard<std::mutex> lock(playbackMutex_);
    if (!reader_->seek(timestamp_us)) {
        qDebug() << "seek time err." << timestamp_us;
        return;
    }
    const uint64_t acc = accTime_.load();
    const auto events = reader_->readRange(timestamp_us, acc);
    const uint64_t position = saturatingAdd(timestamp_us, acc);
    currentTs_.store(position);
    if (events)
        showEvents(*events, position);
}

void VxEventProcessor::slotPlaybackReset()
{
    if (!hasRecording()) {
        qDebug() << "not raw file.";
        return;
    }
    stopPlaybackWorker();
    const uint64_t lower = lowerTs_.load();
    {
        std::lock_guard<std::mutex> lock(playbackMutex_);
        reader_->seek(lower);
        const auto events = reader_->readRange(lower, accTime_.load());
        if (events) {
            accumulate(*events);
            publishFrame();
        }
    }
    qDebug() << "set ts: " << lower;
    emit signalRealTimeTimeStamp(lower);
    currentTs_.store(lower);
    emit signalPlayStatus(false);
}

void VxEventProcessor::slotPlayLoop(bool on)
{
    loopEnabled_.store(on);
}

void VxEventProcessor::setFps(int fps)
{
    // 0 would divide by zero; above one million the step would not advance at all.
    if (fps < 1 || fps > 1000000) {
        qWarning() << "invalid fps, kept: " << fps_.load() << " refused: " << fps;
        return;
    }
    fps_.store(fps);
    const uint64_t interval = 1000000 / uint64_t(fps);
    playInterval_.store(interval);
    qDebug() << "set fps: " << fps << " time interval: " << interval;
}

void VxEventProcessor::setAccTime(uint64_t time_us)
{
    accTime_.store(time_us);
}

void VxEventProcessor::slotSetLowerTimeStamp(uint64_t timestamp_us)
{
    lowerTs_.store(timestamp_us);
}

void VxEventProcessor::slotSetUpperTimeStamp(uint64_t timestamp_us)
{
    upperTs_.store(timestamp_us);
}

// ---------------------------------------------------------------------------
// Export and cut

void VxEventProcessor::slotExportVideo(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts, uint64_t end_ts)
{
    startRangeJob(RangeJob::Export, qs_out_full_path, qs_out_dir, start_ts, end_ts);
}

void VxEventProcessor::slotCutRawFile(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts, uint64_t end_ts)
{
    startRangeJob(RangeJob::Cut, qs_out_full_path, qs_out_dir, start_ts, end_ts);
}

void VxEventProcessor::startRangeJob(RangeJob job, const QString &outPath, const QString &outDir,
                                     uint64_t start, uint64_t end)
{
    if (!hasRecording())
        return;
    stopPlaybackForStep();
    std::thread &worker = job == RangeJob::Export ? exportWorker_ : cutWorker_;
    if (worker.joinable())
        worker.join();
    worker = std::thread(&VxEventProcessor::rangeTask, this, job, readerPath_, outPath, outDir, start, end);
}

void VxEventProcessor::rangeTask(RangeJob job, std::string sourcePath, QString outPath, QString outDir,
                                 uint64_t start, uint64_t end)
{
    if (job == RangeJob::Export)
        qDebug() << "start export video: " << outPath;
    emit signalLoadingStatus(true);

    bool ok = false;
    if (sameFile(sourcePath, outPath)) {
        qWarning() << "refusing to overwrite the open recording: " << outPath;
    } else {
        // A reader of our own: the range job runs for seconds and must neither block
        // stepping and seeking on the GUI thread nor share the playback reader with it.
        std::unique_ptr<vexadin::DvsFileReader> reader = vexadin::DvsFileReader::createFileReader(sourcePath);
        if (reader && reader->open()) {
            const std::string out = outPath.toLocal8Bit().toStdString();
            ok = job == RangeJob::Export ? reader->exportVideo(start, end, out) : reader->cut(start, end, out);
        }
    }
    if (ok) {
        qDebug() << "extract event data start:" << start << " end: " << end << " success.";
        emit signalShowLeftBottomTips(job == RangeJob::Export ? tr("Export video success!")
                                                              : tr("Export raw file success!"),
                                      VxMessageType::Success, outDir);
    }
    emit signalLoadingStatus(false);
}
