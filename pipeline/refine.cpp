// The refined mode at the level of the record: the X trace handed to the valley fit, and the
// standard result kept for a record the refined mode cannot invert.
#include <algorithm>
#include <memory>

#include "pipeline/pipeline.hpp"
#include "pipeline/zelk.hpp"

namespace zelk::pipeline {

namespace {

// Capacities of the X traces of the F2 and F1 layers (groups 22-25, 26-29).
static constexpr int NXF2 = 400;
static constexpr int NXF1 = 150;

}  // namespace

inversion::XTrace x_trace(const iondata::IonogramRecord& rec) {
    inversion::XTrace x;
    const int n2 = std::clamp<int>(std::min(rec.IDX(22), rec.IDX(25)), 0, NXF2);
    for (int i = 1; i <= n2; ++i) {
        x.f.push_back(rec.FQXF2(i));
        x.h.push_back(rec.VHXF2(i));
    }
    const int n1 = std::clamp<int>(std::min(rec.IDX(26), rec.IDX(29)), 0, NXF1);
    for (int i = 1; i <= n1; ++i) {
        x.f.push_back(rec.FQXF1(i));
        x.h.push_back(rec.VHXF1(i));
    }
    return x;
}

// invert_record: PROFIL1 writes the record (its auroral-E table), the Inversion, Models,
// Bottomside and Products areas; in the refined mode they are kept before it runs and put
// back for the standard run that follows a refined run without a profile. made_by: REFINED
// (or REFINED_F1_MERGED, set by merge_f1) for a refined profile, FALLBACK for a standard
// profile after a failed refined run, STANDARD otherwise.
void invert_record(Zelk& z) { invert_record(z, PROFIL1); }

void invert_record(Zelk& z, void (*refined_run)(Zelk&)) {
    const inversion::RefineOptions options = z.inv.refine;
    z.inv.made_by = inversion::MadeBy::STANDARD;
    z.left.shape = false;
    z.left.qp = false;
    if (!options.any()) {
        PROFIL1(z);
        return;
    }
    const auto rec = std::make_unique<iondata::IonogramRecord>(z.rec);
    const auto inv = std::make_unique<inversion::Inversion>(z.inv);
    const auto mod = std::make_unique<models::Models>(z.mod);
    const auto bot = std::make_unique<models::Bottomside>(z.bot);
    const auto prod = std::make_unique<products::Products>(z.prod);
    z.inv.made_by = inversion::MadeBy::REFINED;
    refined_run(z);
    if (z.inv.ISTAT() == inversion::ISTAT_OK) return;

    z.rec = *rec;
    z.inv = *inv;
    z.mod = *mod;
    z.bot = *bot;
    z.prod = *prod;
    z.inv.refine = inversion::RefineOptions{};
    PROFIL1(z);
    z.inv.refine = options;
    z.inv.made_by = z.inv.ISTAT() == inversion::ISTAT_OK ? inversion::MadeBy::FALLBACK
                                              : inversion::MadeBy::STANDARD;
}

}  // namespace zelk::pipeline
