// The plot frame through the recording surface: positions worked out from the frame's
// layout (frame 200-760 x 150-500, 40 pixels per FSTEP MHz, 2 km per pixel).
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "display/display.hpp"
#include "display/recording.hpp"
#include "ztest.hpp"

using namespace zelk::display;

namespace {

// The text primitives, in order.
std::vector<Primitive> texts(const RecordingSurface& s) {
    std::vector<Primitive> out;
    for (const Primitive& p : s.primitives())
        if (p.kind == Primitive::TEXT) out.push_back(p);
    return out;
}

const Primitive* find_text(const RecordingSurface& s, const std::string& t) {
    for (const Primitive& p : s.primitives())
        if (p.kind == Primitive::TEXT && p.text == t) return &p;
    return nullptr;
}

struct Frame {
    RecordingSurface s;
    Display d;
    Frame() {
        GRAPHMODE(d, s);
        d.STATIONS_READ = true;   // no station list unless a test gives one
        s.reset();
    }
    void draw(float fof2, float lat = 40.0f, float lon = 255.0f, const std::string& name = "SYNTH") {
        FrameInputs in;
        in.FOF2 = fof2;
        in.LAT = lat;
        in.LON = lon;
        in.STNAME = name;
        SETCOORD(d, s, in);
    }
};

}  // namespace

TEST(Frame, NothingBeforeGraphmode) {
    RecordingSurface s;
    Display d;
    SETCOORD(d, s, FrameInputs{});
    EXPECT_TRUE(s.primitives().empty());
    GRAPHMODE(d, s);
    EXPECT_EQ(d.XMAXPIX, 1023);
    EXPECT_EQ(d.YMAXPIX, 767);
    ASSERT_EQ(s.primitives().size(), 1u);
    EXPECT_EQ(s.primitives()[0].kind, Primitive::clear);
    EXPECT_EQ(s.primitives()[0].colour, 0xFFFFFFu);
}

// Frame border, grid and ticks: the three outlines, six yellow grid lines every 100 km, the
// black ticks every 20 km and 0.5 FSTEP MHz.
TEST(Frame, BorderGridAndTicks) {
    Frame f;
    f.draw(8.0f);
    std::vector<Primitive> rects, grid, ticks;
    for (const Primitive& p : f.s.primitives()) {
        if (p.kind == Primitive::RECT) rects.push_back(p);
        if (p.kind == Primitive::LINE && p.colour == 0xFFFF00u) grid.push_back(p);
        if (p.kind == Primitive::LINE && p.colour == 0x000000u) ticks.push_back(p);
    }
    ASSERT_EQ(rects.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rects[i].x1, 200 - i);
        EXPECT_EQ(rects[i].y1, 150 - i);
        EXPECT_EQ(rects[i].x2, 760 + i);
        EXPECT_EQ(rects[i].y2, 500 + i);
        EXPECT_EQ(rects[i].colour, 0x000000u);
    }
    ASSERT_EQ(grid.size(), 6u);
    for (int k = 1; k <= 6; ++k) {
        EXPECT_EQ(grid[k - 1].x1, 200);
        EXPECT_EQ(grid[k - 1].x2, 760);
        EXPECT_EQ(grid[k - 1].y1, 500 - 50 * k);   // 100 km steps at 2 km per pixel
        EXPECT_EQ(grid[k - 1].y2, 500 - 50 * k);
    }
    // 35 ticks on each side, 28 + 14 at the bottom and at the top.
    EXPECT_EQ(ticks.size(), 35u * 2 + 42u * 2);
    // The 10 MHz tick at the bottom (FSTEP 1): 400 pixels right of the frame, 5 long.
    bool found = false;
    for (const Primitive& p : ticks)
        found = found || (p.x1 == 600 && p.x2 == 600 && p.y1 == 500 && p.y2 == 495);
    EXPECT_TRUE(found);
}

TEST(Frame, HeightLabelsAndTitles) {
    Frame f;
    f.draw(8.0f);
    for (int k = 0; k <= 6; ++k) {
        const std::string label = k == 0 ? "  0" : std::to_string(100 * k);
        const Primitive* p = find_text(f.s, label);
        ASSERT_NE(p, nullptr) << label;
        EXPECT_EQ(p->x1, 170);
        EXPECT_EQ(p->y1, 500 - 50 * k - 7);
        EXPECT_EQ(p->font, 3);
        EXPECT_EQ(p->font_height, 16);
        EXPECT_EQ(p->font_width, 7);
    }
    EXPECT_EQ(find_text(f.s, "700"), nullptr);
    const Primitive* km = find_text(f.s, "[km]");
    ASSERT_NE(km, nullptr);
    EXPECT_EQ(km->x1, 164);
    EXPECT_EQ(km->y1, 145);
    const Primitive* ht = find_text(f.s, "HEIGHT (km)");
    ASSERT_NE(ht, nullptr);
    EXPECT_EQ(ht->x1, 140);
    EXPECT_EQ(ht->y1, 400);
    EXPECT_EQ(ht->rotation, 900);
    EXPECT_EQ(ht->font_height, 20);
    EXPECT_EQ(ht->font_width, 10);
    const Primitive* ft = find_text(f.s, "FREQUENCY (MHz)");
    ASSERT_NE(ft, nullptr);
    EXPECT_EQ(ft->x1, 350);
    EXPECT_EQ(ft->y1, 520);
    EXPECT_EQ(ft->rotation, 0);
}

