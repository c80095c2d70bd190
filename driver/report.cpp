// The run report of the batch program.
#include "driver/report.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <numeric>
#include <ostream>
#include <sstream>

#include "pipeline/zelk.hpp"
#include "driver/outfile.hpp"
#include "products/products.hpp"

namespace zelk::driver {

namespace fs = std::filesystem;

namespace {

// Page geometry (CSS pixels). The colour map has one column per pixel of its width, which
// is also the most columns it is decimated to.
static constexpr int MAPW = 1200;          // width of the plots
static constexpr int LEFT = 64;            // room for the height and value labels
static constexpr int CELL = 2;             // height of one grid cell of the map
static constexpr int MAPH = REPORT_NH * CELL;
static constexpr int SERIESH = 90;         // height of one time series plot
static constexpr int NLEVEL = 20;          // colours of the map's scale
static constexpr int MAXROWS = 2000;       // table rows shown at once (all are in the data)
static constexpr double DENSITY = 1.24e4;  // electron density (cm-3) of 1 MHz plasma frequency

// Scale from dark blue to yellow, interpolated between these anchors.
static constexpr unsigned palette[] = {0x440154, 0x482878, 0x3e4989, 0x31688e, 0x26828e,
                                       0x1f9e89, 0x35b779, 0x6ece58, 0xb5de2b, 0xfde725};

std::string level_colour(int l) {
    constexpr int n = sizeof(palette) / sizeof(palette[0]);
    const double x = (n - 1) * (l + 0.5) / NLEVEL;
    const int i = std::min(n - 2, static_cast<int>(x));
    const double u = x - i;
    int rgb[3];
    for (int c = 0; c < 3; ++c) {
        const int sh = 16 - 8 * c;
        const double a = (palette[i] >> sh) & 0xff, b = (palette[i + 1] >> sh) & 0xff;
        rgb[c] = static_cast<int>(std::lround(a + u * (b - a)));
    }
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
    return buf;
}

// Colours of the statuses of records that did not invert.
std::string status_colour(int16_t istat) {
    switch (istat) {
        case 0: return "#7f7f7f";
        case 4: return "#e6194b";
        case 5: return "#f58231";
        case 6: return "#c8a800";
        case 7: return "#911eb4";
        case 8: return "#f032e6";
        case 9: return "#1fb5b5";
        case 10: return "#6b8e23";
        case 11: return "#d2691e";
        case 12: return "#008080";
        case 18: return "#9a6324";
        case 25: return "#800000";
        case 26: return "#000075";
        default: return "#333333";
    }
}

// Days since 1970-01-01 of a civil date, and back.
long days_from_civil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}

void civil_from_days(long z, int& y, int& m, int& d) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

// Seconds since 1970 of an ISO time "YYYY-MM-DDThh:mm:ssZ".
double epoch_of(const std::string& iso) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    std::sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &s);
    return static_cast<double>(days_from_civil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d))) * 86400.0 +
           h * 3600.0 + mi * 60.0 + s;
}

std::string time_text(double t, const char* fmt) {
    const double day = std::floor(t / 86400.0);
    int y = 0, m = 0, d = 0;
    civil_from_days(static_cast<long>(day), y, m, d);
    const int sec = static_cast<int>(t - day * 86400.0);
    char buf[40];
    if (fmt[0] == 'd') {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
    } else if (fmt[0] == 'h') {
        std::snprintf(buf, sizeof buf, "%02d:%02d", sec / 3600, sec / 60 % 60);
    } else {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", y, m, d, sec / 3600, sec / 60 % 60);
    }
    return buf;
}

std::string html(const std::string& s) {
    std::string q;
    for (char c : s) {
        switch (c) {
            case '&': q += "&amp;"; break;
            case '<': q += "&lt;"; break;
            case '>': q += "&gt;"; break;
            case '"': q += "&quot;"; break;
            default: q += c;
        }
    }
    return q;
}

// A JSON string that is also safe inside a script element (no "<" appears in it).
std::string json(const std::string& s) { return json_text(s, true); }

std::string fixed(double v, int decimals) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// The quantities of the time series: index into the record's characteristics, label, unit.
struct Series {
    int value;
    const char* label;
    const char* unit;
};
static constexpr Series SERIES[] = {
    {0, "foE", "MHz"},  {2, "foF1", "MHz"}, {4, "foF2", "MHz"},  {5, "hmF2", "km"},  {3, "hmF1", "km"},
    {6, "HHALF", "km"}, {8, "B0", "km"},    {9, "B1", ""},       {11, "TEC", "TECU"}};

