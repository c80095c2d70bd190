// Fixed-capacity arrays indexed from 1, as the data areas of the program are described.
//
// F1<T,N> holds elements 1..N, F2<T,N,M> elements (1..N, 1..M). Element 0 of each
// dimension exists but is never used, so F1<float,1024>::data() + 1 is a contiguous run of
// the N elements for the inner loops that want a plain pointer. Indexing with ( ) keeps the
// program's notation: TRF(J), TRACEL(K, 2). When ZELK_CHECKED is defined (the default of the
// test build) every index is checked and a violation aborts with the array's bounds, so a
// fault is found where it happens instead of corrupting a neighbouring area.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace zelk {

[[noreturn]] inline void farray_bounds_failure(long i, long lo, long hi) {
    std::fprintf(stderr, "INTERNAL ERROR: ARRAY INDEX %ld OUTSIDE %ld..%ld\n", i, lo, hi);
    std::abort();
}

template <class T, int N>
struct F1 {
    T v[N + 1]{};

    static constexpr int size() { return N; }
    T& operator()(int i) {
#ifdef ZELK_CHECKED
        if (i < 0 || i > N) farray_bounds_failure(i, 0, N);
#endif
        return v[i];
    }
    const T& operator()(int i) const {
#ifdef ZELK_CHECKED
        if (i < 0 || i > N) farray_bounds_failure(i, 0, N);
#endif
        return v[i];
    }
    T* data() { return v; }
    const T* data() const { return v; }
    void fill(const T& x) { std::fill(v, v + N + 1, x); }
};

template <class T, int N, int M>
struct F2 {
    T v[N + 1][M + 1]{};

    T& operator()(int i, int j) {
#ifdef ZELK_CHECKED
        if (i < 0 || i > N) farray_bounds_failure(i, 0, N);
        if (j < 0 || j > M) farray_bounds_failure(j, 0, M);
#endif
        return v[i][j];
    }
    const T& operator()(int i, int j) const {
#ifdef ZELK_CHECKED
        if (i < 0 || i > N) farray_bounds_failure(i, 0, N);
        if (j < 0 || j > M) farray_bounds_failure(j, 0, M);
#endif
        return v[i][j];
    }
    void fill(const T& x) { std::fill(&v[0][0], &v[0][0] + (N + 1) * (M + 1), x); }
};

}  // namespace zelk
