// The job, INSTRUCTIONS and WARNING dialogs and the browser, driven as a user
// drives them: typing into the boxes, clicking buttons and list entries (Qt Test, offscreen).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "app/browser.hpp"
#include "app/dialogs.hpp"
#include "qtapp.hpp"
#include "ztest.hpp"

namespace {

using namespace zelk::app;
namespace fs = std::filesystem;

template <class W>
W* ctl(QWidget& d, const char* id) {
    W* w = d.findChild<W*>(QString::fromLatin1(id));
    EXPECT_NE(w, nullptr) << "control " << id;
    return w;
}

std::string text(QLineEdit* e) { return e->text().toStdString(); }

// Types into a box as a user does and leaves it with Return.
void type(QWidget& d, const char* id, const std::string& t) {
    QLineEdit* e = ctl<QLineEdit>(d, id);
    e->setFocus();
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Delete);
    QTest::keyClicks(e, QString::fromStdString(t));
    QTest::keyClick(e, Qt::Key_Return);
}

// Clicks a button; a radio button or check box on its indicator, at its left end.
void click(QWidget& d, const char* id) {
    QAbstractButton* b = ctl<QAbstractButton>(d, id);
    const bool indicator = qobject_cast<QRadioButton*>(b) || qobject_cast<QCheckBox*>(b);
    QTest::mouseClick(b, Qt::LeftButton, {}, indicator ? QPoint(6, b->height() / 2) : b->rect().center());
}

void click_row(QListWidget* l, int row) {
    ASSERT_LT(row, l->count());
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(row)).center());
}

std::vector<std::string> items(QListWidget* l) {
    std::vector<std::string> v;
    for (int i = 0; i < l->count(); ++i) v.push_back(l->item(i)->text().toStdString());
    return v;
}

class SpecTest : public ::testing::Test {
protected:
    void SetUp() override {
        ztest::qt_app();
        dlg = std::make_unique<SpecDialog>(JobSettings{}, dir.file("FILELIST.TMP").string());
        dlg->set_messages([this](int code) { codes.push_back(code); });
        dlg->set_browse([this](bool program) { return program ? browsed_prog : browsed_in; });
        dlg->show();
    }
    // Presses OK and returns the messages it gave (empty: the entries passed).
    std::vector<int> ok() {
        codes.clear();
        click(*dlg, "1");
        return codes;
    }
    ztest::ScratchDir dir;
    std::unique_ptr<SpecDialog> dlg;
    std::vector<int> codes;
    std::string browsed_in, browsed_prog;
};

TEST_F(SpecTest, DefaultsAndEnabling) {
    EXPECT_EQ(dlg->windowTitle().toStdString(), "SPECIFICATIONS");
    EXPECT_TRUE(ctl<QRadioButton>(*dlg, "1071")->isChecked());
    EXPECT_EQ(text(ctl<QLineEdit>(*dlg, "1014")), "0.0");
    EXPECT_EQ(text(ctl<QLineEdit>(*dlg, "1015")), "0.00");
    EXPECT_EQ(text(ctl<QLineEdit>(*dlg, "1022")), "NONE");
    EXPECT_EQ(text(ctl<QLineEdit>(*dlg, "1000")), "");
    EXPECT_FALSE(ctl<QPushButton>(*dlg, "3")->isVisible());
    EXPECT_FALSE(ctl<QLineEdit>(*dlg, "1001")->isEnabled());
    EXPECT_FALSE(ctl<QPushButton>(*dlg, "5")->isEnabled());
    click(*dlg, "1010");
    EXPECT_TRUE(ctl<QLineEdit>(*dlg, "1001")->isEnabled());
    EXPECT_TRUE(ctl<QPushButton>(*dlg, "5")->isEnabled());
    EXPECT_FALSE(ctl<QRadioButton>(*dlg, "1071")->isChecked());
    type(*dlg, "1001", "/bin/conv");
    click(*dlg, "1007");   // another format clears the program box
    EXPECT_EQ(trim(text(ctl<QLineEdit>(*dlg, "1001"))), "");
    EXPECT_FALSE(ctl<QLineEdit>(*dlg, "1001")->isEnabled());
    EXPECT_TRUE(ctl<QRadioButton>(*dlg, "1007")->isChecked());
}

