// A one-line progress display for long batch runs: records done, records per second and
// the estimated time left, redrawn in place on standard error when it is a terminal and
// at most a few times per second. Silent when standard error is not a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace zelk::driver {

class Progress {
public:
    // os: where to draw; enabled: false gives a display that writes nothing.
    Progress(std::ostream& os, bool enabled);
    // Records done so far and the part of the input read (0..1).
    void update(int32_t records, double fraction);
    // Removes the line before other messages are written to the same stream.
    void clear();

    // The text of the line: records, rate, and time left when it can be estimated.
    static std::string LINE(int32_t records, double seconds, double fraction);
    // True when the process's standard error is a terminal.
    static bool stderr_is_terminal();

private:
    std::ostream& os_;
    bool enabled_;
    bool shown_ = false;
    std::size_t width_ = 0;
    std::chrono::steady_clock::time_point start_, last_;
};

}  // namespace zelk::driver
