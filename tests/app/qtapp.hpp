// A QApplication for the tests of the interactive program, made once on first use.
#pragma once

#include <QApplication>
#include <QElapsedTimer>

namespace ztest {

inline QApplication& qt_app() {
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Lets the window's thread handle its events until done() or the timeout (ms) passes.
template <class Done>
bool process_until(Done done, int timeout_ms = 60000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeout_ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

}  // namespace ztest
