// Output files renamed into place when complete.
#include "driver/outfile.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>

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
    platform::stop_children_now();
    platform::remove_scratch_now();
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

// The part of a temporary name after the output's name: the mark, this host and this
// process, "~<host>~<pid>", from which a later run tells whether the run that made the file
// is still going.
constexpr const char* TEMP_MARK = ".zelk~";

std::string host_name() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "localhost";
    std::string h(host);
    for (char& c : h) {
        if (c == '~' || c == '/' || c == '.') c = '_';
    }
    return h;
}

const std::string& run_tag() {
    static const std::string tag = host_name() + "~" + std::to_string(::getpid());
    return tag;
}

// The process id of a temporary name made on this host, or 0 when the name is not one.
pid_t maker_of(const std::string& name) {
    static const std::string here = std::string("~") + host_name() + "~";
    if (name.size() < 2 || name[0] != '.') return 0;
    const size_t mark = name.rfind(TEMP_MARK);
    if (mark == std::string::npos) return 0;
    const size_t host = mark + std::strlen(TEMP_MARK) - 1;   // at the '~' before the host
    if (name.compare(host, here.size(), here) != 0) return 0;
    const size_t digits = host + here.size();
    const size_t dot = name.find('.', digits);
    // The pid, then ".XXXXXX" from mkstemp.
    if (dot == std::string::npos || dot == digits || name.size() - dot != 7) return 0;
    long pid = 0;
    for (size_t i = digits; i < dot; ++i) {
        if (name[i] < '0' || name[i] > '9' || pid > 100000000) return 0;
        pid = pid * 10 + (name[i] - '0');
    }
    return static_cast<pid_t>(pid);
}

}  // namespace

void remove_temporaries_on_signal() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, remove_temporaries);
}

int remove_orphaned_temporaries(const std::string& dir) {
    // Once per directory and run: the files of a run that is gone do not come back.
    static std::mutex lock;
    static std::set<std::string> swept;
    {
        const std::lock_guard<std::mutex> guard(lock);
        if (!swept.insert(dir).second) return 0;
    }
    int removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const pid_t pid = maker_of(name);
        if (pid <= 0 || pid == ::getpid()) continue;
        // A process of that id still there may be the run that made the file: left alone.
        if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
        std::error_code e2;
        if (it->is_regular_file(e2) && fs::remove(it->path(), e2)) ++removed;
    }
    return removed;
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
    // Temporary files that runs killed outright (SIGKILL, a crash) left in this directory.
    remove_orphaned_temporaries(dir.string());
    // A hidden name beside the final one that tells which run made it (appended piece by
    // piece: g++ 12 at -O3 warns falsely about overlapping copies for the concatenation of
    // temporaries).
    std::string hidden = ".";
    hidden += fin.filename().string();
    hidden += TEMP_MARK;
    hidden += run_tag();
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
