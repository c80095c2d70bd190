// The worker pools of the batch program: the ordered pool of files and the task queue of the
// records of one file, including a machine that refuses more threads.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "driver/pool.hpp"

namespace {

using zelk::driver::OrderedPool;
using zelk::driver::TaskQueue;

// Every task runs once, on a thread numbered below the count, and its future says so; the
// futures of a queue being destroyed are kept by the tasks that did run.
TEST(TaskQueue, RunsEveryTaskOnANumberedThread) {
    std::mutex m;
    std::set<size_t> threads;
    std::vector<int> ran(200, 0);
    {
        TaskQueue q(3);
        std::vector<std::future<void>> done;
        for (size_t k = 0; k < ran.size(); ++k) {
            done.push_back(q.push([&, k](size_t t) {
                const std::lock_guard<std::mutex> lock(m);
                threads.insert(t);
                ++ran[k];
            }));
        }
        for (auto& f : done) f.get();
    }
    for (int r : ran) EXPECT_EQ(r, 1);
    for (size_t t : threads) EXPECT_LT(t, 3u);
    EXPECT_FALSE(threads.empty());
}

// A thread that cannot be started: the queue ends the threads it has (rather than the
// program ending on a running std::thread) and passes the failure on.
TEST(TaskQueue, AThreadThatCannotStartIsReportedNotFatal) {
    int started = 0;
    const TaskQueue::Spawn spawn = [&started](std::function<void()> body) {
        if (started == 2) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        ++started;
        return std::thread(std::move(body));
    };
    EXPECT_THROW(TaskQueue(4, spawn), std::system_error);
    EXPECT_EQ(started, 2);
}

// The ordered pool delivers in task order whatever the order of completion, and stops
// delivering after a task that failed.
TEST(OrderedPool, DeliversInOrderAndStopsAfterAFailure) {
    std::vector<size_t> delivered;
    std::atomic<int> runs{0};
    OrderedPool::run(
        20, 3,
        [&runs]() -> OrderedPool::Task {
            return [&runs](size_t k, const std::function<bool()>&) {
                ++runs;
                if (k % 3 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                return k == 12;
            };
        },
        [&delivered](size_t k) {
            delivered.push_back(k);
            return k != 12;
        },
        [] {});
    ASSERT_EQ(delivered.size(), 13u);
    for (size_t k = 0; k < delivered.size(); ++k) EXPECT_EQ(delivered[k], k);
    EXPECT_GE(runs.load(), 13);
}

}  // namespace
