// The browser of the BROWSE buttons: the input-file browser (DODIALOG2) and the converter
// browser (DODIALOG2P), with the callback UPDATEBROWSE that lists directories and keeps the
// lists in step.
//
// A browse starts at "MY COMPUTER", which lists the places a user starts from (places: the
// root of the file system, the home directory, the working directory, mounted volumes).
// Choosing a place or a subdirectory opens it; "Going Back" goes up one directory, and from
// the root back to "MY COMPUTER". Control ids are the object names of the controls.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QDialog>

#include "app/files.hpp"

class QCheckBox;
class QLabel;
class QListWidget;

namespace zelk::app {

class BrowserDialog final : public QDialog {
public:
    // program false: the input files (with the ALL entry); true: the conversion program.
    explicit BrowserDialog(bool program, QWidget* parent = nullptr);

    // Shows a numbered message (default: DODIALOG3).
    void set_messages(std::function<void(int)> m) { messages_ = std::move(m); }
    // The places of "MY COMPUTER" (tests give their own); shows them.
    void set_places(std::vector<std::string> places);
    // The chosen path followed by the chosen name, "" when cancelled.
    const std::string& result() const { return result_; }
    // The directory shown ("" for "MY COMPUTER").
    const std::string& current() const { return path_; }

private:
    void my_computer();
    void open(const std::string& path);
    void choose_place_or_dir(int row);
    void go_back();
    void ok();

    bool program_;
    std::vector<std::string> places_;
    std::string path_, result_;
    std::function<void(int)> messages_;
    QCheckBox* back_ = nullptr;
    QListWidget *where_ = nullptr, *dirs_ = nullptr, *all_ = nullptr, *files_ = nullptr;
    QListWidget *sel_path_ = nullptr, *sel_name_ = nullptr;
    QLabel* count_ = nullptr;
};

// DODIALOG2 and DODIALOG2P: run the browser; the chosen path and name, or "" when cancelled.
std::string DODIALOG2(QWidget* parent = nullptr);
std::string DODIALOG2P(QWidget* parent = nullptr);

}  // namespace zelk::app
