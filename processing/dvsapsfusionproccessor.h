#pragma once

#include "camera/apsframe.h"
#include "camera/event2d.h"
#include "camera/eventtriggerin.h"
#include "camera/vxobjectpool.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Pairs a live fusion camera's colour frames with the events of their exposure.
//
// The camera sends one trigger-in edge of value 1 per frame exposure. Events are
// collected into the current batch; each such edge closes the batch. The n-th frame
// queued is paired with the n-th closed batch (by order only, time stamps are not
// compared) and the pair goes to the registered callback, on the thread of the call
// that completed it, with the pairing lock held: the callback must not call back
// into this object.
//
// Memory is bounded: at most kMaxQueuedFrames frames and kMaxClosedBatches batches
// wait for their partner (the oldest is dropped and counted when a camera's triggers
// or frames stop), and a batch that no edge closes keeps only its newest events.
//
// Every member may be called from any thread.
class DvsApsFusionProccessor {
public:
    using FusionCallback = std::function<void(vexadin::ApsFrame &, vexadin::Event2D *, vexadin::Event2D *)>;

    static constexpr size_t kPoolSize = 10;
    static constexpr size_t kBatchCapacity = 3145728;
    static constexpr size_t kMaxQueuedFrames = 4;
    static constexpr size_t kMaxClosedBatches = 8;
    static constexpr size_t kMaxBatchEvents = kBatchCapacity;
    // Frame copies kept for reuse: a fresh 25 MB buffer per frame would be faulted in
    // page by page 30 times a second.
    static constexpr size_t kFrameCopyPool = 3;

    DvsApsFusionProccessor();
    ~DvsApsFusionProccessor();

    DvsApsFusionProccessor(const DvsApsFusionProccessor &) = delete;
    DvsApsFusionProccessor &operator=(const DvsApsFusionProccessor &) = delete;

    // Queues a deep copy of the frame (the camera may reuse its buffer), then pairs.
    void addApsData(vexadin::ApsFrame frame);
    // Appends [begin, end) to the current batch.
    void addDvsData(const vexadin::Event2D *begin, const vexadin::Event2D *end);
    // An edge of value 1 closes the current batch, then pairs; other edges are ignored.
    void addSyncSignal(const vexadin::EventTriggerIn &signal);
    // Drops every queued frame and batch and empties the current batch.
    void clear();

    // Replaces the callback; waits for a callback that is running to return.
    void addFusionDataCallback(FusionCallback callback);
    // Empties the callback; afterwards no callback runs any more.
    void removeFusionDataCallback();

    // Losses so far (frames or batches that waited too long, events of an over-long batch).
    uint64_t droppedFrames() const { return dropped_frames_.load(); }
    uint64_t droppedBatches() const { return dropped_batches_.load(); }
    uint64_t droppedEvents() const { return dropped_events_.load(); }
    // Waiting now (tests and diagnostics).
    size_t queuedFrames() const;
    size_t closedBatches() const;
    size_t currentBatchSize() const;

private:
    using Batch = std::vector<vexadin::Event2D>;

    // Pairs and delivers while both queues hold something; mutex_ held.
    void fusionData();
    std::shared_ptr<Batch> freshBatch();
    // A deep copy of frame, in a pooled buffer nobody else holds when there is one.
    vexadin::ApsFrame copyOf(const vexadin::ApsFrame &frame);

    std::unique_ptr<vexadin::VxObjectPool<Batch>> event_pool_;
    std::deque<std::shared_ptr<Batch>> closed_batches_; // guarded by mutex_
    std::shared_ptr<Batch> current_batch_;              // guarded by batch_mutex_
    std::deque<vexadin::ApsFrame> aps_queue_;           // guarded by mutex_
    std::vector<vexadin::ApsFrame> copy_pool_;          // guarded by copy_mutex_
    std::mutex copy_mutex_;
    FusionCallback fusion_callback_;                    // guarded by mutex_
    // Pairing, queues and callback. Taken before batch_mutex_ when both are needed.
    mutable std::mutex mutex_;
    // The current batch only, so the event thread never waits for a running callback.
    mutable std::mutex batch_mutex_;
    std::atomic<uint64_t> dropped_frames_{0};
    std::atomic<uint64_t> dropped_batches_{0};
    std::atomic<uint64_t> dropped_events_{0};
};
