#include "app/dialogs.hpp"

#include <filesystem>

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/browser.hpp"
#include "app/files.hpp"
#include "app/text.hpp"

namespace zelk::app {

namespace fs = std::filesystem;

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }
std::string s(const QString& t) { return t.toStdString(); }

template <class W>
W* named(W* w, const char* id) {
    w->setObjectName(QString::fromLatin1(id));
    return w;
}

QLabel* wrapped(const char* text, QWidget* parent, const char* id = nullptr) {
    auto* l = new QLabel(QString::fromLatin1(text), parent);
    l->setWordWrap(true);
    if (id) l->setObjectName(QString::fromLatin1(id));
    return l;
}

// The box of a whole that has parts: it shows the parts (checked when all are, partly checked
// when some are), and a click checks every part unless all are checked, which it unchecks.
class WholeBox final : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override { setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked); }
};

}  // namespace

// ---- INSTRUCTIONS ------------------------------------------------------------------------

MessageDialog::MessageDialog(const std::string& text, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("INSTRUCTIONS"));
    setModal(true);
    auto* v = new QVBoxLayout(this);
    auto* msg = named(new QLabel(q(text), this), "1074");
    msg->setWordWrap(true);
    msg->setMinimumWidth(360);
    v->addWidget(msg);
    auto* ok = named(new QPushButton(QStringLiteral("OK"), this), "1");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    v->addWidget(ok, 0, Qt::AlignHCenter);
}

void DODIALOG3(int CODE, QWidget* parent) {
    // The text stays from call to call: a code without a message shows the one before.
    static std::string text;
    const std::string m = message(CODE);
    if (!m.empty()) text = m;
    MessageDialog d(text, parent);
    d.exec();
}

// ---- WARNING -----------------------------------------------------------------------------

ExistsDialog::ExistsDialog(const std::string& OUTPATH, QWidget* parent) : QDialog(parent), outpath_(OUTPATH) {
    setWindowTitle(QStringLiteral("WARNING"));
    setModal(true);
    auto* v = new QVBoxLayout(this);
    v->addWidget(new QLabel(QStringLiteral("The OUTPUT file"), this));
    v->addWidget(named(new QLabel(q(trim(OUTPATH)), this), "1008"));
    v->addWidget(wrapped("EXISTS already.  It will be overwritten without any changes in the NAME listed in the next box:", this));
    const PathParts p = split_path(trim(OUTPATH));
    name_ = named(new QLineEdit(q(p.name + p.ext), this), "1000");
    v->addWidget(name_);
    auto* ok = named(new QPushButton(QStringLiteral("OK"), this), "1");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    v->addWidget(ok, 0, Qt::AlignHCenter);
}

std::string ExistsDialog::NEWNAME() const {
    const PathParts box = split_path(trim(s(name_->text())));
    // An emptied box would name the directory itself: the file keeps its name instead.
    if (box.name.empty() && box.ext.empty()) return outpath_;
    return split_path(trim(outpath_)).dir + box.name + box.ext;
}

std::string DODIALOG4(const std::string& OUTPATH, QWidget* parent) {
    ExistsDialog d(OUTPATH, parent);
    d.exec();
    return d.NEWNAME();
}

// ---- The job dialog (101) -----------------------------------------------------------------

