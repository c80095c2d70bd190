// Data area of the profile products: N(h) table, electron content, quasi-parabolic
// segments, bottomside shape parameters.
#pragma once

namespace zelk::products {

struct Products {
};

}  // namespace zelk::products
