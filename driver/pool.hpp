// An ordered worker pool: tasks 0..n-1 run on up to `workers` threads, and their results
// are taken up on the calling thread strictly in task order, so that what a run prints and
// writes does not depend on the number of workers. Used by the batch program for files;
// an interactive program can use it for any list of independent jobs.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace zelk::driver {

struct OrderedPool {
    // What one worker thread runs: task k, given a test that tells whether an earlier task
    // has failed (the task may then give up early; its result is never taken up). Returns
    // true when task k failed so that no later task may start.
    using Task = std::function<bool(size_t k, const std::function<bool()>& earlier_failed)>;
    // Makes the task function of one worker (called once on each worker thread, so that a
    // worker can keep state of its own, such as an open input unit).
    using WorkerFactory = std::function<Task()>;
    // Takes up the result of task k on the calling thread; false stops the taking up.
    using Deliver = std::function<bool(size_t k)>;
    // Called on the calling thread while it waits for the next task in order (about four
    // times a second).
    using Idle = std::function<void()>;

    // Runs the n tasks. With one worker (or at most one task) everything runs on the calling
    // thread, task after task. Returns when every started task has ended.
    static void run(size_t n, size_t workers, const WorkerFactory& make_worker, const Deliver& deliver,
                    const Idle& idle);
};

// A queue of tasks run by a fixed number of threads, first in first out; a task is given
// the number of the thread that runs it (0..threads-1), and its future tells when it has
// ended. Used for the records of one file, whose number is not known in advance. The
// destructor drops the tasks that have not started and waits for the running ones.
class TaskQueue {
public:
    // Starts the threads (through spawn, which tests replace). When one cannot be started
    // (a limit on the user's processes), the threads already started are ended and the
    // std::system_error is passed on, so that the caller can go on without the queue.
    using Spawn = std::function<std::thread(std::function<void()>)>;
    explicit TaskQueue(size_t threads, const Spawn& spawn = {});
    ~TaskQueue();
    TaskQueue(const TaskQueue&) = delete;
    TaskQueue& operator=(const TaskQueue&) = delete;

    std::future<void> push(std::function<void(size_t thread)> task);

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::packaged_task<void(size_t)>> tasks_;
    bool closing_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace zelk::driver
