// VXO files: format texts per layout version, READVXO and WRITVXO.
#include "core/markers.hpp"
#include "iondata/vxo.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace zelk::iondata {

using namespace fio;

namespace {

// Integer virtual height that marks a frequency without echo in the old layouts, and the
// real value that marks it in the new layout.
constexpr int32_t NO_ECHO_OLD = 999;
// Electron density per squared plasma frequency: N = 12380 f^2 (cm^-3, f in MHz).
constexpr float DENSITY_PER_MHZ2 = 12380.0f;

VxoFormats make_formats(int version) {
    const bool old = version < 2;
    return VxoFormats{
        FortranFormat("(40I3)"),
        FortranFormat(old ? "(40I3)" : "(15F8.3)"),
        FortranFormat("(16F7.3)"),
        FortranFormat("(A120)"),
        FortranFormat("(120A1)"),
        FortranFormat("(15F8.3)"),
        FortranFormat("(60I2)"),
        FortranFormat("(120I1)"),
        FortranFormat(old ? "(20F6.3)" : "(15F8.3)"),
        FortranFormat(version == 0 ? "(13E9.4E1)" : "(10E11.6E1)"),
        FortranFormat(old ? "(60I2)" : "(40I3)"),
        FortranFormat("(15E8.3E1)"),
        FortranFormat("(6E20.12)"),
    };
}

// Real form of an old-layout integer height: its value, except 999 (no echo) -> 9999.0.
inline float height_from_int(int32_t h) { return h == NO_ECHO_OLD ? NO_VALUE : static_cast<float>(h); }

// Integer form of a new-layout real height: truncated toward zero. Values beyond the
// integer range (only from a malformed file) saturate instead of overflowing.
inline int32_t height_to_int(float h) {
    if (!(std::fabs(h) < 2147483520.0f)) return h < 0 ? INT32_MIN + 1 : INT32_MAX;
    return static_cast<int32_t>(h);
}

// Reads the groups of one record after its index. Each read_* call reads group g when its
// count is at least 1 and stops the sequence at the first transfer that is not OK.
class GroupReader {
public:
    GroupReader(LineReader& in, IonogramRecord& r) : in_(in), r_(r) {}

    IoStat status() const { return st_; }
    // The group whose transfer failed (0 while none has).
    int failed_group() const { return failed_; }
    int count(int g) const { return r_.IDX(g); }

    template <class T>
    bool group(int g, const FortranFormat& f, T* v1) {
        return transfer(g, count(g), [&](int n) { return read_group(in_, f, v1 + 1, n); });
    }
    bool chars(int g, const FortranFormat& f, char* v1) {
        return transfer(g, count(g), [&](int n) { return read_group(in_, f, v1 + 1, 1, n); });
    }
    // One line of text into a 120-character field (group 2).
    bool line(const FortranFormat& f, char* v1) {
        return transfer(2, 1, [&](int) { return read_group(in_, f, v1 + 1, 120, 1); });
    }
    // A group read whatever its count (including 0: one empty line), for 52/53 and 59/60.
    template <class T>
    bool always(int g, const FortranFormat& f, T* v1) {
        return transfer(g, 1, [&](int) { return read_group(in_, f, v1 + 1, count(g)); });
    }

private:
    template <class Fn>
    bool transfer(int g, int n, Fn fn) {
        if (st_ != IoStat::OK) return false;
        if (n >= 1) st_ = fn(n);
        if (st_ != IoStat::OK) failed_ = g;
        return st_ == IoStat::OK;
    }

