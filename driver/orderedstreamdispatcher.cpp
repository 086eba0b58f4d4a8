#include "driver/orderedstreamdispatcher.h"

#include "driver/driverlog.h"

#include <algorithm>
#include <exception>

namespace vexadin {

namespace {

constexpr size_t kMaxSpareSteps = 16;

template <typename Fn, typename... Args>
void callSafely(const std::string &name, const Fn &fn, Args &&...args)
{
    try {
        fn(std::forward<Args>(args)...);
    } catch (const std::exception &e) {
        driverLog(DriverLogLevel::Error, name + ": a callback threw: " + e.what());
    } catch (...) {
        driverLog(DriverLogLevel::Error, name + ": a callback threw");
    }
}

} // namespace

OrderedStreamDispatcher::OrderedStreamDispatcher(std::string name, size_t maxQueuedEvents)
    : name_(std::move(name)), maxQueuedEvents_(maxQueuedEvents)
{
    thread_ = std::thread([this] { run(); });
}

OrderedStreamDispatcher::~OrderedStreamDispatcher()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void OrderedStreamDispatcher::addEventsCallback(EventsFn callback)
{
    if (!callback)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    eventsFns_.push_back(std::make_shared<EventsFn>(std::move(callback)));
}

void OrderedStreamDispatcher::addEdgeCallback(EdgeFn callback)
{
    if (!callback)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    edgeFns_.push_back(std::make_shared<EdgeFn>(std::move(callback)));
}

void OrderedStreamDispatcher::post(const Event2D *events, const Event2D *eventsEnd, const EventTriggerIn *edges,
                                   const EventTriggerIn *edgesEnd)
{
    size_t n = size_t(eventsEnd - events);
    if (n == 0 && edges == edgesEnd)
        return;
    bool reportDrop = false;
    std::unique_ptr<Step> step;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (eventsFns_.empty())
            n = 0; // nobody listens: nothing to copy
        if (n != 0 && queuedEvents_ + n > maxQueuedEvents_) {
            reportDrop = dropped_ == 0;
            dropped_ += n;
            n = 0;
        }
        if (n == 0 && (edgeFns_.empty() || edges == edgesEnd)) {
            if (reportDrop)
                driverLog(DriverLogLevel::Warning, name_ + ": event callbacks do not keep up; events are being dropped");
            return;
        }
        queuedEvents_ += n; // reserved now, so the bound holds while we copy
        if (!spare_.empty()) {
            step = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    if (reportDrop)
        driverLog(DriverLogLevel::Warning, name_ + ": event callbacks do not keep up; events are being dropped");
    if (!step)
        step = std::make_unique<Step>();
    step->events.assign(events, events + n);
    step->edges.assign(edges, edgesEnd);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(step));
    }
    wake_.notify_one();
}

void OrderedStreamDispatcher::drain()
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (std::this_thread::get_id() == thread_.get_id())
        return;
    idle_.wait(lock, [&] { return quit_ || (queue_.empty() && !busy_); });
}

uint64_t OrderedStreamDispatcher::droppedEvents() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

uint64_t OrderedStreamDispatcher::deliveredEvents() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return delivered_;
}

void OrderedStreamDispatcher::deliver(const Step &step, const std::vector<std::shared_ptr<EventsFn>> &eventsFns,
                                      const std::vector<std::shared_ptr<EdgeFn>> &edgeFns)
{
    const Event2D *from = step.events.data();
    const Event2D *const end = from + step.events.size();
    const auto giveEvents = [&](const Event2D *to) {
        if (from == to)
            return;
        for (const auto &fn : eventsFns)
            callSafely(name_, *fn, from, to);
        from = to;
    };
    for (const EventTriggerIn &edge : step.edges) {
        giveEvents(std::lower_bound(from, end, edge.timestamp,
                                    [](const Event2D &e, uint64_t t) { return e.timestamp < t; }));
        for (const auto &fn : edgeFns)
            callSafely(name_, *fn, edge);
    }
    giveEvents(end);
}

void OrderedStreamDispatcher::run()
{
    std::vector<std::shared_ptr<EventsFn>> eventsFns;
    std::vector<std::shared_ptr<EdgeFn>> edgeFns;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return quit_ || !queue_.empty(); });
        if (quit_)
            break;
        std::unique_ptr<Step> step = std::move(queue_.front());
        queue_.pop_front();
        eventsFns = eventsFns_;
        edgeFns = edgeFns_;
        busy_ = true;
        lock.unlock();
        deliver(*step, eventsFns, edgeFns);
        eventsFns.clear();
        edgeFns.clear();
        lock.lock();
        busy_ = false;
        queuedEvents_ -= step->events.size();
        delivered_ += step->events.size();
        if (spare_.size() < kMaxSpareSteps) {
            step->events.clear();
            step->edges.clear();
            spare_.push_back(std::move(step));
        }
        if (queue_.empty())
            idle_.notify_all();
    }
    idle_.notify_all();
}

} // namespace vexadin
