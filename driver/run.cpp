// The run loop shared by the interactive and the batch program.
#include "core/zelk.hpp"