// Ticks of a time axis over [t0, t1): a step from the list giving at most 8 ticks, ticks at
// its multiples (UTC midnight-aligned), labelled with the clock time, or the date when the
// step is a day or more or the tick falls on midnight.
struct Tick {
    double t;
    std::string label;
};
std::vector<Tick> time_ticks(double t0, double t1) {
    static constexpr double STEPS[] = {600, 1800, 3600, 7200, 10800, 21600, 43200, 86400,
                                       2 * 86400, 7 * 86400, 14 * 86400, 30 * 86400,
                                       61 * 86400, 91 * 86400, 182 * 86400, 365 * 86400};
    double step = STEPS[sizeof(STEPS) / sizeof(STEPS[0]) - 1];
    for (double s : STEPS) {
        if ((t1 - t0) / s <= 8.0) {
            step = s;
            break;
        }
    }
    std::vector<Tick> ticks;
    for (double t = std::ceil(t0 / step) * step; t < t1 && ticks.size() < 64; t += step) {
        const bool midnight = std::fmod(t, 86400.0) == 0.0;
        ticks.push_back({t, time_text(t, step >= 86400 || midnight ? "d" : "h")});
    }
    return ticks;
}

// One station of the run: the indices of its records, in file order.
struct Station {
    std::string name;
    int32_t code = 0;
    std::vector<size_t> recs;
};

class Page {
public:
    Page(std::ostream& os, const std::vector<ReportRecord>& recs) : os_(os), recs_(recs) {}
    void station(const Station& st, int index);

private:
    double x_of(double t) const { return LEFT + (t - t0_) / (t1_ - t0_) * MAPW; }
    void time_axis(int y);
    void colour_map(const Station& st, bool density);
    void series(const Station& st, const Series& s);

    std::ostream& os_;
    const std::vector<ReportRecord>& recs_;
    double t0_ = 0.0, t1_ = 1.0, cadence_ = 0.0;
    std::vector<size_t> timed_;   // the station's records with a time, by time (stable)
    float fmax_ = 1.0f;           // top of the plasma frequency scale (MHz)
};

void Page::time_axis(int y) {
    for (const Tick& k : time_ticks(t0_, t1_)) {
        const double x = x_of(k.t);
        os_ << "<line class=\"tick\" x1=\"" << fixed(x, 1) << "\" y1=\"" << y << "\" x2=\"" << fixed(x, 1)
            << "\" y2=\"" << y + 4 << "\"/><text class=\"tl\" x=\"" << fixed(x, 1) << "\" y=\"" << y + 15
            << "\">" << k.label << "</text>";
    }
}

