// End-to-end runs of the two-class detection mixture: expected numbers worked
// out by hand or by enumerating each site's latent occupancy and class, the
// history-file bytes, the refusal beyond 16 surveys, the precedence over the
// false-positive path, a large seeded stochastic run against the expected
// values, and that the forward pass writes only the histories holding sites.
#include <gtest/gtest.h>

#include <string>

#include "core/context.hpp"
#include "models/single/het.hpp"
#include "support/cli.hpp"
#include "support/history.hpp"

using namespace occusim::testing;

namespace {

TEST(HetMixture, OneSurveyExampleConsoleAndFile) {
    auto r = run_cli({"T=1", "N=100", "psi=.5", "pi=.4", "p=.5", "pB=.25"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "OCCUSIM ver8 180607.2051\n"
                     "\nARG[1]:T=1\nT=1\n"
                     "\nARG[2]:N=100\nN=100.000000\n"
                     "\nARG[3]:psi=.5\npsi=0.50\n"
                     "\nARG[4]:pi=.4\npi=[ 0.40]\n"
                     "\nARG[5]:p=.5\np=[ 0.50]\n"
                     "\nARG[6]:pB=.25\npB=[ 0.25]\n"
                     "determ=1 het=1 MS=0 MS2=0\n"
                     "psi=0.500000 npresnt=100.000000\n"
                     "gam= 0.50\neps= 0.00\np  = 0.50\nth0= 0.00\nth1= 0.00\nb  = 0.00\np10= 0.00\n"
                     "nseasns=1\nSPS= 1\nSeason= 0\nnewSeason= 1\n"
                     "allocating memory for double precision vector of length 2\n"
                     "\n=========== prnt_caphis =========\n");
    // 50 occupied: 20 in class A (10 detected), 30 in class B (7.5 detected).
    EXPECT_EQ(r.pao(), "2\t1\n"
                       "0\t       82.5000000000\n"
                       "1\t       17.5000000000\n"
                       "0\n0\n1;0\nsimulated data from occusim8\n");
}

TEST(HetMixture, AllClassAGivesThePlainModel) {
    // 100 * 0.5 * 0.4^d * 0.6^(3-d) for d detections, plus 50 empty sites.
    auto r = run_cli({"T=3", "N=100", "psi=.5", "p=.4", "pi=1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "8\t3\n"
                       "0\t0\t0\t       60.8000000000\n"
                       "0\t0\t1\t        7.2000000000\n"
                       "0\t1\t0\t        7.2000000000\n"
                       "0\t1\t1\t        4.8000000000\n"
                       "1\t0\t0\t        7.2000000000\n"
                       "1\t0\t1\t        4.8000000000\n"
                       "1\t1\t0\t        4.8000000000\n"
                       "1\t1\t1\t        3.2000000000\n"
                       "0\n0\n3;0\nsimulated data from occusim8\n");

    // With colonisation and extinction between surveys too, every history
    // gets what the plain cohort recursion gives it.
    const Args design = {"T=4", "N=100", "psi=.6", "p=.3,.5,.7,.4", "gam=.2,.1,.3", "eps=.1,.3,.2"};
    auto plain = run_cli(design);
    auto het = run_cli(with(design, {"pi=1", "pB=.9"}));
    ASSERT_EQ(plain.status, 0);
    ASSERT_EQ(het.status, 0);
    auto want = history_counts(plain.pao());
    auto got = history_counts(het.pao());
    ASSERT_EQ(got.size(), want.size());
    for (const auto &[text, freq] : want) EXPECT_NEAR(got[text], freq, 1e-6) << text;
}

TEST(HetMixture, ClassIsRedrawnWhenASeasonOpens) {
    // Class A is always detected, class B never. Within one season a site
    // keeps its class; with one survey per season it is drawn afresh.
    auto one = run_cli({"T=2", "N=100", "psi=1", "pi=.5", "p=1", "pB=0"});
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.pao(), "2\t2\n"
                         "0\t0\t       50.0000000000\n"
                         "1\t1\t       50.0000000000\n"
                         "0\n0\n2;0\nsimulated data from occusim8\n");
    auto two = run_cli({"T=2", "SPS=1", "N=100", "psi=1", "pi=.5", "p=1", "pB=0"});
    EXPECT_EQ(two.status, 0);
    EXPECT_EQ(two.pao(), "4\t2\n"
                         "0\t0\t       25.0000000000\n"
                         "0\t1\t       25.0000000000\n"
                         "1\t0\t       25.0000000000\n"
                         "1\t1\t       25.0000000000\n"
                         "0\n0\n1,1;0\nsimulated data from occusim8\n");

    // Two seasons of two surveys with colonisation (a colonised site draws
    // its class when it is first occupied) and extinction; numbers from an
    // enumeration of every site's occupancy and class path.
    auto r = run_cli(
        {"T=4", "SPS=2", "N=100", "psi=.6", "pi=.3", "p=.7", "pB=.2", "gam=.1,.2,.3", "eps=.05,.1,.15"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "16\t4\n"
                       "0\t0\t0\t0\t       47.0197343750\n"
                       "0\t0\t0\t1\t        8.6011406250\n"
                       "0\t0\t1\t0\t        6.9023718750\n"
                       "0\t0\t1\t1\t        5.1017531250\n"
                       "0\t1\t0\t0\t        6.1496093750\n"
                       "0\t1\t0\t1\t        1.6422656250\n"
                       "0\t1\t1\t0\t        2.0602968750\n"
                       "0\t1\t1\t1\t        1.5228281250\n"
                       "1\t0\t0\t0\t        6.2497968750\n"
                       "1\t0\t0\t1\t        1.5595781250\n"
                       "1\t0\t1\t0\t        1.8489843750\n"
                       "1\t0\t1\t1\t        1.3666406250\n"
                       "1\t1\t0\t0\t        5.3927343750\n"
                       "1\t1\t0\t1\t        1.4401406250\n"
                       "1\t1\t1\t0\t        1.8067218750\n"
                       "1\t1\t1\t1\t        1.3354031250\n"
                       "0\n0\n2,2;0\nsimulated data from occusim8\n");
}

TEST(HetMixture, SeededTwoSeasonRunFollowsTheOrderOfDraws) {
    // Bytes from a separate replay of the generator: per call the splits for
    // occupancy, class, class-A and class-B detection, branches in the order
    // dA, dB, mA, mB, unoccupied, and the class redrawn at survey 3. Swapping
    // the two detection splits, the first two branches, or skipping the
    // redraw each gives a different file.
    auto r = run_cli({"T=4", "SPS=2", "N=12", "psi=.6", "pi=.4", "p=.7", "pB=.3", "gam=.2,.3,.1",
                      "eps=.2,.1,.3", "STOCH", "SEED=2718", "QUIET"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "12\t4\n"
                       "0\t0\t0\t0\t\n0\t0\t0\t0\t\n0\t0\t0\t0\t\n"
                       "0\t0\t1\t0\t\n0\t0\t1\t0\t\n0\t0\t1\t0\t\n"
                       "0\t1\t0\t1\t\n"
                       "0\t1\t1\t0\t\n"
                       "0\t1\t1\t1\t\n"
                       "1\t0\t1\t0\t\n1\t0\t1\t0\t\n"
                       "1\t1\t0\t0\t\n"
                       "0\n0\n2,2;0\nsimulated data from occusim8\n");
}

TEST(HetMixture, CohortReachingSurvey17StopsTheRun) {
    auto r = run_cli({"T=17", "N=10", "psi=.5", "p=.5", "HET"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with(
        "allocating memory for double precision vector of length 131072\n\n ERROR per > MXPER"))
        << r.out;
    EXPECT_TRUE(r.exists("occusim.pao"));
    EXPECT_EQ(r.pao(), "");

    // No site ever reaches survey 17: the run ends normally.
    auto empty = run_cli({"T=17", "N=0", "psi=.5", "p=.5", "HET"});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.pao(), "0\t17\n0\n0\n17;0\nsimulated data from occusim8\n");
}

TEST(HetMixture, TakesPrecedenceOverFalsePositives) {
    // The p10 vector is ignored: base-2 histories, 50 + 50 * 0.6^2 undetected.
    auto r = run_cli({"T=2", "N=100", "psi=.5", "p=.4", "pi=1", "p10=.3"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("allocating memory for double precision vector of length 4\n"), std::string::npos);
    EXPECT_EQ(r.pao(), "4\t2\n"
                       "0\t0\t       68.0000000000\n"
                       "0\t1\t       12.0000000000\n"
                       "1\t0\t       12.0000000000\n"
                       "1\t1\t        8.0000000000\n"
                       "0\n0\n2;0\nsimulated data from occusim8\n");
}

TEST(HetMixture, StochasticRunAgreesWithExpectedValues) {
    const std::vector<std::string> design = {"T=3",  "N=20000", "psi=.6", "pi=.4",
                                             "p=.7", "pB=.2",   "eps=.1", "gam=.2"};
    auto expected = run_cli(design);
    auto stoch = run_cli(with(design, {"STOCH", "SEED=20240"}));
    ASSERT_EQ(expected.status, 0);
    ASSERT_EQ(stoch.status, 0);
    EXPECT_EQ(stoch.pao().substr(0, 9), "20000\t3\n0");

    auto got = history_counts(stoch.pao());
    auto c = chi_square(got, history_counts(expected.pao()));
    ASSERT_EQ(c.unexpected, std::vector<std::string>());
    EXPECT_EQ(total(got), 20000);
    // 7 degrees of freedom: 24.3 is the 0.1% point.
    EXPECT_LT(c.statistic, 24.3);
}

// Both classes always detected at sites that stay occupied: one history of
// the 2^16 holds every site, and only its page is written.
TEST(HetMixture, EmptyBranchesAreNotWalked) {
    occusim::Context ctx;
    ctx.set_vector_defaults();
    ctx.nper = 16;
    ctx.gam[0] = 1;
    ctx.newSeason[0] = 1;
    for (int k = 0; k < 16; k++) {
        ctx.pi[k] = .3;
        ctx.pa[k] = ctx.pB[k] = 1;
    }
    ctx.nx.reset(std::int64_t{1} << 16);
    occusim::caphis_het(ctx, 0, 1, 0, 0, 100);
    EXPECT_EQ(ctx.nx.get((1 << 16) - 1), 100);
    long entries = 0;
    ctx.nx.for_each([&](std::int64_t, double) { entries++; });
    EXPECT_EQ(entries, occusim::CountTable::PAGE);
}

} // namespace