SpecDialog::SpecDialog(const JobSettings& defaults, const std::string& FILELIST, QWidget* parent)
    : QDialog(parent), job_(defaults), filelist_(FILELIST) {
    setWindowTitle(QStringLiteral("SPECIFICATIONS"));
    setModal(true);
    messages_ = [this](int code) { DODIALOG3(code, this); };
    browse_ = [this](bool program) { return program ? DODIALOG2P(this) : DODIALOG2(this); };

    auto* v = new QVBoxLayout(this);

    auto* fmt = named(new QGroupBox(QStringLiteral("DATA FORMAT OF THE INPUT FILES"), this), "1008");
    auto* fl = new QHBoxLayout(fmt);
    vxo_ = named(new QRadioButton(QStringLiteral("VXO"), fmt), "1071");
    standard_ = named(new QRadioButton(QStringLiteral("STANDARD"), fmt), "1007");
    others_ = named(new QRadioButton(QStringLiteral("ANY OF OTHERS"), fmt), "1010");
    formats_ = new QButtonGroup(this);
    for (QRadioButton* r : {vxo_, standard_, others_}) {
        formats_->addButton(r);
        fl->addWidget(r);
    }
    v->addWidget(fmt);

    auto* pg = new QGroupBox(QStringLiteral("PATH+NAME of PROGRAM (to convert data into STANDARD format):"), this);
    auto* pl = new QHBoxLayout(pg);
    prog_ = named(new QLineEdit(pg), "1001");
    browse_prog_ = named(new QPushButton(QStringLiteral("BROWSE"), pg), "5");
    pl->addWidget(prog_);
    pl->addWidget(browse_prog_);
    v->addWidget(pg);

    auto* ig = named(new QGroupBox(QStringLiteral("INPUT FILE: Path and Name "), this), "1009");
    auto* il = new QGridLayout(ig);
    in_ = named(new QLineEdit(ig), "1000");
    auto* browse_in = named(new QPushButton(QStringLiteral("BROWSE"), ig), "4");
    il->addWidget(in_, 0, 0);
    il->addWidget(browse_in, 0, 1);
    il->addWidget(wrapped("(Enter one file or  *.* to include all  the files in one subdirectory. Use BROWSE to get them.)", ig), 1, 0, 1, 2);
    v->addWidget(ig);

    auto* og = named(new QGroupBox(QStringLiteral("OUTPUT FILE: Path and Name"), this), "1011");
    auto* ol = new QVBoxLayout(og);
    out_ = named(new QLineEdit(og), "1022");
    ol->addWidget(out_);
    ol->addWidget(wrapped("(You can re-specify it. The entry NONE means that no output files will be created)", og));
    v->addWidget(og);

    auto* nl = new QGridLayout();
    nl->addWidget(wrapped("Height Step (km) for N(h) Table (10.0 is recommended. The default value 0.0 will not do tabulation):", this, "1017"), 0, 0);
    hstep_ = named(new QLineEdit(this), "1014");
    nl->addWidget(hstep_, 0, 1);
    nl->addWidget(wrapped("Accuracy for QP Fitting (0.01 is recommended. The default value 0.0 will not do fitting):", this, "1021"), 1, 0);
    qpacc_ = named(new QLineEdit(this), "1015");
    nl->addWidget(qpacc_, 1, 1);
    for (QLineEdit* e : {hstep_, qpacc_}) e->setMaximumWidth(80);
    v->addLayout(nl);
    shape_fast_ = named(new QCheckBox(QStringLiteral("B0, B1 and D1 by the fast least-squares fit (unchecked: the search)"), this), "1030");
    v->addWidget(shape_fast_);

    auto* rg = named(new QGroupBox(QStringLiteral("REFINED INVERSION (nothing checked: the standard method)"), this), "1023");
    auto* rl = new QVBoxLayout(rg);
    refine_all_ = named(new WholeBox(QStringLiteral("Refined mode: all five parts below"), rg), "1024");
    refine_all_->setTristate(true);
    valley_ = named(new QCheckBox(QStringLiteral("E-F valley fitted to the O trace"), rg), "1025");
    xstart_ = named(new QCheckBox(QStringLiteral("Unseen start fitted to the X trace"), rg), "1026");
    scaled_fc_ = named(new QCheckBox(QStringLiteral("Peaks at the scaled foF2 and foF1"), rg), "1027");
    f1_roots_ = named(new QCheckBox(QStringLiteral("F1 rejected for its roots: solved with F2"), rg), "1028");
    gap_ = named(new QCheckBox(QStringLiteral("Gap mode: an order turning at the foot held there"), rg), "1029");
    rl->addWidget(refine_all_);
    auto* parts = new QGridLayout();
    parts->setContentsMargins(20, 0, 0, 0);   // the parts set in under the whole mode
    parts->addWidget(valley_, 0, 0);
    parts->addWidget(xstart_, 0, 1);
    parts->addWidget(scaled_fc_, 1, 0);
    parts->addWidget(f1_roots_, 1, 1);
    parts->addWidget(gap_, 2, 0);
    rl->addLayout(parts);
    v->addWidget(rg);

    auto* bl = new QHBoxLayout();
    auto* ok = named(new QPushButton(QStringLiteral("OK"), this), "1");
    auto* exit = named(new QPushButton(QStringLiteral("EXIT  ZELK"), this), "2");
    auto* ret = named(new QPushButton(QStringLiteral("RETURN KEY"), this), "3");
    ret->setVisible(false);
    ret->setEnabled(false);
    // Return in a box ends the entry there (a change of that box), it presses no button.
    for (QPushButton* b : {ok, exit, browse_in, browse_prog_}) b->setAutoDefault(false);
    bl->addWidget(ok);
    bl->addWidget(exit);
    bl->addWidget(ret);
    v->addLayout(bl);
    setMinimumWidth(560);

    // UPDATEDIALOG1 for the registered controls. The edit boxes report a change when the
    // user leaves them (or presses Return), not at every keystroke, so that a box can be
    // emptied and retyped without the blank rules stepping in half-way.
    connect(in_, &QLineEdit::editingFinished, this, [this] { update(1000); });
    connect(out_, &QLineEdit::editingFinished, this, [this] { update(1022); });
    connect(hstep_, &QLineEdit::editingFinished, this, [this] { update(1014); });
    connect(qpacc_, &QLineEdit::editingFinished, this, [this] { update(1015); });
    connect(vxo_, &QRadioButton::clicked, this, [this] { update(1071); });
    connect(standard_, &QRadioButton::clicked, this, [this] { update(1007); });
    connect(others_, &QRadioButton::clicked, this, [this] { update(1010); });
    connect(refine_all_, &QCheckBox::clicked, this, [this] { update(1024); });
    connect(valley_, &QCheckBox::clicked, this, [this] { update(1025); });
    connect(xstart_, &QCheckBox::clicked, this, [this] { update(1026); });
    connect(scaled_fc_, &QCheckBox::clicked, this, [this] { update(1027); });
    connect(f1_roots_, &QCheckBox::clicked, this, [this] { update(1028); });
    connect(gap_, &QCheckBox::clicked, this, [this] { update(1029); });
    connect(browse_in, &QPushButton::clicked, this, [this] { update(4); });
    connect(browse_prog_, &QPushButton::clicked, this, [this] { update(5); });
    connect(ok, &QPushButton::clicked, this, [this] { this->ok(); });
    connect(exit, &QPushButton::clicked, this, [this] {
        job_.INFILE.clear();
        // A file list written for an entry that was then turned down is not left behind.
        std::error_code ec;
        fs::remove(filelist_, ec);
        reject();
    });
    load();
}