// The colour map: one column per pixel, each showing the record map_columns chose; runs of
// columns showing the same record and runs of grid cells of the same colour are drawn as one
// rectangle, and the rectangles of one colour (and side of the peak) make one path.
void Page::colour_map(const Station& st, bool density) {
    std::vector<double> times;
    std::vector<bool> inverted;
    for (size_t i : timed_) {
        times.push_back(recs_[i].t);
        inverted.push_back(!recs_[i].fn.empty());
    }
    const std::vector<int32_t> cols = map_columns(times, inverted, t0_, t1_, MAPW);
    // paths[side][level]: side 0 the inverted bottomside, 1 the modelled topside.
    std::vector<std::string> paths[2];
    paths[0].resize(NLEVEL);
    paths[1].resize(NLEVEL);
    const double fmax = fmax_ * REPORT_FSCALE;
    int shown = 0, blank = 0;
    for (int c = 0; c < MAPW;) {
        int e = c + 1;
        while (e < MAPW && cols[e] == cols[c]) ++e;
        if (cols[c] < 0) blank += e - c;
        if (cols[c] >= 0) {
            ++shown;
            const ReportRecord& r = recs_[timed_[cols[c]]];
            int k = 0;
            while (k < REPORT_NH) {
                const uint16_t f = r.fn[k];
                if (f == 0) {
                    ++k;
                    continue;
                }
                auto level = [&](uint16_t fk) {
                    const double u = std::min(1.0, fk / fmax);
                    return std::min(NLEVEL - 1, static_cast<int>((density ? u * u : u) * NLEVEL));
                };
                auto side = [&](int kk) { return REPORT_H0 + kk * REPORT_DH > r.hmF2 ? 1 : 0; };
                const int l = level(f), sd = side(k);
                int j = k + 1;
                while (j < REPORT_NH && r.fn[j] != 0 && level(r.fn[j]) == l && side(j) == sd) ++j;
                const int y = 10 + (REPORT_NH - j) * CELL;
                paths[sd][l] += "M" + std::to_string(LEFT + c) + " " + std::to_string(y) + "h" +
                                std::to_string(e - c) + "v" + std::to_string((j - k) * CELL) + "h-" +
                                std::to_string(e - c) + "z";
                k = j;
            }
        }
        c = e;
    }
    os_ << "<svg class=\"map " << (density ? "density" : "freq") << "\" data-station=\"" << html(st.name)
        << "\" data-columns=\"" << shown << "\" data-blank=\"" << blank << "\" width=\"" << LEFT + MAPW + 90 << "\" height=\""
        << MAPH + 40 << "\" xmlns=\"http://www.w3.org/2000/svg\">";
    os_ << "<rect class=\"frame\" x=\"" << LEFT << "\" y=\"10\" width=\"" << MAPW << "\" height=\"" << MAPH << "\"/>";
    for (int sd = 0; sd < 2; ++sd) {
        for (int l = 0; l < NLEVEL; ++l) {
            if (paths[sd][l].empty()) continue;
            os_ << "<path class=\"" << (sd ? "top" : "bottom") << "\" fill=\"" << level_colour(l) << "\" d=\""
                << paths[sd][l] << "\"/>";
        }
    }
    // Height axis every 100 km.
    for (int h = 100; h <= 700; h += 100) {
        const double y = 10 + MAPH - (h - REPORT_H0 + REPORT_DH / 2) / REPORT_DH * CELL;
        os_ << "<line class=\"tick\" x1=\"" << LEFT - 4 << "\" y1=\"" << fixed(y, 1) << "\" x2=\"" << LEFT
            << "\" y2=\"" << fixed(y, 1) << "\"/><text class=\"vl\" x=\"" << LEFT - 6 << "\" y=\""
            << fixed(y + 4, 1) << "\">" << h << (h == 700 ? " km" : "") << "</text>";
    }
    time_axis(10 + MAPH);
    // Colour bar: the levels from the bottom up, labelled at both ends and the middle.
    const int bx = LEFT + MAPW + 12, bh = MAPH / NLEVEL;
    for (int l = 0; l < NLEVEL; ++l) {
        os_ << "<rect x=\"" << bx << "\" y=\"" << 10 + MAPH - (l + 1) * bh << "\" width=\"14\" height=\"" << bh
            << "\" fill=\"" << level_colour(l) << "\"/>";
    }
    auto bar_label = [&](double u, const std::string& text) {
        os_ << "<text class=\"bl\" x=\"" << bx + 18 << "\" y=\"" << fixed(10 + MAPH - u * bh * NLEVEL + 4, 1)
            << "\">" << text << "</text>";
    };
    if (density) {
        const double nmax = DENSITY * fmax_ * fmax_;
        for (double u : {0.0, 0.5, 1.0}) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.2g", u * nmax);
            bar_label(u, buf);
        }
        bar_label(1.07, "cm\u207b\u00b3");
    } else {
        for (double u : {0.0, 0.5, 1.0}) bar_label(u, fixed(u * fmax_, 1));
        bar_label(1.07, "MHz");
    }
    os_ << "</svg>";
}

