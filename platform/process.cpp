// External programs and private temporary directories.
#include "platform/process.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

extern char** environ;

namespace zelk::platform {

namespace {

namespace fs = std::filesystem;

// The process groups of the programs being run, for the signal handler: a fixed table it
// can read without allocating. Several may run at once (one per worker of a batch run).
constexpr int NCHILD = 72;
volatile sig_atomic_t child_group[NCHILD];
std::mutex child_lock;

int remember_child(pid_t pid) {
    const std::lock_guard<std::mutex> lock(child_lock);
    for (int i = 0; i < NCHILD; ++i) {
        if (child_group[i] == 0) {
            child_group[i] = static_cast<sig_atomic_t>(pid);
            return i;
        }
    }
    return -1;
}

void forget_child(int slot) {
    if (slot < 0) return;
    const std::lock_guard<std::mutex> lock(child_lock);
    child_group[slot] = 0;
}

// The scratch directories and the paths tracked in them, for the signal handler.
constexpr int NSCRATCH = 72;
constexpr int NTRACK = 6;
constexpr size_t PATHLEN = 1024;
struct ScratchSlot {
    char dir[PATHLEN];
    char tracked[NTRACK][PATHLEN];
    volatile sig_atomic_t ntracked;
    volatile sig_atomic_t used;
};
ScratchSlot scratch[NSCRATCH];
std::mutex scratch_lock;

// True once the child has ended, without reaping it: until it is reaped its process id,
// and so its group id, cannot be taken by another process.
bool ended(pid_t pid) {
    for (;;) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0) return info.si_pid == pid;
        if (errno != EINTR) return true;   // no such child any more
    }
}

}  // namespace

bool is_executable_file(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

ProgramRun run_program(const std::string& path, const std::vector<std::string>& args, double timeout_s) {
    ProgramRun run;
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawnattr_t at;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, 2, 1);
    posix_spawnattr_init(&at);
    // Its own process group, so that a stop reaches the programs it starts in turn; the
    // signals this program handles are at their defaults in the child.
    sigset_t deflt;
    sigemptyset(&deflt);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&deflt, sig);
    posix_spawnattr_setsigdefault(&at, &deflt);
    posix_spawnattr_setpgroup(&at, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&at, &none);
    posix_spawnattr_setflags(&at, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    // The stop signals wait until the child is on the list of the signal handler, so that
    // none arrives between its start and its entry there.
    sigset_t held, before;
    sigemptyset(&held);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, sig);
    pthread_sigmask(SIG_BLOCK, &held, &before);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, path.c_str(), &fa, &at, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&at);
    const int slot = rc == 0 ? remember_child(pid) : -1;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (rc != 0) {
        run.error = rc;
        return run;
    }
    run.started = true;

    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    auto pause = std::chrono::milliseconds(2);
    while (!ended(pid)) {
        if (timeout_s > 0.0 &&
            std::chrono::duration<double>(clock::now() - start).count() >= timeout_s) {
            run.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(pause);
        if (pause < std::chrono::milliseconds(50)) pause *= 2;
    }
    // The group goes (at the time limit the program itself, in any case the programs it
    // left running), then the program is reaped.
    ::kill(-pid, SIGKILL);
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    forget_child(slot);
    if (WIFEXITED(wstatus)) {
        run.exited = !run.timed_out;
        run.status = WEXITSTATUS(wstatus);
    } else if (WIFSIGNALED(wstatus)) {
        run.signal = WTERMSIG(wstatus);
    }
    return run;
}

bool ScratchDir::make(const std::string& prefix, std::string& why) {
    remove();
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string pattern = (base / (prefix + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        why = pattern + ": " + std::strerror(errno);
        return false;
    }
    path_ = pattern;
    if (path_.size() < PATHLEN) {
        const std::lock_guard<std::mutex> lock(scratch_lock);
        for (int i = 0; i < NSCRATCH; ++i) {
            if (!scratch[i].used) {
                std::memcpy(scratch[i].dir, path_.c_str(), path_.size() + 1);
                scratch[i].ntracked = 0;
                scratch[i].used = 1;
                slot_ = i;
                break;
            }
        }
    }
    return true;
}

void ScratchDir::track(const std::string& path) {
    if (slot_ < 0 || path.size() >= PATHLEN) return;
    const std::lock_guard<std::mutex> lock(scratch_lock);
    ScratchSlot& s = scratch[slot_];
    if (s.ntracked >= NTRACK) return;
    std::memcpy(s.tracked[s.ntracked], path.c_str(), path.size() + 1);
    s.ntracked = s.ntracked + 1;
}

void ScratchDir::remove() {
    if (slot_ >= 0) {
        const std::lock_guard<std::mutex> lock(scratch_lock);
        scratch[slot_].used = 0;
        slot_ = -1;
    }
    if (!path_.empty()) {
        std::error_code ec;
        // A converter may have taken the write bits off what it was given.
        for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
        fs::remove_all(path_, ec);
        path_.clear();
    }
}

void stop_children_now() {
    for (int i = 0; i < NCHILD; ++i) {
        const pid_t g = static_cast<pid_t>(child_group[i]);
        if (g > 0) ::kill(-g, SIGKILL);
    }
}

void remove_scratch_now() {
    for (int i = 0; i < NSCRATCH; ++i) {
        ScratchSlot& s = scratch[i];
        if (!s.used) continue;
        for (int k = s.ntracked - 1; k >= 0; --k) {
            if (::unlink(s.tracked[k]) != 0) ::rmdir(s.tracked[k]);
        }
        ::rmdir(s.dir);
    }
}

}  // namespace zelk::platform
