// The one exception of the program: a stop caused by a missing or malformed model data
// file (URSI coefficient files, SUNSPT.ASC). Data-file readers throw it; the driver catches
// it, prints the message on one line and ends the run with exit status 3. Every other
// failure is reported through status values.
#pragma once

#include <stdexcept>
#include <string>

namespace zelk {

class Stop : public std::runtime_error {
public:
    explicit Stop(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace zelk
