#include "driver/liveslicer.h"

#include <algorithm>

namespace vexadin {

LiveSlicer::LiveSlicer(uint64_t sliceUs)
    : nextLength_(std::clamp(sliceUs, kMinSliceUs, kMaxSliceUs))
{
}

void LiveSlicer::setSliceLength(uint64_t sliceUs)
{
    nextLength_.store(std::clamp(sliceUs, kMinSliceUs, kMaxSliceUs), std::memory_order_relaxed);
}

uint64_t LiveSlicer::sliceLength() const
{
    return nextLength_.load(std::memory_order_relaxed);
}

void LiveSlicer::begin(uint64_t t)
{
    building_.clear();
    sliceStart_ = t;
    sliceEnd_ = t + nextLength_.load(std::memory_order_relaxed);
    running_ = true;
    std::lock_guard<std::mutex> lock(mutex_);
    ready_.clear();
    readyFresh_ = false;
    live_ = true;
}

void LiveSlicer::add(const Event2D *first, const Event2D *last, uint64_t stepEnd)
{
    if (!running_)
        return;
    while (sliceEnd_ <= stepEnd) {
        const Event2D *cut = first;
        while (cut != last && cut->timestamp < sliceEnd_)
            ++cut;
        building_.insert(building_.end(), first, cut);
        first = cut;
        complete();
        sliceStart_ = sliceEnd_;
        sliceEnd_ += nextLength_.load(std::memory_order_relaxed);
    }
    building_.insert(building_.end(), first, last);
}

void LiveSlicer::complete()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (live_) {
            if (readyFresh_)
                skipped_.fetch_add(1, std::memory_order_relaxed);
            ready_.swap(building_);
            readyStart_ = sliceStart_;
            readyEnd_ = sliceEnd_;
            readyFresh_ = true;
            completed_.fetch_add(1, std::memory_order_relaxed);
        }
    }
    building_.clear(); // the buffer of the slice replaced (or handed back by fetch)
}

void LiveSlicer::end()
{
    std::lock_guard<std::mutex> lock(mutex_);
    live_ = false;
    readyFresh_ = false;
    ready_.clear();
}

bool LiveSlicer::fetch(std::vector<Event2D> &out, uint64_t *start, uint64_t *end, uint64_t *skipped)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!live_ || !readyFresh_)
        return false;
    if (start)
        *start = readyStart_;
    if (end)
        *end = readyEnd_;
    if (skipped)
        *skipped = skipped_.load(std::memory_order_relaxed); // counted under this lock too
    out.swap(ready_);
    ready_.clear();
    readyFresh_ = false;
    return true;
}

} // namespace vexadin
