// Starting an external program and waiting for it, and private temporary directories, with
// what an interrupted run must undo: stopping the programs it started and removing the
// directories it made.
#pragma once

#include <string>
#include <vector>

namespace zelk::platform {

// How one run of an external program went.
struct ProgramRun {
    bool started = false;    // the program could be started
    int error = 0;           // errno of the failed start
    bool exited = false;     // it ended by itself with an exit status
    int status = 0;          // that exit status
    int signal = 0;          // the signal that ended it (0 if none)
    bool timed_out = false;  // it was stopped at the time limit
};

// True when path names a regular file that this process may execute.
bool is_executable_file(const std::string& path);

// Runs the program at path with the arguments args (args[0] is the name it is given), no
// shell in between, in a process group of its own, with standard input from /dev/null and
// its standard output passed to standard error (so that it cannot mix into the program's
// diagnostics). Waits until it ends or, when timeout_s > 0, until timeout_s seconds have
// passed; then its whole process group is killed and waited for. While it runs it is on
// the list that stop_children_now ends.
ProgramRun run_program(const std::string& path, const std::vector<std::string>& args, double timeout_s);

// A directory of its own under the system's temporary directory (TMPDIR, else /tmp), made
// with mode 0700 under a unique name, removed with everything in it when the object ends.
// The files placed in it through track() are also removed by remove_scratch_now, so that a
// run ended by a signal leaves nothing behind.
class ScratchDir {
public:
    ScratchDir() = default;
    ~ScratchDir() { remove(); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Makes the directory (prefix: the start of its name); false, with the reason in why,
    // when it cannot be made.
    bool make(const std::string& prefix, std::string& why);
    const std::string& path() const { return path_; }
    // Names a path inside it (a file or a subdirectory) that a signal must remove; the
    // paths are removed in the reverse order of tracking, the directory last.
    void track(const std::string& path);
    // Removes the directory and its contents now.
    void remove();

private:
    std::string path_;
    int slot_ = -1;
};

// For signal handlers (async-signal-safe): kills the process groups of the programs being
// run, then removes the tracked files and the scratch directories.
void stop_children_now();
void remove_scratch_now();

}  // namespace zelk::platform
