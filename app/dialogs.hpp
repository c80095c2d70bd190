// The job dialogs: the job dialog itself (DODIALOG1 with its callback UPDATEDIALOG1), INSTRUCTIONS
// (DODIALOG3, the numbered messages) and WARNING (DODIALOG4, an output file that exists).
// Every control carries its id as its object name ("1000", "1071", ...), so that tests find
// the controls the way the dialog's users know them.
#pragma once

#include <functional>
#include <string>

#include <QDialog>

#include "inversion/inversion.hpp"

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace zelk::app {

// What the dialogs hand to the run.
struct JobSettings {
    char FMTVXO = 'Y';            // 'Y': the input is VXO
    bool NOCONV = true;           // false: the converter PROG makes the Standard format
    std::string PROG;             // conversion program (ANY OF OTHERS)
    std::string INFILE;           // input file or wildcard; "" when the user chose to exit
    std::string OUTFILE = "NONE"; // output file, or "NONE"
    float HSTEP = 0.0f;           // N(h) table height step (km); 0: no table
    float QPACC = 0.0f;           // quasi-parabolic fit accuracy; 0: no fit
    inversion::RefineOptions refine;  // refined-inversion parts in use; none: the standard method
    bool shape_fast = false;      // B0, B1, D1 by the fast fit (zelk-batch --shape-fit fast)
};

// Shows message CODE in the INSTRUCTIONS dialog and waits for OK. A code without a text of
// its own shows the message shown before (nothing before the first).
void DODIALOG3(int CODE, QWidget* parent = nullptr);

// The INSTRUCTIONS dialog for a message text.
class MessageDialog final : public QDialog {
public:
    explicit MessageDialog(const std::string& text, QWidget* parent = nullptr);
};

// The WARNING dialog about the existing output file OUTPATH; the user may give the file
// another name (directories typed in the box are not used).
class ExistsDialog final : public QDialog {
public:
    explicit ExistsDialog(const std::string& OUTPATH, QWidget* parent = nullptr);
    // The directory of OUTPATH followed by the name in the box; OUTPATH itself when the
    // box holds no name.
    std::string NEWNAME() const;

private:
    std::string outpath_;
    QLineEdit* name_ = nullptr;
};

// DODIALOG4: runs the WARNING dialog and returns the output path to use (the same path
// overwrites the file).
std::string DODIALOG4(const std::string& OUTPATH, QWidget* parent = nullptr);

// The job dialog (101). OK validates the entries in the order of DODIALOG1: a
// rejected entry shows its message and leaves the dialog open with the entries kept;
// entries that pass close it with accept(). EXIT closes it with reject() and a blank INFILE.
class SpecDialog final : public QDialog {
public:
    // Shows a numbered message (default: DODIALOG3).
    using Messages = std::function<void(int code)>;
    // Runs a browser and returns the chosen path ("" when cancelled): program false for the
    // input files (DODIALOG2), true for the conversion program (DODIALOG2P).
    using Browse = std::function<std::string(bool program)>;

    // FILELIST is where a wildcard job's file list is written.
    SpecDialog(const JobSettings& defaults, const std::string& FILELIST, QWidget* parent = nullptr);

    void set_messages(Messages m) { messages_ = std::move(m); }
    void set_browse(Browse b) { browse_ = std::move(b); }
    const JobSettings& settings() const { return job_; }

private:
    void load();                 // the controls from the settings (step 3 of DODIALOG1)
    void update(int id);         // UPDATEDIALOG1 for a change of control `id`
    void show_refine_all();      // the whole-mode box from the part boxes
    void ok();                   // steps 6 to 14 of DODIALOG1
    int validate();              // 0 or the message code of the first rejected entry
    void reject_with(int code);  // shows the message and the dialog again
    bool others() const;

    JobSettings job_;
    std::string filelist_;
    Messages messages_;
    Browse browse_;
    QRadioButton *vxo_ = nullptr, *standard_ = nullptr, *others_ = nullptr;
    QButtonGroup* formats_ = nullptr;
    QLineEdit *prog_ = nullptr, *in_ = nullptr, *out_ = nullptr, *hstep_ = nullptr, *qpacc_ = nullptr;
    QPushButton* browse_prog_ = nullptr;
    // The refined inversion: the whole mode (checked when every part is, partly checked
    // when some are), then the parts valley, X-trace start, scaled critical frequency, F1
    // roots and gap mode.
    QCheckBox* refine_all_ = nullptr;
    QCheckBox *valley_ = nullptr, *xstart_ = nullptr, *scaled_fc_ = nullptr, *f1_roots_ = nullptr,
              *gap_ = nullptr;
    QCheckBox* shape_fast_ = nullptr;   // the fast fit of the shape parameters
};

// DODIALOG1: runs the job dialog until its entries pass or the user exits;
// false (and a blank INFILE) on exit.
bool DODIALOG1(JobSettings& job, const std::string& FILELIST, QWidget* parent = nullptr);

}  // namespace zelk::app