bool SpecDialog::others() const { return others_->isChecked(); }

void SpecDialog::load() {
    const bool other = job_.FMTVXO != 'Y' && !job_.NOCONV;
    (job_.FMTVXO == 'Y' ? vxo_ : other ? others_ : standard_)->setChecked(true);
    prog_->setEnabled(other);
    browse_prog_->setEnabled(other);
    prog_->setText(other ? q(trim(job_.PROG)) : QString());
    hstep_->setText(q(hstep_text(job_.HSTEP)));
    qpacc_->setText(q(qpacc_text(job_.QPACC)));
    in_->setText(q(trim(job_.INFILE)));
    out_->setText(q(trim(job_.OUTFILE)));
    valley_->setChecked(job_.refine.valley);
    xstart_->setChecked(job_.refine.xstart);
    scaled_fc_->setChecked(job_.refine.scaled_fc);
    f1_roots_->setChecked(job_.refine.f1_roots);
    gap_->setChecked(job_.refine.gap);
    show_refine_all();
    shape_fast_->setChecked(job_.shape_fast);
}

void SpecDialog::show_refine_all() {
    int on = 0;
    for (const QCheckBox* b : {valley_, xstart_, scaled_fc_, f1_roots_, gap_}) on += b->isChecked();
    refine_all_->setCheckState(on == 5 ? Qt::Checked : on == 0 ? Qt::Unchecked : Qt::PartiallyChecked);
}

