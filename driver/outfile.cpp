// Output files renamed into place when complete.
#include "driver/outfile.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "platform/process.hpp"

namespace zelk::driver {

namespace fs = std::filesystem;

namespace {

// The temporary files of the outputs being written, for the signal handler: a fixed table
// that the handler can read without allocating. A slot's path is complete before its flag
// is set, and the flag is cleared before the path changes. Slots are taken and given back
// under a lock, since several files may be written at once (one per worker of the batch
// program, and its summary).
static constexpr int NSLOT = 72;
static constexpr size_t SLOTLEN = 4096;
char temp_paths[NSLOT][SLOTLEN];
volatile std::sig_atomic_t temp_used[NSLOT];
std::mutex slots_lock;

extern "C" void remove_temporaries(int sig) {
    // Conversion programs still running are stopped before their directories go.
    platform::STOP_CHILDREN_NOW();
    platform::REMOVE_SCRATCH_NOW();
    for (int i = 0; i < NSLOT; ++i) {
        if (temp_used[i]) ::unlink(temp_paths[i]);
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

int remember(const std::string& path) {
    if (path.size() >= SLOTLEN) return -1;
    const std::lock_guard<std::mutex> lock(slots_lock);
    for (int i = 0; i < NSLOT; ++i) {
        if (!temp_used[i]) {
            std::memcpy(temp_paths[i], path.c_str(), path.size() + 1);
            temp_used[i] = 1;
            return i;
        }
    }
    return -1;
}

}  // namespace

void REMOVE_TEMPORARIES_ON_SIGNAL() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, remove_temporaries);
}

void PendingOutput::forget() {
    if (slot_ >= 0) {
        const std::lock_guard<std::mutex> lock(slots_lock);
        temp_used[slot_] = 0;
    }
    slot_ = -1;
}

bool PendingOutput::open(std::string& why) {
    const fs::path fin(final_);
    const fs::path dir = fin.has_parent_path() ? fin.parent_path() : fs::path(".");
    // A hidden name beside the final one (appended piece by piece: g++ 12 at -O3 warns
    // falsely about overlapping copies for the concatenation of temporaries).
    std::string hidden = ".";
    hidden += fin.filename().string();
    hidden += ".XXXXXX";
    std::string pattern = (dir / hidden).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    // mkstemp makes the file private; give it the mode a plainly created file would have.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    temp_ = pattern;
    slot_ = remember(temp_);
    out_.open(temp_, std::ios::out | std::ios::trunc);
    if (!out_) {
        why = "cannot write the temporary file";
        discard();
        return false;
    }
    return true;
}

bool PendingOutput::commit(std::string& why) {
    out_.close();
    if (out_.fail()) {
        why = "write error";
        discard();
        return false;
    }
    std::error_code ec;
    fs::rename(temp_, final_, ec);
    if (ec) {
        why = ec.message();
        discard();
        return false;
    }
    forget();
    temp_.clear();
    return true;
}

void PendingOutput::discard() {
    if (out_.is_open()) out_.close();
    if (!temp_.empty()) {
        std::error_code ec;
        fs::remove(temp_, ec);
        forget();
        temp_.clear();
    }
}

}  // namespace zelk::driver
