#include "processing/dvsapsfusionproccessor.h"

#include <QDebug>

#include <algorithm>
#include <cstring>
#include <utility>

using vexadin::ApsFrame;
using vexadin::Event2D;

namespace {

// First loss, then every hundredth: enough to see it in the log without flooding it.
bool worthLogging(uint64_t count)
{
    return count == 1 || count % 100 == 0;
}

} // namespace

DvsApsFusionProccessor::DvsApsFusionProccessor()
    // Capacity reserved, not filled: pages are touched only as far as batches grow,
    // instead of 480 MB of zeroed events up front.
    : event_pool_(std::make_unique<vexadin::VxObjectPool<Batch>>(kPoolSize, [] {
          auto batch = std::make_unique<Batch>();
          batch->reserve(kBatchCapacity);
          return batch;
      }))
{
    current_batch_ = freshBatch();
}

DvsApsFusionProccessor::~DvsApsFusionProccessor()
{
    removeFusionDataCallback();
}

std::shared_ptr<DvsApsFusionProccessor::Batch> DvsApsFusionProccessor::freshBatch()
{
    std::shared_ptr<Batch> batch = event_pool_->acquire();
    batch->clear(); // capacity kept
    return batch;
}

ApsFrame DvsApsFusionProccessor::copyOf(const ApsFrame &frame)
{
    std::lock_guard<std::mutex> lock(copy_mutex_);
    for (ApsFrame &pooled : copy_pool_) {
        if (pooled.getWidth() != frame.getWidth() || pooled.getHeight() != frame.getHeight() ||
            !pooled.ownsBufferAlone())
            continue;
        std::memcpy(pooled.data(), frame.data(), frame.getDataSize());
        pooled.setFrameNumber(frame.getFrameNumber());
        pooled.setTimestamp(frame.getTimestamp());
        return pooled;
    }
    ApsFrame copy = frame.clone();
    if (copy.isEmpty())
        return copy;
    // Frames of another size (a camera changed its frame size) are not reused again.
    copy_pool_.erase(std::remove_if(copy_pool_.begin(), copy_pool_.end(),
                                    [&](const ApsFrame &f) {
                                        return f.getWidth() != copy.getWidth() || f.getHeight() != copy.getHeight();
                                    }),
                     copy_pool_.end());
    if (copy_pool_.size() < kFrameCopyPool)
        copy_pool_.push_back(copy);
    return copy;
}

void DvsApsFusionProccessor::addApsData(ApsFrame frame)
{
    ApsFrame copy = copyOf(frame); // outside the pairing lock: a 25 MB copy
    std::lock_guard<std::mutex> lock(mutex_);
    aps_queue_.push_back(std::move(copy));
    if (aps_queue_.size() > kMaxQueuedFrames) {
        aps_queue_.pop_front();
        const uint64_t dropped = ++dropped_frames_;
        if (worthLogging(dropped))
            qWarning() << "Fusion: no trigger edge for the queued APS frames; frames dropped:" << dropped;
    }
    fusionData();
}

void DvsApsFusionProccessor::addDvsData(const Event2D *begin, const Event2D *end)
{
    if (begin == end)
        return;
    size_t count = size_t(end - begin);
    std::lock_guard<std::mutex> lock(batch_mutex_);
    Batch &batch = *current_batch_;
    if (batch.size() + count > kMaxBatchEvents) {
        // No edge for a long time: keep the newest events (those nearest the edge that
        // will close the batch) in half the cap, so the trimming is paid rarely.
        const size_t keep = kMaxBatchEvents / 2;
        uint64_t dropped = 0;
        if (count >= keep) {
            dropped = batch.size() + (count - keep);
            batch.clear();
            begin = end - keep;
            count = keep;
        } else {
            const size_t drop = batch.size() - (keep - count);
            batch.erase(batch.begin(), batch.begin() + ptrdiff_t(drop));
            dropped = drop;
        }
        const uint64_t before = dropped_events_.fetch_add(dropped);
        if (before == 0)
            qWarning() << "Fusion: no trigger edge closes the event batch; oldest events dropped:" << dropped;
    }
    batch.insert(batch.end(), begin, end);
}

void DvsApsFusionProccessor::addSyncSignal(const vexadin::EventTriggerIn &signal)
{
    if (signal.edge != 1)
        return;
    std::shared_ptr<Batch> fresh = freshBatch();
    std::lock_guard<std::mutex> lock(mutex_);
    {
        std::lock_guard<std::mutex> batchLock(batch_mutex_);
        std::swap(fresh, current_batch_);
    }
    closed_batches_.push_back(std::move(fresh)); // the batch this edge closed
    if (closed_batches_.size() > kMaxClosedBatches) {
        closed_batches_.pop_front();
        const uint64_t dropped = ++dropped_batches_;
        if (worthLogging(dropped))
            qWarning() << "Fusion: no APS frame for the closed event batches; batches dropped:" << dropped;
    }
    fusionData();
}

void DvsApsFusionProccessor::fusionData()
{
    while (!aps_queue_.empty() && !closed_batches_.empty()) {
        ApsFrame frame = std::move(aps_queue_.front());
        aps_queue_.pop_front();
        std::shared_ptr<Batch> batch = std::move(closed_batches_.front());
        closed_batches_.pop_front();
        if (fusion_callback_) {
            Event2D *first = batch->data();
            fusion_callback_(frame, first, first + batch->size());
        }
        // The batch goes back to the pool here, the frame's copy with it.
    }
}

void DvsApsFusionProccessor::clear()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        aps_queue_.clear();
        closed_batches_.clear();
        std::lock_guard<std::mutex> batchLock(batch_mutex_);
        current_batch_->clear();
    }
    // The copies' memory goes back too: clear() comes when a camera opens or stops.
    std::lock_guard<std::mutex> lock(copy_mutex_);
    copy_pool_.clear();
}

void DvsApsFusionProccessor::addFusionDataCallback(FusionCallback callback)
{
    std::lock_guard<std::mutex> lock(mutex_);
    fusion_callback_ = std::move(callback);
}

void DvsApsFusionProccessor::removeFusionDataCallback()
{
    std::lock_guard<std::mutex> lock(mutex_);
    fusion_callback_ = nullptr;
}

size_t DvsApsFusionProccessor::queuedFrames() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return aps_queue_.size();
}

size_t DvsApsFusionProccessor::closedBatches() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_batches_.size();
}

size_t DvsApsFusionProccessor::currentBatchSize() const
{
    std::lock_guard<std::mutex> lock(batch_mutex_);
    return current_batch_->size();
}