    LineReader& in_;
    IonogramRecord& r_;
    IoStat st_ = IoStat::OK;
    int failed_ = 0;
};

// Step before group 4: when any scaled characteristic is 0 or negative, or 999.0, the
// whole array is marked not scaled before the new values are read over it.
void reset_scaled(F1<float, 120>& S) {
    for (int i = 1; i <= 120; ++i) {
        if (S(i) <= 0.0f || S(i) == 999.0f) {
            S.fill(NO_VALUE);
            return;
        }
    }
}

// A virtual-height group kept in both forms (7, 12, 17).
template <int N>
bool both_forms(GroupReader& g, int grp, bool old, const FortranFormat& f, F1<int32_t, N>& I, F1<float, N>& R) {
    const int n = g.count(grp);
    if (old) {
        if (!g.group(grp, f, I.data())) return false;
        for (int i = 1; i <= n; ++i) R(i) = height_from_int(I(i));
    } else {
        if (!g.group(grp, f, R.data())) return false;
        for (int i = 1; i <= n; ++i) I(i) = height_to_int(R(i));
    }
    return true;
}

// A height group held in one form by layout (8, 13, 18: true heights). `also_real` fills
// the real form of an old-layout record as well (22, 26, 30, 43), so that the record keeps
// the values when it is written in the new layout.
template <int NI, int NR>
bool layout_form(GroupReader& g, int grp, bool old, const FortranFormat& f, F1<int32_t, NI>& I, F1<float, NR>& R,
                 bool also_real) {
    if (!old) return g.group(grp, f, R.data());
    if (!g.group(grp, f, I.data())) return false;
    if (also_real) {
        const int n = std::min(g.count(grp), NR);
        for (int i = 1; i <= n; ++i) R(i) = height_from_int(I(i));
    }
    return true;
}

IoStat read_groups(LineReader& in, IonogramRecord& R, const VxoFormats& F, bool old, int& failed) {
    GroupReader g(in, R);
    const auto done = [&] {
        failed = g.failed_group();
        return g.status();
    };
    // 1 to 3: constants, system description, time stamp.
    g.group(1, F.constants, R.GCONST.data());
    if (g.count(2) >= 1) g.line(F.text, R.SYSDSC1.data());
    if (g.count(2) == 2) g.line(F.text, R.SYSDSC2.data());
    g.chars(3, F.characters, R.TSTAMP.data());
    if (g.status() != IoStat::OK) return done();
    reset_scaled(R.SCALED);
    g.group(4, F.characteristics, R.SCALED.data());
    g.group(5, F.flags, R.AFLAGS.data());
    g.group(6, F.constants, R.DOPTAB.data());

    // O-ray traces F2, F1, E: virtual heights, true heights, amplitudes, Doppler, frequencies.
    if (!both_forms(g, 7, old, F.heights, R.IVHOF2, R.VHOF2)) return done();
    layout_form(g, 8, old, F.heights, R.ITHOF2, R.THOF2, false);
    g.group(9, F.amplitudes, R.IAMOF2.data());
    g.group(10, F.digits, R.IDNOF2.data());
    g.group(11, F.frequencies, R.FQOF2.data());
    if (!both_forms(g, 12, old, F.heights, R.IVHOF1, R.VHOF1)) return done();
    layout_form(g, 13, old, F.heights, R.ITHOF1, R.THOF1, false);
    g.group(14, F.amplitudes, R.IAMOF1.data());
    g.group(15, F.digits, R.IDNOF1.data());
    g.group(16, F.frequencies, R.FQOF1.data());
    if (!both_forms(g, 17, old, F.heights, R.IVHOE, R.VHOE)) return done();
    layout_form(g, 18, old, F.heights, R.ITHOE, R.THOE, false);
    g.group(19, F.amplitudes, R.IAMOE.data());
    g.group(20, F.digits, R.IDNOE.data());
    g.group(21, F.frequencies, R.FQOE.data());

    // X-ray traces F2, F1, E: virtual heights, amplitudes, Doppler, frequencies.
    layout_form(g, 22, old, F.heights, R.IVHXF2, R.VHXF2, true);
    g.group(23, F.amplitudes, R.IAMXF2.data());
    g.group(24, F.digits, R.IDNXF2.data());
    g.group(25, F.frequencies, R.FQXF2.data());
    layout_form(g, 26, old, F.heights, R.IVHXF1, R.VHXF1, true);
    g.group(27, F.amplitudes, R.IAMXF1.data());
    g.group(28, F.digits, R.IDNXF1.data());
    g.group(29, F.frequencies, R.FQXF1.data());
    layout_form(g, 30, old, F.heights, R.IVHXE, R.VHXE, true);
    g.group(31, F.amplitudes, R.IAMXE.data());
    g.group(32, F.digits, R.IDNXE.data());
    g.group(33, F.frequencies, R.FQXE.data());

    // Median amplitudes, profile descriptions.
    g.group(34, F.flags, R.MAMPF.data());
    g.group(35, F.flags, R.MAMPE.data());
    g.group(36, F.flags, R.MAMPES.data());
    g.group(37, F.coefficients, R.PCOEF2.data());
    g.group(38, F.coefficients, R.PCOEF1.data());
    g.group(39, F.coefficients, R.PCOEFE.data());

    // 40: quasi-parabolic segments; in the old layouts a valley description.
    if (old) {
        if (!g.group(40, F.coefficients, R.VALLEY.data())) return done();
        for (int i = 1; i <= g.count(40); ++i) R.QPSEGS(i) = static_cast<double>(R.VALLEY(i));
    } else {
        g.group(40, F.segments, R.QPSEGS.data());
    }
    g.group(41, F.digits, R.EDITCH.data());
    g.group(42, F.coefficients, R.VALLEY.data());

    // O-ray Es trace.
    layout_form(g, 43, old, F.heights, R.IVHOES, R.VHOES, true);
    g.group(44, F.amplitudes, R.IAMOES.data());
    g.group(45, F.digits, R.IDNOES.data());
    g.group(46, F.frequencies, R.FQOES.data());

    // O-ray auroral E trace: heights always held as reals.
    if (old) {
        int32_t ih[151];
        if (!g.group(47, F.heights, ih)) return done();
        for (int i = 1; i <= g.count(47); ++i) R.VHOEA(i) = height_from_int(ih[i]);
    } else {
        g.group(47, F.heights, R.VHOEA.data());
    }
    g.group(48, F.amplitudes, R.IAMOEA.data());
    g.group(49, F.digits, R.IDNOEA.data());
    g.group(50, F.frequencies, R.FQOEA.data());

    // 51 to 53: the profile, read together; the densities are discarded.
    float discard[1000];
    if (g.count(51) >= 1) {
        g.always(51, F.profile, R.PRFHT.data());
        g.always(52, F.profile, R.PRFFN.data());
        g.always(53, F.profile, discard);
    }
    g.chars(54, F.characters, R.QUALL.data());
    g.chars(55, F.characters, R.DESCL.data());
    g.group(56, F.digits, R.EDITFL.data());
    g.group(57, F.coefficients, R.VALDSC.data());
    // 58 to 60: the auxiliary profile, read together; the densities are discarded.
    if (g.count(58) >= 1) {
        g.always(58, F.profile, R.AUXHT.data());
        g.always(59, F.profile, R.AUXFN.data());
        g.always(60, F.profile, discard);
    }
    return done();
}

}  // namespace

