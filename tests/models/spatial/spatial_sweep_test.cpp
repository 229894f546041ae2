// Expected-value runs of both spatial generators by the forward pass over
// history prefixes, held to the cohort walk on random command lines (fixed
// seed): the first generator in one season and in several, the second with
// its positional parameter block.
#include <gtest/gtest.h>

#include "models/single/forward_sweep.hpp"

using namespace occusim::testing;

namespace {

constexpr int kCommandLines = 1000;

std::string seasons(Sweep &g, int T, bool several) {
    std::string s;
    int left = T;
    while (left > 0) {
        const int len = several && left > 1 && s.empty() ? g.whole(1, left - 1) : g.whole(1, left);
        s += (s.empty() ? "" : ",") + std::to_string(len);
        left -= len;
    }
    return s;
}

TEST(SpatialSweep, FirstGeneratorMatchesTheWalk) {
    Sweep g(3141);
    for (int i = 0; i < kCommandLines; i++) {
        const bool several = g.chance(50);
        const int T = g.whole(several ? 2 : 1, several ? 7 : 8);
        Args a{"T=" + std::to_string(T), "N=" + g.sites(), "psi=" + g.prob(),
               "p=" + (g.chance(70) ? g.probs(T) : g.prob()),
               "th1=" + (g.chance(60) ? g.probs(T) : g.prob())};
        if (g.chance(70)) a.push_back("th0=" + (g.chance(3) ? std::string("1.2") : g.probs(T)));
        if (g.chance(70)) a.push_back("th0pi=" + (g.chance(60) ? g.probs(T) : g.prob()));
        if (several) {
            a.push_back("SPS=" + seasons(g, T, true));
            if (g.chance(70)) a.push_back("gam=" + g.probs(T));
            if (g.chance(70)) a.push_back("eps=" + g.probs(T));
        }
        if (g.chance(10)) a.push_back("LIST");
        if (g.chance(50)) a.push_back("QUIET");
        g.compare(a);
        if (HasFatalFailure()) return;
    }
    g.report("first spatial generator");
    EXPECT_GT(g.histories(), 10 * kCommandLines);
    EXPECT_LE(g.boundary_runs(), kCommandLines / 100);
}

TEST(SpatialSweep, SecondGeneratorMatchesTheWalk) {
    Sweep g(2718);
    for (int i = 0; i < kCommandLines; i++) {
        const int T = g.whole(1, 7);
        Args a{std::to_string(T), g.sites(), g.prob()};
        for (int row = 0; row < 4; row++)
            for (int t = 0; t < T; t++) a.push_back(g.prob());
        // Extinction, then colonisation (a positive value opens a season).
        for (int t = 0; t + 1 < T; t++) a.push_back(g.prob());
        for (int t = 0; t + 1 < T; t++) a.push_back(g.chance(60) ? "0" : g.prob());
        if (g.chance(3)) a[3] = "1.5";
        a.push_back("T=" + std::to_string(T));
        a.push_back("SPADMS");
        if (g.chance(50)) a.push_back("QUIET");
        g.compare(a);
        if (HasFatalFailure()) return;
    }
    g.report("second spatial generator");
    EXPECT_GT(g.histories(), 10 * kCommandLines);
    EXPECT_LE(g.boundary_runs(), kCommandLines / 100);
}

} // namespace
