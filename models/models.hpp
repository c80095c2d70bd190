// Data area of the ionospheric models: model predictions and the sunspot lookup memory.
#pragma once

namespace zelk::models {

struct Models {
};

}  // namespace zelk::models
