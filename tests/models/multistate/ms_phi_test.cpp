// Multistate phi model end to end: the worked example, four states with the
// transitions of the second survey given in the ';' form, a stochastic run
// against expected values, and the refusals.
#include <gtest/gtest.h>

#include <string>

#include "models/multistate/ms_test_support.hpp"
#include "support/replay.hpp"

namespace {

using namespace occusim::testing;

TEST(MultistatePhi, WorkedExampleTwoStates) {
    // 60 sites in state 1, half of them recorded 1; 40 in state 0.
    auto r = run_cli({"T=1", "N=100", "NSTATES=2", "Psi=.6", "p(1,1)=.5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(from_marker(r.out, "\nMultistate"),
              "\nMultistate (phi parm) simulation ...\n"
              "srvys=1 ,N=100.000000 psi0: 0.60\n"
              "psi(0),p(0)\n"
              " 0.40 0.60    1.00 0.50\n"
              " 0.00 0.00    0.00 0.50\n"
              "\nSIMTYPE=1\nnlines=3 frqcol=2\nnin=3 nout=1\nend of program\n");
    EXPECT_EQ(r.pao(), "2\t1\n0\t70.000000\n1\t30.000000\n0\n0\n1" + kTrailer);
    EXPECT_FALSE(r.exists("occusim.inp"));
}

TEST(MultistatePhi, CodeZeroIsShownAsOneLessTheSumOfTheOtherCodes) {
    // 1 - (.01 + .055) rounds to 0.94; subtracting the codes one by one from
    // 1 would leave a value just below 0.935 and show 0.93.
    auto r = run_cli({"T=1", "N=100", "NSTATES=3", "p(1,1)=.01", "p(2,1)=.055", "QUIET"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("psi(0),p(0)\n 1.00 0.00 0.00    1.00 0.94 1.00\n"), std::string::npos) << r.out;
}

// Four states over two surveys. Initial distribution 0.4 / 0.2 / 0.3 / 0.1;
// moves into survey 2 (rows: from state 0..3) 0.9 .1 0 0 | .1 .6 .2 .1 |
// .1 .1 .5 .3 | 0 0 .2 .8; codes recorded in state 1: 0 .5, 1 .5; state 2:
// 0 .2, 1 .2, 2 .6; state 3: 0 .1, 1 .1, 2 .2, 3 .6.
const std::vector<std::string> kFourStates{
    "T=2",         "NSTATES=4",   "Psi=.2,.3,.1", "phi(0;1)=.1", "phi(1;1)=.6", "phi(1;2)=.2", "phi(1;3)=.1",
    "phi(2;1)=.1", "phi(2;2)=.5", "phi(2;3)=.3",  "phi(3;2)=.2", "phi(3;3)=.8", "p(1,1)=.5",   "p(1,2)=.2",
    "p(2,2)=.6",   "p(1,3)=.1",   "p(2,3)=.2",    "p(3,3)=.6",   "QUIET"};

TEST(MultistatePhi, FourStatesWithSecondSurveyTransitions) {
    auto r = run_cli(with(kFourStates, {"N=1000"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(from_marker(r.out, "psi(1)"), "psi(1),p(1)\n"
                                            " 0.90 0.10 0.00 0.00    1.00 0.50 0.20 0.10\n"
                                            " 0.10 0.60 0.20 0.10    0.00 0.50 0.20 0.10\n"
                                            " 0.10 0.10 0.50 0.30    0.00 0.00 0.60 0.20\n"
                                            " 0.00 0.00 0.20 0.80    0.00 0.00 0.00 0.60\n"
                                            "\nSIMTYPE=1\nnin=81 nout=15\nend of program\n");
    // Expected counts: 1000 times the sum over both surveys' states.
    EXPECT_EQ(r.pao(), "16\t2\n"
                       "0\t0\t443.000000\n0\t1\t67.000000\n0\t2\t38.400000\n0\t3\t21.600000\n"
                       "1\t0\t63.000000\n1\t1\t47.000000\n1\t2\t38.400000\n1\t3\t21.600000\n"
                       "2\t0\t52.800000\n2\t1\t34.800000\n2\t2\t70.400000\n2\t3\t42.000000\n"
                       "3\t0\t7.200000\n3\t1\t7.200000\n3\t2\t16.800000\n3\t3\t28.800000\n"
                       "0\n0\n2" +
                           kTrailer);
}

TEST(MultistatePhi, StochasticRunAgreesWithExpectedValues) {
    auto expected = history_counts(run_cli(with(kFourStates, {"N=20000"})).pao());
    auto r = run_cli(with(kFourStates, {"N=20000", "STOCH", "SEED=9"}));
    EXPECT_EQ(r.status, 0);
    auto sim = history_counts(r.pao());
    EXPECT_EQ(total(sim), 20000);
    expect_agrees(sim, expected);
    // A stochastic group never yields more sites than it holds, even when the
    // probabilities of a row add up to more than 1.
    auto over = history_counts(
        run_cli({"T=1", "N=50", "NSTATES=3", "Psi=.7,.7", "p(1,1)=1", "p(1,2)=1", "STOCH", "SEED=3", "QUIET"})
            .pao());
    EXPECT_EQ(total(over), 50);
}

TEST(MultistatePhi, SeededRunFollowsTheDrawOrder) {
    // Each state's codes are drawn right after the state's own count, before
    // the next state is drawn; a later outcome is drawn from what the earlier
    // ones left, with its probability conditional on them.
    auto rng = planted(1);
    auto split = [&](int n, double p) {
        int k = 0;
        for (int i = 0; i < n; i++) k += rng.Random() <= p;
        return k;
    };
    auto lines = [](int n, char code) {
        std::string s;
        for (int i = 0; i < n; i++) s += std::string(1, code) + "\n";
        return s;
    };
    const int n1 = split(20, .3), c11 = split(n1, .5);
    const int n2 = split(20 - n1, .4 / (1 - .3)), c21 = split(n2, .2), c22 = split(n2 - c21, .6 / (1 - .2));
    ASSERT_GT(c11, 0);
    ASSERT_GT(c21, 0);
    ASSERT_GT(c22, 0);
    auto r = run_cli({"T=1", "N=20", "NSTATES=3", "Psi=.3,.4", "p(1,1)=.5", "p(1,2)=.2", "p(2,2)=.6", "STOCH",
                      "SEED=1", "QUIET"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.file("occusim.tmp"), lines(c11, '1') + lines(n1 - c11, '0') + lines(c21, '1') +
                                         lines(c22, '2') + lines(n2 - c21 - c22, '0') +
                                         lines(20 - n1 - n2, '0'));
}

TEST(MultistatePhi, Refusals) {
    auto states = run_cli({"T=2", "N=100", "NSTATES=7", "Psi=.5"});
    EXPECT_EQ(states.status, 1);
    EXPECT_EQ(states.err, "occusim8: error: NSTATES=7: the multistate model handles at most 6 states\n");
    auto digit = run_cli({"T=2", "N=100", "NSTATES=3", "phi(1,6)=.5"});
    EXPECT_EQ(digit.status, 1);
    EXPECT_EQ(digit.err,
              "occusim8: error: argument 'phi(1,6)': indices must be two digits from 0 to 5, as in phi(1,2)\n");
    auto surveys = run_cli({"T=10", "N=100", "NSTATES=3", "Psi=.5"});
    EXPECT_EQ(surveys.status, 1);
    EXPECT_EQ(surveys.err, "occusim8: error: T=10: multistate histories hold at most 9 surveys\n");
    for (const auto &r : {&states, &digit, &surveys}) EXPECT_FALSE(r->exists("occusim.pao"));

    auto blocked = run_cli({"T=1", "N=100", "NSTATES=2", "Psi=.6", "p(1,1)=.5"}, "", blocking("occusim.tmp"));
    EXPECT_EQ(blocked.status, 1);
    EXPECT_EQ(blocked.file("occusim.err"), "error opening occusim.tmp\n");
}

} // namespace
