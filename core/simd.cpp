#include "core/simd.hpp"

#include <atomic>

namespace zelk::simd {

namespace {

std::atomic<Mode> current{Mode::AUTO};

bool has_avx2() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool yes = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return yes;
#else
    return false;
#endif
}

bool has_avx512() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool yes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
    return yes;
#else
    return false;
#endif
}

}  // namespace

void set_mode(Mode M) { current.store(M, std::memory_order_relaxed); }

Mode mode() { return current.load(std::memory_order_relaxed); }

bool avx2() {
    const Mode m = mode();
    return (m == Mode::AUTO || m == Mode::AVX2) && has_avx2();
}

bool avx512() { return mode() == Mode::AUTO && has_avx512(); }

}  // namespace zelk::simd
