// Progress display on a terminal.
#include "driver/progress.hpp"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <ostream>

namespace zelk::driver {

namespace {
// Seconds between two redraws, and before the first (short runs show nothing).
static constexpr double REDRAW = 0.25;
static constexpr double FIRST = 0.5;
}  // namespace

Progress::Progress(std::ostream& os, bool enabled)
    : os_(os), enabled_(enabled), start_(std::chrono::steady_clock::now()), last_(start_) {}

std::string Progress::LINE(int32_t records, double seconds, double fraction) {
    char buf[128];
    const double rate = seconds > 0.0 ? records / seconds : 0.0;
    int n = std::snprintf(buf, sizeof buf, "%d records, %.0f records/s", records, rate);
    // The time left is estimated from the part of the input read, once there is enough of it.
    if (fraction > 0.01 && fraction < 1.0 && seconds > 0.0 && n > 0) {
        const long left = std::lround(seconds * (1.0 - fraction) / fraction);
        std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ", %d%%, about %ld:%02ld left",
                      static_cast<int>(fraction * 100.0), left / 60, left % 60);
    }
    return buf;
}

bool Progress::stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

void Progress::update(int32_t records, double fraction) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    const double since_start = std::chrono::duration<double>(now - start_).count();
    const double since_last = std::chrono::duration<double>(now - last_).count();
    if (since_start < FIRST || (shown_ && since_last < REDRAW)) return;
    last_ = now;
    std::string line = LINE(records, since_start, fraction);
    const std::size_t len = line.size();
    if (len < width_) line.append(width_ - len, ' ');   // cover a longer previous line
    width_ = len;
    os_ << '\r' << line << std::flush;
    shown_ = true;
}

void Progress::clear() {
    if (!enabled_ || !shown_) return;
    os_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
    shown_ = false;
    width_ = 0;
}

}  // namespace zelk::driver
