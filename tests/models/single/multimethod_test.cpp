// End-to-end runs of the multi-method model: the re-laid design and its
// console lines, expected numbers worked out by hand or by enumerating each
// site's seasonal occupancy and per-visit availability, a seeded stochastic
// data set (checked against a separate replay of the generator and the
// binomial splits in the documented order), the table-size refusals, the
// hand-over beyond 16 surveys, the dispatch precedence of false positives,
// and a large seeded stochastic run against the expected values. On bare run
// contexts: seeded cohorts that skip empty groups draw exactly as the full
// recursion, and the forward pass writes only the histories holding sites.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "core/count_setup.hpp"
#include "core/seasons.hpp"
#include "models/single/multimethod.hpp"
#include "models/single/reference_caphismm.hpp"
#include "support/cli.hpp"
#include "support/history.hpp"

using namespace occusim::testing;

namespace {

TEST(MultiMethod, TwoMethodsOneVisitExample) {
    auto r = run_cli({"T=1", "N=100", "psi=1", "METH=2", "th0=1", "p1=.5", "p2=.5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "OCCUSIM ver8 180607.2051\n"
                     "\nARG[1]:T=1\nT=1\n"
                     "\nARG[2]:N=100\nN=100.000000\n"
                     "\nARG[3]:psi=1\npsi=1.00\n"
                     "\nARG[4]:METH=2\nMETH=2\n"
                     "\nARG[5]:th0=1\nth0:\n[ 1.00]\n"
                     "\nARG[6]:p1=.5\np1=[ 0.50]\n"
                     "\nARG[7]:p2=.5\np2=[ 0.50]\n"
                     "determ=1 het=0 MS=0 MS2=0\n"
                     "psi=1.000000 npresnt=100.000000\n"
                     "gam= 1.00\neps= 0.00\np  = 0.50\nth0= 1.00\nth1= 0.00\nb  = 0.00\np10= 0.00\n"
                     "nseasns=1\nSPS= 1\nSeason= 0\nnewSeason= 1\n"
                     "nseasns=1\nSPS: 2\n"
                     "npresnt=100.000000 ns=100.000000 nseasns=1\n"
                     "iseasn=1 gam(0)=1.000000\n"
                     "newSeason: 1 0\nnewSurvey: 1 0\nSurvey: 0 0\nSeason: 0 0\n"
                     "allocating memory for double precision vector of length 32\n"
                     "theta: 1.0\np: 0.5 0.5\ngam  : 1.0\neps  : 0.0\n"
                     "\n=========== prnt_caphis =========\n");
    EXPECT_EQ(r.pao(), "4\t2\n"
                       "0\t0\t       25.0000000000\n"
                       "0\t1\t       25.0000000000\n"
                       "1\t0\t       25.0000000000\n"
                       "1\t1\t       25.0000000000\n"
                       "0\n0\n2;2\nsimulated data from occusim8\n");
}

TEST(MultiMethod, UnavailableVisitHasNoDetections) {
    // Visit 2 has availability 0: its two surveys are never detections.
    auto r = run_cli({"T=2", "N=100", "psi=1", "METH=2", "th0=1,0", "p1=.5", "p2=.5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "4\t4\n"
                       "0\t0\t0\t0\t       25.0000000000\n"
                       "0\t1\t0\t0\t       25.0000000000\n"
                       "1\t0\t0\t0\t       25.0000000000\n"
                       "1\t1\t0\t0\t       25.0000000000\n"
                       "0\n0\n4;2\nsimulated data from occusim8\n");
}

TEST(MultiMethod, ThreeMethodsTwoSeasons) {
    // Season 1: 60 occupied, 48 available, each of the four detection
    // patterns 1xy of method 1 (p=1) and methods 2, 3 (p=.5) gets 12. Season
    // 2: persistence .8, colonisation .3, availability .6.
    auto r = run_cli({"T=2", "SPS=1", "METH=3", "N=100", "psi=.6", "gam=.3", "eps=.2", "th0=.8,.6", "p1=1",
                      "p2=.5", "p3=.5"});
    EXPECT_EQ(r.status, 0);
    const std::string layout = "newSeason= 1 1\n"
                               "nseasns=2\nSPS: 3 3\n"
                               "npresnt=60.000000 ns=100.000000 nseasns=2\n"
                               "iseasn=2 gam(0)=0.600000\n"
                               "newSeason: 1 0 0 1 0 0\n"
                               "newSurvey: 1 0 0 1 0 0\n"
                               "Survey: 0 0 0 1 1 1\n"
                               "Season: 0 0 0 1 1 1\n"
                               "allocating memory for double precision vector of length 8192\n"
                               "theta: 0.8 0.6\n"
                               "p: 1.0 0.5 0.5 1.0 0.5 0.5\n"
                               "gam  : 0.6 0.3\n"
                               "eps  : 0.2 0.2\n"
                               "\n=========== prnt_caphis =========\n";
    EXPECT_TRUE(r.out.ends_with(layout)) << r.out;
    EXPECT_EQ(r.pao(), "25\t6\n"
                       "0\t0\t0\t0\t0\t0\t       39.0400000000\n"
                       "0\t0\t0\t1\t0\t0\t        3.2400000000\n"
                       "0\t0\t0\t1\t0\t1\t        3.2400000000\n"
                       "0\t0\t0\t1\t1\t0\t        3.2400000000\n"
                       "0\t0\t0\t1\t1\t1\t        3.2400000000\n"
                       "1\t0\t0\t0\t0\t0\t        6.2400000000\n"
                       "1\t0\t0\t1\t0\t0\t        1.4400000000\n"
                       "1\t0\t0\t1\t0\t1\t        1.4400000000\n"
                       "1\t0\t0\t1\t1\t0\t        1.4400000000\n"
                       "1\t0\t0\t1\t1\t1\t        1.4400000000\n"
                       "1\t0\t1\t0\t0\t0\t        6.2400000000\n"
                       "1\t0\t1\t1\t0\t0\t        1.4400000000\n"
                       "1\t0\t1\t1\t0\t1\t        1.4400000000\n"
                       "1\t0\t1\t1\t1\t0\t        1.4400000000\n"
                       "1\t0\t1\t1\t1\t1\t        1.4400000000\n"
                       "1\t1\t0\t0\t0\t0\t        6.2400000000\n"
                       "1\t1\t0\t1\t0\t0\t        1.4400000000\n"
                       "1\t1\t0\t1\t0\t1\t        1.4400000000\n"
                       "1\t1\t0\t1\t1\t0\t        1.4400000000\n"
                       "1\t1\t0\t1\t1\t1\t        1.4400000000\n"
                       "1\t1\t1\t0\t0\t0\t        6.2400000000\n"
                       "1\t1\t1\t1\t0\t0\t        1.4400000000\n"
                       "1\t1\t1\t1\t0\t1\t        1.4400000000\n"
                       "1\t1\t1\t1\t1\t0\t        1.4400000000\n"
                       "1\t1\t1\t1\t1\t1\t        1.4400000000\n"
                       "0\n0\n3,3;3\nsimulated data from occusim8\n");
}

TEST(MultiMethod, SeededStochasticRun) {
    // 16 of the 20 sites drawn present by the layout (a draw the recursion
    // does not use), then one binomial split per occupancy, availability and
    // detection, branches in the order detected, missed, unavailable, empty.
    auto r = run_cli({"T=2", "METH=2", "N=20", "psi=.7", "th0=.8", "p1=.6", "p2=.4", "STOCH", "SEED=12345"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "seed=12345\n");
    EXPECT_NE(r.out.find("npresnt=16.000000 ns=20.000000 nseasns=1\n"), std::string::npos);
    EXPECT_EQ(r.pao(), "20\t4\n"
                       "0\t0\t0\t0\t\n0\t0\t0\t0\t\n0\t0\t0\t0\t\n0\t0\t0\t0\t\n0\t0\t0\t0\t\n"
                       "0\t0\t0\t0\t\n0\t0\t0\t0\t\n0\t0\t0\t0\t\n0\t0\t0\t0\t\n0\t0\t0\t0\t\n"
                       "0\t0\t1\t0\t\n0\t0\t1\t0\t\n"
                       "0\t0\t1\t1\t\n"
                       "0\t1\t0\t1\t\n"
                       "0\t1\t1\t0\t\n"
                       "1\t0\t0\t0\t\n1\t0\t0\t0\t\n"
                       "1\t0\t0\t1\t\n"
                       "1\t1\t0\t0\t\n"
                       "1\t1\t1\t1\t\n"
                       "0\n0\n4;2\nsimulated data from occusim8\n");
}

TEST(MultiMethod, TablesBeyond32BitsAreRefused) {
    // 15 re-laid surveys: 2 * 4^15 entries do not fit 32 bits.
    auto fifteen = run_cli({"T=5", "N=10", "psi=.5", "METH=3", "p1=.5", "p2=.5", "p3=.5"});
    EXPECT_EQ(fifteen.status, 1);
    EXPECT_TRUE(fifteen.out.ends_with("Season: 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
                                      "allocating memory for double precision vector of length -2147483648\n"
                                      "4)error allocating nx (size=1073741824)\n"))
        << fifteen.out;
    EXPECT_EQ(fifteen.pao(), "");
    // 16: 4^16 itself no longer fits.
    auto sixteen = run_cli({"T=8", "N=10", "psi=.5", "METH=2", "p1=.5", "p2=.5"});
    EXPECT_EQ(sixteen.status, 1);
    EXPECT_TRUE(sixteen.out.ends_with("allocating memory for double precision vector of length 0\n"
                                      "4)error allocating nx (size=0)\n"))
        << sixteen.out;
}

TEST(MultiMethod, LongDesignHandsOverWithTheMxperMessage) {
    // Three seasons of 4 surveys asked for, 10 in the design: the layout marks
    // the 20 re-laid surveys only, and no count table is sized.
    auto r = run_cli({"T=10", "SPS=4", "METH=2", "N=10", "psi=.5", "th0=.5", "p1=.5", "p2=.5"});
    EXPECT_NE(r.out.find("nseasns=3\nSPS: 8 8 8\n"), std::string::npos);
    EXPECT_NE(r.out.find("newSeason: 1 0 0 0 0 0 0 0 1 0 0 0 0 0 0 0 1 0 0 0\n"
                         "newSurvey: 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0 1 0\n"
                         "Survey: 0 0 1 1 2 2 3 3 4 4 5 5 6 6 7 7 8 8 9 9\n"
                         "Season: 0 0 0 0 0 0 0 0 1 1 1 1 1 1 1 1 2 2 2 2\n"
                         "theta: 0.5 0.5 0.5 0.5 0.5 0.5 0.5 0.5 0.5 0.5\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("eps  : 0.0 0.0 0.0\n\n ERROR per > MXPER - switching to 'simulate by individual'"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("allocating memory"), std::string::npos);
}

TEST(MultiMethod, FalsePositivesComeBeforeTheLayout) {
    // p10 with METH=2 runs the false-positive recursion on the design as
    // given: base-4 table, expected-value layout, no ';' field; with psi 0
    // only false positives (0.1 per survey) are detections.
    auto r = run_cli({"T=2", "N=100", "psi=0", "p=.4", "p10=.1", "METH=2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("newSurvey:"), std::string::npos);
    EXPECT_NE(r.out.find("allocating memory for double precision vector of length 48\n"), std::string::npos);
    EXPECT_EQ(r.pao(), "4\t2\n"
                       "0\t0\t81.000000\n"
                       "0\t1\t9.000000\n"
                       "1\t0\t9.000000\n"
                       "1\t1\t1.000000\n"
                       "0\n0\n2\nsimulated data from occusim8\n");
}

TEST(MultiMethod, LayoutsBeyondTheStorageAreRefused) {
    auto methods = run_cli({"T=2", "N=10", "psi=.5", "METH=6"});
    EXPECT_EQ(methods.status, 1);
    EXPECT_TRUE(
        methods.err.ends_with("occusim8: error: METH=6: at most 5 detection methods per visit are supported\n"))
        << methods.err;
    EXPECT_EQ(methods.pao(), "");

    auto season = run_cli({"T=2", "SPS=1,2000000000", "N=10", "psi=.5", "METH=2"});
    EXPECT_EQ(season.status, 1);
    EXPECT_TRUE(
        season.err.ends_with("occusim8: error: season 1: 2000000000 surveys with METH=2 exceed the survey count\n"))
        << season.err;

    auto surveys = run_cli({"T=700", "N=10", "psi=.5", "SIMTYPE=2", "METH=5", "QUIET"});
    EXPECT_EQ(surveys.status, 1);
    EXPECT_TRUE(
        surveys.err.ends_with("occusim8: error: METH=5 with T=700 gives 3500 surveys; at most 3200 are supported\n"))
        << surveys.err;
}

TEST(MultiMethod, StochasticRunAgreesWithExpectedValues) {
    const std::vector<std::string> design = {"T=2",       "METH=2", "N=20000", "psi=.7",
                                             "th0=.8,.5", "p1=.6",  "p2=.4"};
    auto expected = run_cli(design);
    auto stoch = run_cli(with(design, {"STOCH", "SEED=99"}));
    ASSERT_EQ(expected.status, 0);
    ASSERT_EQ(stoch.status, 0);

    auto want = history_counts(expected.pao());
    auto got = history_counts(stoch.pao());
    ASSERT_EQ(want.size(), 16u);
    auto c = chi_square(got, want);
    ASSERT_EQ(c.unexpected, std::vector<std::string>());
    EXPECT_EQ(total(got), 20000);
    // 15 degrees of freedom: 37.7 is the 0.1% point.
    EXPECT_LT(c.statistic, 37.7);
}

// A random multi-method design, laid out as a run lays it out, drawing from
// `seed`.
void random_design(occusim::Context &ctx, std::mt19937_64 &g, long seed) {
    auto prob = [&] { return static_cast<double>(g() % 1001) / 1000; };
    ctx.set_vector_defaults();
    ctx.out = std::fopen("/dev/null", "w");
    const int M = 2 + static_cast<int>(g() % 2), T = 1 + static_cast<int>(g() % (M == 2 ? 4 : 2));
    ctx.nper = T;
    ctx.METH = M;
    ctx.ns = static_cast<double>(g() % 1200);
    ctx.psi = prob();
    ctx.SRVYPERSEASN[0] = T;
    if (T > 1 && g() % 2) {
        ctx.SRVYPERSEASN[0] = 1 + static_cast<int>(g() % (T - 1));
        ctx.SRVYPERSEASN[1] = T - ctx.SRVYPERSEASN[0];
        ctx.nseasns = 2;
    }
    for (int k = 0; k < T; k++) {
        ctx.theta[0][k] = prob();
        ctx.gam[k + 1] = prob();
        ctx.eps[k] = prob();
        for (int m = 1; m <= M; m++) ctx.pMS[0][m][k] = g() % 5 == 0 ? 0.0 : prob();
    }
    occusim::lay_out_seasons(ctx);
    ctx.determ = 0;
    ctx.rng.SelectStream(0);
    ctx.rng.PlantSeeds(seed);
    occusim::multi_method_layout(ctx);
    occusim::size_multi_method_table(ctx);
}

// Seeded cohorts skip groups of no sites: the draws and the data stay those
// of the recursion that follows every branch.
TEST(MultiMethod, SkippingEmptyGroupsKeepsEverySeededDraw) {
    std::mt19937_64 g(77);
    for (int i = 0; i < 300; i++) {
        const long seed = 1 + static_cast<long>(g() % 100000);
        const std::uint64_t state = g();
        std::mt19937_64 g1(state), g2(state);
        occusim::Context now, before;
        random_design(now, g1, seed);
        random_design(before, g2, seed);
        occusim::caphismm(now, 0, 1, 0, 0, now.ns);
        for (int s = 0; s < before.nseasns; s++) before.gameps[1][s] = 1 - before.gameps[1][s];
        reference_caphismm(before, 0, 1, 0, 0, before.ns);
        SCOPED_TRACE("design " + std::to_string(i));
        for (std::int64_t code = 0; code < (std::int64_t{1} << now.nper); code++)
            ASSERT_EQ(now.nx.get(code), before.nx.get(code)) << code;
        ASSERT_EQ(now.Random(), before.Random());
        std::fclose(now.out);
        std::fclose(before.out);
    }
}

// Seven visits of two methods, every site occupied, available and detected
// by both: one history of the 2^14 holds every site, and only its page is
// written.
TEST(MultiMethod, EmptyBranchesAreNotWalked) {
    occusim::Context ctx;
    ctx.set_vector_defaults();
    ctx.out = std::tmpfile();
    ctx.nper = 7;
    ctx.METH = 2;
    ctx.ns = 100;
    ctx.psi = 1;
    ctx.SRVYPERSEASN[0] = 7;
    for (int k = 0; k < 7; k++) ctx.theta[0][k] = ctx.pMS[0][1][k] = ctx.pMS[0][2][k] = 1;
    occusim::lay_out_seasons(ctx);
    occusim::multi_method_layout(ctx);
    occusim::size_multi_method_table(ctx);
    occusim::caphismm(ctx, 0, 1, 0, 0, ctx.ns);
    EXPECT_EQ(ctx.nx.get((1 << 14) - 1), 100);
    long entries = 0;
    ctx.nx.for_each([&](std::int64_t, double) { entries++; });
    EXPECT_EQ(entries, occusim::CountTable::PAGE);
    std::fclose(ctx.out);
}

} // namespace