const VxoFormats& vxo_formats(int version) {
    static const VxoFormats v0 = make_formats(0);
    static const VxoFormats v1 = make_formats(1);
    static const VxoFormats v2 = make_formats(2);
    return version <= 0 ? v0 : version == 1 ? v1 : v2;
}

int vxo_capacity(int g, int version) {
    if (g < 1 || g > NGROUPS) return 0;
    const bool old = version < 2;
    switch (g) {
    case 8: case 13: case 18: return old ? GROUP_CAPACITY[g] : 1000;
    case 40: return old ? 20 : GROUP_CAPACITY[g];
    default: return GROUP_CAPACITY[g];
    }
}

namespace {

// Why an index is refused; NONE when the record can be read with it.
VxoRefusal index_refusal(const F1<int32_t, 80>& IDX, int& group) {
    group = 0;
    if (IDX(1) < 1 || IDX(1) > 16) return VxoRefusal::ELEMENT1;
    const int version = IDX(80);
    if (version < 0) return VxoRefusal::VERSION;
    for (int g = 1; g <= NGROUPS; ++g) {
        if (IDX(g) < 0 || IDX(g) > vxo_capacity(g, version)) {
            group = g;
            return VxoRefusal::COUNT;
        }
    }
    return VxoRefusal::NONE;
}

// After a refused record: places the unit at the first line, from `from` on, where a record
// reads whole (an accepted index and every group it announces decode) or is cut only by the
// end of the file, so that the next call reads that record; at the end of the file when no
// such line follows. The candidates are tried on a scratch record, so that the record the
// next call reads starts from the same state as after any refused record. False when the
// unit cannot be repositioned (the position is then the one the refusal left).
bool resynchronise(LineReader& unit, const LineReader::Mark& from, VxoPlace& place) {
    // The last line of the refused record read so far, and later of the last candidate
    // whose groups did not decode: candidates up to there lie inside that record.
    long failed_to = unit.lines_read();
    if (!unit.seek(from)) return false;
    const FortranFormat& FIDX = vxo_formats(0).index;
    auto trial = std::make_unique<IonogramRecord>();
    int32_t idx[NIDX + 1];
    std::string_view line;
    LineReader::Mark at = unit.mark();
    if (!unit.next(line)) return true;
    for (;;) {
        // `line` is the line at `at`, the candidate's first index line.
        const bool first_ok = decode_line(line, FIDX, idx + 1, 40) == IoStat::OK;
        const LineReader::Mark second = unit.mark();
        if (!unit.next(line)) return true;
        if (first_ok && decode_line(line, FIDX, idx + 41, 40) == IoStat::OK) {
            std::memcpy(trial->IDX.data() + 1, idx + 1, sizeof(int32_t) * NIDX);
            int group = 0;
            if (index_refusal(trial->IDX, group) == VxoRefusal::NONE) {
                const int version = trial->IDX(80);
                int failed = 0;
                if (read_groups(unit, *trial, vxo_formats(version), version < 2, failed) != IoStat::BAD) {
                    return unit.seek(at);
                }
                // A record of its own that is damaged too (not a line pair inside the one
                // before): counted as passed over.
                if (at.lines + 1 > failed_to) {
                    if (place.passed == 0) place.passed_line = at.lines + 1;
                    ++place.passed;
                }
                failed_to = unit.lines_read();
                if (!unit.seek(second) || !unit.next(line)) return true;
            }
        }
        at = second;
    }
}

}  // namespace

