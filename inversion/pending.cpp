// Routines whose implementation is under way in parallel branches. Each block belongs to
// one piece of work and is deleted, whole, by the commit that implements its routines, so
// that every branch links in the meantime. Calling one of these aborts with its name.
#include <cstdio>
#include <cstdlib>

#include "core/zelk.hpp"
#include "inversion/inversion.hpp"
#include "iondata/update.hpp"
#include "models/b0b1d1.hpp"
#include "products/products.hpp"

namespace {
[[noreturn]] void pending(const char* name) {
    std::fprintf(stderr, "%s IS NOT BUILT YET\n", name);
    std::abort();
}
}  // namespace

namespace zelk::inversion {

// ===== entry, kernels, representation, data selection =====

// ===== solver, sequencing, E region, valley =====

void SETUP(Zelk&) { pending("SETUP"); }
void DENSTY(Zelk&, float&) { pending("DENSTY"); }
void ESTAB(Inversion&) { pending("ESTAB"); }
void EQUTN(Zelk&, F2<float, 8, 9>&, int, F1<float, 8>&) { pending("EQUTN"); }
void CHECKH(Inversion&, int16_t&) { pending("CHECKH"); }
void DECIDE(Zelk&, int16_t&) { pending("DECIDE"); }
void GOGXCOM(Inversion&, float&) { pending("GOGXCOM"); }
void HEIGHTCHK(Zelk&) { pending("HEIGHTCHK"); }
void EPROF(Zelk&, float&) { pending("EPROF"); }
void ECHAPMAN(Zelk&, float&) { pending("ECHAPMAN"); }
void ZEROPROF(Inversion&, int) { pending("ZEROPROF"); }
void FEWTERM(Zelk&, float&) { pending("FEWTERM"); }
void EAPROF(Zelk&, float&) { pending("EAPROF"); }
void MAHAGULY(Zelk&) { pending("MAHAGULY"); }
void FNDDHV(Inversion&) { pending("FNDDHV"); }
void PARAFITF(Inversion&) { pending("PARAFITF"); }

// ===== F1 and F2 regions =====

void F1PROF(Zelk&, float&) { pending("F1PROF"); }
void FPROF(Zelk&, float&) { pending("FPROF"); }
void FNDDHE(Zelk&) { pending("FNDDHE"); }
void FNDDHF1(Zelk&) { pending("FNDDHF1"); }

}  // namespace zelk::inversion

namespace zelk::iondata {

// ===== record update =====

void UPDATE_RECORD(Zelk&) { pending("UPDATE_RECORD"); }

}  // namespace zelk::iondata

namespace zelk::products {

// ===== result arrangement =====

void TOTOLMIR(Zelk&) { pending("TOTOLMIR"); }

// ===== products =====

void NHTABLE(Zelk&, int) { pending("NHTABLE"); }
void TABLYR(float, float, float, float, const float*, int16_t&, F1<float, MAXROW>&,
            F1<float, MAXROW>&) { pending("TABLYR"); }
void TABVAL(float, float, float, float, float, float, const float*, int16_t&,
            F1<float, MAXROW>&, F1<float, MAXROW>&) { pending("TABVAL"); }
void CALTEC(Zelk&) { pending("CALTEC"); }
void QPFIT(Zelk&) { pending("QPFIT"); }

}  // namespace zelk::products

namespace zelk::models {

// ===== bottomside shape parameters =====

void CALB0B1D1(Zelk&) { pending("CALB0B1D1"); }

}  // namespace zelk::models
