// The 16-point Gauss-Legendre rule on [0,1] that every kernel build of the inversion
// integrates with: nodes t_j = (1 + x_j)/2 and weights w_j = W_j/2 of the standard rule on
// [-1,1], rising nodes, and t_j^2.
#pragma once

#include <cmath>

namespace zelk::inversion {

inline constexpr int NG = 16;

namespace gauss_detail {
// Abscissae x and weights W of the rule on [-1,1], positive half.
inline constexpr double GLX[8] = {0.0950125098376374401853193, 0.2816035507792589132304605,
                                  0.4580167776572273863424194, 0.6178762444026437484466718,
                                  0.7554044083550030338951012, 0.8656312023878317438804679,
                                  0.9445750230732325760779884, 0.9894009349916499325961542};
inline constexpr double GLW[8] = {0.1894506104550684962853967, 0.1826034150449235888667637,
                                  0.1691565193950025381893121, 0.1495959888165767320815017,
                                  0.1246289712555338720524763, 0.0951585116824927848099251,
                                  0.0622535239386478928628438, 0.0271524594117540948517806};
}  // namespace gauss_detail

struct GaussTables {
    float T[NG];
    float W[NG];
    float T2[NG];
};

constexpr GaussTables makeGaussTables() {
    GaussTables g{};
    for (int j = 0; j < NG; ++j) {
        const bool lower = j < NG / 2;
        const int m = lower ? NG / 2 - 1 - j : j - NG / 2;
        const double t = 0.5 * (1.0 + (lower ? -gauss_detail::GLX[m] : gauss_detail::GLX[m]));
        g.T[j] = static_cast<float>(t);
        g.W[j] = static_cast<float>(0.5 * gauss_detail::GLW[m]);
        g.T2[j] = static_cast<float>(t * t);
    }
    return g;
}

inline constexpr GaussTables GL = makeGaussTables();

// The rule's nodes on the rising side of the valley, from FV up to the top fe of the region
// below (S2 = fe^2 - FV^2): the plasma frequencies squared P and their roots ROOT, the same
// for every wave and frequency that crosses it.
inline void valley_rising_nodes(float fe, float S2, float* P, float* ROOT) {
    for (int k = 0; k < NG; ++k) {
        P[k] = fe * fe - S2 * GL.T[k] * GL.T[k];
        ROOT[k] = std::sqrt(P[k]);
    }
}

}  // namespace zelk::inversion
