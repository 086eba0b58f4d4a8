#include "processing/vxeventprocessor.h"

#include "app/vxutils.h"

#include <QDebug>
#include <QMetaObject>
#include <QSocketNotifier>

#include <algorithm>
#include <array>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace {

size_t countEntries(int width, int height)
{
    return size_t(width) * size_t(height) * 2;
}

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

QImage makeImage(int width, int height, QRgb background)
{
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(QColor::fromRgb(background));
    return image;
}

// The user reads positions as the time slider shows them.
QString rangesText(const std::vector<vexadin::OperationControl::Range> &ranges)
{
    constexpr size_t kShown = 3;
    QStringList parts;
    for (size_t i = 0; i < ranges.size() && i < kShown; ++i)
        parts << QString::fromStdString(formatTimestampUs(ranges[i].first)) + QStringLiteral(" - ") +
                     QString::fromStdString(formatTimestampUs(ranges[i].last));
    if (ranges.size() > kShown)
        parts << QStringLiteral("...");
    return parts.join(QStringLiteral(", "));
}

// A playback step draws a frame only for a window that holds events.
bool hasEvents(const std::shared_ptr<std::vector<vexadin::Event2D>> &events)
{
    return events && !events->empty();
}

} // namespace

VxEventProcessor::VxEventProcessor(AppSettings *settings, QObject *parent)
    : QObject(parent),
      settings_(settings ? settings : &AppSettings::instance()),
      countsA_(countEntries(kWidth, kHeight), 0),
      countsB_(countEntries(kWidth, kHeight), 0),
      accumulation_(countsA_.data()),
      display_(countsB_.data())
{
    const QRgb background = settings_->eventColors().background;
    images_[0] = makeImage(kWidth, kHeight, background);
    images_[1] = makeImage(kWidth, kHeight, background);
    if (::pipe2(wakeFds_, O_NONBLOCK | O_CLOEXEC) == 0) {
        wakeNotifier_ = new QSocketNotifier(wakeFds_[0], QSocketNotifier::Read, this);
        connect(wakeNotifier_, &QSocketNotifier::activated, this, &VxEventProcessor::deliverPosted);
    } else {
        qWarning() << "no wake-up pipe, worker results go through queued calls: " << std::strerror(errno);
        wakeFds_[0] = wakeFds_[1] = -1;
    }
    // Set before the thread starts: a destructor that runs before the worker's
    // first wait must still see it and stop it.
    renderRunning_ = true;
    renderWorker_ = std::thread(&VxEventProcessor::renderLoop, this);
}

