// End-to-end runs of the single-season two-species model and of the family's
// entry: expected values, seeded random data by cohort and site by site, the
// phi parameterisation, the refused parameter combinations and design limits.
#include <gtest/gtest.h>

#include "models/twospecies/reference_cohorts.hpp"
#include "models/twospecies/sweep.hpp"
#include "support/cli.hpp"
#include "support/history.hpp"

using namespace occusim::testing;

namespace {

const Args kModel = {"psiA=.6", "psiBA=.5", "psiBa=.25", "pA=.5", "pB=.4", "rA=.8", "rBA=.5", "rBa=.25"};

TEST(TwoSpecies, WorkedExampleOfFourOutcomes) {
    // 100 sites, A at half of them; B at 40% of the A sites and 20% of the
    // others; every detection certain: 40 neither, 30 A only, 10 B only, 20 both.
    auto r = run_cli(
        {"T=1", "N=100", "psiA=.5", "psiBA=.4", "psiBa=.2", "pA=1", "pB=1", "rA=1", "rBA=1", "rBa=1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "4\t1\n0\t40.000000\n1\t30.000000\n2\t10.000000\n3\t20.000000\n"
                       "0\n0\n1\nsimulated data from occusim8\n");
    EXPECT_EQ(from_marker(r.out, "2-species"),
              "2-species simulation:\npA  = 1.000000\npB  = 1.000000\nrA  = 1.000000\nrBA = 1.000000\n"
              "rBa = 1.000000\nnAonly,nBonly,nAB,neither: 30.000000 10.000000 20.000000 40.000000\n"
              "\n=========== prnt_caphis2 ========= nper=1 sps=1 meth=0\n");
    EXPECT_EQ(r.err, "nsites:100 nsurveys:1 psiA=0.500000 psiBA=0.400000 psiBa=0.200000\n");
}

TEST(TwoSpecies, ExpectedValuesOverTwoSurveys) {
    // Sites by state: A only 100*.6*.5 = 30, both 30, B only 100*.4*.25 = 10,
    // neither 30. Outcome per survey: A only 1:.5 0:.5; B only 2:.4 0:.6; both
    // 3:.8*.5 1:.8*.5 2:.2*.25 0:.2*.75. History (x,y) = sum over states of
    // sites * P(x) * P(y), e.g. 0,0 = 30 + 30*.25 + 10*.36 + 30*.0225 = 41.775.
    auto r = run_cli(with({"T=2", "N=100"}, kModel));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "16\t2\n"
                       "0\t0\t41.775000\n0\t1\t9.300000\n0\t2\t2.625000\n0\t3\t1.800000\n"
                       "1\t0\t9.300000\n1\t1\t12.300000\n1\t2\t0.600000\n1\t3\t4.800000\n"
                       "2\t0\t2.625000\n2\t1\t0.600000\n2\t2\t1.675000\n2\t3\t0.600000\n"
                       "3\t0\t1.800000\n3\t1\t4.800000\n3\t2\t0.600000\n3\t3\t4.800000\n"
                       "0\n0\n2\nsimulated data from occusim8\n");
    EXPECT_EQ(from_marker(r.out, "2-species"),
              "2-species simulation:\npA  = 0.500000 0.500000\npB  = 0.400000 0.400000\n"
              "rA  = 0.800000 0.800000\nrBA = 0.500000 0.500000\nrBa = 0.250000 0.250000\n"
              "nAonly,nBonly,nAB,neither: 30.000000 10.000000 30.000000 30.000000\n"
              "\n=========== prnt_caphis2 ========= nper=2 sps=2 meth=0\n");
}

TEST(TwoSpecies, SeededCohortRunWritesEachHistoryOnceWithItsCount) {
    // Worked out by replaying the generator from seed 2024 through the
    // binomial splits (38 uniforms): A only 2, B only 1, both 4, neither 1.
    auto r = run_cli(with({"T=2", "N=8"}, with(kModel, {"STOCH", "SEED=2024"})));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("nAonly,nBonly,nAB,neither: 2.000000 1.000000 4.000000 1.000000\n"),
              std::string::npos);
    EXPECT_EQ(r.pao(), "6\t2\n0\t0\t1.000000\n1\t0\t1.000000\n1\t1\t1.000000\n1\t2\t1.000000\n"
                       "2\t2\t1.000000\n3\t1\t3.000000\n0\n0\n2\nsimulated data from occusim8\n");
}

