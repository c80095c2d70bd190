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

// ===== F1 and F2 regions =====

}  // namespace zelk::inversion

namespace zelk::iondata {

// ===== record update =====

}  // namespace zelk::iondata

namespace zelk::products {

// ===== result arrangement =====

// ===== products =====


}  // namespace zelk::products

namespace zelk::models {

// ===== bottomside shape parameters =====


}  // namespace zelk::models
