// End-to-end runs of the multi-season two-species model: expected values with
// every transition, seeded random data by cohort and site by site, its
// equivalence with the single-season model, and its place in the family's
// dispatch.
#include <gtest/gtest.h>

#include <cstdio>

#include "models/twospecies/reference_cohorts.hpp"
#include "models/twospecies/sweep.hpp"
#include "support/cli.hpp"
#include "support/history.hpp"

using namespace occusim::testing;

namespace {

const Args kDetection = {"psiA=.6", "psiBA=.5", "psiBa=.25", "pA=.5", "pB=.4", "rA=.8", "rBA=.5", "rBa=.25"};
// gamBaA and epsBaA come after gamAB and epsAB, which also fill their blocks.
const Args kTransitions = {"gamAb=.2",  "gamAB=.4",  "epsAb=.3",   "epsAB=.1",  "gamBaa=.2", "gamBaA=.5",
                           "gamBAa=.3", "gamBAA=.6", "epsBaa=.25", "epsBaA=.5", "epsBAa=.4", "epsBAA=.2"};
const Args kModel = with(kDetection, kTransitions);

TEST(TwoSpeciesSeasons, ExpectedValuesWithEveryTransition) {
    // Sum over the joint states at the two surveys of initial probability x
    // detection at survey 1 x change of state x detection at survey 2, in exact
    // fractions. E.g. 3,3: the 30 shared sites show 3 with .4; A stays with .9
    // and B then with .8, so 30 * .4 * .9 * .8 * .4 = 3.456.
    auto r = run_cli(with({"T=2", "SPS=1", "N=100"}, kModel));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "16\t2\n"
                       "0\t0\t35.568000\n0\t1\t10.101000\n0\t2\t4.335000\n0\t3\t5.496000\n"
                       "1\t0\t10.293000\n1\t1\t9.156000\n1\t2\t1.575000\n1\t3\t5.976000\n"
                       "2\t0\t2.611000\n2\t1\t1.287000\n2\t2\t0.850000\n2\t3\t0.752000\n"
                       "3\t0\t3.288000\n3\t1\t4.536000\n3\t2\t0.720000\n3\t3\t3.456000\n"
                       "0\n0\n1,1\nsimulated data from occusim8\n");
    EXPECT_EQ(from_marker(r.out, "2-species"),
              "2-species simulation:\n2-species multiseason simulation:\n"
              "nsites:100 nsurveys:2 psiA=0.600000 psiBA=0.500000 psiBa=0.250000\n"
              "srvys/season  = 1 1\n"
              "pA  = 0.500000 0.500000\npB  = 0.400000 0.400000\nrA  = 0.800000 0.800000\n"
              "rBA = 0.500000 0.500000\nrBa = 0.250000 0.250000\n"
              "\ngamAB  = 0.400000 0.400000\ngamAb  = 0.200000 0.200000\ngamBAA = 0.600000 0.600000"
              "\ngamBAa = 0.300000 0.300000\ngamBaA = 0.500000 0.500000\ngamBaa = 0.200000 0.200000"
              "\nepsAB  = 0.100000 0.100000\nepsAb  = 0.300000 0.300000\nepsBAA = 0.200000 0.200000"
              "\nepsBAa = 0.400000 0.400000\nepsBaA = 0.500000 0.500000\nepsBaa = 0.250000 0.250000\n"
              "\nsimulating by cohort...\n"
              "nAonly,nBonly,nAB,neither: 30.000000 10.000000 30.000000 30.000000\n"
              "---------\n---------\n---------\n---------\n"
              "\n=========== prnt_caphis2 ========= nper=2 sps=1 meth=0\n");
    EXPECT_EQ(r.err, "");
}

TEST(TwoSpeciesSeasons, SeededCohortRun) {
    // Worked out by replaying the generator from seed 31 through the cohort
    // recursion, states 3, 1, 2, 0 in turn (59 uniforms).
    auto r = run_cli(with({"T=2", "SPS=1", "N=10"}, with(kModel, {"STOCH", "SEED=31"})));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("nAonly,nBonly,nAB,neither: 1.000000 1.000000 4.000000 4.000000\n"),
              std::string::npos);
    EXPECT_EQ(r.pao(), "6\t2\n0\t0\t4.000000\n0\t1\t1.000000\n1\t1\t2.000000\n1\t2\t1.000000\n"
                       "2\t0\t1.000000\n3\t1\t1.000000\n0\n0\n1,1\nsimulated data from occusim8\n");
}

TEST(TwoSpeciesSeasons, SeededSiteBySiteRunWritesOneLinePerSite) {
    // Worked out by replaying the generator from seed 11 site by site, two
    // draws for the change of state after every survey (54 uniforms).
    auto r = run_cli(with({"T=3", "SPS=2,1", "N=5"}, with(kModel, {"SIMTYPE=2", "SEED=11"})));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "5\t3\n0\t0\t1\t\n0\t0\t0\t\n0\t0\t0\t\n1\t1\t2\t\n3\t3\t0\t\n"
                       "0\n0\n2,1\nsimulated data from occusim8\n");
    EXPECT_EQ(from_marker(r.out, "simulating"), "simulating 2sp-ms by individual...\n5\t3\nnchk=0 0\n");
}

