// Multistate model with correlated detection end to end: the worked example,
// independent detections when every site sits at its top level, a stochastic
// run against expected values, positional values that are not numbers, and
// the refusals.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "models/multistate/ms_test_support.hpp"
#include "support/replay.hpp"

namespace {

using namespace occusim::testing;

std::vector<std::string> words(const std::string &text) {
    std::vector<std::string> w;
    std::istringstream in(text);
    for (std::string s; in >> s;) w.push_back(s);
    return w;
}

// T=1, N=100, psi1=.5; code 1 at level 1 with .6; state 1 moves from level 0
// to 1 with .5 and stays at level 1 with .8; initial level 1 with .4.
const std::string kExample =
    "1 100 .5 0 0 .6 0 0 0 0 0 0 0 0 .5 .8 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 .4 0 0 0 0 0";

TEST(MultistateCorr, WorkedExample) {
    // N0 = 50, N11 = 20, N10 = 30. Level 1 -> 16 at level 1 (9.6 recorded)
    // and 4 at level 0; level 0 -> 15 and 15 (9 recorded): 81.4 / 18.6.
    auto r = run_cli(words(kExample + " MSCD"));
    EXPECT_EQ(r.status, 0);
    // The transition table: row 0 stays, state 1 rows hold the given moves
    // and their remainders, the empty states fall to level 0.
    auto row = [](int col_a, double a, int col_b = -1, double b = 0) {
        std::string text;
        for (int c = 0; c < 10; c++) text += stringf(" %5.2f", c == col_a ? a : c == col_b ? b : 0.0);
        return text + "\n";
    };
    std::string theta = row(0, 1) + row(1, .5, 2, .5) + row(1, .2, 2, .8);
    for (int m = 3; m <= 5; m++) theta += row(3, 1);
    for (int m = 6; m <= 9; m++) theta += row(6, 1);
    EXPECT_EQ(from_marker(r.out, "num_srvys="),
              "num_srvys=1 N=100.000000\n"
              "\npsi: 0.50 0.00 0.00\np  :\n 0.60 0.00 0.00\n 0.00 0.00 0.00\n"
              " 0.00 0.00 0.00\ntheta:\n" +
                  theta +
                  "\nSIMTYPE=1\nN0=50.000000 N1=50.000000 N2=0.000000 N3=0.000000\n"
                  "N33=0.000000 N32=0.000000 N31=0.000000 N30=0.000000\n"
                  "nlines=7 frqcol=2\nnin=7 nout=1\nend of program\n");
    EXPECT_EQ(r.pao(), "2\t1\n0\t81.400000\n1\t18.600000\n0\n0\n0" + kTrailer);
}

TEST(MultistateCorr, TopLevelSitesAreDetectedIndependently) {
    // psi2 = .5, psi3 = .3; every row moves to its state's top level, where
    // state 2 records codes 0..2 with .2 .3 .5 and state 3 codes 0..3 with
    // .1 .1 .2 .6 at each survey. The trailing T option sets the season list.
    auto r = run_cli(words("2 1000 0 .5 .3 0 .3 .1 0 .5 .2 0 0 .6 1 1 0 1 0 1 0 1 0 0 1 0 0 1 0 0 1 0 0 1 "
                           ".4 .5 .2 .1 .2 .3 MSCD T=2"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "16\t2\n"
                       "0\t0\t223.000000\n0\t1\t33.000000\n0\t2\t56.000000\n0\t3\t18.000000\n"
                       "1\t0\t33.000000\n1\t1\t48.000000\n1\t2\t81.000000\n1\t3\t18.000000\n"
                       "2\t0\t56.000000\n2\t1\t81.000000\n2\t2\t137.000000\n2\t3\t36.000000\n"
                       "3\t0\t18.000000\n3\t1\t18.000000\n3\t2\t36.000000\n3\t3\t108.000000\n"
                       "0\n0\n2" +
                           kTrailer);
}

TEST(MultistateCorr, StochasticRunAgreesWithExpectedValues) {
    const std::string params = " .3 .2 .1 .5 .3 .2 0 .4 .3 0 0 .4 .6 .7 .3 .2 .5 .2 .2 .6 .2 .2 .2 .4 .2 .1 "
                               ".1 .5 .2 .1 .2 .6 .5 .3 .3 .2 .3 .3 MSCD QUIET";
    auto expected = history_counts(run_cli(words("2 20000" + params)).pao());
    auto r = run_cli(words("2 20000" + params + " STOCH SEED=5"));
    EXPECT_EQ(r.status, 0);
    auto sim = history_counts(r.pao());
    EXPECT_EQ(total(sim), 20000);
    expect_agrees(sim, expected);
}

TEST(MultistateCorr, SeededRunFollowsTheDrawOrder) {
    // States are drawn from state 3 down, then the levels of state 3 from
    // level 3 down, then per survey the codes from 3 down, each later outcome
    // from what the earlier ones left with its conditional probability.
    // Moves with probability 1 and outcomes with probability 0 draw nothing.
    // psi1 = .25, psi3 = .5; state 3 starts at level 3 with .5 and stays at
    // its level; level 3 records code 3 with .5 and code 2 with .4.
    auto rng = planted(16);
    auto split = [&](int n, double p) {
        int k = 0;
        for (int i = 0; i < n; i++) k += rng.Random() <= p;
        return k;
    };
    const int n3 = split(12, .5), n1 = split(12 - n3, .25 / (1 - .5)), n33 = split(n3, .5);
    const int c3 = split(n33, .5), c2 = split(n33 - c3, .4 / (1 - .5));
    ASSERT_GT(c3, 0);
    ASSERT_GT(c2, 0);
    ASSERT_GT(n1, 0);
    auto r = run_cli(words("1 12 .25 0 .5 0 0 0 0 0 .4 0 0 .5 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 "
                           "0 0 0 0 0 .5 MSCD STOCH SEED=16 QUIET"));
    EXPECT_EQ(r.status, 0);
    auto lines = [](int n, const char *line) {
        std::string s;
        for (int i = 0; i < n; i++) s += line;
        return s;
    };
    EXPECT_EQ(r.file("occusim.tmp"), lines(c3, "3\n") + lines(c2, "2\n") + lines(12 - c3 - c2, "0\n"));
}

TEST(MultistateCorr, PositionalTextThatIsNotANumberReadsZero) {
    // psi1 written as an option is read as 0: every site is unoccupied.
    auto w = words(kExample + " MSCD");
    w[2] = "psi1=.5";
    auto r = run_cli(w);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "1\t1\n0\t100.000000\n0\n0\n0" + kTrailer);
}

TEST(MultistateCorr, Refusals) {
    auto w = words(kExample);
    w.resize(38); // with MSCD 39 arguments: position 40 is missing
    w.push_back("MSCD");
    auto shortline = run_cli(w);
    EXPECT_EQ(shortline.status, 1);
    EXPECT_EQ(shortline.err,
              "occusim8: error: MSCD needs 40 numbers at the front of the command line; only 39 arguments "
              "given\n");
    auto ten = words(kExample + " MSCD");
    ten[0] = "10";
    auto many = run_cli(ten);
    EXPECT_EQ(many.status, 1);
    EXPECT_EQ(many.err, "occusim8: error: T=10: multistate histories hold at most 9 surveys\n");
    ten[0] = "0";
    auto none = run_cli(ten);
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "occusim8: error: MSCD: T=0 (first number) must be at least 1\n");
    for (const auto &r : {&shortline, &many, &none}) EXPECT_FALSE(r->exists("occusim.pao"));

    auto blocked = run_cli(words(kExample + " MSCD"), "", blocking("occusim.tmp"));
    EXPECT_EQ(blocked.status, 1);
    EXPECT_EQ(blocked.file("occusim.err"), "error opening occusim.tmp\n");
}

} // namespace
