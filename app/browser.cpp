#include "app/browser.hpp"

#include <cstdio>

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialogs.hpp"

namespace zelk::app {

namespace {

inline constexpr const char* MY_COMPUTER = "MY COMPUTER";
inline constexpr const char* ALL_FILES = "*.* (ALL FILES LISTED BELOW)";
inline constexpr const char* NO_FILES = "NO DATA FILES";

QString q(const std::string& s) { return QString::fromStdString(s); }

void fill(QListWidget* list, const std::vector<std::string>& items) {
    list->clear();
    for (const std::string& i : items) list->addItem(q(i));
}

void one(QListWidget* list, const std::string& item) { fill(list, {item}); }

QListWidget* list_named(const char* id, QWidget* parent, int rows) {
    auto* l = new QListWidget(parent);
    l->setObjectName(QString::fromLatin1(id));
    l->setMaximumHeight(rows * 20 + 8);
    return l;
}

}  // namespace

BrowserDialog::BrowserDialog(bool program, QWidget* parent)
    : QDialog(parent), program_(program), places_(start_places()) {
    setWindowTitle(program ? QStringLiteral("SPECIFICATION OF THE PROGRAM TO CONVERT DATA FORMAT")
                           : QStringLiteral("SPECIFICATION OF INPUT DATA  FILES"));
    setModal(true);
    messages_ = [this](int code) { DODIALOG3(code, this); };

    auto* v = new QVBoxLayout(this);
    auto* choices = new QGroupBox(program ? QStringLiteral("CHOICES (SELECT the program for CONVERSION)")
                                          : QStringLiteral("CHOICES"), this);
    auto* cl = new QVBoxLayout(choices);
    back_ = new QCheckBox(QStringLiteral("Going Back"), choices);
    back_->setObjectName(QStringLiteral("1071"));
    cl->addWidget(back_);
    cl->addWidget(new QLabel(program ? QStringLiteral("Loking in DRIVES/DIRECTORIES:")
                                     : QStringLiteral("Look in DRIVES/DIRECTORIES:"), choices));
    where_ = list_named("1073", choices, 1);
    cl->addWidget(where_);
    dirs_ = list_named("1041", choices, 6);
    cl->addWidget(dirs_);
    if (!program) {
        cl->addWidget(new QLabel(QStringLiteral("Click to select ALL:"), choices));
        all_ = list_named("1048", choices, 1);
        cl->addWidget(all_);
    }
    cl->addWidget(new QLabel(QStringLiteral("Click to select ONE:"), choices));
    files_ = list_named("1038", choices, 8);
    cl->addWidget(files_);
    v->addWidget(choices);

    auto* selected = new QGroupBox(QStringLiteral("SELECTED"), this);
    auto* sl = new QGridLayout(selected);
    sl->addWidget(new QLabel(program ? QStringLiteral("Path:") : QStringLiteral("File Path:"), selected), 0, 0);
    sel_path_ = list_named("1047", selected, 1);
    sl->addWidget(sel_path_, 0, 1);
    sl->addWidget(new QLabel(program ? QStringLiteral("Name:") : QStringLiteral("File Name(s):"), selected), 1, 0);
    sel_name_ = list_named("1046", selected, 1);
    sl->addWidget(sel_name_, 1, 1);
    // The number of files of the directory shown.
    count_ = new QLabel(selected);
    count_->setObjectName(QStringLiteral("1050"));
    sl->addWidget(count_, 2, 0, 1, 2);
    v->addWidget(selected);

    auto* bl = new QHBoxLayout();
    auto* okb = new QPushButton(QStringLiteral("OK"), this);
    okb->setObjectName(QStringLiteral("1"));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("2"));
    bl->addWidget(okb);
    bl->addWidget(cancel);
    v->addLayout(bl);
    setMinimumSize(480, 560);

    connect(dirs_, &QListWidget::itemClicked, this, [this](QListWidgetItem* it) { choose_place_or_dir(dirs_->row(it)); });
    connect(dirs_, &QListWidget::itemActivated, this, [this](QListWidgetItem* it) { choose_place_or_dir(dirs_->row(it)); });
    connect(back_, &QCheckBox::toggled, this, [this](bool on) {
        if (on) go_back();
    });
    if (all_) {
        connect(all_, &QListWidget::itemClicked, this, [this](QListWidgetItem* it) {
            if (it->text() != QLatin1String(ALL_FILES)) return;
            one(sel_name_, "*.*");
            one(sel_path_, path_);
        });
    }
    connect(files_, &QListWidget::itemClicked, this, [this](QListWidgetItem* it) {
        one(sel_name_, it->text().toStdString());
        one(sel_path_, path_);
    });
    connect(okb, &QPushButton::clicked, this, [this] { ok(); });
    connect(cancel, &QPushButton::clicked, this, [this] {
        result_.clear();
        reject();
    });
    my_computer();
}

void BrowserDialog::set_places(std::vector<std::string> places) {
    places_ = std::move(places);
    my_computer();
}

void BrowserDialog::my_computer() {
    path_.clear();
    one(where_, MY_COMPUTER);
    fill(dirs_, places_);
    if (all_) all_->clear();
    files_->clear();
    count_->clear();
}

void BrowserDialog::open(const std::string& path) {
    const Listing l = list_directory(path);
    if (!l.ok) {
        messages_(1);
        my_computer();
        return;
    }
    path_ = path;
    if (!l.files.empty()) {
        if (all_) one(all_, ALL_FILES);
        fill(files_, l.files);
    } else {
        if (all_) one(all_, NO_FILES);
        files_->clear();
    }
    fill(dirs_, l.dirs);
    one(where_, path_);
    char count[32];
    std::snprintf(count, sizeof count, "(TOTAL:%3zu)", l.total_files);
    count_->setText(QString::fromLatin1(count));
}

void BrowserDialog::choose_place_or_dir(int row) {
    if (row < 0 || row >= dirs_->count()) return;
    const std::string name = dirs_->item(row)->text().toStdString();
    open(path_.empty() ? name : path_ + name + "/");
}

void BrowserDialog::go_back() {
    {
        // Clearing the box is not a new request.
        const QSignalBlocker block(back_);
        back_->setChecked(false);
    }
    if (path_.empty()) return;
    if (path_ == "/") {
        my_computer();
        return;
    }
    // Up one directory: drop the last name and its '/'.
    std::string up = path_.substr(0, path_.size() - 1);
    up = up.substr(0, up.find_last_of('/') + 1);
    open(up.empty() ? "/" : up);
}

void BrowserDialog::ok() {
    const std::string name = sel_name_->count() > 0 ? sel_name_->item(0)->text().toStdString() : std::string();
    if (trim(name).empty()) {
        // Nothing chosen: the browser starts again.
        my_computer();
        sel_path_->clear();
        sel_name_->clear();
        return;
    }
    const std::string path = sel_path_->count() > 0 ? sel_path_->item(0)->text().toStdString() : std::string();
    result_ = trim(path) + trim(name);
    accept();
}

std::string DODIALOG2(QWidget* parent) {
    BrowserDialog d(false, parent);
    d.exec();
    return d.result();
}

std::string DODIALOG2P(QWidget* parent) {
    BrowserDialog d(true, parent);
    d.exec();
    return d.result();
}

}  // namespace zelk::app
