// --shard auto: the task's slice from the Slurm array environment.
#include "driver/shard.hpp"

#include <cerrno>
#include <cstdlib>

namespace zelk::driver {

namespace {

// Largest number of tasks taken from the environment (far above any scheduler's limit).
static constexpr long MAXTASKS = 1000000;

// A whole number 0..MAXTASKS*MAXTASKS from a variable; false when unset or malformed.
bool whole(const EnvLookup& env, const char* name, long& v, std::string& error) {
    const char* s = env(name);
    if (s == nullptr || *s == '\0') {
        error = std::string(name) + " is not set";
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long x = std::strtol(s, &end, 10);
    if (errno != 0 || *end != '\0' || x < 0 || x > MAXTASKS * MAXTASKS) {
        error = std::string(name) + " is not a whole number 0 or more (got '" + s + "')";
        return false;
    }
    v = x;
    return true;
}

}  // namespace

EnvLookup process_environment() {
    return [](const char* name) -> const char* { return std::getenv(name); };
}

bool shard_from_environment(const EnvLookup& env, int32_t& I, int32_t& N, std::string& error) {
    const std::string what = "--shard auto: ";
    if (env("SLURM_ARRAY_TASK_ID") == nullptr) {
        error = what + "not in a Slurm array job (SLURM_ARRAY_TASK_ID is not set); "
                       "submit with sbatch --array, or give --shard I/N";
        return false;
    }
    long id = 0, min = 0, count = 0, step = 1, max = 0;
    std::string why;
    if (!whole(env, "SLURM_ARRAY_TASK_ID", id, why) || !whole(env, "SLURM_ARRAY_TASK_MIN", min, why) ||
        !whole(env, "SLURM_ARRAY_TASK_COUNT", count, why)) {
        error = what + why;
        return false;
    }
    if (env("SLURM_ARRAY_TASK_STEP") != nullptr && !whole(env, "SLURM_ARRAY_TASK_STEP", step, why)) {
        error = what + why;
        return false;
    }
    if (count < 1 || count > MAXTASKS || step < 1) {
        error = what + "SLURM_ARRAY_TASK_COUNT must be 1 to " + std::to_string(MAXTASKS) +
                " and SLURM_ARRAY_TASK_STEP 1 or more";
        return false;
    }
    if (id < min || (id - min) % step != 0 || (id - min) / step >= count) {
        error = what + "task " + std::to_string(id) + " is not one of the " + std::to_string(count) +
                " tasks from " + std::to_string(min) + " in steps of " + std::to_string(step);
        return false;
    }
    if (env("SLURM_ARRAY_TASK_MAX") != nullptr) {
        if (!whole(env, "SLURM_ARRAY_TASK_MAX", max, why)) {
            error = what + why;
            return false;
        }
        if (max < min || (max - min) % step != 0 || (max - min) / step + 1 != count) {
            error = what + "the array's indices " + std::to_string(min) + " to " + std::to_string(max) +
                    " are not one evenly spaced range of " + std::to_string(count) +
                    " tasks; submit them as one range (e.g. --array=1-" + std::to_string(count) + ")";
            return false;
        }
    }
    I = static_cast<int32_t>((id - min) / step + 1);
    N = static_cast<int32_t>(count);
    return true;
}

}  // namespace zelk::driver
