#include "core/zelk.hpp"