std::string vxo_refusal_text(const VxoPlace& p) {
    const std::string g = std::to_string(p.group);
    switch (p.why) {
    case VxoRefusal::NONE: return "read";
    case VxoRefusal::ELEMENT1: return "index element 1 outside 1 to 16";
    case VxoRefusal::VERSION: return "negative layout version";
    case VxoRefusal::COUNT: return "count of group " + g + " outside its array";
    case VxoRefusal::GROUP: return "group " + g + " does not decode";
    case VxoRefusal::CUT: return "cut short by the end of the file in group " + g;
    }
    return {};
}

void READVXO(int32_t& IEOF, LineReader& unit, IonogramRecord& R, int16_t& LREAD, int16_t& LBAD, VxoPlace* place) {
    LBAD = 1;
    VxoPlace here;
    const FortranFormat& FIDX = vxo_formats(0).index;

    // The index: skip lines one at a time until two consecutive lines decode as integers.
    // The first line of the pair is held in a copy (the reader reuses its buffer); the
    // index takes 120 columns, and a skipped line is kept in SYSDSC1, also 120 characters.
    char held[120];
    size_t nheld = 0;
    std::string_view line;
    if (!unit.next(line)) {
        IEOF = -1;
        if (place) *place = here;
        return;
    }
    nheld = std::min(line.size(), sizeof held);
    std::memcpy(held, line.data(), nheld);
    int32_t idx[NIDX + 1];
    LineReader::Mark second;   // the place of the index's second line
    for (;;) {   // every pass consumes one line, so the loop ends at the end of the file
        second = unit.mark();
        if (!unit.next(line)) {
            IEOF = -1;
            if (place) *place = here;
            return;
        }
        const std::string_view first(held, nheld);
        if (decode_line(first, FIDX, idx + 1, 40) == IoStat::OK &&
            decode_line(line, FIDX, idx + 41, 40) == IoStat::OK) {
            break;
        }
        std::memset(R.SYSDSC1.data() + 1, ' ', 120);
        std::memcpy(R.SYSDSC1.data() + 1, held, nheld);
        nheld = std::min(line.size(), sizeof held);
        std::memcpy(held, line.data(), nheld);
    }
    std::memcpy(R.IDX.data() + 1, idx + 1, sizeof(int32_t) * NIDX);
    here.line = second.lines;

    // Checks of the index; a refused record is left unread, and reading goes on where the
    // next record reads whole.
    here.why = index_refusal(R.IDX, here.group);
    if (here.why != VxoRefusal::NONE) {
        resynchronise(unit, second, here);
        if (place) *place = here;
        return;
    }
    LBAD = 0;

    const int version = R.IDX(80);
    switch (read_groups(unit, R, vxo_formats(version), version < 2, here.group)) {
    case IoStat::OK:
        LREAD = 1;
        IEOF = 0;
        here.group = 0;
        break;
    case IoStat::END:
        IEOF = -1;
        here.why = VxoRefusal::CUT;
        break;
    case IoStat::BAD:
        LBAD = 1;
        here.why = VxoRefusal::GROUP;
        resynchronise(unit, second, here);
        break;
    }
    if (place) *place = here;
}

