#include "app/window.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include "app/cover.hpp"
#include "display/display.hpp"
#include "driver/batch.hpp"

namespace zelk::app {

MainWindow::MainWindow(std::string VERSID, int IDEBUG, QWidget* parent)
    : QMainWindow(parent), VERSID_(std::move(VERSID)),
      canvas_(display::CANVAS_WIDTH, display::CANVAS_HEIGHT) {
    setWindowTitle(QStringLiteral("ZELK421"));
    view_ = new CanvasWidget(canvas_, this);
    setCentralWidget(view_);
    status_ = new QLabel(this);
    statusBar()->addWidget(status_, 1);

    ask_exists = [this](const std::string& path) { return DODIALOG4(path, this); };
    show_message = [this](int code) { DODIALOG3(code, this); };
    show_box = [this](const std::string& title, const std::string& text) {
        QMessageBox::warning(this, QString::fromStdString(title), QString::fromStdString(text));
    };

    Engine::Ui ui;
    ui.exists = [this](const std::string& path) {
        std::string answer = path;
        on_gui([&] { answer = ask_exists(path); });
        return answer;
    };
    ui.message = [this](int code) { on_gui([&] { show_message(code); }); };
    ui.box = [this](const std::string& title, const std::string& text) {
        on_gui([&] { show_box(title, text); });
    };
    ui.record = [this](const std::string& file, int recno, int nrecs, const char* mode) {
        QString text = QStringLiteral("%1: record %2 (%3 inverted)")
                           .arg(QString::fromStdString(file)).arg(recno).arg(nrecs);
        // In a refined run, the method that made this record's result.
        if (mode) text += QStringLiteral(", mode ") + QString::fromLatin1(mode);
        QMetaObject::invokeMethod(this, [this, text] { status_->setText(text); }, Qt::QueuedConnection);
    };
    engine_ = std::make_unique<Engine>(canvas_, std::move(ui), IDEBUG);
}

MainWindow::~MainWindow() {
    if (thread_.joinable()) {
        closing_ = true;
        engine_->cancel();
        // The run may be waiting for an answer of this thread: answer (with nothing) until
        // it has ended.
        while (!thread_done_) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (thread_.joinable()) thread_.join();
    }
}

void MainWindow::on_gui(const std::function<void()>& f) {
    if (QThread::currentThread() == thread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(this, [this, &f] {
        // A run cancelled while the request waited asks nothing more of the user.
        if (!closing_) f();
    }, Qt::BlockingQueuedConnection);
}

void MainWindow::COVER() {
    draw_cover(canvas_, VERSID_);
    view_->update();
    // The dialog comes once the window is on the screen.
    QTimer::singleShot(0, this, [this] {
        JobSettings job;
        if (!DODIALOG1(job, filelist_, this)) {
            close();
            return;
        }
        start(job);
    });
}

void MainWindow::start(const JobSettings& job) {
    if (running_) return;
    running_ = true;
    ran_ = true;
    QString running = QStringLiteral("Running ") + QString::fromStdString(job.INFILE);
    if (job.refine.any())
        running += QStringLiteral(" (refined mode: %1)").arg(QString::fromStdString(driver::refine_text(job.refine)));
    if (job.shape_fast) running += QStringLiteral(" (fast shape fit)");
    status_->setText(running);
    thread_done_ = false;
    thread_ = std::thread([this, job] {
        const RunResult r = engine_->run(job, VERSID_, filelist_);
        thread_done_ = true;
        QMetaObject::invokeMethod(this, [this, r] { finished(r); }, Qt::QueuedConnection);
    });
}

void MainWindow::finished(const RunResult& r) {
    if (thread_.joinable()) thread_.join();
    running_ = false;
    result_ = r;
    if (closing_) {
        close();
        return;
    }
    if (!r.stop.empty()) {
        status_->setText(QString::fromStdString(r.stop));
        QMessageBox::critical(this, QStringLiteral("ZELK"), QString::fromStdString(r.stop));
        return;
    }
    auto count = [](long n, const char* what) {
        return QStringLiteral("%1 %2%3").arg(n).arg(QString::fromLatin1(what)).arg(n == 1 ? "" : "s");
    };
    status_->setText(QStringLiteral("Finished: %1 inverted from %2, %3 written%4. Close the window to end.")
                         .arg(count(r.NRECS, "record"), count(r.files, "file"))
                         .arg(r.written)
                         .arg(QString::fromStdString(made_by_counts(r))));
}

std::string MainWindow::status() const { return status_->text().toStdString(); }

int MainWindow::exit_status() const {
    if (!ran_) return 0;
    if (!result_.stop.empty()) return 3;
    return result_.NRECS > 0 ? 0 : 1;
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (running_) {
        // The window closes when the run has ended, which is at the next record.
        closing_ = true;
        engine_->cancel();
        status_->setText(QStringLiteral("Stopping the run..."));
        e->ignore();
        return;
    }
    e->accept();
}

}  // namespace zelk::app
