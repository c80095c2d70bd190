// Tests of the inversion's stages set up a whole run context and call the stages on it, as
// the pipeline does: these forwards hand each stage the areas of the context it takes, and
// a recorder of the display stages by their numbers (0 trace list, 1 E, 2 valley, 3 F1, 4 F2,
// 5 after a layer, 10 data).
#pragma once

#include <vector>

#include "inversion/inversion.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/zelk.hpp"
#include "models/b0b1d1.hpp"
#include "products/products.hpp"

namespace zelk::inversion {

inline void SETRCE(Zelk& z, int16_t& IOK) { SETRCE(z.inv, z.context(), z.mod.FOEPRE, IOK); }
inline void DATAEFFE(Zelk& z) { DATAEFFE(z.inv, z.context()); }
inline void DATAUSED(Zelk& z) { DATAUSED(z.inv, z.context()); }
inline void THSMOOTH(Zelk& z, int K, float& H, float& DHDF) { THSMOOTH(z.inv, K, H, DHDF); }
inline void SETUP(Zelk& z) { SETUP(z.inv, z.mod, z.context()); }
inline void DENSTY(Zelk& z, float& ERR) { DENSTY(z.inv, z.context(), ERR); }
inline void EQUTN(Zelk& z, F2<float, 8, 9>& NEQ, int N, F1<float, 8>& XS) { EQUTN(z.inv, z.context(), NEQ, N, XS); }
inline void HEIGHTCHK(Zelk& z) { HEIGHTCHK(z.inv, z.context()); }
inline void EPROF(Zelk& z, float& ER1) { EPROF(z.inv, z.mod, z.context(), ER1); }
inline void ECHAPMAN(Zelk& z, float& ERR) { ECHAPMAN(z.inv, ERR); }
inline void FEWTERM(Zelk& z, float& ERR) { FEWTERM(z.inv, z.context(), ERR); }
inline void MAHAGULY(Zelk& z) { MAHAGULY(z.inv, z.mod, z.context()); }
inline void F1PROF(Zelk& z, float& ER2) { F1PROF(z.inv, z.mod, z.context(), ER2); }
inline void FNDDHE(Zelk& z) { FNDDHE(z.inv, z.context()); }
inline void FNDDHF1(Zelk& z) { FNDDHF1(z.inv, z.context()); }
// The F2 stage followed, for an accepted layer, by the products of the bottomside.
inline void FPROF(Zelk& z, float& ER3) {
    if (FPROF(z.inv, z.mod, z.context(), ER3)) pipeline::bottomside_products(z);
}
// The auroral-E fit followed by its tabulation into the record.
inline void EAPROF(Zelk& z, float& ERR) {
    EAPROF(z.inv, z.rec.AUXFN, z.rec.AUXHT, ERR);
    products::ea_table(z.inv, z.run.HSTEP, z.prod.NPROW, z.rec.AUXFN, z.rec.AUXHT);
}
inline void DECIDE(Zelk& z, int16_t& IOK) { pipeline::DECIDE(z, IOK); }
inline void PROFIL1(Zelk& z) { pipeline::PROFIL1(z); }

}  // namespace zelk::inversion

namespace zelk::products {

inline void NHTABLE(Zelk& z, int MODE) { NHTABLE(z.prod, pipeline::solved_profile(z.inv), z.run.HSTEP, MODE); }
inline void QPFIT(Zelk& z) { QPFIT(z.prod, pipeline::solved_profile(z.inv), z.run.QPACC); }
inline void CALTEC(Zelk& z) { CALTEC(z.prod, pipeline::solved_profile(z.inv), z.mod.data_dirs, z.log); }
inline void CALSHFPEAK(Zelk& z, int16_t K) { CALSHFPEAK(z.prod, pipeline::solved_profile(z.inv), K); }
inline void TECLAYER(Zelk& z, float FS, float FE, const float* A, float& CONTENT, int16_t& ITECST) {
    TECLAYER(z.prod, z.mod.data_dirs, z.log, FS, FE, A, CONTENT, ITECST);
}
inline void TECVALLEY(Zelk& z, float FS, float FE, const float* A, float VW, float VD, float& CONTENT,
                      int16_t& ITECST) {
    TECVALLEY(z.prod, z.mod.data_dirs, z.log, FS, FE, A, VW, VD, CONTENT, ITECST);
}

}  // namespace zelk::products

namespace zelk::models {

// The shape parameters of the solved profile against the 1 km table of the products.
inline void CALB0B1D1(Zelk& z) {
    z.bot.NPROW1 = z.prod.NPROW1;
    z.bot.PRFHT1 = z.prod.PRFHT1;
    z.bot.PRFFN1 = z.prod.PRFFN1;
    CALB0B1D1(z.bot, pipeline::solved_profile(z.inv), z.mod.data_dirs, z.log);
}

}  // namespace zelk::models

namespace ztest {

// Records the display stages in the order they come, by number.
struct StageRecorder : zelk::PlotHooks {
    std::vector<int> codes;
    virtual void on(int code, const zelk::inversion::Inversion&) { codes.push_back(code); }
    void trace_list(const zelk::inversion::Inversion& i) override { on(0, i); }
    void e_region(const zelk::inversion::Inversion& i) override { on(1, i); }
    void valley(const zelk::inversion::Inversion& i) override { on(2, i); }
    void f1_region(const zelk::inversion::Inversion& i) override { on(3, i); }
    void f2_region(const zelk::inversion::Inversion& i) override { on(4, i); }
    void layer_done(const zelk::inversion::Inversion& i) override { on(5, i); }
    void data(const zelk::inversion::Inversion& i) override { on(10, i); }
};

}  // namespace ztest
