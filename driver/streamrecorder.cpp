#include "driver/streamrecorder.h"

#include "driver/driverlog.h"
#include "driver/recordingcache.h"

#include <chrono>
#include <cstdio>

namespace vexadin {

namespace {

constexpr size_t kMaxSpareItems = 32;
constexpr auto kIdleFlush = std::chrono::milliseconds(100);

std::string counter20(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%020llu", static_cast<unsigned long long>(value));
    return text;
}

uint64_t unixNowUs()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
}

} // namespace

struct StreamRecorder::Item {
    enum class Kind { Data, Start, Stop, Cache, Query } kind = Kind::Data;
    uint64_t t0 = 0, t1 = 0;
    std::vector<Event2D> events;
    std::vector<EventTriggerIn> triggers;
    uint64_t lost = 0; // events of [t0, t1) that did not fit in the queue
    std::unique_ptr<RawFileWriter> writer;
    std::string path;
    uint16_t seconds = 0;
    std::string dir;
    bool result = false;
};

StreamRecorder::StreamRecorder(RawFileHeader header, std::string name)
    : header_(std::move(header)), name_(std::move(name))
{
    thread_ = std::thread([this] { run(); });
}

StreamRecorder::~StreamRecorder()
{
    stopRecording(); // a camera closed while recording still leaves a finished file
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
    cache_.reset(); // removes the cache files
}

bool StreamRecorder::submit(std::unique_ptr<Item> item, bool wait)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t ticket = ++submittedCommands_;
    queue_.push_back(std::move(item));
    wake_.notify_all();
    if (!wait)
        return true;
    done_.wait(lock, [&] { return finishedCommands_ >= ticket; });
    return commandResult_;
}

bool StreamRecorder::startRecording(const std::string &path)
{
    std::lock_guard<std::mutex> lock(control_);
    if (recording_.load()) {
        driverLog(DriverLogLevel::Warning, name_ + ": cannot start recording to '" + path +
                                               "': a recording to '" + activePath_ + "' is running");
        return false;
    }
    RawFileHeader header = header_;
    const uint64_t back = cacheOn_.load() ? uint64_t(cacheSeconds_.load()) * 1000000 : 0;
    header.recordingStartUnixUs = unixNowUs() - back;
    header.metadata.emplace_back(kLostEventsKey, counter20(0));
    auto writer = std::make_unique<RawFileWriter>();
    if (!writer->open(path, header)) {
        driverLog(DriverLogLevel::Warning, name_ + ": cannot record to '" + path + "': " + writer->lastError());
        return false;
    }
    auto item = std::make_unique<Item>();
    item->kind = Item::Kind::Start;
    item->writer = std::move(writer);
    item->path = path;
    activePath_ = path;
    // Set first, so that the producer's next step already comes after the start.
    recording_.store(true);
    submit(std::move(item), false);
    return true;
}

bool StreamRecorder::stopRecording()
{
    std::lock_guard<std::mutex> lock(control_);
    if (!recording_.load())
        return false;
    auto item = std::make_unique<Item>();
    item->kind = Item::Kind::Stop;
    // Cleared first: the producer's next step comes after the end of the file.
    recording_.store(false);
    const bool ok = submit(std::move(item), true);
    activePath_.clear();
    return ok;
}

bool StreamRecorder::setCache(uint16_t seconds, const std::string &dir)
{
    std::lock_guard<std::mutex> lock(control_);
    auto item = std::make_unique<Item>();
    item->kind = Item::Kind::Cache;
    item->seconds = seconds;
    item->dir = dir;
    if (seconds == 0)
        cacheOn_.store(false);
    const bool ok = submit(std::move(item), true);
    if (ok && seconds != 0) {
        cacheSeconds_.store(seconds);
        cacheOn_.store(true);
    }
    return ok;
}

std::vector<std::string> StreamRecorder::cacheFiles()
{
    std::lock_guard<std::mutex> lock(control_);
    auto item = std::make_unique<Item>();
    item->kind = Item::Kind::Query;
    submit(std::move(item), true);
    std::lock_guard<std::mutex> queueLock(mutex_);
    return cacheFiles_;
}

void StreamRecorder::setQueueLimit(size_t events)
{
    std::lock_guard<std::mutex> lock(mutex_);
    queueLimit_ = events;
}

void StreamRecorder::setWriteDelayForTesting(uint64_t microsecondsPerStep)
{
    writeDelayUs_.store(microsecondsPerStep);
}

void StreamRecorder::push(uint64_t t0, uint64_t t1, const Event2D *events, const Event2D *eventsEnd,
                          const EventTriggerIn *triggers, const EventTriggerIn *triggersEnd)
{
    const size_t n = static_cast<size_t>(eventsEnd - events);
    std::unique_ptr<Item> item;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // An empty queue takes any step, so a step larger than the limit still goes.
        if (n != 0 && queuedEvents_ != 0 && queuedEvents_ + n > queueLimit_) {
            // The disk is behind: the events are counted, the (rare) triggers still go.
            lostTotal_.fetch_add(n);
            Item *last = queue_.empty() ? nullptr : queue_.back().get();
            if (last && last->kind == Item::Kind::Data && last->events.empty() && last->lost != 0) {
                last->t1 = t1;
                last->lost += n;
                last->triggers.insert(last->triggers.end(), triggers, triggersEnd);
                return;
            }
            item = spare_.empty() ? std::make_unique<Item>() : std::move(spare_.back());
            if (!spare_.empty())
                spare_.pop_back();
            item->t0 = t0;
            item->t1 = t1;
            item->lost = n;
            item->triggers.assign(triggers, triggersEnd);
            queue_.push_back(std::move(item));
            wake_.notify_all();
            return;
        }
        queuedEvents_ += n; // reserved now, so the bound holds while we copy
        if (!spare_.empty()) {
            item = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    if (!item)
        item = std::make_unique<Item>();
    item->t0 = t0;
    item->t1 = t1;
    item->events.assign(events, eventsEnd);
    item->triggers.assign(triggers, triggersEnd);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(item));
    }
    wake_.notify_all();
}