VxEventProcessor::~VxEventProcessor()
{
    stopPlaybackWorker(false);
    // Nobody will see the end of a load now: do not wait for an index rebuild.
    if (loadControl_)
        loadControl_->cancel();
    // The loading worker uses reader_. Exports and cuts the user asked for (queued ones
    // included) are finished unless they were cancelled.
    if (loadingWorker_.joinable())
        loadingWorker_.join();
    for (JobLane &lane : lanes_) {
        if (lane.worker.joinable())
            lane.worker.join();
    }
    {
        std::lock_guard<std::mutex> lock(renderMutex_);
        renderRunning_ = false;
    }
    renderWake_.notify_one();
    renderTaken_.notify_all();
    renderWorker_.join();
    reader_.reset();
    // Every worker is gone: nothing writes to the pipe any more.
    delete wakeNotifier_;
    for (int fd : wakeFds_) {
        if (fd >= 0)
            ::close(fd);
    }
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
        const unsigned width = unsigned(width_);
        const unsigned height = unsigned(height_);
        constexpr ptrdiff_t kAhead = 16; // events are scattered over the frame: fetch early
        const vexadin::Event2D *prefetchEnd = last - std::min<ptrdiff_t>(kAhead, last - first);
        for (const vexadin::Event2D *e = first; e != last; ++e) {
            if (e < prefetchEnd) {
                const vexadin::Event2D &ahead = e[kAhead];
                if (ahead.x < width && ahead.y < height)
                    __builtin_prefetch(counts + (size_t(ahead.y) * width + ahead.x) * 2, 1);
            }
            const unsigned x = e->x;
            const unsigned y = e->y;
            if (x >= width || y >= height)
                continue;
            uint8_t &count = counts[(size_t(y) * width + x) * 2 + (e->polarity != 0)];
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
    std::memset(accumulation_, 0, countEntries(width_, height_));
}

void VxEventProcessor::publishLiveFrame()
{
    emit signalRealTimeTimeStamp(latestBatchTs_.load(std::memory_order_relaxed));
    publishFrame();
}

void VxEventProcessor::setSensorSize(int width, int height)
{
    if (width > kMaxSide || height > kMaxSide) {
        qWarning() << "sensor too large to render, frames stay at the default size: " << width << " x " << height;
        width = height = 0;
    }
    if (width <= 0 || height <= 0) {
        width = kWidth;
        height = kHeight;
    }
    const QRgb background = settings_->eventColors().background;
    std::lock_guard<std::mutex> render(renderMutex_);
    std::lock_guard<std::mutex> acc(accumulationMutex_);
    if (width == width_ && height == height_)
        return;
    width_ = width;
    height_ = height;
    countsA_.assign(countEntries(width, height), 0);
    countsB_.assign(countEntries(width, height), 0);
    accumulation_ = countsA_.data();
    display_ = countsB_.data();
    images_[0] = makeImage(width, height, background);
    images_[1] = makeImage(width, height, background);
    qDebug() << "frame size: " << width << " x " << height;
}

QSize VxEventProcessor::frameSize() const
{
    std::lock_guard<std::mutex> lock(accumulationMutex_);
    return QSize(width_, height_);
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
    const int width = image.width();
    const int height = image.height();
    for (int y = 0; y < height; ++y) {
        uchar *out = bits + y * stride;
        const uint8_t *c = counts + size_t(y) * size_t(width) * 2;
        for (int x = 0; x < width; ++x, c += 2, out += 3) {
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
        // The newer choice wins: the running load stops and its results are dropped,
        // so none of them reaches the window after this file's.
        loadControl_->cancel();
        ++loadId_;
        loading_.store(false);
        progress_.erase(kLoadProgressKey);
        emit signalLoadingStatus(false);
    }
    emit signalPlayStatus(false);
    // The window answers the signal above by stopping playback; do it here as well so
    // the reader never goes away under a running worker, whoever is connected.
    stopPlaybackWorker();
    if (loadingWorker_.joinable())
        loadingWorker_.join(); // finished or cancelled: returns at once
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
    const uint64_t id = ++loadId_;
    // Set here rather than on the worker: until the load's results are in, steps,
    // seeks and plays are refused.
    loading_.store(true);
    loadControl_ = std::make_shared<vexadin::OperationControl>();
    loadControl_->setProgressHandler([this, id](double fraction) {
        post(Channel::Load, id, [this, fraction] { noteProgress(kLoadProgressKey, fraction); });
    });
    emit signalLoadingStatus(true);
    loadingWorker_ = std::thread(&VxEventProcessor::loadingTask, this, id, loadControl_);
}

void VxEventProcessor::loadingTask(uint64_t loadId, std::shared_ptr<vexadin::OperationControl> control)
{
    uint64_t lower = 0;
    uint64_t upper = 0;
    int width = 0;
    int height = 0;
    bool cancelled = false;
    {
        std::lock_guard<std::mutex> lock(playbackMutex_);
        // A recording whose writer was killed has its index rebuilt here: the only
        // long part of a load, followed and cancellable.
        reader_->open(*control);
        cancelled = control->cancelled();
        vexadin::DvsFileInfo info;
        if (!cancelled) {
            reader_->getStartTimestamp(lower);
            reader_->getEndTimestamp(upper);
            if (reader_->getFileInfo(info)) {
                width = info.width;
                height = info.height;
            }
        }
    }
    if (!cancelled) {
        qDebug() << "Start time: " << lower;
        qDebug() << "End time: " << upper;
    }
    post(Channel::Load, loadId, [this, cancelled, lower, upper, width, height] {
        finishLoad(cancelled, lower, upper, width, height);
    });
}

void VxEventProcessor::finishLoad(bool cancelled, uint64_t lower, uint64_t upper, int width, int height)
{
    progress_.erase(kLoadProgressKey);
    if (cancelled) {
        if (loadingWorker_.joinable())
            loadingWorker_.join(); // this was its last act
        {
            std::lock_guard<std::mutex> lock(playbackMutex_);
            reader_.reset();
            readerPath_.clear();
        }
        loading_.store(false);
        qDebug() << "Load raw file cancelled.";
        emit signalLoadingStatus(false);
        return;
    }
    lowerTs_.store(lower);
    upperTs_.store(upper);
    currentTs_.store(lower);
    setSensorSize(width, height);
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
// Results of the workers

void VxEventProcessor::post(Channel channel, uint64_t id, std::function<void()> deliver)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        wake = posted_.empty();
        posted_.push_back({channel, id, std::move(deliver)});
    }
    // One wake-up for everything posted until the GUI thread takes the lot.
    if (!wake)
        return;
    if (wakeFds_[1] >= 0) {
        const char byte = 1;
        while (::write(wakeFds_[1], &byte, 1) < 0 && errno == EINTR) {
        }
    } else {
        QMetaObject::invokeMethod(this, "deliverPosted", Qt::QueuedConnection);
    }
}

void VxEventProcessor::deliverPosted()
{
    // Emptied before the queue is taken: a result posted in between wakes us again.
    if (wakeFds_[0] >= 0) {
        char bytes[64];
        while (::read(wakeFds_[0], bytes, sizeof bytes) > 0) {
        }
    }
    std::vector<Posted> batch;
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        batch.swap(posted_);
    }
    for (Posted &p : batch) {
        // Checked one by one: an earlier result may start a new load or stop playback.
        const bool stale = (p.channel == Channel::Load && p.id != loadId_) ||
                           (p.channel == Channel::Playback && p.id != playRunId_);
        if (!stale)
            p.deliver();
    }
}