// One time series: the records with the value, by time, joined by lines except across a gap
// (more than 2.5 cadences, or a record without the value); each point drawn as a dot. More
// records than twice the plot's width are reduced to the lowest and highest value of each
// pixel column. The records that did not invert are marked at the foot, coloured by status.
void Page::series(const Station& st, const Series& s) {
    std::vector<std::pair<double, double>> pts;   // x, value
    std::vector<bool> breaks;                     // a new line starts at the point
    double lo = 1e300, hi = -1e300;
    double tprev = -1e300;
    bool had = false;
    for (size_t i : timed_) {
        const pipeline::Value& v = recs_[i].values[s.value];
        if (!v.v) {
            had = false;
            continue;
        }
        const double t = recs_[i].t;
        breaks.push_back(!had || t - tprev > 2.5 * cadence_);
        pts.push_back({x_of(t), *v.v});
        lo = std::min(lo, *v.v);
        hi = std::max(hi, *v.v);
        tprev = t;
        had = true;
    }
    if (pts.size() > 2 * static_cast<size_t>(MAPW)) {
        // Lowest and highest of each pixel column, in that order; a column starts a new line
        // when its first point does.
        std::vector<std::pair<double, double>> dec;
        std::vector<bool> dbreak;
        size_t i = 0;
        while (i < pts.size()) {
            const int col = static_cast<int>(pts[i].first);
            double mn = pts[i].second, mx = pts[i].second;
            bool brk = breaks[i];
            size_t j = i + 1;
            for (; j < pts.size() && static_cast<int>(pts[j].first) == col; ++j) {
                mn = std::min(mn, pts[j].second);
                mx = std::max(mx, pts[j].second);
            }
            dec.push_back({col + 0.5, mn});
            dbreak.push_back(brk);
            if (mx != mn) {
                dec.push_back({col + 0.5, mx});
                dbreak.push_back(false);
            }
            i = j;
        }
        pts.swap(dec);
        breaks.swap(dbreak);
    }
    if (hi <= lo) {
        hi = lo + 1.0;
        lo -= 1.0;
    } else {
        const double pad = 0.08 * (hi - lo);
        hi += pad;
        lo -= pad;
    }
    if (pts.empty()) {
        lo = 0.0;
        hi = 1.0;
    }
    const int top = 8, h = SERIESH - 24;
    auto y_of = [&](double v) { return top + (hi - v) / (hi - lo) * h; };
    os_ << "<svg class=\"series\" data-q=\"" << s.label << "\" data-station=\"" << html(st.name)
        << "\" data-n=\"" << pts.size() << "\" width=\"" << LEFT + MAPW + 90 << "\" height=\"" << SERIESH + 8
        << "\" xmlns=\"http://www.w3.org/2000/svg\">";
    os_ << "<rect class=\"frame\" x=\"" << LEFT << "\" y=\"" << top << "\" width=\"" << MAPW << "\" height=\""
        << h + 10 << "\"/>";
    os_ << "<text class=\"ql\" x=\"" << LEFT + MAPW + 8 << "\" y=\"" << top + 14 << "\">" << s.label
        << "</text><text class=\"bl\" x=\"" << LEFT + MAPW + 8 << "\" y=\"" << top + 28 << "\">" << s.unit
        << "</text>";
    for (double v : {lo + 0.08 / 1.16 * (hi - lo), hi - 0.08 / 1.16 * (hi - lo)}) {
        if (pts.empty()) break;
        os_ << "<text class=\"vl\" x=\"" << LEFT - 6 << "\" y=\"" << fixed(y_of(v) + 4, 1) << "\">"
            << fixed(v, std::fabs(hi - lo) < 10 ? 2 : 0) << "</text>";
    }
    std::string line, dots;
    for (size_t i = 0; i < pts.size(); ++i) {
        const std::string xy = fixed(pts[i].first, 1) + " " + fixed(y_of(pts[i].second), 1);
        line += (breaks[i] ? "M" : "L") + xy;
        dots += "M" + xy + "h0";
    }
    os_ << "<path class=\"line\" d=\"" << line << "\"/><path class=\"dots\" d=\"" << dots << "\"/>";
    // The records that did not invert, at most one mark per status and pixel column.
    std::map<int16_t, std::pair<std::string, int>> marks;
    std::map<int16_t, int> lastcol;
    for (size_t i : timed_) {
        const ReportRecord& r = recs_[i];
        if (r.istat == 2) continue;
        const int col = static_cast<int>(x_of(r.t));
        auto [at, fresh] = lastcol.emplace(r.istat, col);
        if (!fresh && at->second == col) continue;
        at->second = col;
        auto& m = marks[r.istat];
        m.first += "M" + std::to_string(col) + " " + std::to_string(top + h + 3) + "h2v7h-2z";
        ++m.second;
    }
    for (const auto& [istat, m] : marks) {
        os_ << "<path class=\"fail\" data-istat=\"" << istat << "\" data-n=\"" << m.second << "\" fill=\""
            << status_colour(istat) << "\" d=\"" << m.first << "\"><title>" << html(istat_text(istat))
            << "</title></path>";
    }
    if (s.value == 11) time_axis(top + h + 10);
    os_ << "</svg>";
}

