#include "driver/callbackdispatcher.h"

#include "driver/driverlog.h"

#include <exception>
#include <vector>

namespace vexadin {

namespace {
constexpr int kStatisticsKey = -1;
}

CallbackDispatcher::CallbackDispatcher(std::string name) : name_(std::move(name))
{
    thread_ = std::thread([this] { run(); });
}

CallbackDispatcher::~CallbackDispatcher()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

int CallbackDispatcher::addTriggerCallback(std::function<void(EventTriggerIn)> callback)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const int id = nextId_++;
    if (nextId_ <= 0) // after 2^31 registrations; ids stay positive
        nextId_ = 1;
    if (callback)
        triggerCallbacks_[id] = std::make_shared<TriggerFn>(std::move(callback));
    return id;
}

void CallbackDispatcher::removeTriggerCallback(int id)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (triggerCallbacks_.erase(id) == 0)
        return;
    waitIdle(lock, id);
}

void CallbackDispatcher::setStatisticsCallback(std::function<void(VxStatisticInfo)> callback)
{
    std::unique_lock<std::mutex> lock(mutex_);
    statisticsCallback_ = callback ? std::make_shared<StatisticsFn>(std::move(callback)) : nullptr;
    waitIdle(lock, kStatisticsKey);
}

void CallbackDispatcher::waitIdle(std::unique_lock<std::mutex> &lock, int key)
{
    if (std::this_thread::get_id() == thread_.get_id())
        return; // from inside a callback: waiting for ourselves would never end
    idle_.wait(lock, [&] { return running_ != key; });
}

void CallbackDispatcher::postTriggers(const EventTriggerIn *first, const EventTriggerIn *last)
{
    if (first == last)
        return;
    bool reportDrop = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (; first != last; ++first) {
            if (triggers_.size() >= kMaxPendingTriggers) {
                reportDrop = droppedTriggers_ == 0;
                ++droppedTriggers_;
                continue;
            }
            triggers_.push_back(*first);
        }
    }
    wake_.notify_one();
    if (reportDrop)
        driverLog(DriverLogLevel::Warning,
                  name_ + ": trigger-in callbacks do not keep up; edges are being dropped");
}

void CallbackDispatcher::postStatistics(const VxStatisticInfo &info)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        statistics_ = info;
        haveStatistics_ = true;
    }
    wake_.notify_one();
}

uint64_t CallbackDispatcher::droppedTriggers() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return droppedTriggers_;
}

template <typename Fn, typename Arg>
void CallbackDispatcher::call(std::unique_lock<std::mutex> &lock, int key, std::shared_ptr<Fn> fn, const Arg &arg)
{
    running_ = key;
    lock.unlock();
    try {
        (*fn)(arg);
    } catch (const std::exception &e) {
        driverLog(DriverLogLevel::Error, name_ + ": a callback threw: " + e.what());
    } catch (...) {
        driverLog(DriverLogLevel::Error, name_ + ": a callback threw");
    }
    fn.reset(); // a callback removed meanwhile is destroyed here, outside the lock
    lock.lock();
    running_ = 0;
    idle_.notify_all();
}

void CallbackDispatcher::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    std::vector<int> targets;
    for (;;) {
        wake_.wait(lock, [&] { return quit_ || haveStatistics_ || !triggers_.empty(); });
        if (quit_)
            return;
        if (haveStatistics_) {
            haveStatistics_ = false;
            const VxStatisticInfo info = statistics_;
            if (statisticsCallback_)
                call(lock, kStatisticsKey, statisticsCallback_, info);
            continue;
        }
        const EventTriggerIn trigger = triggers_.front();
        triggers_.pop_front();
        targets.clear();
        for (const auto &entry : triggerCallbacks_)
            targets.push_back(entry.first);
        for (const int id : targets) {
            // Skips a callback removed while an earlier one of this edge ran.
            auto it = triggerCallbacks_.find(id);
            if (it == triggerCallbacks_.end())
                continue;
            call(lock, id, it->second, trigger);
            if (quit_)
                return;
        }
    }
}

} // namespace vexadin
