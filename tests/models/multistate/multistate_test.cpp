// Multistate psi/R model end to end: the worked example, multi-season runs,
// site-by-site simulation, the LIST echo, the dlta marker, seeded runs replayed
// from the generator, stochastic runs against expected values, and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "core/errors.hpp"
#include "models/multistate/ms_test_support.hpp"
#include "models/multistate/multistate.hpp"
#include "models/multistate/reference_multistate.hpp"
#include "support/replay.hpp"

namespace {

using namespace occusim::testing;

const std::vector<std::string> kExample{"T=1",   "N=100", "MULTISTATE", "psi0=.5",
                                        "R0=.4", "p1=.5", "p2=.8",      "dlta=.5"};

TEST(MultistatePsiR, WorkedExampleSingleSurvey) {
    // 50 unoccupied, 30 non-breeding (15 seen), 20 breeding (16 seen, 8 with
    // young): history 0 = 50 + 15 + 4, 1 = 15 + 8, 2 = 8.
    auto r = run_cli(kExample);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(from_marker(r.out, "\nMultistate"),
              "\nMultistate (psi/R parm) simulation ...\n"
              "\nnum_srvys=1  N=100.000  nseasns=1  SIMTYPE=1  SRVYPERSEASN: 1\n"
              "psi0: 0.50 R0 : 0.40\n"
              "Cpsi0  :\nCpsi1  :\nCpsi2  :\ncR0    :\ncR1    :\ncR2    :\n"
              "p1    : 0.50\np2    : 0.80\n"
              "nlines=6 frqcol=2\nnin=6 nout=2\nend of program(occusim8.exe)\n");
    EXPECT_EQ(r.pao(), "3\t1\n0\t69.000000\n1\t23.000000\n2\t8.000000\n0\n0\n1" + kTrailer);
    EXPECT_TRUE(r.exists("occusim.inp"));
    EXPECT_EQ(r.file("occusim.inp"), "");
    EXPECT_EQ(r.file("occusim.tmp"), "0\t50.000000\n0\t15.000000\n1\t15.000000\n"
                                     "0\t4.000000\n1\t8.000000\n2\t8.000000\n");
}

TEST(MultistatePsiR, ListEchoesEveryWrittenHistoryInRecursionOrder) {
    auto r = run_cli(with(kExample, {"LIST", "QUIET"}));
    EXPECT_NE(r.out.find("p2    : 0.80\nMSCAPHIS:0 50.000000\nMSCAPHIS:0 15.000000\nMSCAPHIS:1 15.000000\n"
                         "MSCAPHIS:0 4.000000\nMSCAPHIS:1 8.000000\nMSCAPHIS:2 8.000000\nnin=6"),
              std::string::npos);
}

TEST(MultistatePsiR, SeasonsOpenWithColonisationAndBreedingChanges) {
    // Seasons of 1 and 2 surveys. Before survey 1: states 0.4 / 0.3 / 0.3;
    // into season 2 from state 0: occupied .2, breeding .3; from 1: .7, .4;
    // from 2: .9, .8; the state holds within season 2. Detection: state 1
    // code 1 with .5; state 2 code 1 with .8 * .5, code 2 with .8 * .5.
    // Expected counts from summing over all state paths.
    auto r = run_cli({"T=3", "N=100000", "SPS=1,2", "psi0=.6", "R0=.5", "Cpsi0=.2", "Cpsi1=.7", "Cpsi2=.9",
                      "cR0=.3", "cR1=.4", "cR2=.8", "p1=.5", "p2=.8", "dlta=.5", "QUIET"});
    EXPECT_EQ(r.status, 0);
    // Surveys inside a season show the closure.
    EXPECT_NE(r.out.find("SRVYPERSEASN: 1 2\npsi0: 0.60 R0 : 0.50\nCpsi0  : 0.20 0.00\nCpsi1  : 0.70 1.00\n"
                         "Cpsi2  : 0.90 1.00\ncR0    : 0.30 0.00\ncR1    : 0.40 0.00\ncR2    : 0.80 1.00\n"),
              std::string::npos);
    EXPECT_EQ(r.pao(), "27\t3\n"
                       "0\t0\t0\t40781.800000\n0\t0\t1\t4118.600000\n0\t0\t2\t873.600000\n"
                       "0\t1\t0\t4118.600000\n0\t1\t1\t4992.200000\n0\t1\t2\t1747.200000\n"
                       "0\t2\t0\t873.600000\n0\t2\t1\t1747.200000\n0\t2\t2\t1747.200000\n"
                       "1\t0\t0\t8328.600000\n1\t0\t1\t3142.200000\n1\t0\t2\t1027.200000\n"
                       "1\t1\t0\t3142.200000\n1\t1\t1\t4169.400000\n1\t1\t2\t2054.400000\n"
                       "1\t2\t0\t1027.200000\n1\t2\t1\t2054.400000\n1\t2\t2\t2054.400000\n"
                       "2\t0\t0\t2085.600000\n2\t0\t1\t1231.200000\n2\t0\t2\t691.200000\n"
                       "2\t1\t0\t1231.200000\n2\t1\t1\t1922.400000\n2\t1\t2\t1382.400000\n"
                       "2\t2\t0\t691.200000\n2\t2\t1\t1382.400000\n2\t2\t2\t1382.400000\n"
                       "0\n0\n1,2" +
                           kTrailer);
}

TEST(MultistatePsiR, UnsetDltaMeansYoungNeverSeenWithAWarning) {
    // Without dlta the 16 detected breeding sites are all recorded 1.
    auto r = run_cli({"T=1", "N=100", "MULTISTATE", "psi0=.5", "R0=.4", "p1=.5", "p2=.8", "QUIET"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "occusim8: warning: dlta not given, young never detected\n");
    EXPECT_EQ(r.pao(), "2\t1\n0\t69.000000\n1\t31.000000\n0\n0\n1" + kTrailer);
}

TEST(MultistatePsiR, SiteBySiteWritesOneLinePerSite) {
    // Every site breeds and is seen with young: N=5.4 gives 5 sites.
    auto r = run_cli({"T=2", "N=5.4", "psi0=1", "R0=1", "p2=1", "dlta=1", "SIMTYPE=2", "SEED=11", "QUIET"});
    EXPECT_EQ(r.status, 0);
    std::string site = "2\t2\t\n";
    EXPECT_EQ(r.file("occusim.tmp"), site + site + site + site + site);
    EXPECT_EQ(r.pao(), "1\t2\n2\t2\t5.000000\n0\n0\n2" + kTrailer);

    // PAOF: one site, written with the count N.
    auto p = run_cli(
        {"T=2", "N=5.4", "psi0=1", "R0=1", "p2=1", "dlta=1", "SIMTYPE=2", "SEED=11", "PAOF", "QUIET"});
    EXPECT_EQ(p.file("occusim.tmp"), "2\t2\t5.400000\n");
    EXPECT_EQ(p.pao(), "1\t2\n2\t2\t5.400000\n0\n0\n2" + kTrailer);

    // Young are seen only where the adults were detected.
    auto m = run_cli({"T=2", "N=4", "psi0=1", "R0=1", "p2=0", "dlta=1", "SIMTYPE=2", "SEED=11", "QUIET"});
    EXPECT_EQ(m.pao(), "1\t2\n0\t0\t4.000000\n0\n0\n2" + kTrailer);
}

// Seeded runs replayed from the generator. A binomial split of a small group
// draws one uniform per site (success when it is at most p); splits with p
// exactly 0 or 1 draw nothing.
TEST(MultistatePsiR, SeededRunsFollowTheDrawOrder) {
    auto rng = planted(1);
    auto split = [&](int n, double p) {
        int k = 0;
        for (int i = 0; i < n; i++) k += rng.Random() <= p;
        return k;
    };
    auto lines = [](int n, const char *line) {
        std::string s;
        for (int i = 0; i < n; i++) s += line;
        return s;
    };

    // Cohort recursion, one survey: occupied, then breeding among them; then
    // per state the detections and the young among them (drawn at
    // non-breeding sites too, and discarded there).
    const int occ = split(20, .6), brd = split(occ, .5);
    const int d1 = split(occ - brd, .5);
    split(d1, .4);
    const int d2 = split(brd, .7), y2 = split(d2, .4);
    ASSERT_GT(d1, 0);
    ASSERT_GT(y2, 0);
    ASSERT_GT(d2 - y2, 0);
    auto c =
        run_cli({"T=1", "N=20", "psi0=.6", "R0=.5", "p1=.5", "p2=.7", "dlta=.4", "STOCH", "SEED=1", "QUIET"});
    EXPECT_EQ(c.file("occusim.tmp"), lines(20 - occ, "0\n") + lines(occ - brd - d1, "0\n") +
                                         lines(d1, "1\n") + lines(brd - d2, "0\n") + lines(d2 - y2, "1\n") +
                                         lines(y2, "2\n"));

    // Site by site, two surveys of one season: per survey the occupancy
    // draw, the breeding draw (occupied sites only), the detection draw and,
    // at breeding sites, the young draw.
    rng = planted(1);
    const double psi[3][2] = {{.6, 0}, {0, 1}, {0, 1}}, R[3][2] = {{.5, 0}, {0, 0}, {0, 1}};
    const double p[3] = {0, .5, .7};
    std::string tmp;
    for (int site = 0; site < 6; site++) {
        int prev = 0;
        for (int k = 0; k < 2; k++) {
            int s = rng.Random() < psi[prev][k];
            if (s == 1 && rng.Random() < R[prev][k]) s = 2;
            int obs = rng.Random() < p[s];
            if (s == 2 && rng.Random() < .4 && obs == 1) obs = 2;
            tmp += std::to_string(obs) + "\t";
            prev = s;
        }
        tmp += "\n";
    }
    ASSERT_NE(tmp.find('2'), std::string::npos);
    auto s = run_cli(
        {"T=2", "N=6", "psi0=.6", "R0=.5", "p1=.5", "p2=.7", "dlta=.4", "SIMTYPE=2", "SEED=1", "QUIET"});
    EXPECT_EQ(s.file("occusim.tmp"), tmp);
}

TEST(MultistatePsiR, StochasticRunsAgreeWithExpectedValues) {
    const std::vector<std::string> model{"T=2",      "SPS=1",  "psi0=.6", "R0=.5", "Cpsi0=.3", "Cpsi1=.8",
                                         "Cpsi2=.9", "cR1=.3", "cR2=.7",  "p1=.5", "p2=.8",    "dlta=.5"};
    auto e = run_cli(with(model, {"N=20000", "QUIET"}));
    auto expected = history_counts(e.pao());

    auto s = run_cli(with(model, {"N=20000", "STOCH", "SEED=7", "QUIET"}));
    EXPECT_EQ(s.status, 0);
    auto sim = history_counts(s.pao());
    EXPECT_EQ(total(sim), 20000);
    expect_agrees(sim, expected);
    EXPECT_EQ(run_cli(with(model, {"N=20000", "STOCH", "SEED=7", "QUIET"})).pao(), s.pao());

    auto site = run_cli(with(model, {"N=10000", "SIMTYPE=2", "SEED=5", "QUIET"}));
    auto by_site = history_counts(site.pao());
    EXPECT_EQ(total(by_site), 10000);
    expect_agrees(by_site, scaled(expected, 0.5));
}

TEST(MultistatePsiR, RefusesMoreThanNineSurveys) {
    auto r = run_cli({"T=10", "N=100", "MULTISTATE", "psi0=.5", "dlta=.5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "occusim8: error: T=10: multistate histories hold at most 9 surveys\n");
    EXPECT_FALSE(r.exists("occusim.pao"));
    EXPECT_FALSE(r.exists("occusim.tmp"));
}

TEST(MultistatePsiR, UncreatableFilesAreReportedInTheErrorFile) {
    for (const char *name : {"occusim.inp", "occusim.tmp"}) {
        auto r = run_cli(kExample, "", blocking(name));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.file("occusim.err"), std::string("error opening ") + name + "\n");
        EXPECT_FALSE(r.exists("occusim.pao"));
    }
}

// ---- exact expected counts over the tree of history prefixes ----

struct Collect : occusim::HistorySink {
    std::map<std::string, double> counts;
    std::vector<std::string> order;
    void history(std::string_view fields, double count) override {
        order.emplace_back(fields);
        counts[std::string(fields)] += count;
    }
};

// A random design: T surveys in random seasons, every parameter drawn from
// [0, 1] with exact 0s and 1s mixed in (so that whole branches empty), dlta
// sometimes left unset.
void random_design(occusim::Context &ctx, std::mt19937_64 &gen, int T) {
    std::uniform_real_distribution<double> u(0, 1);
    auto prob = [&] {
        const double r = u(gen);
        return r < 0.1 ? 0.0 : r < 0.2 ? 1.0 : u(gen);
    };
    ctx.set_vector_defaults();
    ctx.nper = T;
    int left = T, season = 0;
    while (left > 0) {
        const int len = 1 + static_cast<int>(gen() % static_cast<unsigned>(left));
        ctx.SRVYPERSEASN[season++] = len;
        left -= len;
    }
    ctx.nseasns = season;
    for (int k = 0; k < T; k++) {
        for (int i = 0; i < 2; i++)
            for (int s = 0; s < 3; s++) ctx.psiMS[i][s][k] = prob();
        ctx.pMS[0][1][k] = prob();
        ctx.pMS[0][2][k] = prob();
        ctx.dlta[k] = u(gen) < 0.1 ? -1 : prob();
    }
}

TEST(MultistatePsiRExpected, PrefixTreeGivesThePathSums) {
    std::mt19937_64 gen(20261208);
    long paths = 0, histories = 0;
    for (int trial = 0; trial < 1000; trial++) {
        const int T = 1 + trial % 5;
        const double N = trial % 3 == 0 ? 1.0 : 1000.0 * (1 + trial % 7);
        occusim::Context ctx;
        random_design(ctx, gen, T);
        Collect tree;
        occusim::ms_expected_histories(ctx, N, tree);
        PsiRPaths ref(ctx, T); // the design as the pass left it (seasons closed)
        const auto want = ref.run(N);
        paths += ref.paths();
        histories += static_cast<long>(want.size());

        ASSERT_EQ(tree.counts.size(), want.size()) << "trial " << trial;
        EXPECT_TRUE(std::is_sorted(tree.order.begin(), tree.order.end())) << "trial " << trial;
        double sum = 0;
        for (const auto &[h, x] : want) {
            auto it = tree.counts.find(h);
            ASSERT_NE(it, tree.counts.end()) << "trial " << trial << " history " << h;
            EXPECT_NEAR(it->second, x, 1e-12 * x) << "trial " << trial << " history " << h;
            sum += it->second;
        }
        // For probabilities in [0, 1] the sites are all accounted for.
        EXPECT_NEAR(sum, N, 1e-9 * N) << "trial " << trial;
    }
    // The sweep must exercise paths that end in the same history.
    EXPECT_GT(paths, 2 * histories);
}

TEST(MultistatePsiRExpected, AgreesWithTheHistoryFileToItsRounding) {
    // The file adds up each path's count as written with six decimals.
    auto r = run_cli({"T=3", "N=1000", "SPS=1,1,1", "psi0=.6", "R0=.5", "Cpsi0=.3", "Cpsi1=.8", "Cpsi2=.9",
                      "cR0=.3", "cR1=.3", "cR2=.7", "p1=.5", "p2=.8", "dlta=.5", "QUIET"});
    ASSERT_EQ(r.status, 0);
    occusim::Context ctx;
    ctx.set_vector_defaults();
    ctx.nper = 3;
    ctx.nseasns = 3;
    for (int k = 0; k < 3; k++) {
        ctx.SRVYPERSEASN[k] = 1;
        ctx.pMS[0][1][k] = .5;
        ctx.pMS[0][2][k] = .8;
        ctx.dlta[k] = .5;
    }
    ctx.psiMS[0][0][0] = .6;
    ctx.psiMS[1][0][0] = .5;
    for (int k = 1; k < 3; k++) {
        ctx.psiMS[0][0][k] = .3, ctx.psiMS[0][1][k] = .8, ctx.psiMS[0][2][k] = .9;
        ctx.psiMS[1][0][k] = .3, ctx.psiMS[1][1][k] = .3, ctx.psiMS[1][2][k] = .7;
    }
    Collect tree;
    occusim::ms_expected_histories(ctx, 1000, tree);
    auto file = history_counts(r.pao());
    ASSERT_EQ(file.size(), tree.counts.size());
    for (const auto &[h, x] : tree.counts) {
        std::string digits;
        for (char ch : h)
            if (ch != '\t') digits += ch;
        EXPECT_NEAR(file[digits], x, 27 * 5e-7) << digits;
    }
}

TEST(MultistatePsiRExpected, EmptyBranchesAreNotExtended) {
    // Nobody is ever occupied. The parameters of the occupied states are
    // undefined: touching any branch that holds no sites would turn the one
    // live history into an undefined count, and it would not be reported.
    occusim::Context ctx;
    ctx.set_vector_defaults();
    const int T = 9;
    ctx.nper = T;
    ctx.SRVYPERSEASN[0] = 1; // every survey opens a season
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int k = 0; k < T; k++) {
        ctx.psiMS[0][0][k] = 0;
        ctx.psiMS[1][0][k] = 0.5;
        for (int s = 1; s < 3; s++) ctx.psiMS[0][s][k] = ctx.psiMS[1][s][k] = ctx.pMS[0][s][k] = nan;
        ctx.dlta[k] = 0.5;
    }
    Collect tree;
    occusim::ms_expected_histories(ctx, 250, tree);
    ASSERT_EQ(tree.order.size(), 1u);
    EXPECT_EQ(tree.order[0], "0\t0\t0\t0\t0\t0\t0\t0\t0");
    EXPECT_EQ(tree.counts[tree.order[0]], 250);
}

TEST(MultistatePsiRExpected, RefusesTheSurveysARunRefuses) {
    occusim::Context ctx;
    ctx.set_vector_defaults();
    ctx.nper = 10;
    Collect tree;
    EXPECT_THROW(occusim::ms_expected_histories(ctx, 10, tree), occusim::InputError);
}

} // namespace
