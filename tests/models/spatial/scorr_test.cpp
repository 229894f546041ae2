// End-to-end runs of the first spatial generator. Expected-value files were
// derived by enumerating every hidden path of occupancy and local presence
// over the surveys; seeded files by replaying the generator and the draws by
// hand in the order the model makes them. On bare run contexts: the forward
// pass writes only the histories holding sites, and seeded cohorts that skip
// empty groups draw exactly as the full recursion.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "models/spatial/reference_scorr.hpp"
#include "models/spatial/scorr.hpp"
#include "support/cli.hpp"
#include "support/history.hpp"

using namespace occusim::testing;

namespace {

TEST(SpatialSingleSeason, TwentyEightyExample) {
    // Half the 100 sites are occupied; with no presence before the survey the
    // species is locally present at 40 % of them and then always detected.
    auto r = run_cli({"T=1", "N=100", "psi=.5", "p=1", "th0=.4", "SPADEP"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "OCCUSIM ver8 180607.2051\n"
                     "\nARG[1]:T=1\nT=1\n"
                     "\nARG[2]:N=100\nN=100.000000\n"
                     "\nARG[3]:psi=.5\npsi=0.50\n"
                     "\nARG[4]:p=1\np=[ 1.00]\n"
                     "\nARG[5]:th0=.4\nth0:\n[ 0.40]\n"
                     "\nARG[6]:SPADEP\n"
                     "determ=1 het=0 MS=0 MS2=0\n"
                     "psi=0.500000 npresnt=100.000000\n"
                     "gam= 0.50\neps= 0.00\np  = 1.00\nth0= 0.40\nth1= 0.00\nb  = 0.00\np10= 0.00\n"
                     "nseasns=1\nSPS= 1\nSeason= 0\nnewSeason= 1\n"
                     "allocating memory for double precision vector of length 2\n"
                     "\n=========== prnt_caphis =========\n");
    EXPECT_EQ(r.pao(), "2\t1\n"
                       "0\t       80.0000000000\n"
                       "1\t       20.0000000000\n"
                       "0\n0\n1;0\nsimulated data from occusim8\n");
}

TEST(SpatialSingleSeason, AlwaysPresentEqualsPlainModel) {
    // With theta 1 in both rows an occupied site is present at every survey:
    // 50 occupied sites, each survey detected with 0.4, and 50 empty sites.
    auto r = run_cli({"T=3", "N=100", "psi=.5", "p=.4", "th0=1", "th1=1", "QUIET"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "8\t3\n"
                       "0\t0\t0\t       60.8000000000\n" // 50 + 50 * 0.6^3
                       "0\t0\t1\t        7.2000000000\n" // 50 * 0.4 * 0.6^2
                       "0\t1\t0\t        7.2000000000\n"
                       "0\t1\t1\t        4.8000000000\n" // 50 * 0.4^2 * 0.6
                       "1\t0\t0\t        7.2000000000\n"
                       "1\t0\t1\t        4.8000000000\n"
                       "1\t1\t0\t        4.8000000000\n"
                       "1\t1\t1\t        3.2000000000\n" // 50 * 0.4^3
                       "0\n0\n3;0\nsimulated data from occusim8\n");
    auto plain = run_cli({"T=3", "N=100", "psi=.5", "p=.4", "QUIET"});
    ASSERT_EQ(plain.status, 0);
    auto a = history_counts(r.pao()), b = history_counts(plain.pao());
    ASSERT_EQ(a.size(), b.size());
    for (const auto &[h, v] : b) EXPECT_NEAR(a[h], v, 1e-6) << h;
}

// Two seasons of two surveys (after T=4 and N): colonisation 0.5 and
// extinction 0.25 into the second season, presence before each season 0.3
// and 0.7.
const Args kTwoSeasons{"psi=.6",          "SPS=2,2",           "p=.5,.6,.7,.8", "th0=.4,.2,.1,.3",
                       "th1=.8,.9,.7,.6", "th0pi=.3,.3,.7,.7", "gam=0,.5,0",    "eps=0,.25,0"};

TEST(SpatialMultiSeason, TwoSeasonRecursion) {
    auto r = run_cli(with(with({"T=4", "N=100"}, kTwoSeasons), {"QUIET"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "16\t4\n"
                       "0\t0\t0\t0\t       47.9243888000\n"
                       "0\t0\t0\t1\t        8.4376512000\n"
                       "0\t0\t1\t0\t        8.4021392000\n"
                       "0\t0\t1\t1\t        7.7558208000\n"
                       "0\t1\t0\t0\t        6.9431472000\n"
                       "0\t1\t0\t1\t        1.6936128000\n"
                       "0\t1\t1\t0\t        1.6864848000\n"
                       "0\t1\t1\t1\t        1.5567552000\n"
                       "1\t0\t0\t0\t        4.1939414400\n"
                       "1\t0\t0\t1\t        1.0230105600\n"
                       "1\t0\t1\t0\t        1.0187049600\n"
                       "1\t0\t1\t1\t        0.9403430400\n"
                       "1\t1\t0\t0\t        4.9233225600\n"
                       "1\t1\t0\t1\t        1.2009254400\n"
                       "1\t1\t1\t0\t        1.1958710400\n"
                       "1\t1\t1\t1\t        1.1038809600\n"
                       "0\n0\n2,2;0\nsimulated data from occusim8\n");
}

TEST(SpatialMultiSeason, SeededRecursionKeepsDrawOrder) {
    // Occupancy changes inside and between the seasons. The file was replayed
    // draw by draw apart from this code: per survey the occupied split, the presence
    // before a season, the present cohort before the absent one, detected
    // before missed, and the unoccupied sites last.
    auto r =
        run_cli({"T=4", "N=12", "psi=.6", "SPS=2,2", "p=.5,.6,.7,.8", "th0=.4,.2,.1,.3", "th1=.8,.9,.7,.6",
                 "th0pi=.3,.3,.7,.7", "gam=0,.1,.5,.2", "eps=0,.1,.25,.1", "STOCH", "SEED=1", "QUIET"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "12\t4\n"
                       "0\t0\t0\t0\t\n0\t0\t0\t0\t\n0\t0\t0\t0\t\n0\t0\t0\t0\t\n"
                       "0\t0\t0\t1\t\n0\t0\t1\t0\t\n0\t0\t1\t0\t\n0\t0\t1\t0\t\n"
                       "0\t1\t0\t1\t\n0\t1\t1\t0\t\n0\t1\t1\t0\t\n1\t0\t1\t0\t\n"
                       "0\n0\n2,2;0\nsimulated data from occusim8\n");
}

TEST(SpatialSingleSeason, SeededStochasticRun) {
    // One line per site; SIMTYPE=2 with one season keeps the recursion and
    // only turns the draws on, so it gives the same file as STOCH.
    const char *expected = "20\t2\n"
                           "0\t0\t\n0\t0\t\n0\t0\t\n0\t0\t\n0\t0\t\n0\t0\t\n0\t0\t\n"
                           "0\t0\t\n0\t0\t\n0\t0\t\n0\t0\t\n0\t0\t\n0\t0\t\n0\t0\t\n"
                           "0\t1\t\n0\t1\t\n0\t1\t\n"
                           "1\t0\t\n1\t0\t\n"
                           "1\t1\t\n"
                           "0\n0\n2;0\nsimulated data from occusim8\n";
    for (const char *mode : {"STOCH", "SIMTYPE=2"}) {
        auto r = run_cli(
            {"T=2", "N=20", "psi=.6", "p=.5", "th0=.3", "th1=.7", "th0pi=.4", mode, "SEED=2024", "QUIET"});
        EXPECT_EQ(r.status, 0) << mode;
        EXPECT_EQ(r.pao(), expected) << mode;
    }
}

TEST(SpatialSingleSeason, StochasticRunAgreesWithExpectedValues) {
    const std::vector<std::string> model{"T=3",          "N=20000",      "psi=.6",   "p=.5,.6,.7",
                                         "th0=.3,.2,.4", "th1=.7,.8,.6", "th0pi=.4", "QUIET"};
    auto expected = run_cli(model);
    auto drawn = run_cli(with(model, {"STOCH", "SEED=99"}));
    ASSERT_EQ(expected.status, 0);
    ASSERT_EQ(drawn.status, 0);
    auto e = history_counts(expected.pao()), o = history_counts(drawn.pao());
    EXPECT_EQ(e.size(), 8u);
    EXPECT_EQ(total(o), 20000);
    auto c = chi_square(o, e);
    EXPECT_EQ(c.unexpected, std::vector<std::string>());
    EXPECT_LT(c.statistic, 24.3); // 7 degrees of freedom, 0.1 % level
}

// The several-season model site by site, run before the summariser collapses
// the lines: one line per site, tab-separated symbols, no frequency.
const Args kBySite = with(with({"T=4", "N=12"}, kTwoSeasons), {"SIMTYPE=2", "SEED=12345", "QUIET"});
const char *kBySiteLines = "0\t0\t0\t0\n0\t0\t1\t1\n0\t0\t1\t0\n0\t0\t0\t0\n0\t1\t0\t0\n0\t0\t0\t0\n"
                           "1\t0\t0\t0\n0\t0\t0\t0\n0\t0\t0\t0\n0\t0\t0\t0\n0\t1\t0\t1\n0\t0\t0\t0\n";

TEST(SpatialBySite, WritesOneLinePerSiteToTemporaryFile) {
    auto r = run_cli(kBySite);
    EXPECT_EQ(r.file("occusim.tmp"), kBySiteLines);
}

// Needs the summariser: sorted histories with their counts, the season list
// and the summariser's closing text.
TEST(SpatialBySite, TwoSeasonsThroughSummariser) {
    auto r = run_cli(kBySite);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.file("occusim.tmp"), kBySiteLines);
    EXPECT_EQ(r.pao(), "6\t4\n"
                       "0\t0\t0\t0\t7.000000\n"
                       "0\t0\t1\t0\t1.000000\n"
                       "0\t0\t1\t1\t1.000000\n"
                       "0\t1\t0\t0\t1.000000\n"
                       "0\t1\t0\t1\t1.000000\n"
                       "1\t0\t0\t0\t1.000000\n"
                       "0\n0\n2,2;1\nsimulated multistate-corr-detection data from occusim8\n");
}

TEST(SpatialBySite, SiteSimulationAgreesWithRecursion) {
    // Occupancy changes only where a season opens, so the site-by-site model
    // and the recursion describe the same data.
    const Args model = with(with({"T=4", "N=20000"}, kTwoSeasons), {"QUIET"});
    auto expected = run_cli(model);
    ASSERT_EQ(expected.status, 0);
    auto sites = run_cli(with(model, {"SIMTYPE=2", "SEED=4321"}));
    auto o = site_counts(sites.file("occusim.tmp"), 4), e = history_counts(expected.pao());
    EXPECT_EQ(total(o), 20000);
    auto c = chi_square(o, e);
    EXPECT_EQ(c.unexpected, std::vector<std::string>());
    EXPECT_LT(c.statistic, 37.7); // 15 degrees of freedom, 0.1 % level
}

TEST(SpatialTable, ThirtyOneSurveys) {
    // One season keeps the recursion, whose table no longer fits.
    auto one = run_cli({"T=31", "N=10", "psi=.5", "p=.5", "th1=.5", "SIMTYPE=2", "SEED=1", "QUIET"});
    EXPECT_EQ(one.status, 1);
    EXPECT_TRUE(one.out.ends_with("allocating memory for double precision vector of length -2147483648\n"
                                  "6)error allocating nx (size=-2147483648)\n"))
        << one.out;
    // Several seasons go site by site and need no table.
    auto many =
        run_cli({"T=31", "N=10", "psi=.5", "SPS=16,15", "p=.5", "th1=.5", "SIMTYPE=2", "SEED=1", "QUIET"});
    EXPECT_EQ(many.out.find("allocating memory"), std::string::npos);
    auto lines = site_counts(many.file("occusim.tmp"), 31);
    for (const auto &[h, v] : lines) EXPECT_EQ(h.size(), 31u);
    EXPECT_EQ(total(lines), 10);
}

TEST(SpatialRefusals, SurveyCounts) {
    auto wide = run_cli({"T=1024", "N=5", "psi=.5", "p=.4", "SPS=512,512", "SPADEP", "SIMTYPE=2", "SEED=1", "QUIET"});
    EXPECT_EQ(wide.status, 1);
    EXPECT_EQ(wide.err, "occusim8: error: site-by-site spatial simulation handles at most 1023 surveys (T=1024)\n");
    EXPECT_FALSE(wide.exists("occusim.tmp"));
    EXPECT_EQ(wide.pao(), "");

    auto none = run_cli({"N=100", "psi=.5", "p=.4", "th1=.5", "QUIET"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "occusim8: error: T is not set: give T=n, the number of surveys\n");
}

// Needs the multi-method layout: with two methods the recursion walks two
// surveys per visit, and the table must hold their codes.
TEST(SpatialWithMethods, TableCoversExpandedSurveys) {
    auto r = run_cli({"T=1", "METH=2", "N=100", "psi=1", "p1=1", "p2=1", "th0=1,1", "th1=1,1", "QUIET"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("allocating memory for double precision vector of length 4\n"), std::string::npos);
    EXPECT_EQ(r.pao(), "1\t2\n1\t1\t      100.0000000000\n0\n0\n2;2\nsimulated data from occusim8\n");
}

// Pages of the count table that a run wrote to.
long pages_touched(const occusim::Context &ctx) {
    long entries = 0;
    ctx.nx.for_each([&](std::int64_t, double) { entries++; });
    return entries / occusim::CountTable::PAGE;
}

occusim::Context &one_season(occusim::Context &ctx, int T, double psi, double theta0, double theta1,
                             double th0pi, double p) {
    ctx.set_vector_defaults();
    ctx.nper = T;
    ctx.gam[0] = psi;
    ctx.th0pi[0] = th0pi;
    for (int k = 0; k < T; k++) {
        ctx.theta[0][k] = theta0;
        ctx.theta[1][k] = theta1;
        ctx.pa[k] = p;
    }
    ctx.nx.reset(std::int64_t{1} << T);
    return ctx;
}

// Local presence and detection certain at every occupied site: of the 3^20
// branches only two histories hold sites, and only their pages are written.
TEST(SpatialSingleSeason, EmptyBranchesAreNotWalked) {
    occusim::Context ctx;
    one_season(ctx, 20, .25, 1, 1, 1, 1);
    occusim::caphis_scorr(ctx, 0, 1, 0, 0, 1000);
    EXPECT_EQ(ctx.nx.get(0), 750);
    EXPECT_EQ(ctx.nx.get((1 << 20) - 1), 250);
    EXPECT_EQ(pages_touched(ctx), 2);
}

TEST(SpatialSeveralSeasons, EmptyBranchesAreNotWalked) {
    occusim::Context ctx;
    one_season(ctx, 24, .5, 1, 1, 1, 1);
    // Two seasons of 12; nobody colonises or goes extinct.
    ctx.newSeason[0] = ctx.newSeason[12] = 1;
    for (int k = 0; k < 24; k++) ctx.th0pi[k] = 1;
    occusim::caphis_multi_season_scorr(ctx, 0, 1, 0, 0, 100);
    EXPECT_EQ(ctx.nx.get(0), 50);
    EXPECT_EQ(ctx.nx.get((1 << 24) - 1), 50);
    EXPECT_EQ(pages_touched(ctx), 2);
}

// Seeded cohorts skip groups of no sites: the draws and the data stay those
// of the recursion that follows every branch.
TEST(SpatialSingleSeason, SkippingEmptyGroupsKeepsEverySeededDraw) {
    std::mt19937_64 g(5);
    auto prob = [&] {
        return g() % 6 == 0 ? static_cast<double>(g() % 2) : static_cast<double>(g() % 1001) / 1000;
    };
    for (int i = 0; i < 300; i++) {
        const int T = 1 + static_cast<int>(g() % 8);
        const double psi = prob(), th0pi = prob(), n = static_cast<double>(g() % 1000);
        const long seed = 1 + static_cast<long>(g() % 100000);
        occusim::Context now, before;
        for (occusim::Context *c : {&now, &before}) {
            one_season(*c, T, psi, 0, 0, th0pi, 0);
            c->determ = 0;
            c->rng.SelectStream(0);
            c->rng.PlantSeeds(seed);
        }
        for (int k = 0; k < T; k++) {
            now.theta[0][k] = before.theta[0][k] = prob();
            now.theta[1][k] = before.theta[1][k] = prob();
            now.pa[k] = before.pa[k] = prob();
        }
        occusim::caphis_scorr(now, 0, 1, 0, 0, n);
        reference_caphis_scorr(before, 0, 1, 0, 0, n);
        SCOPED_TRACE("design " + std::to_string(i));
        for (std::int64_t code = 0; code < (std::int64_t{1} << T); code++)
            ASSERT_EQ(now.nx.get(code), before.nx.get(code)) << code;
        ASSERT_EQ(now.Random(), before.Random());
    }
}

} // namespace
