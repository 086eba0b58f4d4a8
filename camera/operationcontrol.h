#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace vexadin {

// Follows and stops one long reader operation: a cut, a video export, an index
// rebuild while opening, a check of every block.
//
// The caller sets the handlers before the operation starts, may call cancel() from
// any thread while it runs, and reads unreadable() after it returned. The operation
// calls report() with the fraction of its range done and polls cancelled(); once
// cancelled it stops, leaves no file behind (neither the output nor a temporary
// one) and returns failure.
class OperationControl {
public:
    // A closed range [first, last] of recording time, µs.
    struct Range {
        uint64_t first = 0;
        uint64_t last = 0;
        bool operator==(const Range &o) const { return first == o.first && last == o.last; }
    };

    // Progress reaches the handler at most this often (plus the final 1).
    static constexpr std::chrono::milliseconds kReportInterval{200};

    OperationControl() = default;
    OperationControl(const OperationControl &) = delete;
    OperationControl &operator=(const OperationControl &) = delete;

    // Called on the working thread with the fraction done: never falling, the first
    // report at once, then at most one per kReportInterval, and 1 when the operation
    // has succeeded.
    void setProgressHandler(std::function<void(double)> handler);
    // A second reason to stop, polled by cancelled() (an interrupt flag, say). Must be
    // cheap and callable from the working thread.
    void setStopCondition(std::function<bool()> condition);

    void cancel();
    bool cancelled() const;

    // For the operation: the fraction of the work done, 0 to 1.
    void report(double fraction);
    // For the operation: a part of the range it had to skip (a damaged block).
    // Touching or overlapping ranges are merged.
    void noteUnreadable(uint64_t first, uint64_t last);

    std::vector<Range> unreadable() const;
    // The last fraction handed to the handler; -1 before the first.
    double reported() const;

private:
    std::function<void(double)> progress_;
    std::function<bool()> stop_;
    std::atomic<bool> cancelled_{false};
    mutable std::mutex mutex_;
    double reported_ = -1.0;
    std::chrono::steady_clock::time_point reportedAt_{};
    std::vector<Range> unreadable_;
};

} // namespace vexadin