TEST_F(SpecTest, NumberBoxesAndBlankOutput) {
    type(*dlg, "1014", "1O.0");   // letter O
    EXPECT_EQ(codes, std::vector<int>{0});
    EXPECT_EQ(text(ctl<QLineEdit>(*dlg, "1014")), "0.0");
    codes.clear();
    type(*dlg, "1014", "10 .5");
    type(*dlg, "1015", "");
    EXPECT_TRUE(codes.empty());
    EXPECT_EQ(text(ctl<QLineEdit>(*dlg, "1015")), "0.00");
    type(*dlg, "1022", "");
    EXPECT_EQ(text(ctl<QLineEdit>(*dlg, "1022")), "NONE");

    dir.write("A1.VXO", "x\n");
    type(*dlg, "1000", dir.file("A1.VXO").string());
    EXPECT_TRUE(ok().empty());
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_FLOAT_EQ(dlg->settings().HSTEP, 10.5f);
    EXPECT_EQ(dlg->settings().OUTFILE, "NONE");
    EXPECT_EQ(dlg->settings().FMTVXO, 'Y');
}

TEST_F(SpecTest, MessagesInTheOrderOfTheChecks) {
    EXPECT_EQ(ok(), std::vector<int>{2});   // blank input
    EXPECT_TRUE(dlg->isVisible());

    dir.write("A1.VXO", "x\n");
    dir.write("old.430", "x\n");
    type(*dlg, "1000", dir.file("old.430").string());
    EXPECT_EQ(ok(), std::vector<int>{18});
    type(*dlg, "1000", dir.file("A1.VXO").string());
    click(*dlg, "1007");
    EXPECT_EQ(ok(), std::vector<int>{19});   // .VXO is not STANDARD
    EXPECT_EQ(text(ctl<QLineEdit>(*dlg, "1000")), dir.file("A1.VXO").string());   // entries kept
    EXPECT_TRUE(ctl<QRadioButton>(*dlg, "1007")->isChecked());

    click(*dlg, "1010");
    EXPECT_EQ(ok(), std::vector<int>{16});   // no program
    type(*dlg, "1001", dir.file("no-such-converter").string());
    EXPECT_EQ(ok(), std::vector<int>{17});

    click(*dlg, "1071");
    type(*dlg, "1000", dir.file("B1.VXO").string());
    EXPECT_EQ(ok(), std::vector<int>{5});
    // A wildcard that finds only outputs and empty files.
    fs::create_directory(dir.file("w"));
    dir.write("w/a.430", "x");
    dir.write("w/b.ARP", "x");
    dir.write("w/c.VXO", "");
    type(*dlg, "1000", dir.file("w").string() + "/*.*");
    EXPECT_EQ(ok(), std::vector<int>{5});
    type(*dlg, "1000", dir.file("A1.VXO").string());
    type(*dlg, "1022", dir.file("missing/out.430").string());
    EXPECT_EQ(ok(), std::vector<int>{21});
    EXPECT_NE(dlg->result(), QDialog::Accepted);

    // A wildcard turned down for its output directory, then EXIT: no file list is left.
    dir.write("w/d.VXO", "x\n");
    type(*dlg, "1000", dir.file("w").string() + "/*.*");
    EXPECT_EQ(ok(), std::vector<int>{21});
    EXPECT_TRUE(fs::exists(dir.file("FILELIST.TMP")));
    click(*dlg, "2");
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    EXPECT_EQ(dlg->settings().INFILE, "");
    EXPECT_FALSE(fs::exists(dir.file("FILELIST.TMP")));
}

