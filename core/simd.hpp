// Which SIMD lanes the numerical kernels use. The lanes give the same bits as the plain
// loops they replace, on every instruction set; the choice only affects speed. Tests switch
// between the modes to check exactly that.
#pragma once

namespace zelk::simd {

enum class Mode {
    AUTO,      // the AVX2 lanes when the processor has AVX2, else the plain loops (the
               // baseline build of the lanes is slower than the loops)
    BASELINE,  // the lanes built for the baseline instruction set (SSE2 on x86-64)
    OFF        // no lanes: the plain scalar loops
};

void set_mode(Mode M);
Mode mode();
// True when the AVX2 build of the lanes is in use.
bool avx2();
// True when lanes are in use at all (the AVX2 or the baseline build).
inline bool lanes() { return avx2() || mode() == Mode::BASELINE; }

}  // namespace zelk::simd
