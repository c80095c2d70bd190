// --shard auto: the slice of the input list that a task of a Slurm array job processes,
// taken from the environment the scheduler gives each task.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zelk::driver {

// Looks up an environment variable: its value, or nullptr when it is not set.
using EnvLookup = std::function<const char*(const char*)>;

// The process environment (std::getenv).
EnvLookup process_environment();

// Slice I of N for the array task described by SLURM_ARRAY_TASK_ID, SLURM_ARRAY_TASK_MIN,
// SLURM_ARRAY_TASK_COUNT and, when set, SLURM_ARRAY_TASK_STEP and SLURM_ARRAY_TASK_MAX:
// the task with the lowest index gets I = 1, whatever index the array starts at (0 or 1
// alike), and N is the number of tasks. The indices must form one evenly spaced range
// (1-8, 0-15:3); a list with gaps (1,3,4) is refused, since its tasks could not tell which
// slices the missing indices stand for. Returns false with a message in error outside an
// array job or for values that do not fit together.
bool shard_from_environment(const EnvLookup& env, int32_t& I, int32_t& N, std::string& error);

}  // namespace zelk::driver
