#pragma once

#include "camera/event2d.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace vexadin {

// Cuts a camera's stream into consecutive half-open time slices [start, start + L)
// of the batch-slice length L and hands the newest complete one to the live
// consumer. A slice the consumer did not fetch before the next one completed is
// skipped (and counted): a live view shows the present, never a backlog. The
// slices a consumer fetches in time follow each other without gap or overlap.
//
// One producer thread calls begin/add/end; any thread may call fetch, setSliceLength
// and the counters. fetch only swaps buffers under a short lock, so it never waits
// for the producer's work.
class LiveSlicer {
public:
    static constexpr uint64_t kMinSliceUs = 100;
    static constexpr uint64_t kMaxSliceUs = 1000000;

    explicit LiveSlicer(uint64_t sliceUs = 33333);

    // Clamped to [kMinSliceUs, kMaxSliceUs]; acts from the next slice on.
    void setSliceLength(uint64_t sliceUs);
    uint64_t sliceLength() const;

    // Producer: the stream (re)starts at camera time t; the first slice begins there.
    void begin(uint64_t t);
    // Producer: the events (in time order) of the stream up to stepEnd (exclusive);
    // every slice that ends at or before stepEnd is complete afterwards.
    void add(const Event2D *first, const Event2D *last, uint64_t stepEnd);
    // Producer or controller: the stream stopped; the partial and any unfetched
    // slice are dropped and fetch answers false until the next begin().
    void end();

    // Consumer: true with the newest complete slice not fetched yet (out is
    // replaced; its old buffer is kept for reuse), its bounds [start, end) and the
    // slices skipped up to it.
    bool fetch(std::vector<Event2D> &out, uint64_t *start = nullptr, uint64_t *end = nullptr,
               uint64_t *skipped = nullptr);

    uint64_t skippedSlices() const { return skipped_.load(std::memory_order_relaxed); }
    uint64_t completedSlices() const { return completed_.load(std::memory_order_relaxed); }

private:
    void complete();

    std::atomic<uint64_t> nextLength_;

    // Producer side.
    std::vector<Event2D> building_;
    uint64_t sliceStart_ = 0;
    uint64_t sliceEnd_ = 0;
    bool running_ = false; // begin() was called

    // Shared with the consumer, under mutex_.
    mutable std::mutex mutex_;
    std::vector<Event2D> ready_;
    uint64_t readyStart_ = 0, readyEnd_ = 0;
    bool readyFresh_ = false; // ready_ holds a complete slice nobody fetched yet
    bool live_ = false;       // between begin() and end()

    std::atomic<uint64_t> skipped_{0};
    std::atomic<uint64_t> completed_{0};
};

} // namespace vexadin
