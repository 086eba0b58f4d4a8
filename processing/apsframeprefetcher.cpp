#include "processing/apsframeprefetcher.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <utility>

using vexadin::ApsFrame;

ApsFramePrefetcher::ApsFramePrefetcher(size_t depth) : depth_(std::max<size_t>(depth, 1)) {}

ApsFramePrefetcher::~ApsFramePrefetcher()
{
    stop();
}

void ApsFramePrefetcher::start(std::shared_ptr<vexadin::ApsFileReader> reader, const ApsFrame &firstFrame)
{
    stop();
    if (!reader)
        return;
    // The decoding buffers are made (and their pages faulted in) here, during the load,
    // rather than by the decoder during the first ticks, where each fresh 4K buffer
    // costs longer than a tick.
    std::vector<ApsFrame> spares;
    if (!firstFrame.isEmpty()) {
        try {
            while (spares.size() < depth_)
                spares.emplace_back(firstFrame.getWidth(), firstFrame.getHeight(), 0, 0);
        } catch (const std::bad_alloc &) {
            // fewer buffers made now; the decoder makes the rest when it needs them
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        spare_ = std::move(spares);
        reader_ = std::move(reader);
        if (!firstFrame.isEmpty() && firstFrame.getFrameNumber() == 0)
            head_.push_back(firstFrame);
        ended_ = false;
        held_ = false;
        quit_ = false;
    }
    thread_ = std::thread(&ApsFramePrefetcher::decodeLoop, this);
}

void ApsFramePrefetcher::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    decoder_wake_.notify_all();
    reader_wake_.notify_all(); // a read waiting for a frame gives up
    if (thread_.joinable())
        thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear();
    round_.clear();
    spare_.clear();
    head_.clear();
    reader_.reset();
    ended_ = false;
    going_round_ = false;
    round_ended_ = false;
}

bool ApsFramePrefetcher::isRunning() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return reader_ != nullptr;
}

size_t ApsFramePrefetcher::queued() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

bool ApsFramePrefetcher::waitUntilFull(int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return reader_wake_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [this] { return quit_ || ended_ || !reader_ || queue_.size() >= depth_; });
}

size_t ApsFramePrefetcher::queuedForRewind() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return round_.size();
}

bool ApsFramePrefetcher::hasRoomAfterEnd() const
{
    return ended_ && head_.size() == kHeadFrames && !round_ended_ && round_.size() < depth_;
}

void ApsFramePrefetcher::recycleAll(std::deque<ApsFrame> &frames)
{
    while (!frames.empty()) {
        recycle(std::move(frames.front()));
        frames.pop_front();
    }
}

void ApsFramePrefetcher::dropDecodedFrames()
{
    recycleAll(queue_);
    recycleAll(round_);
    ended_ = false;
    going_round_ = false;
    round_ended_ = false;
}

void ApsFramePrefetcher::decodeLoop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        decoder_wake_.wait(lock, [this] {
            return quit_ || (!held_ && ((!ended_ && queue_.size() < depth_) || hasRoomAfterEnd()));
        });
        if (quit_)
            return;
        if (ended_ && !going_round_) {
            // At the end with nothing to do: go round to the frames after the kept first
            // ones, so a looping playback's rewind does not wait for the key frame and the
            // frames up to them to be decoded again (longer than a tick at 4K).
            going_round_ = true;
            const uint64_t afterHead = head_.back().getTimestamp() + 1;
            decoding_ = true;
            lock.unlock();
            const bool more = reader_->rewind(afterHead);
            lock.lock();
            decoding_ = false;
            if (!more)
                (going_round_ ? round_ended_ : ended_) = true;
            reader_wake_.notify_all();
            continue;
        }
        ApsFrame frame;
        if (!spare_.empty()) {
            frame = std::move(spare_.back());
            spare_.pop_back();
        }
        decoding_ = true;
        lock.unlock();
        // The reader reuses the buffer when nobody else holds it.
        const bool ok = reader_->readNextFrame(frame);
        lock.lock();
        decoding_ = false;
        // A rewind to the start while this frame was decoded past the end hands round_
        // over to queue_; the frame follows them either way.
        if (ok && going_round_) {
            round_.push_back(std::move(frame));
        }
        else if (ok) {
            if (frame.getFrameNumber() == head_.size() && head_.size() < kHeadFrames)
                head_.push_back(frame);
            queue_.push_back(std::move(frame));
        }
        else {
            (going_round_ ? round_ended_ : ended_) = true;
            recycle(std::move(frame));
        }
        reader_wake_.notify_all();
    }
}