void Page::station(const Station& st, int index) {
    timed_.clear();
    for (size_t i : st.recs) {
        if (!recs_[i].time.empty()) timed_.push_back(i);
    }
    std::stable_sort(timed_.begin(), timed_.end(),
                     [&](size_t a, size_t b) { return recs_[a].t < recs_[b].t; });
    std::vector<double> times;
    for (size_t i : timed_) times.push_back(recs_[i].t);
    cadence_ = median_spacing(times);
    if (cadence_ <= 0.0) cadence_ = 3600.0;
    if (!times.empty()) {
        t0_ = times.front() - cadence_ / 2;
        t1_ = times.back() + cadence_ / 2;
    }
    fmax_ = 1.0f;
    int ninv = 0;
    std::map<int16_t, int> counts;
    for (size_t i : st.recs) {
        const ReportRecord& r = recs_[i];
        ++counts[r.istat];
        if (r.fn.empty()) continue;
        ++ninv;
        for (uint16_t f : r.fn) fmax_ = std::max(fmax_, f / REPORT_FSCALE);
    }
    fmax_ = std::ceil(fmax_);

    os_ << "<section class=\"station\" id=\"station-" << index << "\"><h2>" << html(st.name) << " <small>(code "
        << st.code << ")</small></h2><p>" << st.recs.size() << " record" << (st.recs.size() == 1 ? "" : "s");
    if (!times.empty()) {
        os_ << " from " << time_text(times.front(), "f") << " to " << time_text(times.back(), "f") << " UTC";
    }
    os_ << "; ";
    for (const auto& [istat, n] : counts) {
        os_ << "<span class=\"st\" style=\"color:" << (istat == 2 ? "#000" : status_colour(istat)) << "\">" << n
            << " " << html(istat_text(istat)) << "</span> ";
    }
    if (timed_.size() < st.recs.size()) {
        os_ << "; " << st.recs.size() - timed_.size() << " without a valid time (in the table only)";
    }
    os_ << "</p>";
    if (timed_.empty()) {
        os_ << "<p class=\"none\">No record of this station has a valid time: nothing to plot.</p></section>";
        return;
    }
    if (ninv == 0) {
        os_ << "<p class=\"none\">No record of this station was inverted: there is no profile to show.</p>";
    } else {
        os_ << "<h3>Plasma frequency <span class=\"dens\">(electron density)</span> against height and time"
            << "</h3><p class=\"note\">Each column shows the inverted record nearest to its time; blank columns"
            << " are gaps or records that did not invert. Above hmF2 (paler) the topside is modelled.</p>";
        colour_map(st, false);
        colour_map(st, true);
    }
    os_ << "<h3>Characteristics</h3><p class=\"note\">Marks at the foot of each plot: records that did not "
           "invert, coloured by status (hover for the words).</p>";
    for (const Series& s : SERIES) series(st, s);
    os_ << "</section>";
}