void WRITVXO(LineWriter& unit, IonogramRecord& R) {
    const VxoFormats& F = vxo_formats(VXO_VERSION_OUT);
    F1<int32_t, 80>& IDX = R.IDX;
    std::string& out = unit.out();

    // The index as written: true heights never written, counts within the arrays, layout 5.
    IDX(8) = IDX(13) = IDX(18) = 0;
    for (int g = 1; g <= NGROUPS; ++g) IDX(g) = std::clamp(IDX(g), 0, vxo_capacity(g, VXO_VERSION_OUT));
    IDX(80) = VXO_VERSION_OUT;
    write_group(out, F.index, IDX.data() + 1, NIDX);

    const auto put = [&](int g, const FortranFormat& f, const auto* v1) {
        if (IDX(g) > 0) write_group(out, f, v1 + 1, IDX(g));
    };
    const auto put_chars = [&](int g, const FortranFormat& f, const char* v1) {
        if (IDX(g) > 0) write_group(out, f, v1 + 1, 1, IDX(g));
    };
    // Densities 12380 f^2 of the first n plasma frequencies.
    float dens[1000];
    const auto put_density = [&](int n, const F1<float, 999>& FN) {
        for (int i = 1; i <= n; ++i) dens[i] = DENSITY_PER_MHZ2 * (FN(i) * FN(i));
        write_group(out, F.profile, dens + 1, n);
    };

    put(1, F.constants, R.GCONST.data());
    if (IDX(2) >= 1) write_group(out, F.text, R.SYSDSC1.data() + 1, 120, 1);
    if (IDX(2) == 2) write_group(out, F.text, R.SYSDSC2.data() + 1, 120, 1);
    put_chars(3, F.characters, R.TSTAMP.data());
    put(4, F.characteristics, R.SCALED.data());
    put(5, F.flags, R.AFLAGS.data());
    put(6, F.constants, R.DOPTAB.data());

    put(7, F.heights, R.VHOF2.data());
    put(9, F.amplitudes, R.IAMOF2.data());
    put(10, F.digits, R.IDNOF2.data());
    put(11, F.frequencies, R.FQOF2.data());
    put(12, F.heights, R.VHOF1.data());
    put(14, F.amplitudes, R.IAMOF1.data());
    put(15, F.digits, R.IDNOF1.data());
    put(16, F.frequencies, R.FQOF1.data());
    put(17, F.heights, R.VHOE.data());
    put(19, F.amplitudes, R.IAMOE.data());
    put(20, F.digits, R.IDNOE.data());
    put(21, F.frequencies, R.FQOE.data());

    put(22, F.heights, R.VHXF2.data());
    put(23, F.amplitudes, R.IAMXF2.data());
    put(24, F.digits, R.IDNXF2.data());
    put(25, F.frequencies, R.FQXF2.data());
    put(26, F.heights, R.VHXF1.data());
    put(27, F.amplitudes, R.IAMXF1.data());
    put(28, F.digits, R.IDNXF1.data());
    put(29, F.frequencies, R.FQXF1.data());
    put(30, F.heights, R.VHXE.data());
    put(31, F.amplitudes, R.IAMXE.data());
    put(32, F.digits, R.IDNXE.data());
    put(33, F.frequencies, R.FQXE.data());

    put(34, F.flags, R.MAMPF.data());
    put(35, F.flags, R.MAMPE.data());
    put(36, F.flags, R.MAMPES.data());
    put(37, F.coefficients, R.PCOEF2.data());
    put(38, F.coefficients, R.PCOEF1.data());
    put(39, F.coefficients, R.PCOEFE.data());
    put(40, F.segments, R.QPSEGS.data());
    put(41, F.digits, R.EDITCH.data());
    put(42, F.coefficients, R.VALLEY.data());

    put(43, F.heights, R.VHOES.data());
    put(44, F.amplitudes, R.IAMOES.data());
    put(45, F.digits, R.IDNOES.data());
    put(46, F.frequencies, R.FQOES.data());
    put(47, F.heights, R.VHOEA.data());
    put(48, F.amplitudes, R.IAMOEA.data());
    put(49, F.digits, R.IDNOEA.data());
    put(50, F.frequencies, R.FQOEA.data());

    // 51 to 53 together, as the reader reads them: heights and frequencies in fixed point.
    if (IDX(51) > 0) {
        write_group(out, F.characteristics, R.PRFHT.data() + 1, IDX(51));
        write_group(out, F.characteristics, R.PRFFN.data() + 1, IDX(52));
        put_density(IDX(53), R.PRFFN);
    }
    put_chars(54, F.characters, R.QUALL.data());
    put_chars(55, F.characters, R.DESCL.data());
    put(56, F.digits, R.EDITFL.data());
    put(57, F.coefficients, R.VALDSC.data());
    if (IDX(58) > 0) {
        write_group(out, F.profile, R.AUXHT.data() + 1, IDX(58));
        write_group(out, F.profile, R.AUXFN.data() + 1, IDX(59));
        put_density(IDX(60), R.AUXFN);
    }

    // The true heights are dropped from the record once written without them.
    R.ITHOF2(1) = 0;
    R.THOF2(1) = 0.0f;
    R.ITHOF1(1) = 0;
    R.THOF1(1) = 0.0f;
    R.ITHOE(1) = 0;
    R.THOE(1) = 0.0f;
    unit.commit();
}

}  // namespace zelk::iondata