// A scaled foF2 of exactly 13 MHz keeps the 0-14 MHz axis; 13.1 MHz (or an unscaled foF2)
// doubles it, with labels 0, 2, ..., 26 at the same places.
TEST(Frame, FrequencyAxisFollowsFoF2) {
    for (float fof2 : {13.0f, 13.1f, 9999.0f}) {
        Frame f;
        f.draw(fof2);
        const int fstep = fof2 <= 13.0f ? 1 : 2;
        EXPECT_EQ(f.d.FSTEP, fstep) << fof2;
        std::vector<Primitive> labels;
        for (const Primitive& p : texts(f.s))
            if (p.y1 == 505) labels.push_back(p);
        ASSERT_EQ(labels.size(), 15u) << fof2;
        for (int j = 1; j <= 14; ++j) {
            const int v = fstep * (j - 1);
            const std::string want = (v < 10 ? "  " : " ") + std::to_string(v);
            EXPECT_EQ(labels[j - 1].text, want);
            EXPECT_EQ(labels[j - 1].x1, 200 + 40 * j - 52);
        }
        EXPECT_EQ(labels[14].text, "[MHz]");
        EXPECT_EQ(labels[14].x1, 733);
    }
}

TEST(Frame, StationHeaderFromRecordWithoutList) {
    Frame f;
    f.draw(8.0f, -12.5f, 283.25f, "JICAMARCA");
    const Primitive* st = find_text(f.s, " STATION : JICAMARCA           ");
    ASSERT_NE(st, nullptr);
    EXPECT_EQ(st->x1, 200);
    EXPECT_EQ(st->y1, 75);
    EXPECT_EQ(st->font_width, 8);
    const Primitive* ll = find_text(f.s, " GEO. LAT./LONG. : -12.50/283.25");
    ASSERT_NE(ll, nullptr);
    EXPECT_EQ(ll->x1, 200);
    EXPECT_EQ(ll->y1, 93);
}

TEST(StationList, CoordinatesDecodeByPlace) {
    EXPECT_FLOAT_EQ(decode_coord("-12.5"), -12.5f);
    EXPECT_FLOAT_EQ(decode_coord(" 40.0"), 40.0f);
    EXPECT_FLOAT_EQ(decode_coord("283.2"), 283.2f);
    EXPECT_FLOAT_EQ(decode_coord("  5.5"), 5.5f);
}

namespace {

// A list line: name in columns 5-22, code 34-36, latitude 47-51, longitude 55-59.
std::string list_line(const std::string& name, const std::string& code, const std::string& lat,
                      const std::string& lon) {
    std::string l(80, ' ');
    l.replace(4, name.size(), name);
    l.replace(33, 3, code);
    l.replace(46, 5, lat);
    l.replace(54, 5, lon);
    return l;
}

}  // namespace

TEST(StationList, FirstNearbyEntryWinsAndCodeZeroWidensTheSearch) {
    ztest::ScratchDir dir;
    const std::string path = dir.file("STATION.LST");
    {
        std::ofstream out(path);
        out << list_line("FAR AWAY", "123", " 10.0", " 10.0") << '\n'
            << list_line("FIRST NEARBY", "123", " 40.0", "255.0") << '\n'
            << list_line("SECOND NEARBY", "124", " 40.0", "255.1") << '\n'
            << list_line("WIDE MATCH", "000", "-12.5", "283.0") << '\n';
    }
    const std::vector<Station> list = read_stations(path);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[1].code, 123);
    EXPECT_FLOAT_EQ(list[3].lat, -12.5f);
    EXPECT_EQ(GETSTNAME(0, 40.05f, 255.05f, list), "FIRST NEARBY        ");
    // 0.1 degree is the tolerance of a line with another code, exclusive.
    EXPECT_EQ(GETSTNAME(0, 40.2f, 255.0f, list), "NO NAME             ");
    // A code-000 line matches within 1 degree when the caller's code is 0.
    EXPECT_EQ(GETSTNAME(0, -12.0f, 283.8f, list), "WIDE MATCH          ");
    EXPECT_EQ(GETSTNAME(5, -12.0f, 283.8f, list), "NO NAME             ");
    // West longitudes written negative match records that give them as 0..360 east.
    EXPECT_EQ(GETSTNAME(0, -12.5f, -77.0f, list), "WIDE MATCH          ");
    EXPECT_TRUE(read_stations(dir.file("MISSING.LST")).empty());
}

TEST(StationList, ShippedListNamesTheExampleStations) {
    const std::vector<Station> list = read_stations(std::string(ZELK_SOURCE_DATA) + "/STATION.LST");
    ASSERT_GE(list.size(), 20u);
    // The stations of the examples (tools/cases and the synthesiser's presets).
    EXPECT_NE(GETSTNAME(0, 40.0f, 255.0f, list), "NO NAME             ");
    EXPECT_NE(GETSTNAME(0, -12.0f, 283.1f, list), "NO NAME             ");
}
