// Scaffolding shared by the generators of the coefficient files (gen_teccof, gen_b0b1dt):
// 20-point Gauss-Legendre quadrature on panels graded towards 0, the shifted Chebyshev
// polynomials of the profile basis, and the writing of a table in its binary and text forms.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

#include "core/fortran_io.hpp"

namespace zelk::tools {

// 20-point Gauss-Legendre nodes and weights on [-1, 1], computed once by Newton's method
// (at most 100 steps a node; the nodes converge in a handful).
struct Gauss {
    static constexpr int N = 20;
    double x[N], w[N];
    Gauss() {
        for (int i = 0; i < N; ++i) {
            double z = std::cos(M_PI * (i + 0.75) / (N + 0.5));
            double dp = 1.0;
            for (int it = 0; it < 100; ++it) {
                double p0 = 1.0, p1 = z;
                for (int k = 2; k <= N; ++k) {
                    const double p2 = ((2.0 * k - 1.0) * z * p1 - (k - 1.0) * p0) / k;
                    p0 = p1;
                    p1 = p2;
                }
                dp = N * (z * p1 - p0) / (z * z - 1.0);
                const double dz = p1 / dp;
                z -= dz;
                if (std::fabs(dz) < 1e-16) break;
            }
            x[i] = z;
            w[i] = 2.0 / ((1.0 - z * z) * dp * dp);
        }
    }
};

// Shifted Chebyshev polynomials T*_0..T*_4 at u.
inline void tstar(double u, double t[5]) {
    const double s = 2.0 * u - 1.0;
    t[0] = 1.0;
    t[1] = s;
    for (int k = 2; k < 5; ++k) t[k] = 2.0 * s * t[k - 1] - t[k - 2];
}

// Calls f(t, half, w) at every node t of [0, 1] split into the panels [0, 2^-P],
// [2^-P, 2^-P+1], ..., [1/2, 1]: the node's weight is half * w (half the panel width times
// the Gauss weight), passed as two factors so that each generator keeps its own order of
// multiplication, on which the last bit of its tables depends.
template <class Fn>
void graded_quadrature(const Gauss& g, int P, Fn&& f) {
    double lo = 0.0;
    for (int p = P; p >= 0; --p) {
        const double hi = std::ldexp(1.0, -p);
        const double mid = 0.5 * (lo + hi), half = 0.5 * (hi - lo);
        for (int i = 0; i < Gauss::N; ++i) f(mid + half * g.x[i], half, g.w[i]);
        lo = hi;
    }
}

// The two forms of a table of rows of six values: DIR/STEM.BIN (six 4-byte little-endian
// reals a row, no record markers) and DIR/STEM.ASC (one line a row under the format FMT).
class TableFiles {
public:
    TableFiles(const std::string& dir, const std::string& stem, const char* fmt)
        : fmt_(fmt) {
        bin_ = std::fopen((dir + "/" + stem + ".BIN").c_str(), "wb");
        ok_ = bin_ != nullptr && asc_.open(dir + "/" + stem + ".ASC") && fmt_.ok();
    }
    ~TableFiles() {
        if (bin_ != nullptr) std::fclose(bin_);
    }
    TableFiles(const TableFiles&) = delete;
    TableFiles& operator=(const TableFiles&) = delete;

    // False when either file could not be created.
    bool ok() const { return ok_; }

    // Appends a row: the binary form from the values rounded to float, the text form from
    // the values themselves. The binary form is little-endian; so is every machine the
    // program is built for.
    void row(const double v[6]) {
        float f[6];
        for (int k = 0; k < 6; ++k) f[k] = static_cast<float>(v[k]);
        if (std::fwrite(f, sizeof(float), 6, bin_) != 6) ok_ = false;
        fio::write_group(asc_.out(), fmt_, v, 6);
        asc_.commit();
    }

    // Closes both files; false when any write failed.
    bool close() {
        const bool bin_ok = std::fclose(bin_) == 0;
        bin_ = nullptr;
        return asc_.close() && bin_ok && ok_;
    }

private:
    fio::FortranFormat fmt_;
    std::FILE* bin_ = nullptr;
    fio::LineWriter asc_;
    bool ok_ = false;
};

}  // namespace zelk::tools
