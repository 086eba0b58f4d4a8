#include "driver/replaysource.h"

#include "driver/rawfilereader.h"
#include "driver/triggerintool.h"

#include <algorithm>
#include <sys/stat.h>

namespace vexadin {

std::unique_ptr<ReplaySource> ReplaySource::open(const std::string &path, std::string *error)
{
    std::unique_ptr<RawFileReader> reader = RawFileReader::create(path);
    if (!reader || !reader->open()) {
        if (error)
            *error = path + ": " + (reader ? reader->lastError() : std::string("not a readable recording"));
        return nullptr;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (error)
            *error = path + ": vanished while opening";
        return nullptr;
    }
    std::unique_ptr<ReplaySource> s(new ReplaySource);
    s->device_ = static_cast<uint64_t>(st.st_dev);
    s->inode_ = static_cast<uint64_t>(st.st_ino);
    s->path_ = path;
    uint64_t first = 0, last = 0;
    s->empty_ = !reader->getStartTimestamp(first) || !reader->getEndTimestamp(last) || last < first;
    if (!s->empty_) {
        s->fileStart_ = first;
        s->fileEnd_ = last;
        const uint64_t span = last - first;
        s->period_ = span >= kMinPeriodUs - 1 ? span + 1 : kMinPeriodUs;
    }
    s->reader_ = std::move(reader);
    return s;
}

ReplaySource::~ReplaySource() = default;

const RawFileHeader &ReplaySource::header() const
{
    return reader_->header();
}

void ReplaySource::setTriggerIn(std::shared_ptr<TriggerInTool> triggerIn)
{
    triggerIn_ = std::move(triggerIn);
}

void ReplaySource::startAt(uint64_t t)
{
    // The recording begins when streaming first starts; later restarts continue
    // live, like a scene that went on while nobody watched.
    if (!started_) {
        base_ = t;
        started_ = true;
    }
}

void ReplaySource::produce(uint64_t t0, uint64_t t1, std::vector<Event2D> &events,
                           std::vector<EventTriggerIn> &triggers)
{
    if (empty_ || !started_ || t1 <= t0 || t0 < base_)
        return;
    while (t0 < t1) {
        const uint64_t loop = (t0 - base_) / period_;
        const uint64_t loopStart = base_ + loop * period_; // camera time of fileStart_ in this loop
        const uint64_t segmentEnd = std::min(t1, loopStart + period_);
        const uint64_t f0 = fileStart_ + (t0 - loopStart);
        const uint64_t f1 = fileStart_ + (segmentEnd - loopStart);
        emit(f0, f1, loopStart - fileStart_, events, triggers);
        t0 = segmentEnd;
    }
}

void ReplaySource::emit(uint64_t f0, uint64_t f1, uint64_t cameraMinusFile, std::vector<Event2D> &events,
                        std::vector<EventTriggerIn> &triggers)
{
    // cameraMinusFile is applied with unsigned wrap-around: camera = file + (loopStart - fileStart).
    const auto byTime = [](const auto &item, uint64_t t) { return item.timestamp < t; };
    while (f0 < f1) {
        if (f0 < bufStart_ || f0 >= bufEnd_)
            refill(f0, f1);
        const uint64_t upto = std::min(f1, bufEnd_);
        auto eb = std::lower_bound(bufEvents_.begin() + static_cast<std::ptrdiff_t>(eventCursor_), bufEvents_.end(),
                                   f0, byTime);
        auto ee = std::lower_bound(eb, bufEvents_.end(), upto, byTime);
        for (auto it = eb; it != ee; ++it)
            events.emplace_back(it->x, it->y, it->polarity, it->timestamp + cameraMinusFile);
        eventCursor_ = static_cast<size_t>(ee - bufEvents_.begin());

        auto tb = std::lower_bound(bufTriggers_.begin() + static_cast<std::ptrdiff_t>(triggerCursor_),
                                   bufTriggers_.end(), f0, byTime);
        auto te = std::lower_bound(tb, bufTriggers_.end(), upto, byTime);
        for (auto it = tb; it != te; ++it) {
            if (triggerIn_ && triggerIn_->channelEnabled(it->id)) {
                EventTriggerIn t = *it;
                t.timestamp += cameraMinusFile;
                triggers.push_back(t);
            }
        }
        triggerCursor_ = static_cast<size_t>(te - bufTriggers_.begin());
        f0 = upto;
    }
}

void ReplaySource::refill(uint64_t f0, uint64_t f1)
{
    bufStart_ = f0;
    bufEnd_ = std::max(f1, f0 + kReadAheadUs);
    bufEvents_.clear();
    bufTriggers_.clear();
    eventCursor_ = triggerCursor_ = 0;
    if (f0 > fileEnd_)
        return; // the pause between the recording's end and the next loop
    bufEnd_ = std::min(bufEnd_, fileEnd_ + 1);
    reader_->readRangeInto(f0, bufEnd_ - f0, bufEvents_);
    if (auto triggers = reader_->readTriggers(f0, bufEnd_ - f0))
        bufTriggers_.swap(*triggers);
}

bool ReplaySource::connected() const
{
    if (gone_.load(std::memory_order_relaxed))
        return false;
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0 || static_cast<uint64_t>(st.st_dev) != device_ ||
        static_cast<uint64_t>(st.st_ino) != inode_) {
        gone_.store(true);
        return false;
    }
    return true;
}

std::string ReplaySource::lostReason() const
{
    return "its recording " + path_ + " was removed or replaced";
}

} // namespace vexadin
