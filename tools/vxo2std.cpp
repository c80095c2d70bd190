// vxo2std: writes the records of a VXO file in the Standard text format, so that the same
// ionograms can be given to zelk-batch --format standard (the examples of
// examples/standard/ are made with it).
//
//   vxo2std IN.VXO [OUT]        OUT omitted: standard output
//
// Each whole record whose time stamp decodes gives one Standard record: the station name
// (the word after "NAME " in its system description, else NONAME), the five station
// constants (latitude, longitude, gyrofrequency, dip, sunspot number), the date and time,
// and the O-ray E, F1 and F2 traces, each as its critical frequency (99 when the layer is not
// scaled) and one "f h'" line per echo, closed by a line "END". The frequency of a trace
// point is that of the frequency line the inversion puts it on (the last point on the line
// of the critical frequency, each earlier one a step lower); points without echo are left
// out. Records that cannot be read or whose stamp does not decode are skipped with a line
// on standard error. Exit status 0, or 1 when the input cannot be read or no record was
// written.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "core/fortran_io.hpp"
#include "iondata/stamp.hpp"
#include "iondata/vxo.hpp"

using namespace zelk::iondata;

namespace {

constexpr int MONTH_DAYS[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Month and day of month of a day of year.
void month_day(int year, int doy, int& month, int& day) {
    const bool leap = year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
    month = 1;
    day = doy;
    while (month < 12) {
        const int len = MONTH_DAYS[month] + (month == 2 && leap ? 1 : 0);
        if (day <= len) break;
        day -= len;
        ++month;
    }
}

// One trace block: the critical frequency, then the points on their frequency lines.
void trace(std::ostream& os, float fc, int n, const float* vh1, float step, bool old_layout) {
    char line[64];
    if (!(fc > 0.0f && fc < 99.0f) || n <= 0) {
        os << "99\nEND\n";
        return;
    }
    std::snprintf(line, sizeof line, "%.3f\n", static_cast<double>(fc));
    os << line;
    const int c = static_cast<int>((fc + 0.0005f) / step);
    for (int i = 1; i <= n; ++i) {
        const float h = vh1[i];
        if (!(h > 0.0f) || h >= 9999.0f || (old_layout && h >= 999.0f)) continue;   // no echo
        const int k = static_cast<int>((static_cast<float>(c) * step - static_cast<float>(n - i) * step) / step + 0.001f);
        std::snprintf(line, sizeof line, "%.3f %.1f\n", static_cast<double>(static_cast<float>(k) * step),
                      static_cast<double>(h));
        os << line;
    }
    os << "END\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: vxo2std IN.VXO [OUT]\n";
        return 2;
    }
    LineReader in;
    if (!in.open(argv[1])) {
        std::cerr << "vxo2std: cannot open " << argv[1] << '\n';
        return 1;
    }
    std::ofstream file;
    if (argc == 3) {
        file.open(argv[2]);
        if (!file) {
            std::cerr << "vxo2std: cannot write " << argv[2] << '\n';
            return 1;
        }
    }
    std::ostream& os = argc == 3 ? file : std::cout;
    auto rec = std::make_unique<IonogramRecord>();
    int written = 0;
    for (int recno = 1; recno <= 10000000; ++recno) {
        int32_t IEOF = 0;
        int16_t LREAD = 0, LBAD = 0;
        READVXO(IEOF, in, *rec, LREAD, LBAD);
        if (IEOF == -1) break;
        StampInfo st;
        if (LBAD == 1 || decode_stamp(*rec, st) != PREP_OK) {
            std::cerr << "vxo2std: " << argv[1] << ": record " << recno << " skipped\n";
            continue;
        }
        const IonogramRecord& r = *rec;
        char name[21];
        station_name(r.SYSDSC1, name);
        std::string station(name);
        station = station.substr(0, station.find_last_not_of(' ') + 1);
        if (station == "NO NAME") station = "NONAME";
        const int year = full_year(st.IYR);
        int month = 0, day = 0;
        month_day(year, st.IDAY, month, day);
        char line[160];
        std::snprintf(line, sizeof line, "%.3f %.3f %.3f %.3f %.3f\n%d %d %d %d %d %d\n",
                      static_cast<double>(r.GCONST(3)), static_cast<double>(r.GCONST(4)),
                      static_cast<double>(r.GCONST(1)), static_cast<double>(r.GCONST(2)),
                      static_cast<double>(r.GCONST(5)), year, month, day, st.IHR, st.MINU, st.ISEC);
        os << station << '\n' << line;
        const bool old = r.IDX(80) < 2;
        // The real form of the heights holds both layouts' values (old: 999 -> 9999.0).
        const float foF1 = r.SCALED(2) < 50.0f ? r.SCALED(2) : 99.0f;
        trace(os, r.IDX(17) > 0 ? r.SCALED(9) : 99.0f, r.IDX(17), r.VHOE.data(), st.FQINCR, old);
        trace(os, foF1, r.IDX(12), r.VHOF1.data(), st.FQINCR, old);
        trace(os, r.SCALED(1), r.IDX(7), r.VHOF2.data(), st.FQINCR, old);
        ++written;
    }
    os.flush();
    if (!os) {
        std::cerr << "vxo2std: write error\n";
        return 1;
    }
    return written > 0 ? 0 : 1;
}
