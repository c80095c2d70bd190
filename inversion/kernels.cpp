// Refractive-index kernels and virtual height: the forward model of the inversion.
//
// For a region from plasma frequency FSTART to FEND with h(fN) = HTOP + sum A(i) PHI_i(u(fN)),
// the virtual height of an ordinary echo at sounding frequency f reflecting inside the region is
//     h'(f) = (group path below the region) + sum_i A(i) G_i(f),
//     G_i(f) = integral from FSTART to f of mu'(f, fN) dPHI_i/dfN dfN,
// with mu' the group refractive index. The substitution fN^2 = f^2 - (f^2 - FSTART^2) t^2 maps
// reflection to t = 0 and FSTART to t = 1 and removes the 1/sqrt(1 - X) singularity of mu',
// so a fixed 16-point Gauss-Legendre rule on [0,1] is accurate. Everything is single
// precision, as the documented results of the inversion assume.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "inversion/group_index.hpp"
#include "inversion/inversion.hpp"
#include "inversion/memo.hpp"
#include "inversion/quadrature.hpp"

namespace zelk::inversion {

namespace {

// Margin (MHz) by which SIKP keeps a node's plasma frequency below FEND, so that ln u stays
// finite at the top of the region.
constexpr float FEND_MARGIN = 0.000001f;

// Rows 1..NN of the derivative table CV as one contiguous block, highest power first.
struct CvRows {
    float c[MAXNN + 1][MAXNN + 1];
};
inline CvRows cvRows(const Inversion& inv, int NN) {
    CvRows r{};
    for (int i = 1; i <= NN; ++i)
        for (int k = 1; k <= i; ++k) r.c[i][k] = inv.CV(i, k);
    return r;
}

// DTST_I at every node: Horner's rule on row I of the derivative table (highest power first),
// one pass over the nodes per coefficient so that each pass vectorises.
inline void hornerNodes(const float* row, int I, const float* u, float* out) {
    for (int j = 0; j < NG; ++j) out[j] = row[1];
    for (int k = 2; k <= I; ++k) {
        const float c = row[k];
        for (int j = 0; j < NG; ++j) out[j] = out[j] * u[j] + c;
    }
}

inline int clampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

thread_local KernelMemo sik_memo, sikp_memo;

// The inputs every kernel build reads: the sizes, the region's frequencies, the
// gyrofrequency, the dip constants, the rows of the derivative table in use and the
// sounding frequencies.
void add_common(KernelMemo& m, const Inversion& inv, const CvRows& cv, int nn, int nfq) {
    m.begin();
    m.add(static_cast<float>(nn));
    m.add(static_cast<float>(nfq));
    for (float v : {inv.FSTART, inv.FEND, inv.FH, inv.GC1, inv.GC2, inv.GC3, inv.GC4}) m.add(v);
    for (int i = 1; i <= nn; ++i) m.add(&cv.c[i][1], i);
    m.add(inv.FQ.data() + 1, nfq);
}

}  // namespace

// GOSUB: W times the group refractive index d(f n)/df of the collisionless ordinary wave
// (Appleton-Hartree, vertical propagation, the wave normal at 90 degrees - dip to the field).
// Given the weight W, the sounding frequency F (MHz), the plasma frequency squared FN2
// (MHz^2) and the gyrofrequency FH (MHz); reads the dip constants GC1..GC4 (set per dip
// from the dip). Returns 0 at or above reflection (FN2 >= F^2). The factor 1/sqrt(1 - X) is
// the integrable singularity at reflection; callers pass in W a factor that removes it.
float GOSUB(const Inversion& inv, float W, float F, float FN2, float FH) {
    return groupIndex(inv.GC1, inv.GC2, inv.GC3, inv.GC4, W, F, FN2, FH);
}

// CDO: squared fit frequencies for the kernels. Reads FQ(1..NFQ), FSTART; writes
// F2K(K) = FQ(K)^2 and DF2K(K) = FQ(K)^2 - FSTART^2, or 0 when FQ(K) <= FSTART.
void CDO(Inversion& inv) {
    const int nfq = clampInt(inv.NFQ, 0, MAXTRC);
    const float fs2 = inv.FSTART * inv.FSTART;
    for (int K = 1; K <= nfq; ++K) {
        const float f2 = inv.FQ(K) * inv.FQ(K);
        inv.F2K(K) = f2;
        inv.DF2K(K) = f2 > fs2 ? f2 - fs2 : 0.0f;
    }
}

// SIK: kernels G(i,K), i = 1..NN, K = 1..NFQ, of the current region over [FSTART, FQ(K)].
// Reads FSTART, FEND (0 < FSTART < FEND), NN (1..8), NFQ, FQ, F2K, DF2K (from CDO), FH, the
// dip constants and CV; writes G. A frequency at or below FSTART gets zero kernels; a
// frequency above FEND has no reflection in the region and must not be given (use SIKP).
// With L = ln(FSTART/FEND) and the node substitution ZJ = F2K - DF2K t_j^2:
//     G(i,K) = sum_j MU_j DF2K (0.5/(ZJ L)) w_j DTST_i(u_j)/sqrt(u_j),
//     MU_j = GOSUB(t_j, FQ(K), ZJ), u_j = ln(sqrt(ZJ)/FEND)/L.
// This is the inner loop of the inversion: per frequency the node arithmetic runs over
// fixed-length local arrays (the group index and the weights vectorise; only the logarithm
// is a scalar call), and nothing is allocated.
void SIK(Inversion& inv) {
    const int nn = clampInt(inv.NN, 0, MAXNN);
    const int nfq = clampInt(inv.NFQ, 0, MAXTRC);
    const float L = std::log(inv.FSTART / inv.FEND);
    const float FEND = inv.FEND, FH = inv.FH;
    const float GC1 = inv.GC1, GC2 = inv.GC2, GC3 = inv.GC3, GC4 = inv.GC4;
    const CvRows cv = cvRows(inv, nn);
    const float* fq = inv.FQ.data();
    const float* f2k = inv.F2K.data();
    const float* df2k = inv.DF2K.data();
    float* g[MAXNN + 1] = {};
    for (int i = 1; i <= nn; ++i) g[i] = &inv.G(i, 0);

    KernelMemo& memo = sik_memo;
    add_common(memo, inv, cv, nn, nfq);
    memo.add(f2k + 1, nfq);
    memo.add(df2k + 1, nfq);
    float* rows[MAXNN];
    for (int i = 1; i <= nn; ++i) rows[i - 1] = g[i] + 1;
    if (memo.take(rows, nn, nfq)) return;

    for (int K = 1; K <= nfq; ++K) {
        const float df2 = df2k[K];
        if (df2 == 0.0f) {
            for (int i = 1; i <= nn; ++i) g[i][K] = 0.0f;
            continue;
        }
        const float f = fq[K], f2 = f2k[K];
        float zj[NG], mu[NG], u[NG], term[NG], val[NG];
        for (int j = 0; j < NG; ++j) {
            zj[j] = f2 - df2 * GL.T2[j];
            mu[j] = groupIndex(GC1, GC2, GC3, GC4, GL.T[j], f, zj[j], FH);
        }
        for (int j = 0; j < NG; ++j) u[j] = std::log(std::sqrt(zj[j]) / FEND) / L;
        for (int j = 0; j < NG; ++j)
            term[j] = mu[j] * df2 * (0.5f / (zj[j] * L)) * GL.W[j] / std::sqrt(u[j]);
        for (int i = 1; i <= nn; ++i) {
            hornerNodes(cv.c[i], i, u, val);
            float sum = 0.0f;
            for (int j = 0; j < NG; ++j) sum += term[j] * val[j];
            g[i][K] = sum;
        }
    }
    memo.keep(rows, nn, nfq);
}

// SIKP: partial kernels GP(i,K), i = 1..NN (at most 5), K = 1..NFQ, over [FSTART, FP]
// instead of [FSTART, FQ(K)]: the group path through the part of the region below the plasma
// frequency FP (MHz). Reads FSTART, FEND, NN, NFQ, FQ, FH, the dip constants and CV; writes GP.
// With R^2 = FP^2 - FSTART^2 the nodes are ZJ = (FP - R t_j)(FP + R t_j), the same for every
// K; a node's plasma frequency at or above FEND is taken as FEND - 0.000001 MHz, so ln u stays
// finite. Nodes whose plasma frequency is at or above FQ(K) contribute 0 (the wave reflects
// below them). FP at or below FSTART is an empty interval and gives zero kernels.
void SIKP(Inversion& inv, float FP) {
    const int nn = clampInt(inv.NN, 0, 5);
    const int nfq = clampInt(inv.NFQ, 0, MAXTRC);
    const float R2 = FP * FP - inv.FSTART * inv.FSTART;
    if (!(R2 > 0.0f)) {
        for (int i = 1; i <= nn; ++i)
            for (int K = 1; K <= nfq; ++K) inv.GP(i, K) = 0.0f;
        return;
    }
    const CvRows cv = cvRows(inv, nn);
    KernelMemo& memo = sikp_memo;
    add_common(memo, inv, cv, nn, nfq);
    memo.add(FP);
    float* rows[5];
    for (int i = 1; i <= nn; ++i) rows[i - 1] = &inv.GP(i, 1);
    if (memo.take(rows, nn, nfq)) return;
    const float L = std::log(inv.FSTART / inv.FEND);
    const float R = std::sqrt(R2);
    const float scale = 0.5f * R2 / L;
    float zj[NG], u[NG], base[NG], dt[5 + 1][NG];
    for (int j = 0; j < NG; ++j) {
        zj[j] = (FP - R * GL.T[j]) * (FP + R * GL.T[j]);
        float fn = std::sqrt(zj[j]);
        if (fn >= inv.FEND) fn = inv.FEND - FEND_MARGIN;
        u[j] = std::log(fn / inv.FEND) / L;
        base[j] = GL.W[j] / (zj[j] * std::sqrt(u[j]));
    }
    for (int i = 1; i <= nn; ++i) hornerNodes(cv.c[i], i, u, dt[i]);
    const float FH = inv.FH;
    const float GC1 = inv.GC1, GC2 = inv.GC2, GC3 = inv.GC3, GC4 = inv.GC4;
    for (int K = 1; K <= nfq; ++K) {
        const float f = inv.FQ(K);
        float w[NG];
        for (int j = 0; j < NG; ++j)
            w[j] = groupIndex(GC1, GC2, GC3, GC4, GL.T[j], f, zj[j], FH) * base[j];
        for (int i = 1; i <= nn; ++i) {
            float sum = 0.0f;
            for (int j = 0; j < NG; ++j) sum += w[j] * dt[i][j];
            inv.GP(i, K) = scale * sum;
        }
    }
    memo.keep(rows, nn, nfq);
}

// DTST: DTST_I(U) = 2 sqrt(U) d/dU [sqrt(U) T*_{I-1}(U)], by Horner's rule on row I of CV
// (filled by SETCV). I outside 1..8 gives 0.
float DTST(const Inversion& inv, float U, int I) {
    if (I < 1 || I > MAXNN) return 0.0f;
    float p = inv.CV(I, 1);
    for (int k = 2; k <= I; ++k) p = p * U + inv.CV(I, k);
    return p;
}

// start_derivative: D(1) = sum A(i) DTST_i(1), i = 1..NN, which is 2 dh/du at the region's
// start (u = 1).
float start_derivative(const Inversion& inv, const float* A, int NN) {
    float d = 0.0f;
    for (int i = 1; i <= NN; ++i) d += A[i] * DTST(inv, 1.0f, i);
    return d;
}

// CHNGSIKP: adds to G the partial kernels GP (computed by SIKP over [FSTART, FP] in the basis
// of the current FSTART) re-expressed in the basis whose start frequency is FP:
// lambda = ln(FSTART/FEND)/ln(FP/FEND), S from SETLAMPT and SETS, and for K = 1..NFQ,
// J = 1..NN: G(J,K) += sum over i = 1..J of GP(i,K) S(i,J). NN above 5 is treated as 5.
void CHNGSIKP(Inversion& inv, float FP) {
    const int nn = clampInt(inv.NN, 0, 5);
    const int nfq = clampInt(inv.NFQ, 0, MAXTRC);
    const float lambda = std::log(inv.FSTART / inv.FEND) / std::log(FP / inv.FEND);
    F2<float, 5, 5> P, S;
    SETLAMPT(nn, lambda, P);
    SETS(nn, P, S);
    for (int K = 1; K <= nfq; ++K) {
        for (int J = 1; J <= nn; ++J) {
            float sum = 0.0f;
            for (int i = 1; i <= J; ++i) sum += inv.GP(i, K) * S(i, J);
            inv.G(J, K) += sum;
        }
    }
}

// VIRTUAL: model virtual height (km) at FQ(K): sum over i = 1..NN of G(i,K) A(i), plus the
// group path below the region: IRGN 1 the E base height HBASE(1); 2 DHE(K) + DHV(K);
// 3 DHE(K) + DHV(K) + DHF1(K).
float VIRTUAL(const Inversion& inv, int K) {
    const int nn = clampInt(inv.NN, 0, MAXNN);
    float h = 0.0f;
    for (int i = 1; i <= nn; ++i) h += inv.G(i, K) * inv.A(i);
    if (inv.IRGN == 1) {
        h += inv.HBASE(1);
    } else if (inv.IRGN == 2) {
        h += inv.DHE(K) + inv.DHV(K);
    } else if (inv.IRGN == 3) {
        h += inv.DHE(K) + inv.DHV(K) + inv.DHF1(K);
    }
    return h;
}

// RECVIRT: virtual height (km) at sounding frequency F (MHz) through the solved profile up to
// region IRGN (1..3), from the saved coefficients A_E, A_F1, A_F2, the boundaries FC, HBASE(1),
// ZME and the valley (VW, FV, VW1..VW3, VSLOPE). MODE selects the parts that are summed:
// 1 the current region, 2 the E part, 3 the valley, 4 the F1 part, any other value all.
//   current region: the kernels of region IRGN over [FC(IRGN), F] with its coefficients;
//           a frequency above the region's top frequency passes through the whole region
//           and gets its group path up to the top (the kernels of SIK are not defined there);
//   E part: HBASE(1) for IRGN 1; for IRGN 2 or 3 HBASE(1) plus the group path through the E
//           layer (SIKP up to FC(2)), never below ZME;
//   valley: for IRGN 2 or 3 with VW > 0, the valley's group path (FNDDHV for this frequency);
//   F1 part: for IRGN 3 when FC(3) differs from FC(2), the group path through the F1 layer.
// Leaves the solver's state as it found it: FSTART, FEND, NN, NFQ, A, and the columns of FQ,
// G, GP, F2K, DF2K and DHV it used are restored. IRGN outside 1..3 gives 0.
// RECVIRT_MANY gives the same at N frequencies F(0..N-1) into H: each part's kernels are
// built once for all of them (a kernel of one frequency does not depend on the others), so
// each height is the float RECVIRT gives, for a fraction of the cost.
namespace {

// The most frequencies of one pass of RECVIRT_MANY (the size of the columns it saves).
constexpr int RECVIRT_BATCH = 256;

// The columns 1..N of the solver's arrays that RECVIRT_MANY uses as scratch, and the scalars.
struct RecvirtSaved {
    float FSTART, FEND;
    int16_t NN, NFQ;
    float A[MAXNN + 1];
    float FQ[RECVIRT_BATCH], F2K[RECVIRT_BATCH], DF2K[RECVIRT_BATCH], DHV[RECVIRT_BATCH];
    float G[MAXNN][RECVIRT_BATCH], GP[5][RECVIRT_BATCH];
};

void save_columns(const Inversion& inv, int n, RecvirtSaved& s) {
    s.FSTART = inv.FSTART;
    s.FEND = inv.FEND;
    s.NN = inv.NN;
    s.NFQ = inv.NFQ;
    for (int i = 1; i <= MAXNN; ++i) s.A[i] = inv.A(i);
    const auto bytes = static_cast<std::size_t>(n) * sizeof(float);
    std::memcpy(s.FQ, &inv.FQ(1), bytes);
    std::memcpy(s.F2K, &inv.F2K(1), bytes);
    std::memcpy(s.DF2K, &inv.DF2K(1), bytes);
    std::memcpy(s.DHV, &inv.DHV(1), bytes);
    for (int i = 1; i <= MAXNN; ++i) std::memcpy(s.G[i - 1], &inv.G(i, 1), bytes);
    for (int i = 1; i <= 5; ++i) std::memcpy(s.GP[i - 1], &inv.GP(i, 1), bytes);
}

void restore_columns(Inversion& inv, int n, const RecvirtSaved& s) {
    inv.FSTART = s.FSTART;
    inv.FEND = s.FEND;
    inv.NN = s.NN;
    inv.NFQ = s.NFQ;
    for (int i = 1; i <= MAXNN; ++i) inv.A(i) = s.A[i];
    const auto bytes = static_cast<std::size_t>(n) * sizeof(float);
    std::memcpy(&inv.FQ(1), s.FQ, bytes);
    std::memcpy(&inv.F2K(1), s.F2K, bytes);
    std::memcpy(&inv.DF2K(1), s.DF2K, bytes);
    std::memcpy(&inv.DHV(1), s.DHV, bytes);
    for (int i = 1; i <= MAXNN; ++i) std::memcpy(&inv.G(i, 1), s.G[i - 1], bytes);
    for (int i = 1; i <= 5; ++i) std::memcpy(&inv.GP(i, 1), s.GP[i - 1], bytes);
}

// The frequencies F(KS(j)), j < N, as the fit frequencies 1..N; F(0..N-1) without KS.
void set_frequencies(Inversion& inv, const float* F, int n, const int* KS = nullptr) {
    inv.NFQ = static_cast<int16_t>(n);
    for (int j = 0; j < n; ++j) inv.FQ(j + 1) = F[KS ? KS[j] : j];
}

// One pass of RECVIRT_MANY, N <= RECVIRT_BATCH.
void recvirt_batch(Inversion& inv, const float* Fin, int n, int MODE, float* H) {
    const int irgn = inv.IRGN;
    // The frequencies are copied first: the caller's may lie in FQ, the scratch below.
    float F[RECVIRT_BATCH];
    std::copy_n(Fin, n, F);
    thread_local RecvirtSaved saved;
    save_columns(inv, n, saved);
    float hcur[RECVIRT_BATCH], he[RECVIRT_BATCH], hval[RECVIRT_BATCH], hf1[RECVIRT_BATCH];
    for (int k = 0; k < n; ++k) hcur[k] = he[k] = hval[k] = hf1[k] = 0.0f;
    const bool all = MODE < 1 || MODE > 4;

    if (all || MODE == 1) {
        const int nn = irgn == 1 ? 3 : 5;
        for (int i = 1; i <= MAXNN; ++i) inv.A(i) = 0.0f;
        for (int i = 1; i <= nn; ++i)
            inv.A(i) = irgn == 1 ? inv.A_E(i) : (irgn == 2 ? inv.A_F1(i) : inv.A_F2(i));
        inv.NN = static_cast<int16_t>(nn);
        const float top = inv.FC(irgn + 1);
        // The frequencies that pass through the whole region get its group path up to the
        // top; the others the kernels up to their reflection.
        for (const bool through : {true, false}) {
            int ks[RECVIRT_BATCH], m = 0;
            for (int k = 0; k < n; ++k)
                if ((F[k] > top) == through) ks[m++] = k;
            if (m == 0) continue;
            inv.FSTART = inv.FC(irgn);
            inv.FEND = top;
            set_frequencies(inv, F, m, ks);
            if (through) {
                SIKP(inv, inv.FEND);
            } else {
                CDO(inv);
                SIK(inv);
            }
            for (int j = 0; j < m; ++j) {
                float h = 0.0f;
                for (int i = 1; i <= nn; ++i)
                    h += (through ? inv.GP(i, j + 1) : inv.G(i, j + 1)) * inv.A(i);
                hcur[ks[j]] = h;
            }
        }
    }
    if (all || MODE == 2) {
        if (irgn == 1) {
            for (int k = 0; k < n; ++k) he[k] = inv.HBASE(1);
        } else {
            inv.FSTART = inv.FC(1);
            inv.FEND = inv.FC(2);
            inv.NN = 3;
            set_frequencies(inv, F, n);
            SIKP(inv, inv.FC(2));
            for (int k = 0; k < n; ++k) {
                float h = inv.HBASE(1);
                for (int i = 1; i <= 3; ++i) h += inv.A_E(i) * inv.GP(i, k + 1);
                he[k] = h < inv.ZME ? inv.ZME : h;
            }
        }
    }
    if ((all || MODE == 3) && irgn >= 2 && inv.VW > 0.0f) {
        inv.FSTART = inv.FC(irgn);
        inv.FEND = inv.FC(irgn + 1);
        set_frequencies(inv, F, n);
        FNDDHV(inv);
        for (int k = 0; k < n; ++k) hval[k] = inv.DHV(k + 1);
    }
    if ((all || MODE == 4) && irgn == 3 && inv.FC(3) != inv.FC(2)) {
        inv.FSTART = inv.FC(2);
        inv.FEND = inv.FC(3);
        inv.NN = 5;
        set_frequencies(inv, F, n);
        SIKP(inv, inv.FC(3));
        for (int k = 0; k < n; ++k) {
            float h = 0.0f;
            for (int i = 1; i <= 5; ++i) h += inv.A_F1(i) * inv.GP(i, k + 1);
            hf1[k] = h;
        }
    }
    restore_columns(inv, n, saved);
    for (int k = 0; k < n; ++k) H[k] = hcur[k] + he[k] + hval[k] + hf1[k];
}

}  // namespace

void RECVIRT_MANY(Inversion& inv, const float* F, int N, int MODE, float* H) {
    const int irgn = inv.IRGN;
    if (irgn < 1 || irgn > 3) {
        for (int k = 0; k < N; ++k) H[k] = 0.0f;
        return;
    }
    for (int k0 = 0; k0 < N; k0 += RECVIRT_BATCH)
        recvirt_batch(inv, F + k0, std::min(RECVIRT_BATCH, N - k0), MODE, H + k0);
}

float RECVIRT(Inversion& inv, float F, int MODE) {
    float h = 0.0f;
    RECVIRT_MANY(inv, &F, 1, MODE, &h);
    return h;
}

}  // namespace zelk::inversion