// The page's style and script.
static constexpr const char* STYLE = R"(
body{font-family:"DejaVu Sans",sans-serif;font-size:13px;margin:16px;color:#111;background:#fff}
h1{font-size:20px;margin:0 0 8px}h2{font-size:17px;margin:18px 0 4px;border-top:1px solid #bbb;padding-top:8px}
h3{font-size:14px;margin:10px 0 2px}small{font-weight:normal;color:#555}.note{color:#555;margin:2px 0}
.none{font-weight:bold;color:#a00}svg{display:block}.frame{fill:none;stroke:#999}
.tick{stroke:#333}.tl{font-size:11px;text-anchor:middle}.vl{font-size:11px;text-anchor:end}
.bl{font-size:11px}.ql{font-size:13px;font-weight:bold}.top{fill-opacity:.45}
.line{fill:none;stroke:#1f4e9a;stroke-width:1}.dots{fill:none;stroke:#1f4e9a;stroke-width:3;stroke-linecap:round}
body.showdens svg.freq,body:not(.showdens) svg.density,body:not(.showdens) .dens{display:none}
table.facts td{padding:1px 8px 1px 0;vertical-align:top}
table.records{border-collapse:collapse;margin-top:6px}table.records td,table.records th{padding:1px 6px;
border-bottom:1px solid #ddd;text-align:right}table.records th{cursor:pointer;background:#eee;position:sticky;top:0}
table.records td.s{text-align:left}#report-errors{color:#a00}
)";

// The page's script, in three pieces: the table's first columns come between the opening
// and the rest, with the column mode after the status for a refined run.
static constexpr const char* SCRIPT_OPEN = R"(
(function(){
var D=JSON.parse(document.getElementById('report-data').textContent);
var R=D.records,n=R.record.length;
)";
static constexpr const char* SCRIPT_COLS =
    "var cols=[['time','time'],['station','station'],['file','file'],['record','record'],['status','status']];";
static constexpr const char* SCRIPT_COLS_REFINED =
    "var cols=[['time','time'],['station','station'],['file','file'],['record','record'],['status','status'],"
    "['mode','mode']];";
static constexpr const char* SCRIPT = R"(
D.table.forEach(function(q){cols.push([q,q]);});
if(D.plots!==null)cols.push(['picture','picture']);
function val(k,i){
 if(k==='station')return D.stations[R.station[i]];
 if(k==='file')return D.files[R.file[i]];
 if(k==='status')return D.status[R.istat[i]];
 if(k==='picture')return null;
 return R[k][i];}
function cell(k,i){
 var v=val(k,i);
 if(k==='picture'){var f=D.files[R.file[i]].split('/').pop(),r=String(R.record[i]);
  while(r.length<4)r='0'+r;var a=document.createElement('a');
  a.href=D.plots+f+(D.plot_ext==='pdf'?'.pdf':'.'+r+'.'+D.plot_ext);
  a.textContent='picture';return a;}
 if(v===null)return '';
 if(typeof v==='number'&&D.decimals[k]!==undefined)return v.toFixed(D.decimals[k]);
 return String(v);}
var order=[],i;for(i=0;i<n;i++)order.push(i);
var sortKey=null,sortDir=1;
function sortBy(k,dir){
 sortKey=k;sortDir=dir;order.sort(function(a,b){
  var x=val(k,a),y=val(k,b);
  if(x===null&&y===null)return a-b;if(x===null)return 1;if(y===null)return -1;
  if(x<y)return -dir;if(x>y)return dir;return a-b;});}
var tbl=document.getElementById('records');
function draw(){
 var t=document.createElement('table');t.className='records';
 var hr=document.createElement('tr');
 cols.forEach(function(c){var th=document.createElement('th');th.textContent=c[1]+
  (sortKey===c[0]?(sortDir>0?' \u25b2':' \u25bc'):'');th.dataset.key=c[0];
  th.onclick=function(){sortBy(c[0],sortKey===c[0]?-sortDir:1);draw();};hr.appendChild(th);});
 t.appendChild(hr);
 var m=Math.min(n,D.maxrows);
 for(var j=0;j<m;j++){var r=order[j],tr=document.createElement('tr');tr.dataset.row=r;
  cols.forEach(function(c){var td=document.createElement('td'),v=cell(c[0],r);
   if(c[0]==='station'||c[0]==='file'||c[0]==='status'||c[0]==='time')td.className='s';
   if(typeof v==='string')td.textContent=v;else td.appendChild(v);tr.appendChild(td);});
  t.appendChild(tr);}
 tbl.innerHTML='';tbl.appendChild(t);
 document.getElementById('rows-note').textContent=n>m?('The table shows the first '+m+' of '+n+
  ' records in the chosen order; every record is in the embedded data.'):'';}
var h=location.hash.match(/sort=(-?)([A-Za-z0-9_]+)/);
if(h&&cols.some(function(c){return c[0]===h[2];}))sortBy(h[2],h[1]?-1:1);
draw();
var box=document.getElementById('show-density');
if(box){box.onchange=function(){document.body.classList.toggle('showdens',box.checked);};
 if(/density/.test(location.hash)){box.checked=true;document.body.classList.add('showdens');}}
var st=document.getElementById('report-status');
st.textContent=window.reportErrors.length?'errors: '+window.reportErrors.join('; '):'ok';
st.dataset.ms=String(Math.round(performance.now()));
})();
)";

}  // namespace

double median_spacing(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::vector<double> d;
    for (size_t i = 1; i < times.size(); ++i) {
        if (times[i] > times[i - 1]) d.push_back(times[i] - times[i - 1]);
    }
    if (d.empty()) return 0.0;
    std::nth_element(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(d.size() / 2), d.end());
    return d[d.size() / 2];
}

std::vector<int32_t> map_columns(const std::vector<double>& times, const std::vector<bool>& inverted,
                                 double t0, double t1, int columns) {
    std::vector<int32_t> cols(static_cast<size_t>(std::max(columns, 0)), -1);
    if (times.empty() || columns <= 0 || !(t1 > t0)) return cols;
    std::vector<int32_t> order(times.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return times[a] < times[b]; });
    const double w = (t1 - t0) / columns;
    // One distinct time has no cadence: its record then covers three quarters of the span.
    double cadence = median_spacing(times);
    if (cadence <= 0.0) cadence = 0.5 * (t1 - t0);
    const double reach = std::max(0.75 * cadence, 0.5 * w);
    for (int c = 0; c < columns; ++c) {
        const double tc = t0 + (c + 0.5) * w;
        // The first record at or after the centre, and the one before it; the nearer wins (the
        // earlier on a tie, and the first in file order among records of the same time).
        const auto it = std::lower_bound(order.begin(), order.end(), tc,
                                         [&](int32_t a, double t) { return times[a] < t; });
        int32_t best = -1;
        if (it != order.end()) best = *it;
        if (it != order.begin()) {
            auto prev = std::prev(it);
            const double tp = times[*prev];
            while (prev != order.begin() && times[*std::prev(prev)] == tp) --prev;
            if (best < 0 || tc - tp <= times[best] - tc) best = *prev;
        }
        if (best >= 0 && std::fabs(times[best] - tc) <= reach && inverted[best]) cols[c] = best;
    }
    return cols;
}

ReportRecord report_record(const Zelk& z, const std::string& file, int32_t RECNO) {
    const inversion::Inversion& inv = z.inv;
    const products::Products& prod = z.prod;
    ReportRecord r;
    r.file = file;
    r.record = RECNO;
    const pipeline::RecordResult res = pipeline::record_result(z);
    r.station = res.station;
    r.station_code = res.station_code;
    r.time = res.time;
    if (res.mode != nullptr) r.mode = res.mode;
    if (!r.time.empty()) r.t = epoch_of(r.time);
    r.istat = res.istat;
    std::copy(std::begin(res.characteristic), std::end(res.characteristic), r.values.begin());
    if (r.istat != 2 || prod.NPROW1 < 2) return r;

    // The 1 km table: the first pass up to the F2 peak, then the topside at 1 km.
    int16_t n = prod.NPROW1;
    F1<float, products::MAXROW> ht = prod.PRFHT1, fn = prod.PRFFN1;
    products::TABTOP(1.0f, inv.FC(4), inv.ZMF2, prod.H, n, fn, ht);
    r.hmF2 = inv.ZMF2;
    // Sampled on the grid by linear interpolation; nothing below the table's first row or
    // above its last.
    r.fn.assign(REPORT_NH, 0);
    int j = 1;
    for (int k = 0; k < REPORT_NH; ++k) {
        const float h = REPORT_H0 + static_cast<float>(k) * REPORT_DH;
        if (h < ht(1) || h > ht(n)) continue;
        while (j < n - 1 && ht(j + 1) < h) ++j;
        const float h1 = ht(j), h2 = ht(j + 1);
        const float f = h2 > h1 ? fn(j) + (fn(j + 1) - fn(j)) * (h - h1) / (h2 - h1) : fn(j + 1);
        const float khz = std::round(f * REPORT_FSCALE);
        r.fn[k] = static_cast<uint16_t>(std::clamp(khz, 1.0f, 65535.0f));
    }
    return r;
}

void write_report(std::ostream& os, const std::vector<ReportRecord>& records, const ReportFacts& facts,
                  const std::string& report_path) {
    // Stations in the order they first appear.
    std::vector<Station> stations;
    std::map<std::pair<std::string, int32_t>, size_t> at;
    std::vector<std::string> files;
    std::map<std::string, size_t> file_at;
    std::vector<size_t> rec_station(records.size()), rec_file(records.size());
    std::map<int16_t, int> counts;
    int ninv = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const ReportRecord& r = records[i];
        const auto [s, fresh] = at.emplace(std::make_pair(r.station, r.station_code), stations.size());
        if (fresh) stations.push_back({r.station, r.station_code, {}});
        stations[s->second].recs.push_back(i);
        rec_station[i] = s->second;
        const auto [f, ffresh] = file_at.emplace(r.file, files.size());
        if (ffresh) files.push_back(r.file);
        rec_file[i] = f->second;
        ++counts[r.istat];
        if (r.istat == 2) ++ninv;
    }

    os << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>ZELK run report</title>"
       << "<style>" << STYLE << "</style><script>window.reportErrors=[];window.onerror=function(m){"
       << "window.reportErrors.push(String(m));var e=document.getElementById('report-errors');"
       << "if(e)e.textContent=window.reportErrors.join('; ');};</script></head>\n<body>\n";
    os << "<h1>ZELK run report</h1><div id=\"report-errors\"></div>";

    // The run's facts.
    os << "<table class=\"facts\"><tr><td>Inputs</td><td>";
    for (size_t i = 0; i < facts.inputs.size(); ++i) os << (i ? ", " : "") << html(facts.inputs[i]);
    os << "</td></tr><tr><td>Options</td><td>";
    for (size_t i = 0; i < facts.options.size(); ++i) {
        os << (i ? ", " : "") << "<span class=\"opt\" data-opt=\"" << html(facts.options[i].first) << "\">"
           << html(facts.options[i].first) << " " << html(facts.options[i].second) << "</span>";
    }
    // The program as its --version names it, the lines of that text joined on one line.
    os << "</td></tr><tr><td>Program</td><td id=\"version\">";
    {
        std::string v = facts.version;
        while (!v.empty() && v.back() == '\n') v.pop_back();
        for (size_t nl; (nl = v.find('\n')) != std::string::npos;) v.replace(nl, 1, "; ");
        os << html(v);
    }
    os << "</td></tr>"
       << "<tr><td>Records</td><td>" << records.size() << " reached the inversion from " << facts.files
       << " file" << (facts.files == 1 ? "" : "s") << " and " << files.size() << " of them gave records; "
       << stations.size() << " station" << (stations.size() == 1 ? "" : "s") << "; " << facts.bad
       << " bad record" << (facts.bad == 1 ? "" : "s") << " skipped</td></tr><tr><td>By status</td><td>";
    for (const auto& [istat, n] : counts) {
        os << "<span class=\"st\" data-istat=\"" << istat << "\" style=\"color:"
           << (istat == 2 ? "#000" : status_colour(istat)) << "\">" << n << " " << html(istat_text(istat))
           << "</span>; ";
    }
    os << "</td></tr><tr><td>Time taken</td><td><span id=\"elapsed\">" << fixed(facts.seconds, 2)
       << "</span> s</td></tr></table>";
    if (records.empty()) {
        os << "<p class=\"none\" id=\"nothing\">No record reached the inversion.</p>";
    } else if (ninv == 0) {
        os << "<p class=\"none\" id=\"nothing\">No record of the run was inverted.</p>";
    }
    if (ninv > 0) {
        os << "<p><label><input type=\"checkbox\" id=\"show-density\"> show the electron density instead of"
              " the plasma frequency</label></p>";
    }

    Page page(os, records);
    for (size_t s = 0; s < stations.size(); ++s) page.station(stations[s], static_cast<int>(s));

    os << "<h2>Records</h2><p class=\"note\">Click a column heading to sort by it. <span id=\"rows-note\">"
          "</span></p><div id=\"records\"></div>\n";

    // The data, column by column.
    os << "<script type=\"application/json\" id=\"report-data\">{\"version\":" << json(facts.version)
       << ",\"maxrows\":" << MAXROWS << ",\"stations\":[";
    for (size_t s = 0; s < stations.size(); ++s) os << (s ? "," : "") << json(stations[s].name);
    os << "],\"station_codes\":[";
    for (size_t s = 0; s < stations.size(); ++s) os << (s ? "," : "") << stations[s].code;
    os << "],\"files\":[";
    for (size_t f = 0; f < files.size(); ++f) os << (f ? "," : "") << json(files[f]);
    os << "],\"status\":{";
    {
        bool first = true;
        for (const auto& [istat, n] : counts) {
            os << (first ? "" : ",") << "\"" << istat << "\":" << json(istat_text(istat));
            first = false;
        }
    }
    os << "},\"plots\":";
    if (facts.plots.empty()) {
        os << "null";
    } else {
        std::error_code ec;
        const fs::path base = fs::absolute(fs::path(report_path), ec).parent_path();
        std::string rel = fs::absolute(fs::path(facts.plots), ec).lexically_normal().lexically_relative(base).string();
        if (rel.empty() || rel == ".") rel = "";
        else if (rel.back() != '/') rel += '/';
        os << json(rel);
    }
    os << ",\"plot_ext\":" << json(facts.plot_ext) << ",\"table\":[";
    for (size_t q = 0; q < sizeof(SERIES) / sizeof(SERIES[0]); ++q) {
        os << (q ? "," : "") << json(pipeline::RecordResult::CHAR_NAMES[SERIES[q].value]);
    }
    os << "],\"decimals\":{";
    for (int c = 0; c < pipeline::RecordResult::NCHAR; ++c) {
        os << (c ? "," : "") << json(pipeline::RecordResult::CHAR_NAMES[c]) << ":" << (c >= 8 && c <= 10 ? 2 : 3);
    }
    os << "},\n\"records\":{\n";
    auto column = [&](const char* name, auto item) {
        os << json(name) << ":[";
        for (size_t i = 0; i < records.size(); ++i) {
            if (i) os << ',';
            item(i);
        }
        os << "]";
    };
    column("file", [&](size_t i) { os << rec_file[i]; });
    os << ",\n";
    column("record", [&](size_t i) { os << records[i].record; });
    os << ",\n";
    column("station", [&](size_t i) { os << rec_station[i]; });
    os << ",\n";
    column("time", [&](size_t i) { os << (records[i].time.empty() ? "null" : json(records[i].time)); });
    os << ",\n";
    column("istat", [&](size_t i) { os << records[i].istat; });
    const bool refined = std::any_of(records.begin(), records.end(),
                                     [](const ReportRecord& r) { return !r.mode.empty(); });
    if (refined) {
        os << ",\n";
        column("mode", [&](size_t i) { os << json(records[i].mode); });
    }
    for (int c = 0; c < pipeline::RecordResult::NCHAR; ++c) {
        os << ",\n";
        column(pipeline::RecordResult::CHAR_NAMES[c], [&](size_t i) {
            const pipeline::Value& v = records[i].values[c];
            os << (v.v ? fixed(*v.v, v.decimals) : "null");
        });
    }
    os << "}}</script>\n<div id=\"report-status\">not run</div>\n<script>" << SCRIPT_OPEN
       << (refined ? SCRIPT_COLS_REFINED : SCRIPT_COLS) << SCRIPT << "</script>\n</body></html>\n";
}

bool save_report(const std::string& path, const std::vector<ReportRecord>& records, const ReportFacts& facts,
                 std::string& why) {
    PendingOutput out(path);
    if (!out.open(why)) return false;
    write_report(out.os(), records, facts, path);
    return out.commit(why);
}

}  // namespace zelk::driver
