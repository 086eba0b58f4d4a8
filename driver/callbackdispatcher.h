#pragma once

#include "camera/eventtriggerin.h"
#include "camera/vxstatisticinfo.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace vexadin {

// The thread on which a camera calls its users back: trigger-in edges and
// statistics. Callbacks run without any lock held, so they may call the camera
// (even remove themselves). Removing or replacing a callback from another thread
// waits until a call of it that is under way has returned, so the caller may
// destroy what the callback uses right afterwards. A callback must not hold the
// last reference to its camera.
class CallbackDispatcher {
public:
    // Edges waiting for delivery beyond this are dropped (counted, logged once).
    static constexpr size_t kMaxPendingTriggers = 65536;

    explicit CallbackDispatcher(std::string name);
    ~CallbackDispatcher(); // joins; undelivered items are dropped

    CallbackDispatcher(const CallbackDispatcher &) = delete;
    CallbackDispatcher &operator=(const CallbackDispatcher &) = delete;

    int addTriggerCallback(std::function<void(EventTriggerIn)> callback); // ids from 1
    void removeTriggerCallback(int id);
    void setStatisticsCallback(std::function<void(VxStatisticInfo)> callback);

    void postTriggers(const EventTriggerIn *first, const EventTriggerIn *last);
    void postStatistics(const VxStatisticInfo &info); // replaces one not delivered yet

    uint64_t droppedTriggers() const;

private:
    using TriggerFn = std::function<void(EventTriggerIn)>;
    using StatisticsFn = std::function<void(VxStatisticInfo)>;

    void run();
    // With lock held: waits until no call of callback `key` is running (unless
    // called from the dispatcher thread itself, i.e. from inside a callback).
    void waitIdle(std::unique_lock<std::mutex> &lock, int key);
    template <typename Fn, typename Arg>
    void call(std::unique_lock<std::mutex> &lock, int key, std::shared_ptr<Fn> fn, const Arg &arg);

    const std::string name_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    bool quit_ = false;
    std::deque<EventTriggerIn> triggers_;
    bool haveStatistics_ = false;
    VxStatisticInfo statistics_;
    std::map<int, std::shared_ptr<TriggerFn>> triggerCallbacks_;
    std::shared_ptr<StatisticsFn> statisticsCallback_;
    int nextId_ = 1;
    int running_ = 0; // key of the callback being called: trigger id, or -1 for statistics
    uint64_t droppedTriggers_ = 0;
    std::thread thread_;
};

} // namespace vexadin
