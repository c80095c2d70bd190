// The plot frame of a record: axes with ticks, grid lines and labels, the station header,
// and the station list behind it.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "display/display.hpp"
#include "core/fortran_io.hpp"
#include "platform/datafile.hpp"

namespace zelk::display {

namespace {

using fio::edit_value;

// Text at a pixel.
void text_at(Surface& s, int x, int y, std::string_view t) {
    s.move_to(x, y);
    s.text(t);
}

void line(Surface& s, int x1, int y1, int x2, int y2) {
    s.move_to(x1, y1);
    s.line_to(x2, y2);
}

// A 3-character size text: its leading digits (blank-padded on the right); 0 without digits.
int size_of(std::string_view t) {
    int v = 0;
    for (size_t i = 0; i < t.size() && i < 3; ++i) {
        if (t[i] < '0' || t[i] > '9') break;
        v = v * 10 + (t[i] - '0');
    }
    return v;
}

// Columns a..b (1-based, inclusive) of a line, blank beyond its end.
std::string columns(const std::string& line, size_t a, size_t b) {
    std::string out(b - a + 1, ' ');
    for (size_t c = a; c <= b && c <= line.size(); ++c) out[c - a] = line[c - 1];
    return out;
}

// Difference of two longitudes in degrees, brought into [-180, 180], so that a list written
// with west longitudes negative matches records that give them as 0..360 east.
float lon_diff(float a, float b) {
    float d = std::fmod(a - b, 360.0f);
    if (d > 180.0f) d -= 360.0f;
    if (d < -180.0f) d += 360.0f;
    return d;
}

}  // namespace

int pixel_x(const Display& d, float f) {
    const float steps = f / 0.025f + 0.005f;
    // Frequencies far outside the frame are held to a pixel far outside it as well.
    const float held = std::fmax(-1.0e6f, std::fmin(1.0e6f, std::isnan(steps) ? 0.0f : steps));
    const int fstep = d.FSTEP > 0 ? d.FSTEP : 1;
    return Display::PX0 + static_cast<int>(held) / fstep;
}

int pixel_y(float h) {
    const float half = 0.5f * h + 0.5f;
    const float held = std::fmax(-1.0e6f, std::fmin(1.0e6f, std::isnan(half) ? 0.0f : half));
    return Display::PY1 - static_cast<int>(held);
}

// GRAPHMODE: the canvas of the surface with a white background; drawing on.
void GRAPHMODE(Display& d, Surface& s) {
    d.XMAXPIX = s.width() - 1;
    d.YMAXPIX = s.height() - 1;
    s.clear(WHITE);
    d.GRAPHON = true;
}

// FONTSET: font INDEX of the table with the pixel height HTEXT and width WTEXT (3-character
// digit texts, left-aligned and blank-padded). The surface maps the faces of the table to
// installed fonts.
void FONTSET(Surface& s, int INDEX, std::string_view HTEXT, std::string_view WTEXT) {
    s.set_font(INDEX, size_of(HTEXT), size_of(WTEXT));
}

// SETCOORD: the frame of the record, drawn over what the surface holds (only when drawing
// is on). FSTEP = 1 MHz per 40 pixels for a scaled foF2 up to 13 MHz, else 2 (so an
// unscaled foF2 gives the 0-28 MHz axis).
void SETCOORD(Display& d, Surface& s, const FrameInputs& in) {
    if (!d.GRAPHON) return;
    constexpr int PX0 = Display::PX0, PY0 = Display::PY0, PX1 = Display::PX1, PY1 = Display::PY1;
    d.FSTEP = in.FOF2 <= 13.0f ? 1 : 2;
    FONTSET(s, 3, "16 ", "7  ");
    s.set_colour(BLACK);
    for (int i = 0; i <= 2; ++i) s.rectangle(false, PX0 - i, PY0 - i, PX1 + i, PY1 + i);

    for (int k = 1; k <= 35; ++k) line(s, PX0, PY1 - 10 * k, PX0 + 2, PY1 - 10 * k);
    s.set_colour(YELLOW);
    for (int k = 1; k <= 6; ++k) line(s, PX0, PY1 - 50 * k, PX1, PY1 - 50 * k);
    s.set_colour(BLACK);
    for (int k = 1; k <= 35; ++k) line(s, PX1, PY1 - 10 * k, PX1 - 2, PY1 - 10 * k);

    for (int k = 1; k <= 28; ++k) line(s, PX0 + 20 * k, PY1, PX0 + 20 * k, PY1 - 2);
    for (int k = 1; k <= 14; ++k) line(s, PX0 + 40 * k, PY1, PX0 + 40 * k, PY1 - 5);
    for (int k = 1; k <= 28; ++k) line(s, PX0 + 20 * k, PY0, PX0 + 20 * k, PY0 + 2);
    for (int k = 1; k <= 14; ++k) line(s, PX0 + 40 * k, PY0, PX0 + 40 * k, PY0 + 5);

    for (int k = 0; k <= 6; ++k) text_at(s, PX0 - 30, PY1 - 50 * k - 7, edit_value("(I3)", 100 * k));
    text_at(s, PX0 - 36, PY1 - 355, "[km]");
    FONTSET(s, 3, "20 ", "10 ");
    s.set_text_rotation(900);
    text_at(s, PX0 - 60, PY0 + 250, "HEIGHT (km)");
    s.set_text_rotation(0);
    FONTSET(s, 3, "16 ", "7  ");

    for (int j = 1; j <= 14; ++j)
        text_at(s, PX0 + 40 * j - 52, PY1 + 5, edit_value("(I3)", d.FSTEP * (j - 1)));
    text_at(s, PX0 + 533, PY1 + 5, "[MHz]");
    FONTSET(s, 3, "20 ", "10 ");
    text_at(s, PX0 + 150, PY1 + 20, "FREQUENCY (MHz)");
    FONTSET(s, 3, "16 ", "8  ");

    if (!d.STATIONS_READ) {
        d.STATIONS = read_stations(platform::data_path("STATION.LST"));
        d.STATIONS_READ = true;
    }
    std::string name = GETSTNAME(0, in.LAT, in.LON, d.STATIONS);
    if (name == "NO NAME             ") {
        name = in.STNAME;
        name.resize(20, ' ');
    }
    text_at(s, PX0, PY0 - 75, " STATION : " + name);
    text_at(s, PX0, PY0 - 57,
            " GEO. LAT./LONG. : " + edit_value("(F6.2)", in.LAT) + "/" + edit_value("(F6.2)", in.LON));
}

float decode_coord(std::string_view field) {
    float sign = 1.0f, value = 0.0f, place = 100.0f;
    for (char c : field) {
        if (c == '.') continue;
        if (c == '-') sign = -1.0f;
        else if (c == ' ') sign = 1.0f;
        else if (c >= '0' && c <= '9') value += static_cast<float>(c - '0') * place;
        place /= 10.0f;
    }
    return sign * value;
}

std::vector<Station> read_stations(const std::string& path) {
    std::vector<Station> list;
    if (path.empty()) return list;
    std::ifstream in(path);
    std::string line;
    // Lines are read as 80 characters; a longer line's tail is not part of the record.
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > 80) line.resize(80);
        Station st;
        st.name = columns(line, 5, 22);
        const std::string code = columns(line, 34, 36);
        st.code = 0;
        for (char c : code) st.code = c >= '0' && c <= '9' ? st.code * 10 + (c - '0') : st.code * 10;
        st.lat = decode_coord(columns(line, 47, 51));
        st.lon = decode_coord(columns(line, 55, 59));
        list.push_back(st);
    }
    return list;
}

