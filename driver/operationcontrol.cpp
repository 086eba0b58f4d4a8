#include "camera/operationcontrol.h"

#include <algorithm>

namespace vexadin {

void OperationControl::setProgressHandler(std::function<void(double)> handler)
{
    std::lock_guard<std::mutex> lock(mutex_);
    progress_ = std::move(handler);
}

void OperationControl::setStopCondition(std::function<bool()> condition)
{
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = std::move(condition);
}

void OperationControl::cancel()
{
    cancelled_.store(true);
}

bool OperationControl::cancelled() const
{
    if (cancelled_.load(std::memory_order_relaxed))
        return true;
    // Set before the operation starts and never changed while it runs.
    return stop_ && stop_();
}

void OperationControl::report(double fraction)
{
    if (!(fraction >= 0.0)) // NaN too
        fraction = 0.0;
    fraction = std::min(fraction, 1.0);
    std::function<void(double)> handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fraction <= reported_)
            return;
        const auto now = std::chrono::steady_clock::now();
        const bool first = reported_ < 0.0;
        if (!first && fraction < 1.0 && now - reportedAt_ < kReportInterval)
            return;
        reported_ = fraction;
        reportedAt_ = now;
        handler = progress_;
    }
    if (handler)
        handler(fraction);
}

void OperationControl::noteUnreadable(uint64_t first, uint64_t last)
{
    if (last < first)
        std::swap(first, last);
    std::lock_guard<std::mutex> lock(mutex_);
    // Operations skip in time order: only the previous range can touch this one.
    if (!unreadable_.empty()) {
        Range &prev = unreadable_.back();
        if (first >= prev.first && (first <= prev.last || first - prev.last == 1)) {
            prev.last = std::max(prev.last, last);
            return;
        }
    }
    unreadable_.push_back({first, last});
}

std::vector<OperationControl::Range> OperationControl::unreadable() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return unreadable_;
}

double OperationControl::reported() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return reported_;
}

} // namespace vexadin