TEST_F(SpecTest, BrowsedInputAndWildcardList) {
    fs::create_directory(dir.file("d"));
    dir.write("d/A1.VXO", "x\n");
    dir.write("d/b2.vxo", "x\n");
    browsed_in = dir.file("d").string() + "/A1.VXO";
    click(*dlg, "4");
    EXPECT_EQ(text(ctl<QLineEdit>(*dlg, "1000")), browsed_in);
    EXPECT_EQ(text(ctl<QLineEdit>(*dlg, "1022")), browsed_in + ".430");
    browsed_in.clear();   // a cancelled browse changes nothing
    click(*dlg, "4");
    EXPECT_EQ(text(ctl<QLineEdit>(*dlg, "1022")), dir.file("d").string() + "/A1.VXO.430");

    // "*" alone is "*.*"; the list keeps the names as they are.
    type(*dlg, "1000", dir.file("d").string() + "/*");
    type(*dlg, "1022", dir.file("d").string() + "/*.430");
    EXPECT_TRUE(ok().empty());
    std::ifstream list(dir.file("FILELIST.TMP"));
    std::string all((std::istreambuf_iterator<char>(list)), std::istreambuf_iterator<char>());
    EXPECT_EQ(all, "A1.VXO\nb2.vxo\n");
}

// The refined-inversion boxes: the whole mode (1024) and its parts valley, X-trace start,
// scaled critical frequency, F1 roots (1025-1028) and gap mode (1029).
constexpr const char* PARTS[] = {"1025", "1026", "1027", "1028", "1029"};

std::vector<bool> parts(QWidget& d) {
    std::vector<bool> v;
    for (const char* id : PARTS) v.push_back(ctl<QCheckBox>(d, id)->isChecked());
    return v;
}

Qt::CheckState whole(QWidget& d) { return ctl<QCheckBox>(d, "1024")->checkState(); }

bool same(const zelk::inversion::RefineOptions& a, const zelk::inversion::RefineOptions& b) {
    return a.valley == b.valley && a.xstart == b.xstart && a.scaled_fc == b.scaled_fc && a.f1_roots == b.f1_roots &&
           a.gap == b.gap;
}

TEST_F(SpecTest, RefinedInversionIsOffUntilChosen) {
    EXPECT_EQ(whole(*dlg), Qt::Unchecked);
    EXPECT_EQ(parts(*dlg), std::vector<bool>(5, false));
    dir.write("A1.VXO", "x\n");
    type(*dlg, "1000", dir.file("A1.VXO").string());
    // The other boxes changed back and forth leave it off.
    click(*dlg, "1007");
    click(*dlg, "1071");
    EXPECT_TRUE(ok().empty());
    EXPECT_FALSE(dlg->settings().refine.any());
}

TEST_F(SpecTest, WholeRefinedModeAndItsParts) {
    using zelk::inversion::RefineOptions;
    click(*dlg, "1024");   // the whole mode checks every part
    EXPECT_EQ(whole(*dlg), Qt::Checked);
    EXPECT_EQ(parts(*dlg), std::vector<bool>(5, true));
    click(*dlg, "1026");   // one part off: a partial choice, the other parts stay
    EXPECT_EQ(whole(*dlg), Qt::PartiallyChecked);
    EXPECT_EQ(parts(*dlg), (std::vector<bool>{true, false, true, true, true}));
    click(*dlg, "1024");   // from a partial choice, the whole mode again
    EXPECT_EQ(parts(*dlg), std::vector<bool>(5, true));
    click(*dlg, "1024");   // and off
    EXPECT_EQ(whole(*dlg), Qt::Unchecked);
    EXPECT_EQ(parts(*dlg), std::vector<bool>(5, false));
    for (const char* id : PARTS) click(*dlg, id);   // every part one by one is the whole mode
    EXPECT_EQ(whole(*dlg), Qt::Checked);
    for (const char* id : {"1025", "1026", "1027", "1028"}) click(*dlg, id);
    EXPECT_EQ(whole(*dlg), Qt::PartiallyChecked);
    click(*dlg, "1029");   // the last part off: nothing chosen
    EXPECT_EQ(whole(*dlg), Qt::Unchecked);

    // Each part alone reaches the settings as that part alone.
    dir.write("A1.VXO", "x\n");
    type(*dlg, "1000", dir.file("A1.VXO").string());
    const RefineOptions alone[] = {{true, false, false, false, false}, {false, true, false, false, false},
                                   {false, false, true, false, false}, {false, false, false, true, false},
                                   {false, false, false, false, true}};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(PARTS[i]);
        click(*dlg, PARTS[i]);
        EXPECT_TRUE(ok().empty());
        EXPECT_TRUE(same(dlg->settings().refine, alone[i]));
        dlg->show();   // as DODIALOG1 shows it for the next job
        click(*dlg, PARTS[i]);
    }
    click(*dlg, "1024");
    click(*dlg, "1025");
    EXPECT_TRUE(ok().empty());
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_TRUE(same(dlg->settings().refine, RefineOptions{false, true, true, true, true}));
}

