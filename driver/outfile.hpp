// An output file written under a temporary name in its own directory and renamed into place
// only when it is complete: an interrupted run never leaves a partial file under the final
// name, and an existing file is not touched until its replacement is whole.
#pragma once

#include <fstream>
#include <string>

namespace zelk::driver {

class PendingOutput {
public:
    explicit PendingOutput(std::string final_path) : final_(std::move(final_path)) {}
    ~PendingOutput() { discard(); }
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // Creates the temporary file ".<name>.XXXXXX" beside the final path; false, with the
    // reason in why, when it cannot be made.
    bool open(std::string& why);
    std::ostream& os() { return out_; }
    const std::string& temp_path() const { return temp_; }
    // Moves the complete file into place (replacing an existing one in one step); false,
    // with the reason in why and the temporary file removed, when that fails.
    bool commit(std::string& why);
    // Removes the temporary file; the final path is left as it was.
    void discard();

private:
    std::string final_;
    std::string temp_;
    std::ofstream out_;
};

}  // namespace zelk::driver
