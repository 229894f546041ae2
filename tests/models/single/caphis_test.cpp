// The single-species cohort recursion end to end: expected values checked
// against closed forms, seeded stochastic data, removal, false positives,
// missing surveys and several seasons; and on a bare run context, that the
// forward pass writes only the histories that hold sites and can be called
// over and over.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "core/context.hpp"
#include "models/single/caphis.hpp"
#include "support/cli.hpp"
#include "support/history.hpp"

using namespace occusim::testing;

namespace {

const std::string kTrailer3 = "0\n0\n3\nsimulated data from occusim8\n";

TEST(Caphis, RemovalWritesDashesAfterTheFirstDetection) {
    auto r = run_cli({"T=3", "N=100", "psi=1", "p=.5", "REMOVAL"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "4\t3\n"
                       "0\t0\t0\t12.500000\n"
                       "0\t0\t1\t12.500000\n"
                       "0\t1\t-\t25.000000\n"
                       "1\t-\t-\t50.000000\n" +
                           kTrailer3);
}

TEST(Caphis, FalsePositivesOnlyAtUnoccupiedSites) {
    auto r = run_cli({"T=1", "N=100", "psi=0", "p10=.5"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "2\t1\n0\t50.000000\n1\t50.000000\n0\n0\n1\nsimulated data from occusim8\n");
    EXPECT_NE(r.out.find("allocating memory for double precision vector of length 12\n"), std::string::npos);
}

TEST(Caphis, CertainDetectionsAreWrittenAsTwo) {
    auto r = run_cli({"T=2", "N=100", "psi=1", "p=.5", "b=1", "p10=0"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "4\t2\n0\t0\t25.000000\n0\t2\t25.000000\n2\t0\t25.000000\n2\t2\t25.000000\n"
                       "0\n0\n2\nsimulated data from occusim8\n");
}

TEST(Caphis, FalsePositiveDataKeepTheExpectedLayoutInStochasticRuns) {
    auto r = run_cli({"T=2", "N=50", "psi=.5", "p=.5,0", "p10=.2", "b=.5", "STOCH", "SEED=3", "P0MISS"});
    ASSERT_EQ(r.status, 0);
    auto lines = history_lines(r.pao());
    double total = 0;
    for (const auto &l : lines) {
        EXPECT_EQ(l.substr(0, l.rfind('\t')).find('.'), std::string::npos); // never missing
        total += std::stod(l.substr(l.rfind('\t') + 1));
    }
    EXPECT_EQ(r.pao().substr(0, r.pao().find('\n')), std::to_string(lines.size()) + "\t2");
    EXPECT_DOUBLE_EQ(total, 50);
}

TEST(Caphis, SurveysWithoutDetectionProbabilityAreMissingUnderP0MISS) {
    auto r = run_cli({"T=3", "N=100", "psi=.5", "p=.4,0,.4", "P0MISS"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "4\t3\n"
                       "0\t.\t0\t68.000000\n"
                       "0\t.\t1\t12.000000\n"
                       "1\t.\t0\t12.000000\n"
                       "1\t.\t1\t8.000000\n" +
                           kTrailer3);
}

// Expected count of every 0/1 history of a single-species design, by summing
// over the occupancy paths: psi at survey 1, then colonisation gam[k] and
// persistence 1-eps[k-1] into survey k+1.
std::map<int, double> forward_counts(int T, double n, double psi, const std::vector<double> &p,
                                     const std::vector<double> &gam, const std::vector<double> &eps) {
    std::map<int, double> out;
    for (int h = 0; h < (1 << T); h++) {
        // alpha[z]: probability of the history so far and state z
        double a0 = 1 - psi, a1 = psi;
        for (int k = 0; k < T; k++) {
            if (k > 0) {
                double n0 = a0 * (1 - gam[k]) + a1 * eps[k - 1];
                double n1 = a0 * gam[k] + a1 * (1 - eps[k - 1]);
                a0 = n0;
                a1 = n1;
            }
            bool det = (h >> (T - 1 - k)) & 1;
            a0 *= det ? 0.0 : 1.0;
            a1 *= det ? p[k] : 1 - p[k];
        }
        out[h] = n * (a0 + a1);
    }
    return out;
}

TEST(Caphis, TwoSeasonsFollowColonisationAndExtinction) {
    auto r = run_cli({"T=4", "N=100", "psi=.5", "p=.5", "SPS=2", "gam=0,.2,0", "eps=0,.3,0"});
    ASSERT_EQ(r.status, 0);
    auto expected = forward_counts(4, 100, 0.5, {.5, .5, .5, .5}, {.5, 0, .2, 0}, {0, .3, 0, 0});
    std::string want = "16\t4\n";
    for (auto [h, v] : expected) {
        for (int k = 0; k < 4; k++) want += ((h >> (3 - k)) & 1) ? "1\t" : "0\t";
        want += stringf("%f\n", v);
    }
    want += "0\n0\n2,2\nsimulated data from occusim8\n";
    EXPECT_EQ(r.pao(), want);
    EXPECT_NE(r.out.find("nseasns=2\nSPS= 2 2\nSeason= 0 0 1 1\nnewSeason= 1 0 1 0\n"), std::string::npos);
}

TEST(Caphis, SeededStochasticRunIsFixedAndCountsEverySite) {
    std::vector<std::string> args{"T=3", "N=20", "psi=.5", "p=.4", "STOCH", "SEED=7", "QUIET"};
    auto r = run_cli(args);
    ASSERT_EQ(r.status, 0);
    std::string want = "20\t3\n";
    for (int i = 0; i < 12; i++) want += "0\t0\t0\t\n";
    want += "0\t1\t0\t\n0\t1\t0\t\n1\t0\t0\t\n1\t0\t0\t\n1\t0\t1\t\n1\t0\t1\t\n1\t1\t0\t\n1\t1\t0\t\n";
    want += kTrailer3;
    EXPECT_EQ(r.pao(), want);
    EXPECT_EQ(r.err, ""); // QUIET also silences the seed line
    auto again = run_cli(args);
    EXPECT_EQ(again.pao(), r.pao());
}

TEST(Caphis, NegativeTAsksForAStochasticRunWithThatManySurveys) {
    auto r = run_cli({"T=-5", "N=30", "psi=.5", "p=.5,0,0,0,0", "SEED=11"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.pao().substr(0, 6), "30\t5\n0");
    EXPECT_NE(r.out.find("p  = 0.50 0.00 0.00 0.00 0.00\n"), std::string::npos);
    EXPECT_EQ(r.err, "seed=11\n");
    for (const auto &l : history_lines(r.pao())) EXPECT_EQ(l.substr(1), "\t0\t0\t0\t0\t");
    EXPECT_NE(r.pao().find("\n0\n0\n5\nsimulated"), std::string::npos);
    // One value is not spread over the surveys of a negative T (it would
    // leave surveys 2 to 5 without a detection probability): refused.
    auto one = run_cli({"T=-5", "N=30", "psi=.5", "p=.5", "SEED=11"});
    EXPECT_EQ(one.status, 1);
    EXPECT_EQ(one.err, "occusim8: error: p=.5 fills survey 1 only: a negative T (T=-5) does not spread one value over "
                       "the surveys; give 5 values, or STOCH with T=5\n");
    EXPECT_FALSE(one.exists("occusim.pao"));
}

// A large seeded stochastic run agrees with the expected-value run: chi-square
// over the histories with expected counts of at least 5.
TEST(Caphis, StochasticRunAgreesWithExpectedValues) {
    const Args design{"T=4",    "N=20000", "psi=.6",  "p=.3,.5,.4,.6", "gam=.1",
                      "eps=.2", "b=.4",    "p10=.05", "QUIET"};
    auto ev = run_cli(design);
    auto st = run_cli(with(design, {"STOCH", "SEED=12345"}));
    ASSERT_EQ(ev.status, 0);
    ASSERT_EQ(st.status, 0);
    auto observed = history_counts(st.pao());
    auto c = chi_square(observed, history_counts(ev.pao()), Small::drop);
    EXPECT_EQ(c.unexpected, std::vector<std::string>());
    EXPECT_DOUBLE_EQ(total(observed), 20000);
    // 99.9% point of chi-square for this many cells is well below 2*cells+40.
    EXPECT_LT(c.statistic, 2.0 * c.classes + 40) << "cells=" << c.classes;
}

// A default-model design on a bare run context, every branch live.
void all_branches(occusim::Context &ctx, int T) {
    ctx.set_vector_defaults();
    ctx.nper = T;
    ctx.gam[0] = .5;
    for (int k = 0; k < T; k++) {
        ctx.pa[k] = .4;
        ctx.b[k] = .3;
        ctx.p10[k] = .1;
        ctx.gam[k + 1] = .2;
        ctx.eps[k] = .15;
    }
    ctx.nx.reset(std::int64_t{3} << (2 * T));
}

long pages_touched(const occusim::Context &ctx) {
    long entries = 0;
    ctx.nx.for_each([&](std::int64_t, double) { entries++; });
    return entries / occusim::CountTable::PAGE;
}

// Every occupied site is detected for certain and nothing changes between
// surveys: two histories out of 3^14, and only their pages are written.
TEST(Caphis, EmptyBranchesAreNotWalked) {
    occusim::Context ctx;
    all_branches(ctx, 14);
    for (int k = 0; k < 14; k++) {
        ctx.pa[k] = ctx.b[k] = 1;
        ctx.p10[k] = ctx.gam[k + 1] = ctx.eps[k] = 0;
    }
    occusim::caphis(ctx, 0, 1000, 1, 0);
    const std::int64_t all_certain = (std::int64_t{2} << 28) / 3; // 2 in every base-4 digit
    EXPECT_EQ(ctx.nx.get(0), 500);
    EXPECT_EQ(ctx.nx.get(all_certain), 500);
    EXPECT_EQ(pages_touched(ctx), 2);
}

// Design evaluation calls the model over and over on one context: each call
// leaves the expected counts in the table, prints nothing, and depends only
// on the parameters of that call.
TEST(Caphis, RepeatedCallsOnOneContextAgreeWithTheWalk) {
    occusim::Context ctx, walk;
    std::FILE *quiet = std::tmpfile();
    ctx.out = ctx.err = quiet;
    for (double p : {.4, .7, .4}) {
        all_branches(ctx, 7);
        all_branches(walk, 7);
        for (int k = 0; k < 7; k++) ctx.pa[k] = walk.pa[k] = p;
        occusim::caphis(ctx, 0, 1000, 1, 0);
        occusim::caphis_walk(walk, 0, 1000, 1, 0);
        double total = 0;
        walk.nx.for_each([&](std::int64_t code, double v) {
            EXPECT_NEAR(ctx.nx.get(code), v, 1e-12 * v) << code;
            total += ctx.nx.get(code);
        });
        EXPECT_NEAR(total, 1000, 1e-9);
    }
    EXPECT_EQ(read_stream(quiet), "");
    std::fclose(quiet);
}

} // namespace

// Without T the design has no surveys (once found by fuzzing to reach the
// recursion at "survey 0"): refused before any file is written.
TEST(Caphis, DesignWithoutSurveysIsRefused) {
    for (const Args &args : {Args{"N=10", "psi=.5", "SPS=4", "p=.5"}, Args{"N=10", "psi=.5", "b=.5", "p=.5", "p10=.1"}}) {
        auto r = run_cli(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "occusim8: error: T is not set: give T=n, the number of surveys\n");
        EXPECT_FALSE(r.exists("occusim.pao"));
    }
}