void VxEventProcessor::noteProgress(uint64_t key, double fraction)
{
    if (key != kLoadProgressKey && progress_.find(key) == progress_.end())
        return; // the job has ended meanwhile
    progress_[key] = fraction;
    double sum = 0.0;
    for (const auto &entry : progress_)
        sum += entry.second;
    emit signalProgress(sum / double(progress_.size()));
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
    playbackWorker_ = std::thread(&VxEventProcessor::playbackLoop, this, playRunId_, loadId_);
}

void VxEventProcessor::stopPlaybackWorker(bool deliverPositions)
{
    {
        std::lock_guard<std::mutex> lock(pacingMutex_);
        playing_.store(false);
    }
    pacingWake_.notify_all();
    if (playbackWorker_.joinable())
        playbackWorker_.join();
    // The positions the stopped worker still has on the way are delivered now, in
    // order: arriving later, they would move the slider back after a seek or step.
    std::vector<Posted> positions;
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        std::vector<Posted> others;
        for (Posted &p : posted_)
            (p.channel == Channel::Playback && p.id == playRunId_ ? positions : others).push_back(std::move(p));
        posted_.swap(others);
    }
    ++playRunId_;
    if (deliverPositions) {
        for (Posted &p : positions)
            p.deliver();
    }
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

void VxEventProcessor::playbackLoop(uint64_t runId, uint64_t loadId)
{
    using Clock = std::chrono::steady_clock;
    const auto show = [this, runId](const std::vector<vexadin::Event2D> &events, uint64_t position) {
        accumulate(events);
        post(Channel::Playback, runId, [this, position] { emit signalRealTimeTimeStamp(position); });
        publishFrame();
    };
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
                        show(*events, upper);
                }
            } else {
                const uint64_t next = current + interval;
                const auto events = reader_->readRange(current, accTime_.load());
                currentTs_.store(next);
                if (hasEvents(events))
                    show(*events, next);
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
                    // Tied to the load, not to this run: the window must get it even
                    // when a step stops the finished worker first.
                    post(Channel::Load, loadId, [this] { emit signalPlayStatus(false); });
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
    startRangeJob(VxRangeJob::Kind::Export, qs_out_full_path, qs_out_dir, start_ts, end_ts);
}

void VxEventProcessor::slotCutRawFile(QString qs_out_full_path, QString qs_out_dir, uint64_t start_ts, uint64_t end_ts)
{
    startRangeJob(VxRangeJob::Kind::Cut, qs_out_full_path, qs_out_dir, start_ts, end_ts);
}

