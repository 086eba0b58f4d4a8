#pragma once

#include "camera/event2d.h"
#include "camera/eventtriggerin.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexadin {

// The thread on which a fusion camera hands out its events and trigger edges:
// both from this one thread, in time order, the events split at every edge (the
// events before an edge's time are delivered before the edge). A consumer can so
// cut the event stream at the edges without any lock of its own.
//
// The producer posts and never waits: steps wait in a bounded queue. When the
// consumers fall behind and the queue is full, a step's events are dropped
// (counted and logged) and its edges still go, so pairing by edges holds.
// Callbacks run without any lock held.
class OrderedStreamDispatcher {
public:
    using EventsFn = std::function<void(const Event2D *begin, const Event2D *end)>;
    using EdgeFn = std::function<void(const EventTriggerIn &edge)>;

    static constexpr size_t kDefaultMaxQueuedEvents = 4u << 20; // 64 MB of events

    explicit OrderedStreamDispatcher(std::string name, size_t maxQueuedEvents = kDefaultMaxQueuedEvents);
    ~OrderedStreamDispatcher(); // joins; undelivered steps are dropped

    OrderedStreamDispatcher(const OrderedStreamDispatcher &) = delete;
    OrderedStreamDispatcher &operator=(const OrderedStreamDispatcher &) = delete;

    // Any thread; a callback registered while the stream runs gets the steps that
    // follow.
    void addEventsCallback(EventsFn callback);
    void addEdgeCallback(EdgeFn callback);

    // Producer: one step of the stream, each range in time order.
    void post(const Event2D *events, const Event2D *eventsEnd, const EventTriggerIn *edges,
              const EventTriggerIn *edgesEnd);
    // Returns once everything posted before has been delivered (at once when
    // called from a callback).
    void drain();

    uint64_t droppedEvents() const;
    uint64_t deliveredEvents() const;

private:
    struct Step {
        std::vector<Event2D> events;
        std::vector<EventTriggerIn> edges;
    };
    void run();
    void deliver(const Step &step, const std::vector<std::shared_ptr<EventsFn>> &eventsFns,
                 const std::vector<std::shared_ptr<EdgeFn>> &edgeFns);

    const std::string name_;
    const size_t maxQueuedEvents_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    bool quit_ = false;
    bool busy_ = false;
    std::deque<std::unique_ptr<Step>> queue_;
    std::vector<std::unique_ptr<Step>> spare_; // delivered steps, their buffers kept
    size_t queuedEvents_ = 0;
    std::vector<std::shared_ptr<EventsFn>> eventsFns_;
    std::vector<std::shared_ptr<EdgeFn>> edgeFns_;
    uint64_t dropped_ = 0;
    uint64_t delivered_ = 0;
    std::thread thread_;
};

} // namespace vexadin
