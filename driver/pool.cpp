// The ordered worker pool.
#include "driver/pool.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace zelk::driver {

void OrderedPool::run(size_t n, size_t workers, const WorkerFactory& make_worker, const Deliver& deliver,
                      const Idle& idle) {
    if (n == 0) return;
    if (workers <= 1) {
        const Task task = make_worker();
        const std::function<bool()> never = [] { return false; };
        for (size_t k = 0; k < n; ++k) {
            task(k, never);
            if (!deliver(k)) break;
        }
        return;
    }
    // Each worker takes the next task; this thread takes the results up in task order.
    std::vector<char> done(n, 0);
    std::mutex m;
    std::condition_variable cv;
    std::atomic<size_t> next{0};
    std::atomic<size_t> stop_at{n};   // first task (so far) that failed
    auto work = [&] {
        const Task task = make_worker();
        for (size_t k = next++; k < n; k = next++) {
            if (k < stop_at.load()) {
                const bool failed = task(k, [&stop_at, k] { return stop_at.load() < k; });
                if (failed) {
                    size_t seen = stop_at.load();
                    while (k < seen && !stop_at.compare_exchange_weak(seen, k)) {
                    }
                }
            }
            {
                const std::lock_guard<std::mutex> lock(m);
                done[k] = 1;
            }
            cv.notify_all();
        }
    };
    std::vector<std::thread> pool;
    try {
        for (size_t w = 0; w < workers; ++w) pool.emplace_back(work);
    } catch (const std::system_error&) {
        // No more threads (a limit on the user's processes): the ones started take all the
        // tasks, and with none this thread does the work first.
        if (pool.empty()) work();
    }
    for (size_t k = 0; k < n; ++k) {
        {
            std::unique_lock<std::mutex> lock(m);
            while (!cv.wait_for(lock, std::chrono::milliseconds(250), [&] { return done[k] != 0; })) {
                lock.unlock();
                idle();
                lock.lock();
            }
        }
        // The tasks before the first failure were all run to their end, so the failing task
        // is reached here before any task that was skipped or abandoned.
        if (!deliver(k)) break;
    }
    for (std::thread& t : pool) t.join();
}

TaskQueue::TaskQueue(size_t threads, const Spawn& spawn) {
    auto serve = [this](size_t t) {
        for (;;) {
            std::packaged_task<void(size_t)> task;
            {
                std::unique_lock<std::mutex> lock(m_);
                cv_.wait(lock, [this] { return closing_ || !tasks_.empty(); });
                if (closing_) return;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task(t);
        }
    };
    try {
        for (size_t t = 0; t < threads; ++t) {
            if (spawn) threads_.push_back(spawn([serve, t] { serve(t); }));
            else threads_.emplace_back(serve, t);
        }
    } catch (...) {
        // A thread that is still running when its std::thread is destroyed ends the program.
        {
            const std::lock_guard<std::mutex> lock(m_);
            closing_ = true;
        }
        cv_.notify_all();
        for (std::thread& t : threads_) t.join();
        throw;
    }
}

TaskQueue::~TaskQueue() {
    {
        const std::lock_guard<std::mutex> lock(m_);
        closing_ = true;
        tasks_.clear();
    }
    cv_.notify_all();
    for (std::thread& t : threads_) t.join();
}

std::future<void> TaskQueue::push(std::function<void(size_t)> task) {
    std::packaged_task<void(size_t)> p(std::move(task));
    std::future<void> f = p.get_future();
    {
        const std::lock_guard<std::mutex> lock(m_);
        tasks_.push_back(std::move(p));
    }
    cv_.notify_one();
    return f;
}

}  // namespace zelk::driver
