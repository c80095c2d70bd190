// Diagnostic output: the upper-case lines the program writes to the standard output,
// switched by the debug level IDEBUG. The stream is a member so that tests can capture it
// and two runs in one process never interleave their lines.
#pragma once

#include <cstdint>
#include <iostream>

namespace zelk {

struct Log {
    int16_t IDEBUG = 1;                // set to 1 at start; nothing in a run changes it
    std::ostream* out = &std::cout;    // the standard output unit of the diagnostics

    std::ostream& os() const { return *out; }
};

}  // namespace zelk
