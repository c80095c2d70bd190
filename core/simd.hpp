// Which SIMD lanes the numerical kernels use. The lanes give the same bits as the plain
// loops they replace, on every instruction set; the choice only affects speed. Tests switch
// between the modes to check exactly that.
#pragma once

namespace zelk::simd {

enum class Mode {
    AUTO,      // the widest lanes the processor has: AVX-512 (eight doubles) where a kernel
               // has such a build, else AVX2; the plain loops without AVX2 (the baseline
               // build of the lanes is slower than the loops)
    BASELINE,  // the lanes built for the baseline instruction set (SSE2 on x86-64)
    OFF,       // no lanes: the plain scalar loops
    AVX2       // the AVX2 lanes even where the processor has AVX-512
};

void set_mode(Mode M);
Mode mode();
// True when the AVX2 build of the lanes is in use, on a processor with AVX2 and FMA (by the
// kernels without an AVX-512 build, also under AUTO on an AVX-512 processor).
bool avx2();
// True when the AVX-512 build of the lanes is in use (AUTO on a processor with AVX-512F and
// AVX-512DQ).
bool avx512();
// True when lanes are in use at all (an AVX build or the baseline build).
inline bool lanes() { return avx2() || mode() == Mode::BASELINE; }

}  // namespace zelk::simd
