// An output file written under a temporary name in its own directory and renamed into place
// only when it is complete: an interrupted run never leaves a partial file under the final
// name, and an existing file is not touched until its replacement is whole.
#pragma once

#include <fstream>
#include <string>

namespace zelk::driver {

// Makes SIGINT, SIGTERM and SIGHUP remove the temporary files of the outputs being written
// before the program ends as the signal would end it, so that an interrupted run leaves
// neither a partial file under a final name nor a temporary one beside it. Conversion
// programs still running are killed and the conversion's private directories removed too.
void remove_temporaries_on_signal();

// Removes from `dir` the temporary files that runs on this host which have ended left there
// (a run killed with SIGKILL cannot remove its own); those of a run still going are kept.
// Looks at each directory once per run. Returns the number of files removed.
int remove_orphaned_temporaries(const std::string& dir);

class PendingOutput {
public:
    explicit PendingOutput(std::string final_path) : final_(std::move(final_path)) {}
    ~PendingOutput() { discard(); }
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // Creates the temporary file ".<name>.zelk~<host>~<pid>.XXXXXX" beside the final path
    // (after removing what ended runs left in that directory); false, with the reason in
    // why, when it cannot be made.
    bool open(std::string& why);
    std::ostream& os() { return out_; }
    const std::string& temp_path() const { return temp_; }
    // Moves the complete file into place (replacing an existing one in one step); false,
    // with the reason in why and the temporary file removed, when that fails.
    bool commit(std::string& why);
    // Removes the temporary file; the final path is left as it was.
    void discard();

private:
    void forget();   // takes the temporary file off the list of the signal handler

    int slot_ = -1;
    std::string final_;
    std::string temp_;
    std::ofstream out_;
};

}  // namespace zelk::driver
