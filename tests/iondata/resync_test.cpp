// The reader after a refused record: it costs that record only, and reading goes on where
// the next record reads whole. Also the repositioning of the line reader it relies on.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "iondata/vxo.hpp"
#include "ztest.hpp"

using namespace zelk::iondata;

namespace {

std::string data_path(const std::string& name) { return std::string(ZELK_TEST_DATA) + "/" + name; }

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

std::string join(const std::vector<std::string>& v) {
    std::string t;
    for (const std::string& l : v) t += l + "\n";
    return t;
}

// One call of the reader: its statuses and what it says about the record.
struct Call {
    int32_t IEOF = 0;
    int16_t LREAD = 0, LBAD = 0;
    VxoPlace place;
    std::string stamp;   // the time stamp of a whole record
};

// Every call of the reader over a text until the end of the file.
std::vector<Call> read_all(const std::string& text) {
    LineReader in(text);
    auto rec = std::make_unique<IonogramRecord>();
    std::vector<Call> calls;
    for (int guard = 0; guard < 10000; ++guard) {
        Call c;
        READVXO(c.IEOF, in, *rec, c.LREAD, c.LBAD, &c.place);
        if (c.IEOF == -1 && c.LBAD == 1) break;
        if (c.LBAD == 0 && c.IEOF == 0) c.stamp.assign(rec->TSTAMP.data() + 1, 77);
        calls.push_back(c);
        if (c.IEOF == -1) break;
    }
    return calls;
}

int count_whole(const std::vector<Call>& calls) {
    int n = 0;
    for (const Call& c : calls) n += c.LBAD == 0 && c.IEOF == 0;
    return n;
}

// The reproducer of the report: record 2 of three has index element 1 = 17. Before, the
// reader paired the closing digit line of record 2 with the index of record 3 and refused
// everything to the end of the file, so record 3 was lost.
TEST(ReaderResync, RefusedMiddleRecordCostsOnlyThatRecord) {
    const std::vector<Call> good = read_all(slurp(data_path("repro/D4-three-good.VXO")));
    const std::vector<Call> calls = read_all(slurp(data_path("repro/D4-middle-refused.VXO")));
    ASSERT_EQ(count_whole(good), 3);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].stamp, good[0].stamp);
    EXPECT_EQ(calls[1].LBAD, 1);
    EXPECT_EQ(calls[1].place.why, VxoRefusal::ELEMENT1);
    EXPECT_EQ(calls[1].place.line, 39);
    EXPECT_EQ(vxo_refusal_text(calls[1].place), "index element 1 outside 1 to 16");
    EXPECT_EQ(calls[2].stamp, good[2].stamp);
}

// A file cut inside its third record: two whole records, then a record cut short.
TEST(ReaderResync, CutRecordIsReportedWithItsPlace) {
    const std::vector<Call> calls = read_all(slurp(data_path("repro/D6-cut-in-record-3.VXO")));
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(count_whole(calls), 2);
    EXPECT_EQ(calls[2].IEOF, -1);
    EXPECT_EQ(calls[2].LBAD, 0);
    EXPECT_EQ(calls[2].place.why, VxoRefusal::CUT);
    EXPECT_EQ(calls[2].place.line, 77);
}

// Records written by the writer end with the "(120I1)" digit line of group 56. Each record
// of such a file is corrupted in turn, in each of three ways; every time exactly that record
// is lost, the others read as they did, and the refusal names the record's first line.
TEST(ReaderResync, CorruptingEachRecordInTurnLosesExactlyThatRecord) {
    // A file of nine records in layout 5 with the closing digit line, made by the writer.
    std::string written;
    for (int pass = 0; pass < 3; ++pass) {
        for (const char* name : {"samples/midlat-day.VXO", "samples/midlat-night.VXO", "samples/equatorial-day.VXO"}) {
            const std::string text = slurp(data_path(name));
            LineReader in(text);
            auto rec = std::make_unique<IonogramRecord>();
            int32_t IEOF = 0;
            int16_t LREAD = 0, LBAD = 0;
            READVXO(IEOF, in, *rec, LREAD, LBAD);
            ASSERT_EQ(LBAD, 0);
            rec->IDX(56) = 120;
            for (int i = 1; i <= 120; ++i) rec->EDITFL(i) = (i + pass) % 10;
            // Distinct stamps, to tell the records apart.
            rec->TSTAMP(77) = static_cast<char>('A' + pass);
            rec->IDX(3) = 77;
            LineWriter out;
            WRITVXO(out, *rec);
            written += out.text();
        }
    }
    const std::vector<Call> original = read_all(written);
    ASSERT_EQ(original.size(), 9u);
    ASSERT_EQ(count_whole(original), 9);
    const std::vector<std::string> lines = lines_of(written);
    // The record's last line is the digit line.
    ASSERT_EQ(lines[static_cast<size_t>(original[1].place.line) - 2].find_first_not_of("0123456789"), std::string::npos);

    for (size_t r = 0; r < original.size(); ++r) {
        const size_t first = static_cast<size_t>(original[r].place.line) - 1;   // 0-based index line
        const size_t end = r + 1 < original.size() ? static_cast<size_t>(original[r + 1].place.line) - 1 : lines.size();
        for (int how = 0; how < 3; ++how) {
            std::vector<std::string> bad = lines;
            if (how == 0) {
                bad[first].replace(0, 3, " 99");                // index element 1 out of range
            } else if (how == 1) {
                bad[first + 2].replace(10, 3, "x!x");           // a letter among the constants
            } else {
                bad[end - 1].replace(0, 1, "?");                // the closing digit line
            }
            const std::vector<Call> calls = read_all(join(bad));
            SCOPED_TRACE("record " + std::to_string(r + 1) + ", corruption " + std::to_string(how));
            ASSERT_EQ(calls.size(), original.size());
            EXPECT_EQ(count_whole(calls), 8);
            for (size_t k = 0; k < calls.size(); ++k) {
                if (k == r) {
                    EXPECT_EQ(calls[k].LBAD, 1);
                    EXPECT_EQ(calls[k].place.line, original[r].place.line);
                } else {
                    EXPECT_EQ(calls[k].stamp, original[k].stamp);
                }
            }
        }
    }
}

