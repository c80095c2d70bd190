// zelk: the interactive program. Without parameters, or with exactly five parameters each
// of which is a format keyword (VXO, STANDARD, OTHER), it opens the window, shows the
// welcome screen and takes the job from the job dialog; any other count of
// parameters, or a parameter that is not a format keyword, shows its message and ends.
// "zelk --version" alone prints the version text (program version, source revision, data
// directory) and ends without opening a window, so that an installation can be identified
// from a terminal or a script.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <QApplication>
#include <QStringList>

#include "app/dialogs.hpp"
#include "app/text.hpp"
#include "app/window.hpp"
#include "driver/version.hpp"

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << zelk::driver::version_text("zelk");
        std::cout.flush();
        return std::cout ? 0 : 4;
    }
    QApplication qapp(argc, argv);
    // The diagnostic level of the run, 1 unless ZELK_DEBUG asks for another (2 and 3 pause
    // two seconds after each record, 4 and more draw nothing).
    int IDEBUG = 1;
    if (const char* d = std::getenv("ZELK_DEBUG"); d != nullptr && *d != '\0') IDEBUG = std::atoi(d);

    std::vector<std::string> args;
    for (const QString& a : qapp.arguments().mid(1)) args.push_back(a.toStdString());
    std::string VERSID;
    if (const int code = zelk::app::check_command_line(args, VERSID); code != 0) {
        zelk::app::DODIALOG3(code);
        return 2;
    }

    zelk::app::MainWindow w(VERSID, IDEBUG);
    w.showMaximized();
    w.COVER();
    const int rc = qapp.exec();
    return rc != 0 ? rc : w.exit_status();
}