void StreamRecorder::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (queue_.empty()) {
            if (quit_)
                return;
            if (!wake_.wait_for(lock, kIdleFlush, [&] { return quit_ || !queue_.empty(); }) && writer_) {
                // A quiet or stopped stream: what is pending reaches the disk anyway.
                lock.unlock();
                writer_->flush();
                lock.lock();
            }
            continue;
        }
        std::unique_ptr<Item> item = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        process(*item);
        lock.lock();
        if (item->kind == Item::Kind::Data) {
            queuedEvents_ -= item->events.size();
            item->events.clear();
            item->triggers.clear();
            item->lost = 0;
            if (spare_.size() < kMaxSpareItems)
                spare_.push_back(std::move(item));
        } else {
            commandResult_ = item->result;
            ++finishedCommands_;
            done_.notify_all();
        }
    }
}

void StreamRecorder::process(Item &item)
{
    switch (item.kind) {
    case Item::Kind::Data: {
        if (const uint64_t delay = writeDelayUs_.load())
            std::this_thread::sleep_for(std::chrono::microseconds(delay));
        const Event2D *eb = item.events.data(), *ee = eb + item.events.size();
        const EventTriggerIn *tb = item.triggers.data(), *te = tb + item.triggers.size();
        if (writer_ && !writeFailed_ && !writer_->writeMerged(eb, ee, tb, te)) {
            writeFailed_ = true;
            driverLog(DriverLogLevel::Error, name_ + ": recording to '" + path_ + "' failed: " + writer_->lastError());
        }
        if (item.lost != 0) {
            if (writer_)
                lostInRecording_ += item.lost;
            if (cache_)
                cache_->addLoss(item.t0, item.t1, item.lost);
            reportLoss(item.t0, item.t1, item.lost);
        }
        if (cache_)
            cache_->add(item.t0, item.t1, eb, ee, tb, te);
        lastEnd_ = item.t1;
        break;
    }
    case Item::Kind::Start: {
        writer_ = std::move(item.writer);
        path_ = item.path;
        writeFailed_ = false;
        lostInRecording_ = 0;
        if (cache_ && cache_->enabled()) {
            const uint64_t back = uint64_t(cache_->seconds()) * 1000000;
            const uint64_t from = lastEnd_ > back ? lastEnd_ - back : 0;
            uint64_t lost = 0;
            std::string error;
            if (!cache_->copyInto(*writer_, from, lost, &error))
                driverLog(DriverLogLevel::Warning, name_ + ": " + error);
            lostInRecording_ += lost;
        }
        item.result = true;
        break;
    }
    case Item::Kind::Stop:
        item.result = finishRecording();
        break;
    case Item::Kind::Cache: {
        if (!cache_)
            cache_ = std::make_unique<RecordingCache>(header_);
        std::string error;
        item.result = cache_->configure(item.seconds, item.dir, &error);
        if (!item.result)
            driverLog(DriverLogLevel::Warning, name_ + ": " + error);
        break;
    }
    case Item::Kind::Query: {
        std::vector<std::string> files = cache_ ? cache_->files() : std::vector<std::string>();
        std::lock_guard<std::mutex> lock(mutex_);
        cacheFiles_.swap(files);
        item.result = true;
        break;
    }
    }
}

bool StreamRecorder::finishRecording()
{
    if (!writer_)
        return false;
    if (lostInRecording_ != 0) {
        writer_->updateMetadata(kLostEventsKey, counter20(lostInRecording_));
        driverLog(DriverLogLevel::Warning, name_ + ": recording '" + path_ + "' lacks " +
                                               std::to_string(lostInRecording_) +
                                               " events that could not be written in time");
    }
    const bool closed = writer_->close();
    const bool ok = closed && !writeFailed_;
    if (!closed && !writeFailed_)
        driverLog(DriverLogLevel::Error, name_ + ": recording '" + path_ + "' could not be finished: " +
                                             writer_->lastError());
    writer_.reset();
    path_.clear();
    return ok;
}

void StreamRecorder::reportLoss(uint64_t t0, uint64_t t1, uint64_t count)
{
    (void)t0;
    lossSinceReport_ += count;
    // At most one line per second of stream.
    if (lossReportedAt_ != 0 && t1 < lossReportedAt_ + 1000000)
        return;
    driverLog(DriverLogLevel::Warning, name_ + ": " + std::to_string(lossSinceReport_) +
                                           " events could not be written in time (the disk does not keep up)");
    lossSinceReport_ = 0;
    lossReportedAt_ = t1 == 0 ? 1 : t1;
}

} // namespace vexadin