// Two damaged records in a row: the first is refused, the second, passed over on the way to
// the third, is counted with the line where it begins; the third reads whole.
TEST(ReaderResync, DamagedRecordsInARowAreAllCounted) {
    const std::string good = slurp(data_path("repro/D4-three-good.VXO"));
    std::vector<std::string> lines = lines_of(good);
    lines[2].replace(10, 3, "x!x");    // record 1: a letter among the constants
    lines[40].replace(10, 3, "x!x");   // record 2 (lines 39 to 76) likewise
    const std::vector<Call> calls = read_all(join(lines));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].LBAD, 1);
    EXPECT_EQ(calls[0].place.why, VxoRefusal::GROUP);
    EXPECT_EQ(calls[0].place.group, 1);
    EXPECT_EQ(calls[0].place.passed, 1);
    EXPECT_EQ(calls[0].place.passed_line, 39);
    EXPECT_EQ(calls[1].stamp, read_all(good)[2].stamp);
}

// Junk between records (text, lines that decode as an index but announce more than the
// file holds) is passed over to the next record that reads whole.
TEST(ReaderResync, JunkAfterRefusedRecordIsPassedOver) {
    const std::string good = slurp(data_path("samples/midlat-day.VXO"));
    const std::string refused = " 17" + std::string(117, ' ') + "\n" + std::string(120, '0') + "\n";
    const std::string digits = std::string(120, '1') + "\n" + std::string(120, '2') + "\n";
    const std::vector<Call> calls = read_all(good + refused + "some text\n" + digits + good);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].LBAD, 1);
    EXPECT_EQ(calls[2].stamp, calls[0].stamp);
    EXPECT_FALSE(calls[0].stamp.empty());
}

// A file read correctly is read the same way, call for call, as before the resynchronisation:
// the places of the records are where their indices start.
TEST(ReaderResync, WholeFileUnchanged) {
    const std::string text = slurp(data_path("full5.VXO")) + slurp(data_path("old01.VXO"));
    const std::vector<Call> calls = read_all(text);
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(count_whole(calls), 5);
    EXPECT_EQ(calls[0].place.line, 1);
    EXPECT_EQ(calls[0].place.why, VxoRefusal::NONE);
}

// The line reader goes back to a mark in memory, in a file (inside its buffer and beyond
// it) and in a seekable stream, with the counts of that place.
TEST(LineReaderSeek, ReturnsToMarkInEverySource) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\r\n";
    ztest::ScratchDir dir;
    dir.write("t.txt", text);
    std::istringstream stream(text);

    LineReader mem(text);
    LineReader file;
    ASSERT_TRUE(file.open(dir.file("t.txt").string()));
    LineReader str(stream);
    for (LineReader* r : {&mem, &file, &str}) {
        std::string_view l;
        for (int i = 0; i < 5; ++i) ASSERT_TRUE(r->next(l));
        const LineReader::Mark near = r->mark();
        ASSERT_TRUE(r->next(l));
        EXPECT_EQ(l, "line 5");
        for (int i = 0; i < 15000; ++i) ASSERT_TRUE(r->next(l));   // beyond the 64 KiB buffer
        ASSERT_TRUE(r->seek(near));
        EXPECT_EQ(r->lines_read(), 5);
        ASSERT_TRUE(r->next(l));
        EXPECT_EQ(l, "line 5");
        EXPECT_EQ(r->bytes_read(), static_cast<long long>(std::string("line 0\r\n").size() * 6));
    }
}

}  // namespace
