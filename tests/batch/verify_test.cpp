// The check by simulation of a design search: the Monte Carlo bounds of its
// comparison, and the check end to end on a small and a large design.
#include "batch/verify.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "support/cli.hpp"

using namespace occusim;
using namespace occusim::testing;

namespace {

// The check by simulation warns where few sites leave the asymptotic
// figures far from what a study finds, and stays quiet with many.
TEST(OptimalDesign, VerifyFlagsSmallSamples) {
    struct Case {
        std::string budget;
        std::string p;
        bool flagged;
    };
    for (const Case &c : {Case{"BUDGET=40", "p=.2", true}, Case{"BUDGET=4000", "p=.5", false}}) {
        const CliRun r = run_cli({"T=3", "N=100", "psi=.5", c.p, "OPTIMIZE=psi", c.budget, "KMAX=6", "VERIFY=300",
                                  "SEED=7", "THREADS=2", "QUIET"});
        SCOPED_TRACE(c.budget);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("check by simulation (300 replicates of "), std::string::npos) << r.out;
        EXPECT_EQ(r.err.find("occusim8: warning: VERIFY: at ") != std::string::npos, c.flagged) << r.err;
        EXPECT_FALSE(r.exists("occusim_verify_0001.pao"));
        EXPECT_TRUE(r.exists("occusim_verify_study.csv"));
    }
}

// The Monte Carlo bounds of the comparison: each figure on either side of
// its bound.
TEST(OptimalDesign, DisagreementBounds) {
    StudySummary::Row agree{"psi", .5, .5, 0, 0, .1, .1, .1, .95, 400, 400, NAN, NAN, NAN, NAN};
    EXPECT_TRUE(check_disagreements(agree, .1, NAN).empty());
    struct Case {
        void (*change)(StudySummary::Row &);
        const char *says;
    };
    const Case cases[] = {
        {[](StudySummary::Row &r) { r.used = 390; }, "10 of 400 fits failed"},
        {[](StudySummary::Row &r) { r.sd = .12; }, "SD of the estimates 0.12 against se 0.1"},
        {[](StudySummary::Row &r) { r.bias = .02; }, "bias 0.02"},
        {[](StudySummary::Row &r) { r.coverage = .91; }, "coverage 0.91"},
    };
    for (const Case &c : cases) {
        StudySummary::Row r = agree;
        c.change(r);
        const auto d = check_disagreements(r, .1, NAN);
        ASSERT_EQ(d.size(), 1u) << c.says;
        EXPECT_EQ(d[0], c.says);
    }
    StudySummary::Row near = agree;
    near.sd = .109;     // 3 Monte Carlo SEs: 0.0106
    near.bias = .0145;  // 3 * .1 / 20 = .015
    near.coverage = .93; // 3 * sqrt(.0475 / 400) = .0327
    EXPECT_TRUE(check_disagreements(near, .1, NAN).empty());
    near.power = .75;
    EXPECT_TRUE(check_disagreements(near, .1, .8).empty());
    EXPECT_EQ(check_disagreements(near, .1, .9).size(), 1u);
}

} // namespace
