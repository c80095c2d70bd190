// The run of the interactive program: the run loop that zelk-batch uses, file by file with a
// fresh run context for each file (as zelk-batch does), drawing on the window's canvas. This is the one place of the
// program that knows the run loop, the run context and the display's plot hooks; the
// window and the dialogs see only this interface.
//
// run is called on a thread of its own so that the window stays responsive. What the loop
// asks of the user (an existing output file, numbered messages, the end-of-run box) goes
// through the Ui callbacks, which are called on the run's thread; the window hands them to
// its own thread and waits for the answer. cancel (any thread) ends the run before the next
// record: the file under way loses its output (the temporary file is removed), a pause is
// cut short, and a wildcard's file list is removed.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "app/dialogs.hpp"
#include "display/surface.hpp"

namespace zelk::app {

struct RunResult {
    int NRECS = 0;          // records handed to the inversion
    int files = 0;          // files attempted
    int written = 0;        // records written to complete outputs
    int fatal = 0;          // 22 or 23: the conversion program failed
    bool cancelled = false; // cancel ended the run
    std::string stop;       // the one-line message of a model data file that failed
    // In a refined run, the records by the method that made their result, indexed by
    // inversion::MadeBy (standard: neither method inverted the record).
    std::array<int, 4> made_by{};
};

// The records of a refined run by the method that made them, as the summary's column mode
// names them (" (refined 5, fallback 1)"); "" for a standard run.
std::string made_by_counts(const RunResult& r);

class Engine {
public:
    struct Ui {
        std::function<std::string(const std::string& path)> exists;   // DODIALOG4
        std::function<void(int code)> message;                        // DODIALOG3
        std::function<void(const std::string& title, const std::string& text)> box;
        // A record was inverted (and written): its file, its ordinal, records so far, and
        // in a refined run the word for the method that made its result, as the summary's
        // column mode has it (nullptr in the standard mode).
        std::function<void(const std::string& file, int recno, int nrecs, const char* mode)> record;
    };

    // IDEBUG: the diagnostic level of the run (1 unless the user asks for another).
    Engine(display::Surface& canvas, Ui ui, int IDEBUG = 1);

    // Runs the job. VERSID is the version identifier of the run; FILELIST the wildcard's
    // file list, removed at the end of the run.
    RunResult run(const JobSettings& job, const std::string& VERSID, const std::string& FILELIST);
    void cancel();
    bool cancelled() const { return cancel_.load(); }
    // Records whose frame was drawn.
    int frames() const { return frames_.load(); }
    // Waits `seconds` or until cancel.
    void pause(float seconds);

private:
    display::Surface& canvas_;
    Ui ui_;
    int IDEBUG_;
    std::atomic<bool> cancel_{false};
    std::atomic<int> frames_{0};
    std::mutex m_;
    std::condition_variable cv_;
};

}  // namespace zelk::app
