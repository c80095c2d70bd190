// Result arrangement for output: puts the results of the inversion into the places and
// the form in which the record keeps them, and clears what failed so that the writer never
// stores a partial profile.
#include <cmath>
#include <ostream>
#include <string>

#include "core/rounding.hpp"
#include "core/fortran_io.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/zelk.hpp"

namespace zelk::pipeline {

namespace {

// foE written when the E layer came from the model foE (MHz).
static constexpr float FOE_MODEL_MARK = 999.9f;

}  // namespace

// TOTOLMIR: arranges the results of the record for output, after DECIDE (or in place of it
// when the scaled foF2 lies beyond the last frequency line).
//  1. foE = FC(2) when the E layer had trace points or a scaled foE (IEFLAG 1 or 3); 999.9
//     when the model foE was used (IEFLAG 2).
//  2. A profile inverted up to F2 (ISTAT = 2): foF1 = FC(3) when FC(2) < FC(3) < FC(4);
//     FMAX, FOF2P and foF2 = FC(4).
//  3. The boundary cells are reordered for output: FC(4) = foE, FC(2) = foF1; FC(4) = 0
//     without a scaled F1 layer (LF1 = 0) or with an F1 root failure (IROOTF1 > 0).
//  4. NN and the record's coefficient count = 5.
//  5. Without an inverted profile the E coefficients of a model-foE layer are cleared.
//  6. The valley moves to the output pair (VWOUT, VDOUT) and VW = VD = 0; without an
//     inverted profile the output pair and the F1 and F2 coefficients are cleared.
//  7. ER(1..3) rounded to 0.001 km.
// At IDEBUG >= 2 one summary line with the version number and the quality flags.
// Reads and writes the Inversion area only.
void TOTOLMIR(Zelk& z) {
    inversion::Inversion& inv = z.inv;
    const bool inverted = inv.ISTAT() == inversion::ISTAT_OK;

    if (inv.IEFLAG == 1 || inv.IEFLAG == 3)
        inv.FOE = inv.FC(2);
    else if (inv.IEFLAG == 2)
        inv.FOE = FOE_MODEL_MARK;

    if (inverted) {
        if (inv.FC(2) < inv.FC(3) && inv.FC(3) < inv.FC(4)) inv.FOF1 = inv.FC(3);
        inv.FMAX = inv.FC(4);
        inv.FOF2P = inv.FC(4);
        inv.FOF2 = inv.FC(4);
    }

    inv.FC(4) = inv.FC(2);
    inv.FC(2) = inv.FC(3);
    if (inv.LF1() == 0 || inv.IROOTF1 > 0) inv.FC(4) = 0.0f;

    inv.NN = 5;
    inv.NCOEF = 5;

    if (inv.IEFLAG == 2 && !inverted) inv.A_E.fill(0.0f);

    inv.VWOUT = inv.VW;
    inv.VDOUT = inv.VD;
    inv.VW = 0.0f;
    inv.VD = 0.0f;
    if (!inverted) {
        inv.VWOUT = 0.0f;
        inv.VDOUT = 0.0f;
        inv.A_F1.fill(0.0f);
        inv.A_F2.fill(0.0f);
    }

    for (int k = 1; k <= 3; ++k) inv.ER(k) = round3(inv.ER(k));

    if (z.log.IDEBUG >= 2) {
        // The version number is characters 5..8 of the version identifier ("4.31").
        std::ostream& os = z.log.os();
        os << " ******* ZELK " << " ZK " << std::string(inv.VERSION + 4, 4) << "  FLAGS : ";
        for (int k = 1; k <= inv.IQUALE.size(); ++k) os << fio::edit_value("(I3)", inv.IQUALE(k));
        os << " *******\n";
    }
}

}  // namespace zelk::pipeline
