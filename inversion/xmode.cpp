// Extraordinary-wave virtual heights: the forward model of kernels.cpp with the group
// refractive index of the extraordinary (X) wave and its reflection condition.
//
// The inversion itself uses ordinary-wave data only; these routines let a solved profile be
// judged against the observed X trace. The X wave at sounding frequency f reflects where
// fN^2 = f (f - FH), so the node substitution of the ordinary kernels becomes
// fN^2 = F2X - (F2X - FSTART^2) t^2 with F2X = f (f - FH). Nothing here writes the Inversion
// area: every routine reads the solved profile and keeps its kernels in an XKernels scratch,
// so a plot may call them between solver steps without disturbing the solver.
// Single precision throughout, as in the ordinary-wave model.
#include <algorithm>
#include <cmath>
#include <vector>

#include "inversion/group_index.hpp"
#include "inversion/inversion.hpp"
#include "inversion/memo.hpp"
#include "inversion/quadrature.hpp"

namespace zelk::inversion {

namespace {

// Margin (MHz) that keeps a node's plasma frequency below FEND in SXIKP, as in SIKP.
constexpr float FEND_MARGIN = 0.000001f;

// DTST_i at u for i = 1..nn into out[1..nn].
void dtstAll(const Inversion& inv, float u, int nn, float* out) {
    for (int i = 1; i <= nn; ++i) out[i] = DTST(inv, u, i);
}

int clampNN(int nn, int hi) { return nn < 0 ? 0 : (nn > hi ? hi : nn); }

// MU(j) = GXSUB(t_j, F, FN2(j)) at the NG quadrature nodes t_j, in one pass that vectorises.
void xIndices(const Inversion& inv, float F, const float* __restrict FN2, float* __restrict MU) {
    const XWave x = xWave(F, inv.FH);
    if (!x.propagates()) {
        for (int j = 0; j < NG; ++j) MU[j] = 0.0f;
        return;
    }
    const float GX1 = inv.GX1, GX2 = inv.GX2;
    for (int j = 0; j < NG; ++j) MU[j] = xIndex(x, GX1, GX2, GL.T[j], FN2[j]);
}

// The X kernels and the valley's X group indices, kept per thread as the ordinary ones are
// (memo.hpp): a profile is judged against the same X frequencies for every trial valley.
thread_local KernelMemo sxik_memo, sxikp_memo, valley_x_memo;

// The inputs an X kernel build reads besides its own arguments: the gyrofrequency, the X
// dip constants and the rows of the derivative table in use.
void add_x_common(KernelMemo& m, const Inversion& inv, int nn) {
    m.add(static_cast<float>(nn));
    for (float v : {inv.FH, inv.GX1, inv.GX2}) m.add(v);
    for (int i = 1; i <= nn; ++i)
        for (int k = 1; k <= i; ++k) m.add(inv.CV(i, k));
}

}  // namespace

// GXSUB: W times the group refractive index d(f n)/df of the collisionless extraordinary
// wave (Appleton-Hartree, vertical propagation, the wave normal at 90 degrees - dip to the
// field). Given the weight W, the sounding frequency F (MHz), the plasma frequency squared
// FN2 (MHz^2) and the gyrofrequency FH (MHz); reads the X dip constants GX1 = 4 sin^2 I /
// (1 + sin^2 I)^2 and GX2 = 2 sin^2 I / (1 + sin^2 I) (GOGXCOM). Returns 0 where the X wave
// cannot propagate: at or above its reflection level T = FN2 / (F (F - FH)) >= 1, and for
// F <= FH (no X wave below the gyrofrequency; its formula would take the root of a
// negative number there). H vanishes at reflection like 1 - T, so callers pass the node t
// as W to remove the singularity, as for the ordinary wave.
float GXSUB(const Inversion& inv, float W, float F, float FN2, float FH) {
    const XWave x = xWave(F, FH);
    return x.propagates() ? xIndex(x, inv.GX1, inv.GX2, W, FN2) : 0.0f;
}

// CDX: F2X = F (F - FH), the plasma frequency squared at which the X wave of frequency F
// (MHz) reflects, and DF2X = F2X - FSTART^2 when F is above FXS = (sqrt(FH^2 + 4 FSTART^2) +
// FH)/2, the frequency whose X wave reflects at FSTART; DF2X = 0 otherwise (the wave does not
// enter the region).
void CDX(float FSTART, float FH, float F, XKernels& x) {
    const float FXS = (std::sqrt(FH * FH + 4.0f * FSTART * FSTART) + FH) / 2.0f;
    x.F2X = (F - FH) * F;
    x.DF2X = F > FXS ? x.F2X - FSTART * FSTART : 0.0f;
}

// SXIK: X kernels GX(i), i = 1..NN (at most 8), of the region [FSTART, FEND] for the one
// frequency whose F2X and DF2X CDX has set: with L = ln(FSTART/FEND), ZX(j) = F2X - DF2X t_j^2
// and u_j = ln(sqrt(ZX(j))/FEND)/L,
//     GX(i) = sum_j GXSUB(t_j, F, ZX(j)) DF2X (0.5/(ZX(j) L)) w_j DTST_i(u_j)/sqrt(u_j).
// DF2X = 0 gives zero kernels. Reads FH, the X dip constants and CV.
void SXIK(const Inversion& inv, float FSTART, float FEND, int NN, float F, XKernels& x) {
    const int nn = clampNN(NN, MAXNN);
    x.GX.fill(0.0f);
    if (x.DF2X == 0.0f) return;
    KernelMemo& memo = sxik_memo;
    memo.begin();
    add_x_common(memo, inv, nn);
    for (float v : {FSTART, FEND, F, x.F2X, x.DF2X}) memo.add(v);
    float* const row = &x.GX(1);
    if (memo.take(&row, 1, nn)) return;
    const float L = std::log(FSTART / FEND);
    // The group index at every node in one vectorised pass, then the sums in node order.
    float zx[NG], mux[NG];
    for (int j = 0; j < NG; ++j) zx[j] = x.F2X - x.DF2X * GL.T[j] * GL.T[j];
    xIndices(inv, F, zx, mux);
    float dt[MAXNN + 1];
    for (int j = 0; j < NG; ++j) {
        const float u = std::log(std::sqrt(zx[j]) / FEND) / L;
        const float term = mux[j] * x.DF2X * (0.5f / (zx[j] * L)) * GL.W[j] / std::sqrt(u);
        dtstAll(inv, u, nn, dt);
        for (int i = 1; i <= nn; ++i) x.GX(i) += term * dt[i];
    }
    memo.keep(&row, 1, nn);
}

// SXIKP: partial X kernels GPX(i), i = 1..NN (at most 5), over [FSTART, FP] for the sounding
// frequency F: with R = sqrt(FP^2 - FSTART^2), ZX(j) = (FP + R t_j)(FP - R t_j),
//     GPX(i) = 0.5 (FP^2 - FSTART^2)/L sum_j GXSUB(t_j, F, ZX(j)) w_j DTST_i(u_j)/(ZX(j) sqrt(u_j)),
// u_j from the node's plasma frequency, taken as FEND - 0.000001 MHz when it is not below
// FEND. Nodes above the X reflection level contribute 0; FP <= FSTART gives zero kernels.
// SXIKP_MANY gives the same at N frequencies F(0..N-1), the kernels of frequency k in
// GPX[k][1..NN]: the nodes do not depend on the frequency and are set up once.
void SXIKP_MANY(const Inversion& inv, float FSTART, float FEND, int NN, float FP, const float* F,
                int N, float (*GPX)[6]) {
    const int nn = clampNN(NN, 5);
    for (int k = 0; k < N; ++k)
        for (int i = 0; i < 6; ++i) GPX[k][i] = 0.0f;
    const float R2 = FP * FP - FSTART * FSTART;
    if (!(R2 > 0.0f) || N <= 0) return;
    KernelMemo& memo = sxikp_memo;
    memo.begin();
    add_x_common(memo, inv, nn);
    for (float v : {FSTART, FEND, FP}) memo.add(v);
    memo.add(F, N);
    thread_local std::vector<float*> rows;
    rows.resize(static_cast<std::size_t>(N));
    for (int k = 0; k < N; ++k) rows[static_cast<std::size_t>(k)] = &GPX[k][1];
    if (memo.take(rows.data(), N, nn)) return;
    const float L = std::log(FSTART / FEND);
    const float R = std::sqrt(R2);
    float zx[NG], den[NG], dt[NG][MAXNN + 1];
    for (int j = 0; j < NG; ++j) {
        zx[j] = (FP + R * GL.T[j]) * (FP - R * GL.T[j]);
        float fn = std::sqrt(zx[j]);
        if (fn >= FEND) fn = FEND - FEND_MARGIN;
        const float u = std::log(fn / FEND) / L;
        den[j] = zx[j] * std::sqrt(u);
        dtstAll(inv, u, nn, dt[j]);
    }
    for (int k = 0; k < N; ++k) {
        float w[NG];
        xIndices(inv, F[k], zx, w);
        for (int j = 0; j < NG; ++j) w[j] = w[j] * GL.W[j] / den[j];
        float sum[5 + 1] = {};
        for (int j = 0; j < NG; ++j)
            for (int i = 1; i <= nn; ++i) sum[i] += w[j] * dt[j][i];
        for (int i = 1; i <= nn; ++i) GPX[k][i] = 0.5f * R2 / L * sum[i];
    }
    memo.keep(rows.data(), N, nn);
}

void SXIKP(const Inversion& inv, float FSTART, float FEND, int NN, float FP, float F,
           XKernels& x) {
    float gpx[1][6];
    SXIKP_MANY(inv, FSTART, FEND, NN, FP, &F, 1, gpx);
    for (int i = 1; i <= 5; ++i) x.GPX(i) = gpx[0][i];
}

// RECVIRTX: X-wave virtual height (km) at sounding frequency F (MHz) through the solved
// profile up to region IRGN (1..3), the parts chosen by MODE as in RECVIRT (1 current region,
// 2 E part, 3 valley, 4 F1 part, any other value all). Reads A_E, A_F1, A_F2, FC, HBASE(1),
// ZME, the valley (VW, FV, VW1..VW3, VSLOPE), FH, the X dip constants and CV; writes nothing.
//   current region: the X kernels of region IRGN with its saved coefficients; a wave that
//           reflects above the region's top (F2X > FC(IRGN+1)^2) passes through it and gets
//           its group path up to the top, as in RECVIRT;
//   E part: HBASE(1) for IRGN 1; otherwise HBASE(1) plus the X group path through the E
//           layer, never below ZME;
//   valley: for IRGN 2 or 3 with VW > 0: falling side (SXIKP with VSLOPE), flat bottom
//           (VW2 times the X index at FV) and rising side (16-node integral from FV to foE),
//           each at least its width and skipped when its width is not positive;
//   F1 part: for IRGN 3 when FC(3) differs from FC(2).
// IRGN outside 1..3 gives 0.
namespace {

// The most frequencies of one pass of RECVIRTX_MANY.
constexpr int RECVIRTX_BATCH = 256;

void recvirtx_batch(const Inversion& inv, const float* F, int n, int MODE, float* H) {
    const int irgn = inv.IRGN;
    const bool all = MODE < 1 || MODE > 4;
    XKernels x;
    float gpx[RECVIRTX_BATCH][6], fsub[RECVIRTX_BATCH];
    int ks[RECVIRTX_BATCH];
    float hcur[RECVIRTX_BATCH], he[RECVIRTX_BATCH], hval[RECVIRTX_BATCH], hf1[RECVIRTX_BATCH];
    for (int k = 0; k < n; ++k) hcur[k] = he[k] = hval[k] = hf1[k] = 0.0f;

    if (all || MODE == 1) {
        const float FS = inv.FC(irgn), FE = inv.FC(irgn + 1);
        const int nn = irgn == 1 ? 3 : 5;
        float a[5 + 1] = {};
        for (int i = 1; i <= nn; ++i)
            a[i] = irgn == 1 ? inv.A_E(i) : (irgn == 2 ? inv.A_F1(i) : inv.A_F2(i));
        // A wave that reflects above the region's top passes through it (its partial kernels
        // up to the top, all such frequencies at once); the others reflect inside.
        int m = 0;
        for (int k = 0; k < n; ++k) {
            CDX(FS, inv.FH, F[k], x);
            if (x.F2X > FE * FE) {
                ks[m] = k;
                fsub[m++] = F[k];
            } else {
                SXIK(inv, FS, FE, nn, F[k], x);
                for (int i = 1; i <= nn; ++i) hcur[k] += a[i] * x.GX(i);
            }
        }
        if (m > 0) SXIKP_MANY(inv, FS, FE, nn, FE, fsub, m, gpx);
        for (int j = 0; j < m; ++j)
            for (int i = 1; i <= nn; ++i) hcur[ks[j]] += a[i] * gpx[j][i];
    }
    if (all || MODE == 2) {
        for (int k = 0; k < n; ++k) he[k] = inv.HBASE(1);
        if (irgn != 1) {
            SXIKP_MANY(inv, inv.FC(1), inv.FC(2), 3, inv.FC(2), F, n, gpx);
            for (int k = 0; k < n; ++k) {
                for (int i = 1; i <= 3; ++i) he[k] += inv.A_E(i) * gpx[k][i];
                if (he[k] < inv.ZME) he[k] = inv.ZME;
            }
        }
    }
    if ((all || MODE == 3) && irgn >= 2 && inv.VW > 0.0f) {
        const float fe = inv.FC(2), FV = inv.FV;
        if (inv.VW1 > 0.0f) {
            SXIKP_MANY(inv, FV, fe, 3, fe, F, n, gpx);
            for (int k = 0; k < n; ++k) {
                float d1 = 0.0f;
                for (int j = 1; j <= 3; ++j) d1 += gpx[k][j] * inv.VSLOPE(j);
                hval[k] += at_least_width(d1, inv.VW1);
            }
        }
        // The X index at FV and its integral over the rising side do not depend on the
        // widths: kept.
        const float s2 = fe * fe - FV * FV;
        float p[NG], root[NG];
        valley_rising_nodes(fe, s2, p, root);
        for (int k = 0; k < n; ++k) {
            KernelMemo& memo = valley_x_memo;
            memo.begin();
            add_x_common(memo, inv, 0);
            for (float v : {F[k], fe, FV}) memo.add(v);
            float index[2];
            float* const row = index;
            if (!memo.take(&row, 1, 2)) {
                index[0] = GXSUB(inv, 1.0f, F[k], FV * FV, inv.FH);
                float mu[NG];
                xIndices(inv, F[k], p, mu);
                float sum = 0.0f;
                for (int j = 0; j < NG; ++j) sum += GL.W[j] * mu[j] / root[j];
                index[1] = sum;
                memo.keep(&row, 1, 2);
            }
            if (inv.VW2 > 0.0f) hval[k] += at_least_width(inv.VW2 * index[0], inv.VW2);
            if (inv.VW3 > 0.0f) hval[k] += at_least_width(inv.VW3 / (fe - FV) * s2 * index[1], inv.VW3);
        }
    }
    if ((all || MODE == 4) && irgn == 3 && inv.FC(3) != inv.FC(2)) {
        SXIKP_MANY(inv, inv.FC(2), inv.FC(3), 5, inv.FC(3), F, n, gpx);
        for (int k = 0; k < n; ++k)
            for (int i = 1; i <= 5; ++i) hf1[k] += inv.A_F1(i) * gpx[k][i];
    }
    for (int k = 0; k < n; ++k) H[k] = hcur[k] + he[k] + hval[k] + hf1[k];
}

}  // namespace

void RECVIRTX_MANY(const Inversion& inv, const float* F, int N, int MODE, float* H) {
    if (inv.IRGN < 1 || inv.IRGN > 3) {
        for (int k = 0; k < N; ++k) H[k] = 0.0f;
        return;
    }
    for (int k0 = 0; k0 < N; k0 += RECVIRTX_BATCH)
        recvirtx_batch(inv, F + k0, std::min(RECVIRTX_BATCH, N - k0), MODE, H + k0);
}

float RECVIRTX(const Inversion& inv, float F, int MODE) {
    float h = 0.0f;
    RECVIRTX_MANY(inv, &F, 1, MODE, &h);
    return h;
}

}  // namespace zelk::inversion