TEST(TwoSpecies, SeededSiteBySiteRun) {
    // Uniforms from seed 161: .0036 .6902 | .8178 .5494 | .8409 .5401 | .9111
    // .0794 | .3279 .7055 | .4172 .2228 | .7390 .3402 | .2989 .3857.
    // Site 1 A only, missed twice; site 2 empty (two draws only); site 3 B only,
    // seen at survey 1; site 4 both, A (< .8) and B (< .5) seen at both surveys.
    auto r = run_cli(with({"T=2", "N=4"}, with(kModel, {"SIMTYPE=2", "SEED=161"})));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "4\t2\n0\t0\t1\n0\t0\t1\n2\t0\t1\n3\t3\t1\n0\n0\n2\nsimulated data from occusim8\n");
    EXPECT_EQ(from_marker(r.out, "nAonly"),
              "nAonly,nBonly,nAB,neither: 1.000000 1.000000 1.000000 1.000000\n");
    EXPECT_EQ(from_marker(r.err, "nsites"),
              "nsites:4 nsurveys:2 psiA=0.600000 psiBA=0.500000 psiBa=0.250000\n"
              "simulating by individual...\n");
}

TEST(TwoSpecies, PhiWithoutRbLeavesBUndetectedWhereBothArePresent) {
    // psiBA = 1.5 * .4 = .6, psiBa = (.4 - .5*.4*1.5) / .5 = .2; without rB
    // both rBA and rBa are 0, so the 30 sites with both look like A-only sites
    // (20 more): only the 10 B-only sites show a 2, and no 3 appears.
    auto r = run_cli({"T=2", "N=100", "psiA=.5", "psiB=.4", "phi=1.5", "pA=.5", "pB=.5", "rA=.5", "dlta=1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(),
              "7\t2\n0\t0\t55.000000\n0\t1\t12.500000\n0\t2\t2.500000\n1\t0\t12.500000\n"
              "1\t1\t12.500000\n2\t0\t2.500000\n2\t2\t2.500000\n0\n0\n2\nsimulated data from occusim8\n");
    EXPECT_EQ(r.err, "nsites:100 nsurveys:2 psiA=0.500000 psiB=0.400000 phi=1.500000\n"
                     "nsites:100 nsurveys:2 psiA=0.500000 psiBA=0.600000 psiBa=0.200000\n");
    EXPECT_NE(r.out.find("rBA = 0.000000 0.000000\nrBa = 0.000000 0.000000\n"), std::string::npos);
}

TEST(TwoSpecies, PhiOnABranchThatCannotOccurKeepsCountsFinite) {
    // psiA = 1 leaves no site without A and rA = 1 no site where A is missed:
    // psiBa and rBa are 0/0 there. The 60 A-only and 40 shared sites still give
    // 30 + 0 empty, 30 + 20 A-only and 20 both-detected histories.
    auto r = run_cli({"T=1", "N=100", "psiA=1", "psiB=.4", "phi=1", "pA=.5", "rA=1", "dlta=1", "rB=.5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(),
              "3\t1\n0\t30.000000\n1\t50.000000\n3\t20.000000\n0\n0\n1\nsimulated data from occusim8\n");
}

TEST(TwoSpecies, ImpossibleOccupancyIsRefusedBeforeAnyFile) {
    auto r = run_cli({"T=2", "N=100", "psiA=.5", "psiBA=1.2", "psiBa=.2", "pA=.5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "occusim8: error: psiBA=1.2: 1.2 is not a probability: give a value from 0 to 1\n");
    EXPECT_FALSE(r.exists("occusim.err"));
    EXPECT_FALSE(r.exists("occusim.pao"));
}

TEST(TwoSpecies, ImpossibleDetectionIsReportedAfterTheDetectionEcho) {
    // rBA = dlta * rB = 1.6.
    auto r = run_cli({"T=2", "N=100", "outfile=two.pao", "psiA=.5", "psiB=.4", "phi=1", "pA=.5", "rA=.5",
                      "rB=.8", "dlta=2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.file("occusim.err"), "error: impossible combination of rA,rB,dlta.\n");
    EXPECT_TRUE(r.exists("two.pao"));
    EXPECT_EQ(r.file("two.pao"), "");
    EXPECT_EQ(from_marker(r.out, "2-species"), "2-species simulation:\npA  = 0.500000 0.500000\n"
                                               "pB  = 0.000000 0.000000\nrA  = 0.500000 0.500000\n"
                                               "rBA = 1.600000 1.600000\nrBa = 0.000000 0.000000\n");
}

TEST(TwoSpecies, SurveyLimitsOfTheTwoForms) {
    // The cohort table of 2 * 4^T entries no longer fits from 15 surveys on.
    auto big = run_cli({"T=15", "N=10", "psiA=.5", "pA=.5"});
    EXPECT_EQ(big.status, 1);
    EXPECT_EQ(from_marker(big.out, "2-species"), "2-species simulation:\nerror allocating nx\n");
    EXPECT_EQ(big.pao(), "");

    // Site by site needs no table: 511 surveys work, 512 are refused.
    auto most = run_cli({"T=511", "N=2", "psiA=.5", "pA=.5", "SIMTYPE=2", "SEED=3"});
    EXPECT_EQ(most.status, 0);
    std::string pao = most.pao();
    EXPECT_EQ(pao.substr(0, 6), "2\t511\n");
    EXPECT_EQ(pao.find('\n', 6), 6 + 2 * 511 + 1);
    auto over = run_cli({"T=512", "N=2", "psiA=.5", "pA=.5", "SIMTYPE=2", "SEED=3"});
    EXPECT_EQ(over.status, 1);
    EXPECT_NE(
        over.err.find("occusim8: error: T=512: two-species simulation site by site handles at most 511 surveys\n"),
        std::string::npos);
    EXPECT_EQ(over.pao(), "");
}

TEST(TwoSpecies, SiteBySiteAndCohortRandomDataAgreeWithExpectedValues) {
    const Args design = {"T=3", "N=20000"};
    auto expected = history_counts(run_cli(with(design, kModel)).pao());
    for (const Args &mode : {Args{"SIMTYPE=2", "SEED=17"}, Args{"STOCH", "SEED=17"}}) {
        auto r = run_cli(with(design, with(kModel, mode)));
        ASSERT_EQ(r.status, 0);
        auto c = chi_square(history_counts(r.pao()), expected, Small::pool);
        EXPECT_LT(c.statistic, c.critical()) << mode[0];
    }
}

} // namespace

namespace walk {

using namespace occusim::testing::sweep;

Args random_line(Lines &g) {
    const int T = g.surveys(7);
    Args a = with({"T=" + std::to_string(T)}, g.sites(g.chance(33)));
    a.push_back("psiA=" + g.prob());
    if (g.chance(20)) {
        static const char *const phis[] = {"phi=0.5", "phi=1", "phi=1.5"};
        static const char *const dltas[] = {"dlta=0.5", "dlta=1", "dlta=1.2"};
        a = with(a, {"psiB=" + g.prob(), phis[g.below(3)], "rB=" + g.probs(T), dltas[g.below(3)]});
    } else {
        a = with(a, {"psiBA=" + g.prob(), "psiBa=" + g.prob(), "rBA=" + g.probs(T), "rBa=" + g.probs(T)});
    }
    return with(a, {"pA=" + g.probs(T), "pB=" + g.probs(T), "rA=" + g.probs(T)});
}

TEST(TwoSpecies, PrefixWalkGivesTheCohortRecursionsCountsToTheLastBit) {
    // The occupancy state never changes, so the walk forms every count with
    // the recursion's own operations: no history may differ even by rounding.
    Lines g(20261208);
    const int wanted = lines_wanted();
    Summary s = run_sweep([&] { return random_line(g); }, occusim::testing::reference::two_species_cohorts,
                          "2-species simulation:\npA  =", wanted);
    EXPECT_EQ(s.compared, wanted);
    EXPECT_GT(s.random, wanted / 5);
    for (const auto &f : s.failures) ADD_FAILURE() << f;
    for (const auto &b : s.boundary) ADD_FAILURE() << "rounding differs: " << b;
}

} // namespace walk
