#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <tuple>
#include <utility>
#include <vector>

namespace vexadin {

// A pool of reusable objects (for example large pre-sized event vectors, so that a
// stream does not allocate per batch).
//
// acquire() hands out an object as a std::shared_ptr; when the last copy of that
// pointer is released the object goes back to the pool (its contents as the user
// left them). When every object is out, acquire() makes a new one, so it always
// succeeds; the pool keeps at most its initial number of idle objects and frees
// surplus ones as they come back. An object released after the pool itself was
// destroyed is simply freed. Every member is thread-safe, and so is releasing
// objects on any thread.
template <typename T>
class VxObjectPool {
public:
    // Makes `count` objects with `create` up front.
    VxObjectPool(size_t count, std::function<std::unique_ptr<T>()> create)
        : shared_(std::make_shared<Shared>())
    {
        shared_->create = std::move(create);
        shared_->keepIdle = count;
        // Reserved so that giving an object back never allocates.
        shared_->idle.reserve(count);
        for (size_t i = 0; i < count; ++i)
            shared_->idle.push_back(shared_->create());
        shared_->created = count;
    }

    VxObjectPool(const VxObjectPool &) = delete;
    VxObjectPool &operator=(const VxObjectPool &) = delete;

    // An idle object, or a new one when none is idle. Throws only what creating an
    // object throws (std::bad_alloc).
    std::shared_ptr<T> acquire()
    {
        std::unique_ptr<T> object;
        {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            if (!shared_->idle.empty()) {
                object = std::move(shared_->idle.back());
                shared_->idle.pop_back();
            }
        }
        if (!object) {
            object = shared_->create(); // outside the lock: may be a large allocation
            std::lock_guard<std::mutex> lock(shared_->mutex);
            ++shared_->created;
        }
        // Should the control block fail to allocate, shared_ptr calls the deleter,
        // which gives the object back.
        return std::shared_ptr<T>(object.release(), Returner{std::weak_ptr<Shared>(shared_)});
    }

    // Objects waiting in the pool.
    size_t idleCount() const
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        return shared_->idle.size();
    }
    // Objects made so far, the initial ones included.
    size_t createdCount() const
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        return shared_->created;
    }

private:
    struct Shared {
        mutable std::mutex mutex;
        std::vector<std::unique_ptr<T>> idle;
        std::function<std::unique_ptr<T>()> create;
        size_t keepIdle = 0;
        size_t created = 0;
    };

    // Deleter of the handed-out pointers: back to the pool while it exists, else freed.
    struct Returner {
        std::weak_ptr<Shared> home;
        void operator()(T *raw) const noexcept
        {
            std::unique_ptr<T> object(raw);
            if (std::shared_ptr<Shared> pool = home.lock()) {
                std::lock_guard<std::mutex> lock(pool->mutex);
                if (pool->idle.size() < pool->keepIdle)
                    pool->idle.push_back(std::move(object)); // within the reserved capacity
            }
            // A surplus object (or one outliving its pool) is freed here, outside the lock.
        }
    };

    std::shared_ptr<Shared> shared_;
};

class VxObjectPoolFactory {
public:
    // A pool of `count` objects, each constructed as T(args...) (the arguments are
    // kept to construct any object the pool has to add later). For example
    // createUniqueVxObjectPoolWithArgs<std::vector<Event2D>>(10, 3145728).
    template <typename T, typename... Args>
    static std::unique_ptr<VxObjectPool<T>> createUniqueVxObjectPoolWithArgs(size_t count, Args &&...args)
    {
        auto create = [stored = std::make_tuple(std::forward<Args>(args)...)]() {
            return std::apply([](const auto &...a) { return std::make_unique<T>(a...); }, stored);
        };
        return std::make_unique<VxObjectPool<T>>(count, std::move(create));
    }
};

} // namespace vexadin