void VxEventProcessor::startRangeJob(VxRangeJob::Kind kind, const QString &outPath, const QString &outDir,
                                     uint64_t start, uint64_t end)
{
    if (!hasRecording())
        return;
    stopPlaybackForStep();
    auto job = std::make_shared<VxRangeJob>(++nextJobId_, kind, readerPath_, outPath, outDir, start, end);
    const uint64_t id = job->id();
    job->setProgressHandler([this, id](double fraction) {
        post(Channel::Job, id, [this, id, fraction] { noteProgress(id, fraction); });
    });
    progress_[id] = 0.0;
    emit signalLoadingStatus(true);
    JobLane &lane = lanes_[int(kind)];
    bool startWorker = false;
    {
        std::lock_guard<std::mutex> lock(jobsMutex_);
        lane.pending.push_back(job);
        if (!lane.draining) {
            lane.draining = true;
            startWorker = true;
        }
    }
    if (startWorker) {
        // The previous worker found its queue empty and is on its way out.
        if (lane.worker.joinable())
            lane.worker.join();
        lane.worker = std::thread(&VxEventProcessor::drainLane, this, &lane);
    }
}

void VxEventProcessor::drainLane(JobLane *lane)
{
    for (;;) {
        std::shared_ptr<VxRangeJob> job;
        {
            std::lock_guard<std::mutex> lock(jobsMutex_);
            if (lane->pending.empty()) {
                lane->draining = false;
                return;
            }
            job = lane->pending.front();
            lane->pending.pop_front();
            lane->running = job;
        }
        const VxRangeJob::Result result = job->run();
        {
            std::lock_guard<std::mutex> lock(jobsMutex_);
            lane->running.reset();
        }
        post(Channel::Job, job->id(), [this, job, result] {
            finishRangeJob(*job, result.ok, result.cancelled, result.unreadable);
        });
    }
}

void VxEventProcessor::finishRangeJob(const VxRangeJob &job, bool ok, bool cancelled,
                                      const std::vector<vexadin::OperationControl::Range> &unreadable)
{
    progress_.erase(job.id());
    const bool isExport = job.kind() == VxRangeJob::Kind::Export;
    if (ok) {
        qDebug() << "extract event data start:" << job.start() << " end: " << job.end() << " success.";
        emit signalShowLeftBottomTips(isExport ? tr("Export video success!") : tr("Export raw file success!"),
                                      VxMessageType::Success, job.outDir());
        // What was readable is in the file; the user must know what is not.
        if (!unreadable.empty())
            emit signalShowLeftBottomTips(tr("Damaged data skipped, missing from the file: %1")
                                              .arg(rangesText(unreadable)),
                                          VxMessageType::Warning);
    } else if (cancelled) {
        // Asked for by the user: nothing to tell.
        qDebug() << (isExport ? "export video cancelled: " : "cut raw file cancelled: ") << job.outPath();
    } else {
        qDebug() << (isExport ? "export video failed: " : "cut raw file failed: ") << job.outPath();
    }
    emit signalLoadingStatus(false);
}

bool VxEventProcessor::hasRangeJobs() const
{
    std::lock_guard<std::mutex> lock(jobsMutex_);
    for (const JobLane &lane : lanes_) {
        if (!lane.pending.empty() || (lane.running && !lane.running->isCancelled()))
            return true;
    }
    return false;
}

void VxEventProcessor::slotCancelJobs()
{
    if (loading_.load() && loadControl_)
        loadControl_->cancel();
    std::vector<std::shared_ptr<VxRangeJob>> dropped;
    {
        std::lock_guard<std::mutex> lock(jobsMutex_);
        for (JobLane &lane : lanes_) {
            for (const std::shared_ptr<VxRangeJob> &job : lane.pending) {
                job->cancel();
                dropped.push_back(job);
            }
            lane.pending.clear();
            if (lane.running)
                lane.running->cancel(); // ends through its worker, without a file
        }
    }
    for (const std::shared_ptr<VxRangeJob> &job : dropped)
        finishRangeJob(*job, false, true, {});
}
