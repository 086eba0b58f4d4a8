#pragma once

#include "driver/eventsource.h"
#include "driver/rawfilewriter.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexadin {

class RawFileReader;
class TriggerInTool;

// A recording played as a live stream in real time, looping: camera time t shows
// the recording's time fileStart + (t - base) mod period, where base is the time
// streaming first started and period is the recording's span plus 1 µs (at least
// kMinPeriodUs). Every loop reproduces the recording's events exactly, shifted by
// base + loop * period - fileStart, so time stamps keep increasing. Trigger-in
// edges of the recording are delivered for the inputs that are enabled (input =
// the edge's id). The recording is read a little ahead on the producer thread.
//
// The device is gone once the file is deleted or replaced.
class ReplaySource : public EventSource {
public:
    static constexpr uint64_t kMinPeriodUs = 100000;
    static constexpr uint64_t kReadAheadUs = 20000;

    // Null with the reason in error when path is not a readable recording.
    static std::unique_ptr<ReplaySource> open(const std::string &path, std::string *error);
    ~ReplaySource() override;

    const RawFileHeader &header() const;
    uint64_t period() const { return period_; }
    uint64_t fileStart() const { return fileStart_; }

    void setTriggerIn(std::shared_ptr<TriggerInTool> triggerIn);

    void startAt(uint64_t t) override;
    void produce(uint64_t t0, uint64_t t1, std::vector<Event2D> &events,
                 std::vector<EventTriggerIn> &triggers) override;
    bool connected() const override;
    std::string lostReason() const override;

private:
    ReplaySource() = default;
    // Events and triggers of file time [f0, f1), shifted to camera time.
    void emit(uint64_t f0, uint64_t f1, uint64_t cameraMinusFile, std::vector<Event2D> &events,
              std::vector<EventTriggerIn> &triggers);
    void refill(uint64_t f0, uint64_t f1);

    std::unique_ptr<RawFileReader> reader_;
    std::string path_;
    uint64_t device_ = 0, inode_ = 0;
    std::shared_ptr<TriggerInTool> triggerIn_;
    bool empty_ = false;
    uint64_t fileStart_ = 0, fileEnd_ = 0, period_ = kMinPeriodUs;
    bool started_ = false;
    uint64_t base_ = 0;

    // Read-ahead: the recording's events and triggers of file time [bufStart_, bufEnd_).
    uint64_t bufStart_ = 0, bufEnd_ = 0;
    std::vector<Event2D> bufEvents_;
    std::vector<EventTriggerIn> bufTriggers_;
    size_t eventCursor_ = 0, triggerCursor_ = 0;

    mutable std::atomic<bool> gone_{false};
};

} // namespace vexadin