TEST(TwoSpeciesSeasons, WithoutTransitionsSitesKeepTheirFirstState) {
    auto single = run_cli(with({"T=4", "N=100"}, kDetection));
    auto seasons = run_cli(with({"T=4", "SPS=2", "N=100"}, kDetection));
    ASSERT_EQ(single.status, 0);
    ASSERT_EQ(seasons.status, 0);
    EXPECT_NE(seasons.out.find("2-species multiseason simulation:"), std::string::npos);
    EXPECT_EQ(history_lines(seasons.pao()), history_lines(single.pao()));
    EXPECT_EQ(seasons.pao().substr(seasons.pao().rfind("0\n0\n")),
              "0\n0\n2,2\nsimulated data from occusim8\n");
}

TEST(TwoSpeciesSeasons, ColonisationAfterTheFirstSurveyOnly) {
    // No A at survey 1; gamAb = 1 after it turns every empty site into an A
    // site, detected with certainty at survey 2.
    auto r = run_cli({"T=2", "SPS=1", "N=100", "psiA=0", "gamAb=1,0", "pA=1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "1\t2\n0\t1\t100.000000\n0\n0\n1,1\nsimulated data from occusim8\n");
}

TEST(TwoSpeciesSeasons, SeveralSeasonsWinOverCorrelatedDetections) {
    auto r = run_cli(with({"T=6", "SPS=2", "N=10"}, with(kDetection, {"thBA=.5"})));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("2-species simulation:\n2-species multiseason simulation:\n"), std::string::npos);
    EXPECT_EQ(r.out.find("corr. detections"), std::string::npos);
    EXPECT_NE(r.pao().find("0\n0\n2,2,2\nsimulated data from occusim8\n"), std::string::npos);
}

TEST(TwoSpeciesSeasons, ImpossibleOccupancyUnderPhiEchoesOnStandardOutput) {
    // psiBA = 2 * .8 = 1.6.
    auto r = run_cli({"T=2", "SPS=1", "N=100", "psiA=.5", "psiB=.8", "phi=2", "pA=.5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.file("occusim.err"), "error: impossible combination of psiA,psiB,phi.\n");
    EXPECT_EQ(r.pao(), "");
    EXPECT_EQ(from_marker(r.out, "2-species"),
              "2-species simulation:\n2-species multiseason simulation:\n"
              "nsites:100 nsurveys:2 psiA=0.500000 psiB=0.800000 phi=2.000000\n"
              "nsites:100 nsurveys:2 psiA=0.500000 psiBA=1.600000 psiBa=0.000000\n");
    EXPECT_EQ(r.err, "");
}

TEST(TwoSpeciesSeasons, ImpossibleDetectionUnderPhiStopsBeforeTheParameterEcho) {
    // rBA = dlta * rB = 1.5 * .8 = 1.2; the occupancy values are possible.
    auto r = run_cli({"T=2", "SPS=1", "N=100", "psiA=.5", "psiB=.4", "phi=1", "pA=.5", "rA=.5", "rB=.8",
                      "dlta=1.5", "SIMTYPE=2", "SEED=5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.file("occusim.err"), "error: impossible combination of rA,rB,dlta.\n");
    EXPECT_EQ(r.pao(), "");
    EXPECT_EQ(from_marker(r.out, "2-species multiseason"),
              "2-species multiseason simulation:\n"
              "nsites:100 nsurveys:2 psiA=0.500000 psiB=0.400000 phi=1.000000\n"
              "nsites:100 nsurveys:2 psiA=0.500000 psiBA=0.400000 psiBa=0.400000\n");
}

TEST(TwoSpeciesSeasons, SiteBySiteAndCohortRandomDataAgreeWithExpectedValues) {
    const Args design = {"T=3", "SPS=2", "N=20000"};
    auto expected = history_counts(run_cli(with(design, kModel)).pao());
    for (const Args &mode : {Args{"SIMTYPE=2", "SEED=29"}, Args{"STOCH", "SEED=29"}}) {
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
    const int T = 1 + g.surveys(4);
    Args a =
        with({"T=" + std::to_string(T), T > 2 && g.chance(30) ? "SPS=2" : "SPS=1"}, g.sites(g.chance(33)));
    a = with(a, {"psiA=" + g.prob(), "psiBA=" + g.prob(), "psiBa=" + g.prob(), "pA=" + g.probs(T),
                 "pB=" + g.probs(T), "rA=" + g.probs(T), "rBA=" + g.probs(T), "rBa=" + g.probs(T)});
    for (const char *change : {"gamAb=", "gamAB=", "epsAb=", "epsAB=", "gamBaa=", "gamBaA=", "gamBAa=",
                               "gamBAA=", "epsBaa=", "epsBaA=", "epsBAa=", "epsBAA="})
        if (g.chance(80)) a.push_back(change + g.probs(T));
    return a;
}

TEST(TwoSpeciesSeasons, PrefixWalkAgreesWithThePathByPathRecursion) {
    Lines g(4242);
    const int wanted = lines_wanted();
    Summary s = run_sweep([&] { return random_line(g); }, occusim::testing::reference::seasons_cohorts,
                          "2-species multiseason simulation:", wanted);
    EXPECT_EQ(s.compared, wanted);
    EXPECT_GT(s.random, wanted / 5);
    for (const auto &f : s.failures) ADD_FAILURE() << f;
    for (const auto &b : s.boundary) std::printf("rounding boundary: %s\n", b.c_str());
}

} // namespace walk
