// The program's window "ZELK421": the canvas scaled to the window, a status line, the
// start-up (welcome screen, then the job dialog) and the run on a thread of its
// own. Closing the window during a run cancels the run and closes the window when the run
// has ended (the file under way leaves no output and no temporary file).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <QMainWindow>

#include "app/canvas.hpp"
#include "app/dialogs.hpp"
#include "app/engine.hpp"

class QLabel;

namespace zelk::app {

class MainWindow final : public QMainWindow {
public:
    // VERSID: the version identifier of the run; IDEBUG its diagnostic level.
    MainWindow(std::string VERSID, int IDEBUG = 1, QWidget* parent = nullptr);
    ~MainWindow() override;

    // COVER: draws the welcome screen, then runs the job dialog and starts the
    // job it returns; a user who exits the dialog ends the program.
    void COVER();
    // Starts the run of a job (the dialog's result) on the run thread.
    void start(const JobSettings& job);

    bool running() const { return running_; }
    bool started() const { return ran_; }
    const RunResult& result() const { return result_; }
    // The text of the status line.
    std::string status() const;
    // The exit status of the program: 0 records were inverted (or no run was started), 1
    // none, 3 a model data file failed.
    int exit_status() const;

    Canvas& canvas() { return canvas_; }
    CanvasWidget* canvas_widget() { return view_; }
    Engine& engine() { return *engine_; }
    const std::string& filelist() const { return filelist_; }
    void set_filelist(std::string path) { filelist_ = std::move(path); }

    // The user-facing dialogs of the run, replaceable by tests; called on the window's
    // thread.
    std::function<std::string(const std::string&)> ask_exists;
    std::function<void(int)> show_message;
    std::function<void(const std::string&, const std::string&)> show_box;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void finished(const RunResult& r);
    // Runs f on the window's thread and waits for it (called from the run thread).
    void on_gui(const std::function<void()>& f);

    std::string VERSID_;
    std::string filelist_ = "FILELIST.TMP";
    Canvas canvas_;
    CanvasWidget* view_ = nullptr;
    QLabel* status_ = nullptr;
    std::unique_ptr<Engine> engine_;
    std::thread thread_;
    std::atomic<bool> thread_done_{true};
    bool running_ = false;
    bool ran_ = false;
    bool closing_ = false;
    RunResult result_;
};

}  // namespace zelk::app
