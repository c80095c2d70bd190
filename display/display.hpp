// The display: the plot frame of a record (GRAPHMODE, FONTSET, SETCOORD, GETSTNAME,
// TIMDELAY) and the plots drawn into it while the record is inverted (EVFPLOT and the
// routines it calls, PLOTPROF for the profiles a record already carries,
// PLOT_IRI_F_LAYER after the inversion), on any drawing Surface.
//
// The routines draw from plain inputs (the trace list, the solved regions, the header
// values) and read the inversion's data area without changing it, so drawing a record
// never changes what the inversion computes.
//
// Pixel mapping of every plot: x = PX0 + (truncate(f/0.025 + 0.005) div FSTEP) for a
// frequency f (MHz) and y = PY1 - truncate(0.5 h + 0.5) for a height h (km): 40 pixels per
// FSTEP MHz, 2 km per pixel, 0 km on the bottom edge and 700 km on the top edge.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "display/surface.hpp"

namespace zelk::inversion {
struct Inversion;
}

namespace zelk::display {

// Size of the logical canvas (pixels). The frame and its labels need about 820 x 560; 1024 x
// 768 is the smallest common screen size that holds them with the header lines, so a
// picture is one canvas pixel per image pixel and the frame lies at pixels 200-760 x 150-500.
static constexpr int CANVAS_WIDTH = 1024;
static constexpr int CANVAS_HEIGHT = 768;

// A text file written by the plots: kept in memory and written under a temporary name that
// is renamed when the file is closed, so the file is complete or absent.
class PlotFile {
public:
    // Starts the file anew under PATH (the previous content, if not yet closed, is dropped).
    void open(const std::string& path);
    bool is_open() const { return open_; }
    // One line: frequency (MHz) and virtual height (km), each F9.3.
    void point(float f, float h);
    // Writes the file; false with a message when it cannot be written.
    bool close(std::string& error);

private:
    std::string path_, buf_;
    bool open_ = false;
};

// One line of the station list: name (columns 5-22), code (34-36), latitude and longitude
// (47-51 and 55-59, degrees).
struct Station {
    std::string name;
    int32_t code = 0;
    float lat = 0.0f, lon = 0.0f;
};

// Display state, kept for the run.
struct Display {
    bool GRAPHON = false;            // drawing on (set by GRAPHMODE)
    int XMAXPIX = 0, YMAXPIX = 0;    // largest pixel coordinates of the canvas
    static constexpr int PX0 = 200, PY0 = 150, PX1 = 760, PY1 = 500;   // the frame
    int FSTEP = 1;                   // MHz per 40 pixels of the frequency axis

    // The plot data files TRACE.DAT, RECAL_OTRACE.DAT, RECAL_XTRACE.DAT are written only
    // when WRITE_DATA is set, under DATA_PREFIX + their name.
    bool WRITE_DATA = false;
    std::string DATA_PREFIX;
    PlotFile TRACE, RECALO, RECALX;
    std::string DATA_ERROR;          // first failure to write a plot data file

    // The station list, read once on the first SETCOORD ("" path: not found).
    bool STATIONS_READ = false;
    std::vector<Station> STATIONS;
};

// The time and sunspot header of a record (PLOTSSN).
struct Header {
    int32_t IYEAR = 0, IDAY = 0, IMON = 0, IDOM = 0, IHR = 0, MINU = 0, ISEC = 0;
    float SSNIN = 0.0f;              // sunspot number as the record entered the inversion
    int32_t ISSN = 0;                // sunspot number of the lookup
    float SSNDEVOUT = 0.0f;          // its deviation; 0 for an observed value
};

// What the plots of one record are drawn from.
struct PlotInputs {
    const inversion::Inversion* inv = nullptr;   // trace list, fit data, regions, valley, FH
    Header header;
    const float* EXTRAF = nullptr;   // the record's extra E-type trace: frequencies (MHz)
    const float* EXTRAH = nullptr;   //   and virtual heights (km), NEXTRA points
    int NEXTRA = 0;
    float H = 9999.0f;               // topside scale height at the F2 peak (km)
    int IDEBUG = 1;
};

// The frame of a record (SETCOORD).
struct FrameInputs {
    float FOF2 = 9999.0f;            // scaled foF2 (MHz); 100 and more: not scaled
    float LAT = 0.0f, LON = 0.0f;    // station (degrees)
    std::string STNAME;              // station name of the record, when the list has none
};

// Pixel of a frequency (MHz) and a height (km).
int pixel_x(const Display& d, float f);
int pixel_y(float h);

// ---- Window, fonts and frame -----------------------------------------------------------------
void GRAPHMODE(Display& d, Surface& s);
// Font INDEX of the font table at the character height and width given as 3-character texts.
void FONTSET(Surface& s, int INDEX, std::string_view HTEXT, std::string_view WTEXT);
void SETCOORD(Display& d, Surface& s, const FrameInputs& in);
// The station of the list near (LAT, LON): the first line within 0.1 degree in both (1.0
// degree for a line whose code is STCODE), else "NO NAME". 20 characters.
std::string GETSTNAME(int32_t STCODE, float LAT, float LON, const std::vector<Station>& list);
// Reads the station list (lines of 80 characters); an unreadable file gives an empty list.
std::vector<Station> read_stations(const std::string& path);
// One coordinate of the list: 5 characters, sign or hundreds, tens, units, point, tenths.
float decode_coord(std::string_view field);
// Waits NSEC seconds.
void TIMDELAY(int NSEC);

// ---- Plots -----------------------------------------------------------------------------------
void EVFPLOT(Display& d, Surface& s, const PlotInputs& in, int CODE);
void PLOTRACE(Display& d, Surface& s, const PlotInputs& in);
void PLOTSSN(Display& d, Surface& s, const Header& h);
void PLOTPROF(Display& d, Surface& s, Rgb COLOR, int IRGN, float FSTART, float FEND, float HTOP,
              int NN, const float* A);
void PLOTPOLV(Display& d, Surface& s, float FV, float FE, float ZE, const float* VSLOPE, float W2,
              float W3);
void PLOTDATA(Display& d, Surface& s, const inversion::Inversion& inv, int K);
void PLOTRECV(Display& d, Surface& s, const inversion::Inversion& inv, int K);
void PLOTRECX(Display& d, Surface& s, const inversion::Inversion& inv, int K);
void PLOTTOP(Display& d, Surface& s, Rgb COLOR, int MODE, float ZMF2, float FC4, float H);
// The IRI bottomside of the 1 km N(h) table rows 1..NPROW1 (plasma frequency PRFFN1, IRI
// height HIRI) down to the valley top.
void PLOT_IRI_F_LAYER(Display& d, Surface& s, int NPROW1, const float* PRFFN1, const float* HIRI,
                      float valley_top);

// Colours of the plots, as written in blue-green-red order.
static constexpr Rgb RED = from_bgr(0x0000FF);
static constexpr Rgb YELLOW = from_bgr(0x00FFFF);
static constexpr Rgb BLACK = from_bgr(0x000000);
static constexpr Rgb WHITE = from_bgr(0xFFFFFF);
static constexpr Rgb DARK_GREEN = from_bgr(0x008000);
static constexpr Rgb TEAL = from_bgr(0x808000);
static constexpr Rgb MAGENTA = from_bgr(0xFF00FF);
static constexpr Rgb GREY = from_bgr(0xC0C0C0);
static constexpr Rgb CYAN = from_bgr(0xFFFF00);
static constexpr Rgb BLUE = from_bgr(0xFF0000);

}  // namespace zelk::display
