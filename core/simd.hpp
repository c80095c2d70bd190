// Which SIMD lanes the numerical kernels use. The lanes give the same bits as the plain
// loops they replace, on every instruction set; the choice only affects speed. Tests switch
// between the modes to check exactly that.
#pragma once

namespace zelk::simd {

enum class Mode {
    AUTO,      // the widest instruction set the processor has (AVX2, else the baseline)
    BASELINE,  // the lanes built for the baseline instruction set (SSE2 on x86-64)
    OFF        // no lanes: the plain scalar loops
};

void set_mode(Mode M);
Mode mode();
// True when the AVX2 build of the lanes is in use.
bool avx2();
// True when lanes are in use at all.
inline bool lanes() { return mode() != Mode::OFF; }

}  // namespace zelk::simd
