// The Ionogram record: the data file index IDX and one array per VXO data group.
#pragma once

namespace zelk::iondata {

struct IonogramRecord {
};

}  // namespace zelk::iondata