std::string GETSTNAME(int32_t STCODE, float LAT, float LON, const std::vector<Station>& list) {
    for (const Station& st : list) {
        const float tol = st.code == STCODE ? 1.0f : 0.1f;
        if (std::fabs(st.lat - LAT) < tol && std::fabs(lon_diff(st.lon, LON)) < tol)
            return st.name + "  ";
    }
    return "NO NAME             ";
}

// TIMDELAY: waits NSEC seconds, sleeping (no polling of the clock).
void TIMDELAY(int NSEC) {
    if (NSEC > 0) std::this_thread::sleep_for(std::chrono::seconds(NSEC));
}

void PlotFile::open(const std::string& path) {
    path_ = path;
    buf_.clear();
    open_ = true;
}

void PlotFile::point(float f, float h) {
    if (!open_) return;
    buf_ += edit_value("(F9.3)", f);
    buf_ += edit_value("(F9.3)", h);
    buf_ += '\n';
}

bool PlotFile::close(std::string& error) {
    if (!open_) return true;
    open_ = false;
    namespace fs = std::filesystem;
    const fs::path target(path_);
    // A hidden name beside the final one (appended piece by piece: g++ 12 at -O3 warns
    // falsely about overlapping copies for the concatenation of temporaries).
    std::string hidden = ".";
    hidden += target.filename().string();
    hidden += ".tmp";
    const fs::path tmp = target.parent_path() / hidden;
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << buf_;
        out.close();
        if (!out) {
            std::error_code ec;
            fs::remove(tmp, ec);
            error = path_ + ": cannot be written";
            return false;
        }
    }
    std::error_code ec;
    fs::rename(tmp, target, ec);
    if (ec) {
        fs::remove(tmp, ec);
        error = path_ + ": cannot be written";
        return false;
    }
    buf_.clear();
    return true;
}

}  // namespace zelk::display
