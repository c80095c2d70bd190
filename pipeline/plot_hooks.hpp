// The read-only display hooks: the named points of a record's processing at which a display
// may draw, each with const views of what it may draw from. This is the whole interface a
// display implements (display/ overrides the stages it draws; every default draws nothing).
//
// Order for one record (the record loop and the inversion call them):
//   frame -> existing_profile (0 to 3 times) -> trace_list -> data -> e_region -> layer_done
//   -> valley -> data -> f1_region -> layer_done -> data -> f2_region -> layer_done
//   -> model_bottomside -> pause
// Stages of regions that are not solved are not called. frame and existing_profile come only
// when IDEBUG <= 3, model_bottomside only when IDEBUG > 0, pause only when IDEBUG is 2 or 3;
// the stages inside the inversion come for every IDEBUG (a display that draws only below 4,
// as the program's window does, tests view.log-independent settings itself).
//
// The views are references into the run's data areas; they stay valid until the next record
// is read, and they are never written through. A stage that needs a value of an earlier
// stage of the same record (the date for the header, the auroral-E trace) reads it from the
// RecordView that frame received. A display that needs virtual heights of the solved profile
// computes them from the view (inversion::RECVIRT works on a copy), never on solver state.
#pragma once

#include "inversion/inversion.hpp"
#include "iondata/record.hpp"
#include "models/b0b1d1.hpp"
#include "models/models.hpp"
#include "products/products.hpp"
#include "profile/profile.hpp"

namespace zelk {

// What the frame of a record is drawn from.
struct RecordView {
    const iondata::IonogramRecord& rec;   // the record as read: every trace group and the
                                          // auroral-E trace (AUXFN/AUXHT, 150 points)
    const inversion::Inversion& inv;      // the prepared inputs: time (IYR, IDAY, IHR, MINU,
                                          // ISEC), station (STNAME, LOCATION), scaled values
                                          // (FOF2, ...), frequency step and trace tables
    const models::Models& mod;            // date (IYEAR, IMON, IDOM), sunspot number ISSN and
                                          // deviation SSNDEVOUT (the inversion's lookup updates
                                          // them before the first inversion stage)
    const products::Products& prod;       // topside scale height H at the F2 peak (set before
                                          // f2_region)
    int16_t IDEBUG = 1;                   // diagnostic level of the run
};

class PlotHooks : public inversion::StageSink {
public:
    // ---- Called by the record loop ---------------------------------------------------------
    // The frame of the record (axes, header with station and coordinates): before anything
    // else of the record is drawn.
    virtual void frame(const RecordView&) {}
    // A profile the input record already carries (groups 39, 38, 37): region 1 E, 2 F1, 3 F2,
    // with its start and end frequency, peak height and coefficients (E: three).
    virtual void existing_profile(int /*region*/, const profile::RegionProfile&) {}
    // The fitted model bottomside after the inversion: the 1 km table rows (NPROW1, PRFFN1)
    // with the model height of each row (HIRI); the valley top is HVT.
    virtual void model_bottomside(const models::Bottomside&) {}
    // A pause after a finished record so that the user can look at it (seconds).
    virtual void pause(float /*seconds*/) {}

    // ---- Called by the inversion (through StageSink) -----------------------------------------
    // All receive the Inversion area as it stands at that point.
    // The trace list was built: TRF/TRH with NFQE E, NFQF1 F1 and NFQF F2 points.
    virtual void trace_list(const inversion::Inversion&) {}
    // A region selected its data: FQ/HV (NFQ points) of region IRGN, YK after the solver.
    virtual void data(const inversion::Inversion&) {}
    // The E region was solved: FC(1)..FC(2), peak ZME, A_E(1..3), YE; the region's profile is
    // inversion::REGION(inv, 1).
    virtual void e_region(const inversion::Inversion&) {}
    // The valley was modelled above the E peak: FV, VSLOPE(1..3), VW (= VW1 + VW2 + VW3), VD.
    virtual void valley(const inversion::Inversion&) {}
    // The F1 region was solved: FC(2)..FC(3), ZMF1, A_F1(1..5); REGION(inv, 2).
    virtual void f1_region(const inversion::Inversion&) {}
    // The F2 region was solved: FC(3)..FC(4), ZMF2, A_F2(1..5), HHALF; REGION(inv, 3).
    virtual void f2_region(const inversion::Inversion&) {}
    // After each solved layer (E, F1, F2); nothing is drawn there today.
    virtual void layer_done(const inversion::Inversion&) {}

    // Dispatches the inversion's stages to the named hooks above.
    void stage(inversion::Stage s, const inversion::Inversion& inv) final {
        switch (s) {
            case inversion::Stage::TRACE_LIST: return trace_list(inv);
            case inversion::Stage::E: return e_region(inv);
            case inversion::Stage::VALLEY: return valley(inv);
            case inversion::Stage::F1: return f1_region(inv);
            case inversion::Stage::F2: return f2_region(inv);
            case inversion::Stage::LAYER: return layer_done(inv);
            case inversion::Stage::DATA: return data(inv);
        }
    }
};

}  // namespace zelk