void ApsFramePrefetcher::recycle(ApsFrame &&frame)
{
    // Kept rather than freed: a fresh 4K buffer costs thousands of page faults when it is
    // first written, longer than a decode. A buffer still shared (a kept first frame)
    // would not be decoded into anyway.
    if (frame.ownsBufferAlone() && spare_.size() < depth_)
        spare_.push_back(std::move(frame));
    else
        frame = ApsFrame();
}

void ApsFramePrefetcher::takeFront(ApsFrame &frame)
{
    ApsFrame previous = std::move(frame);
    frame = std::move(queue_.front());
    queue_.pop_front();
    recycle(std::move(previous));
    decoder_wake_.notify_one();
}

template <class Operation>
bool ApsFramePrefetcher::withReader(std::unique_lock<std::mutex> &lock, Operation operation)
{
    reader_wake_.wait(lock, [this] { return !held_; });
    held_ = true;
    reader_wake_.wait(lock, [this] { return !decoding_; });
    dropDecodedFrames();
    lock.unlock();
    const bool ok = operation(*reader_);
    lock.lock();
    held_ = false;
    reader_wake_.notify_all();
    decoder_wake_.notify_one();
    return ok;
}

bool ApsFramePrefetcher::readNextFrame(ApsFrame &frame)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!reader_)
        return false;
    reader_wake_.wait(lock, [this] { return (!queue_.empty() || ended_ || quit_) && !held_; });
    if (queue_.empty())
        return false;
    takeFront(frame);
    return true;
}

bool ApsFramePrefetcher::readFrameAt(uint64_t apsTime, ApsFrame &frame)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!reader_)
        return false;
    for (;;) {
        reader_wake_.wait(lock, [this] { return (!queue_.empty() || ended_ || quit_) && !held_; });
        if (quit_)
            return false;
        if (queue_.empty() || queue_.front().getTimestamp() > apsTime)
            break; // behind what was decoded (or nothing left): seek
        // The wanted frame is the last one at or before apsTime; it is known once a later
        // frame, or the end, has been decoded.
        size_t last = 0;
        while (last + 1 < queue_.size() && queue_[last + 1].getTimestamp() <= apsTime)
            ++last;
        if (last + 1 < queue_.size() || ended_) {
            for (size_t i = 0; i < last; ++i) {
                recycle(std::move(queue_.front()));
                queue_.pop_front();
            }
            takeFront(frame);
            return true;
        }
        if (queue_.size() >= depth_)
            break; // further ahead than the decoder looks: let the reader decide how to get there
        const size_t had = queue_.size();
        reader_wake_.wait(lock, [&] { return queue_.size() > had || ended_ || held_ || quit_; });
    }
    return withReader(lock, [&](vexadin::ApsFileReader &reader) { return reader.readFrameAt(apsTime, frame); });
}

bool ApsFramePrefetcher::rewind(uint64_t apsTime)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!reader_)
        return false;
    if (head_.size() == kHeadFrames && apsTime <= head_.front().getTimestamp()) {
        reader_wake_.wait(lock, [this] { return !held_; });
        if (going_round_) {
            // The decoder went round at the end: the kept first frames, then what it
            // decoded after them, and it goes on from there.
            recycleAll(queue_);
            queue_.insert(queue_.end(), head_.begin(), head_.end());
            for (ApsFrame &frame : round_)
                queue_.push_back(std::move(frame));
            round_.clear();
            ended_ = round_ended_;
            going_round_ = false;
            round_ended_ = false;
            reader_wake_.notify_all();
            decoder_wake_.notify_one();
            return true;
        }
        // Back to the start: the kept first frames come first, the decoder goes on after them.
        const uint64_t afterHead = head_.back().getTimestamp() + 1;
        bool more = false;
        withReader(lock, [&](vexadin::ApsFileReader &reader) {
            more = reader.rewind(afterHead);
            return true;
        });
        for (const ApsFrame &frame : head_)
            queue_.push_back(frame);
        ended_ = !more;
        reader_wake_.notify_all();
        return true;
    }
    return withReader(lock, [&](vexadin::ApsFileReader &reader) { return reader.rewind(apsTime); });
}
