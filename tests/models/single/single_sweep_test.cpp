// Expected-value runs of the single-species families by the forward pass over
// history prefixes, held to the cohort walk on random command lines (a fixed
// seed keeps the sweep the same on every run): the default model with
// seasons, removal, false positives, certain detections and missing surveys;
// the detection mixture; and multi-method designs.
#include <gtest/gtest.h>

#include "models/single/forward_sweep.hpp"

using namespace occusim::testing;

namespace {

constexpr int kCommandLines = 1000;

// Surveys per season for T surveys: a few random cuts.
std::string seasons(Sweep &g, int T) {
    std::string s;
    int left = T;
    while (left > 0) {
        const int len = g.whole(1, left);
        s += (s.empty() ? "" : ",") + std::to_string(len);
        left -= len;
    }
    return s;
}

// A probability list now and then outside [0, 1] or left out: such runs go
// by the walk either way and must still agree.
std::string odd_prob(Sweep &g) {
    static const char *const odd[] = {"-.2", "1.3", "1.0001"};
    return odd[g.whole(0, 2)];
}

TEST(SingleSpeciesSweep, DefaultModelMatchesTheWalk) {
    Sweep g(20261208);
    for (int i = 0; i < kCommandLines; i++) {
        const int T = g.whole(1, 6);
        Args a{"T=" + std::to_string(T), "N=" + g.sites(), "psi=" + g.prob()};
        const bool p0miss = g.chance(20);
        if (!g.chance(5)) {
            std::string p = g.chance(70) ? g.probs(T) : g.prob();
            if (p0miss) p = "0," + p;
            a.push_back("p=" + p);
        }
        if (g.chance(40)) a.push_back("b=" + g.probs(T));
        const bool falsepos = g.chance(40);
        if (falsepos) a.push_back("p10=" + (g.chance(3) ? odd_prob(g) : g.probs(T)));
        if (g.chance(50)) a.push_back("gam=" + (g.chance(3) ? odd_prob(g) : g.probs(T)));
        if (g.chance(50)) a.push_back("eps=" + g.probs(T));
        if (g.chance(30)) a.push_back("SPS=" + seasons(g, T));
        if (g.chance(25)) a.push_back("REMOVAL");
        if (p0miss) a.push_back("P0MISS");
        // False positives come before the multi-method layout.
        if (falsepos && g.chance(10)) a.push_back("METH=2");
        if (g.chance(50)) a.push_back("QUIET");
        g.compare(a);
        if (HasFatalFailure()) return;
    }
    g.report("default model");
    EXPECT_GT(g.histories(), 20 * kCommandLines);
    EXPECT_LE(g.boundary_runs(), kCommandLines / 100);
}

TEST(SingleSpeciesSweep, DetectionMixtureMatchesTheWalk) {
    Sweep g(17);
    for (int i = 0; i < kCommandLines; i++) {
        const int T = g.whole(1, 7);
        Args a{"T=" + std::to_string(T), "N=" + g.sites(), "psi=" + g.prob(),
               "pi=" + (g.chance(50) ? g.probs(T) : g.prob()), "p=" + (g.chance(70) ? g.probs(T) : g.prob())};
        if (g.chance(80)) a.push_back("pB=" + (g.chance(3) ? odd_prob(g) : g.probs(T)));
        if (g.chance(50)) a.push_back("gam=" + g.probs(T));
        if (g.chance(50)) a.push_back("eps=" + g.probs(T));
        if (g.chance(40)) a.push_back("SPS=" + seasons(g, T));
        if (g.chance(10)) a.push_back("LIST");
        if (g.chance(50)) a.push_back("QUIET");
        g.compare(a);
        if (HasFatalFailure()) return;
    }
    g.report("detection mixture");
    EXPECT_GT(g.histories(), 10 * kCommandLines);
    EXPECT_LE(g.boundary_runs(), kCommandLines / 100);
}

TEST(SingleSpeciesSweep, MultiMethodMatchesTheWalk) {
    Sweep g(4242);
    for (int i = 0; i < kCommandLines; i++) {
        const int M = g.whole(2, 3);
        const int T = g.whole(1, M == 2 ? 4 : 2);
        Args a{"T=" + std::to_string(T), "METH=" + std::to_string(M), "N=" + g.sites(), "psi=" + g.prob(),
               "th0=" + (g.chance(60) ? g.probs(T) : g.prob())};
        a.push_back("p1=" + g.probs(T));
        a.push_back("p2=" + (g.chance(3) ? odd_prob(g) : g.probs(T)));
        if (M == 3) a.push_back("p3=" + g.probs(T));
        if (g.chance(50)) a.push_back("gam=" + g.probs(T));
        if (g.chance(50)) a.push_back("eps=" + g.probs(T));
        if (g.chance(40)) a.push_back("SPS=" + seasons(g, T));
        if (g.chance(10)) a.push_back("LIST");
        if (g.chance(50)) a.push_back("QUIET");
        g.compare(a);
        if (HasFatalFailure()) return;
    }
    g.report("multi-method");
    EXPECT_GT(g.histories(), 5 * kCommandLines);
    EXPECT_LE(g.boundary_runs(), kCommandLines / 100);
}

} // namespace