void SpecDialog::update(int id) {
    if (trim(s(out_->text())).empty()) out_->setText(QStringLiteral("NONE"));
    switch (id) {
        case 4: {
            const std::string t = trim(browse_(false));
            if (!t.empty()) {
                in_->setText(q(t));
                out_->setText(q(t + ".430"));
            }
            break;
        }
        case 5: {
            const std::string t = trim(browse_(true));
            if (!t.empty()) prog_->setText(q(t));
            break;
        }
        case 1071:
        case 1007:
        case 1010:
            // The group keeps exactly one format chosen; a change clears the program box.
            prog_->setText(QStringLiteral(" "));
            prog_->setEnabled(others());
            browse_prog_->setEnabled(others());
            break;
        case 1014:
        case 1015: {
            QLineEdit* box = id == 1014 ? hstep_ : qpacc_;
            const char* zero = id == 1014 ? "0.0" : "0.00";
            if (trim(s(box->text())).empty()) {
                box->setText(QString::fromLatin1(zero));
            } else if (STR_NUM(s(box->text())) != 0) {
                messages_(0);
                box->setText(QString::fromLatin1(zero));
            }
            break;
        }
        case 1024: {
            // The whole mode sets every part; a part alone leaves the others as they are.
            const bool all = refine_all_->checkState() == Qt::Checked;
            for (QCheckBox* b : {valley_, xstart_, scaled_fc_, f1_roots_, gap_}) b->setChecked(all);
            break;
        }
        case 1025:
        case 1026:
        case 1027:
        case 1028:
        case 1029:
            show_refine_all();
            break;
        default:
            break;
    }
}

void SpecDialog::ok() {
    const int code = validate();
    if (code != 0) {
        reject_with(code);
        return;
    }
    accept();
}

void SpecDialog::reject_with(int code) {
    messages_(code);
    load();
}

int SpecDialog::validate() {
    job_.INFILE = s(in_->text());
    job_.OUTFILE = s(out_->text());
    // A blank output box means no output, as it does after any other change in the dialog.
    if (trim(job_.OUTFILE).empty()) job_.OUTFILE = "NONE";
    job_.HSTEP = read_number(s(hstep_->text()));
    job_.QPACC = read_number(s(qpacc_->text()));
    job_.refine.valley = valley_->isChecked();
    job_.refine.xstart = xstart_->isChecked();
    job_.refine.scaled_fc = scaled_fc_->isChecked();
    job_.refine.f1_roots = f1_roots_->isChecked();
    job_.refine.gap = gap_->isChecked();
    job_.shape_fast = shape_fast_->isChecked();
    job_.NOCONV = true;
    job_.FMTVXO = vxo_->isChecked() ? 'Y' : 'N';
    if (others()) {
        job_.NOCONV = false;
        job_.PROG = trim(s(prog_->text()));
        if (job_.PROG.empty()) return 16;
        std::error_code ec;
        if (!fs::is_regular_file(job_.PROG, ec)) return 17;
    }
    const std::string in = trim(job_.INFILE);
    if (in.empty()) return 2;
    PathParts p = split_path(in);
    if (p.name == "*" && (p.ext.empty() || p.ext == ".")) p.ext = ".*";
    if (same_nocase(p.ext, ".430") || same_nocase(p.ext, ".ARP")) return 18;
    if (same_nocase(p.ext, ".VXO") && job_.FMTVXO == 'N') return 19;
    if (p.name != "*" && p.ext != ".*") {
        std::error_code ec;
        if (!fs::is_regular_file(in, ec)) return 5;
    } else {
        const int code = write_filelist(p, filelist_);
        if (code != 0) return code;
    }
    const std::string out = trim(job_.OUTFILE);
    if (out != "NONE" && !can_create_in(split_path(out).dir)) return 21;
    return 0;
}

bool DODIALOG1(JobSettings& job, const std::string& FILELIST, QWidget* parent) {
    SpecDialog d(job, FILELIST, parent);
    const bool ok = d.exec() == QDialog::Accepted;
    job = d.settings();
    if (!ok) job.INFILE.clear();
    return ok;
}

}  // namespace zelk::app