// The fast fit of the shape parameters (1030): off by default, into the settings when
// checked, kept through a rejected entry, and shown from the settings.
TEST_F(SpecTest, FastShapeFitChoice) {
    EXPECT_FALSE(ctl<QCheckBox>(*dlg, "1030")->isChecked());
    click(*dlg, "1030");
    EXPECT_EQ(ok(), std::vector<int>{2});   // blank input: the dialog again, the box kept
    EXPECT_TRUE(ctl<QCheckBox>(*dlg, "1030")->isChecked());
    dir.write("A1.VXO", "x\n");
    type(*dlg, "1000", dir.file("A1.VXO").string());
    EXPECT_TRUE(ok().empty());
    EXPECT_TRUE(dlg->settings().shape_fast);
    EXPECT_FALSE(dlg->settings().refine.any());
    dlg->show();
    click(*dlg, "1030");
    EXPECT_TRUE(ok().empty());
    EXPECT_FALSE(dlg->settings().shape_fast);

    JobSettings job;
    job.shape_fast = true;
    SpecDialog shown(job, dir.file("FILELIST.TMP").string());
    EXPECT_TRUE(ctl<QCheckBox>(shown, "1030")->isChecked());
}

TEST_F(SpecTest, RefinedChoiceKeptThroughARejectedEntryAndShownFromTheSettings) {
    click(*dlg, "1027");
    click(*dlg, "1028");
    EXPECT_EQ(ok(), std::vector<int>{2});   // blank input: the dialog again, entries kept
    EXPECT_EQ(parts(*dlg), (std::vector<bool>{false, false, true, true, false}));
    EXPECT_EQ(whole(*dlg), Qt::PartiallyChecked);

    JobSettings job;
    job.refine.valley = job.refine.xstart = job.refine.scaled_fc = job.refine.f1_roots = job.refine.gap = true;
    SpecDialog all(job, dir.file("FILELIST.TMP").string());
    EXPECT_EQ(whole(all), Qt::Checked);
    EXPECT_EQ(parts(all), std::vector<bool>(5, true));
    job.refine.valley = false;
    SpecDialog three(job, dir.file("FILELIST.TMP").string());
    EXPECT_EQ(whole(three), Qt::PartiallyChecked);
    EXPECT_EQ(parts(three), (std::vector<bool>{false, true, true, true, true}));
}

TEST(AppMessages, InstructionsAndWarningDialogs) {
    ztest::qt_app();
    // DODIALOG3 runs modally: read and close the dialog from the event loop.
    std::vector<std::string> shown;
    auto answer = [&] {
        QTimer::singleShot(0, [&] {
            QWidget* m = QApplication::activeModalWidget();
            ASSERT_NE(m, nullptr);
            EXPECT_EQ(m->windowTitle().toStdString(), "INSTRUCTIONS");
            shown.push_back(ctl<QLabel>(*m, "1074")->text().toStdString());
            click(*m, "1");
        });
    };
    answer();
    DODIALOG3(19);
    answer();
    DODIALOG3(99);   // no text of its own: the message before
    answer();
    DODIALOG3(MESSAGE_NOT_A_FORMAT);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0], message(19));
    EXPECT_EQ(shown[1], message(19));
    EXPECT_EQ(shown[2], message(MESSAGE_NOT_A_FORMAT));

    ExistsDialog w("/data/out/A1.VXO.430");
    EXPECT_EQ(w.windowTitle().toStdString(), "WARNING");
    EXPECT_EQ(ctl<QLabel>(w, "1008")->text().toStdString(), "/data/out/A1.VXO.430");
    EXPECT_EQ(text(ctl<QLineEdit>(w, "1000")), "A1.VXO.430");
    EXPECT_EQ(w.NEWNAME(), "/data/out/A1.VXO.430");
    ctl<QLineEdit>(w, "1000")->setText("/elsewhere/B.430");   // the directory stays
    EXPECT_EQ(w.NEWNAME(), "/data/out/B.430");
    ctl<QLineEdit>(w, "1000")->setText("  ");
    EXPECT_EQ(w.NEWNAME(), "/data/out/A1.VXO.430");
}

