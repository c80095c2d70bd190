// An ordered worker pool: tasks 0..n-1 run on up to `workers` threads, and their results
// are taken up on the calling thread strictly in task order, so that what a run prints and
// writes does not depend on the number of workers. Used by the batch program for files;
// an interactive program can use it for any list of independent jobs.
#pragma once

#include <cstddef>
#include <functional>

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

}  // namespace zelk::driver