TEST(AppBrowser, WalkChooseAllAndGoBack) {
    ztest::qt_app();
    ztest::ScratchDir dir;
    const std::string root = dir.str() + "/";
    fs::create_directories(dir.file("only_dirs/x"));
    fs::create_directories(dir.file("data"));
    dir.write("data/A1.VXO", "x");
    dir.write("data/.hidden", "x");

    BrowserDialog b(false);
    std::vector<int> codes;
    b.set_messages([&](int c) { codes.push_back(c); });
    b.set_places({"/", root});
    b.show();
    auto* where = ctl<QListWidget>(b, "1073");
    auto* dirs = ctl<QListWidget>(b, "1041");
    auto* all = ctl<QListWidget>(b, "1048");
    auto* files = ctl<QListWidget>(b, "1038");
    EXPECT_EQ(items(where), std::vector<std::string>{"MY COMPUTER"});
    EXPECT_EQ(items(dirs), (std::vector<std::string>{"/", root}));

    // OK with nothing chosen: the browser stays open, back at MY COMPUTER.
    click(b, "1");
    EXPECT_TRUE(b.isVisible());

    click_row(dirs, 1);
    EXPECT_EQ(items(where), std::vector<std::string>{root});
    EXPECT_EQ(items(dirs), (std::vector<std::string>{"data", "only_dirs"}));
    click_row(dirs, 1);   // only subdirectories
    EXPECT_EQ(items(all), std::vector<std::string>{"NO DATA FILES"});
    EXPECT_TRUE(items(files).empty());
    EXPECT_EQ(items(dirs), std::vector<std::string>{"x"});

    click(b, "1071");   // Going Back
    EXPECT_FALSE(ctl<QCheckBox>(b, "1071")->isChecked());
    EXPECT_EQ(b.current(), root);
    click_row(dirs, 0);
    EXPECT_EQ(items(files), std::vector<std::string>{"A1.VXO"});
    EXPECT_EQ(ctl<QLabel>(b, "1050")->text().toStdString(), "(TOTAL:  1)");
    click_row(files, 0);
    EXPECT_EQ(items(ctl<QListWidget>(b, "1046")), std::vector<std::string>{"A1.VXO"});
    click_row(all, 0);
    EXPECT_EQ(items(ctl<QListWidget>(b, "1046")), std::vector<std::string>{"*.*"});
    EXPECT_EQ(items(ctl<QListWidget>(b, "1047")), std::vector<std::string>{root + "data/"});
    EXPECT_TRUE(codes.empty());
    click(b, "1");
    EXPECT_EQ(b.result(), root + "data/*.*");
}

TEST(AppBrowser, RootGoesBackToMyComputerAndUnreadablePlaceWarns) {
    ztest::qt_app();
    BrowserDialog b(true);
    EXPECT_EQ(b.windowTitle().toStdString(), "SPECIFICATION OF THE PROGRAM TO CONVERT DATA FORMAT");
    EXPECT_EQ(b.findChild<QListWidget*>(QStringLiteral("1048")), nullptr);
    std::vector<int> codes;
    b.set_messages([&](int c) { codes.push_back(c); });
    b.set_places({"/", "/no/such/place/"});
    b.show();
    auto* dirs = ctl<QListWidget>(b, "1041");
    click_row(dirs, 0);
    EXPECT_EQ(b.current(), "/");
    click(b, "1071");
    EXPECT_EQ(b.current(), "");
    EXPECT_EQ(items(ctl<QListWidget>(b, "1073")), std::vector<std::string>{"MY COMPUTER"});
    click_row(dirs, 1);
    EXPECT_EQ(codes, std::vector<int>{1});
    EXPECT_EQ(b.current(), "");
    click(b, "2");
    EXPECT_EQ(b.result(), "");
}

}  // namespace
