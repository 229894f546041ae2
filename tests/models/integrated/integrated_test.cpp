// Integrated occupancy-movement model, end to end. Expected counts are worked
// out by hand from the area, movement, occupancy and detection probabilities;
// seeded runs were followed draw by draw with the Lehmer generator
// (multiplier 48271, modulus 2^31-1) from the seed. The cohort form writes its
// histories as multistate lines: the digits separated by tabs, then a tab and
// the count in expected-value mode, one line without count per unit
// otherwise.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "models/integrated/reference_integrated.hpp"
#include "support/cli.hpp"
#include "support/history.hpp"
#include "support/prepared.hpp"

using namespace occusim::testing;

namespace {

std::string trailer(const std::string &seasons) {
    return "0\n0\n" + seasons + "\nsimulated data from occusim8\n";
}

std::string digits_used(const std::string &pao) {
    std::string seen;
    for (const auto &line : history_lines(pao))
        for (std::size_t i = 0; i < line.size(); i += 2)
            if (seen.find(line[i]) == std::string::npos) seen += line[i];
    return seen;
}

const Args kMovement = {"pi=.5",     "psiA=.8",   "psiB=.6",   "pA=.7",    "pB=.6",    "eta0AA=.8",
                        "eta1AA=.6", "eta0BA=.3", "eta1BA=.4", "gamAA=.2", "gamAB=.3", "gamBA=.4",
                        "gamBB=.1",  "epsAA=.1",  "epsAB=.2",  "epsBA=.3", "epsBB=.4"};

CliRun run_movement(const Args &front, const Args &back) {
    return run_cli(with(with(front, kMovement), back));
}

// One survey, 50 units start in A (all occupied, half detected) and 50 in B
// (none occupied): histories 0, 1 and 2 with 25, 25 and 50.
TEST(Integrated, OneSurveyExample) {
    auto r = run_cli({"T=1", "N=100", "pi=.5", "psiA=1", "psiB=0", "pA=.5", "INTEGRATED"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "3\t1\n0\t25.000000\n1\t25.000000\n2\t50.000000\n" + trailer("1"));
    EXPECT_EQ(r.file("occusim.tmp"), "0\t25.000000\n1\t25.000000\n2\t50.000000\n");
    EXPECT_TRUE(r.exists("occusim.inp"));
    EXPECT_EQ(r.file("occusim.inp"), "");
    EXPECT_EQ(r.err, "");
    // An eta option alone selects the model, ahead of the multistate model
    // and of the detection mixture that pi would otherwise select.
    auto byEta = run_cli({"T=1", "N=100", "pi=.5", "psiA=1", "psiB=0", "pA=.5", "eta1BA=1", "MULTISTATE"});
    EXPECT_EQ(byEta.status, 0);
    EXPECT_EQ(byEta.pao(), r.pao());
    EXPECT_NE(r.out.find("num_srvys,N=1,100.000000\n"
                         "pi: 0.50  psiA,psiB: 1.00 0.00\n"
                         "eta0AA: 0.00\neta1AA: 0.00\neta0BA: 0.00\neta1BA: 0.00\n"
                         "gamAA: 0.00\ngamAB: 0.00\ngamBA: 0.00\ngamBB: 0.00\n"
                         "epsAA: 0.00\nepsAB: 0.00\nepsBA: 0.00\nepsBB: 0.00\n"
                         "p1    : 0.50\np2    : 0.00\n\nSIMTYPE=1\n"
                         "end of program(occusim8.exe)\n"),
              std::string::npos);
}

// pi = 1 and eta = 1 everywhere: every unit stays in A, so only digits 0 and
// 1 occur. 50 occupied: 20 detected at survey 1, then 90% stay occupied
// (27 of the 30 missed, 18 of the 20 seen), 40% of those detected at survey 2;
// 50 unoccupied: 10 colonised (gamAA .2), 4 of them detected.
TEST(Integrated, UnitsThatNeverLeaveAreaAShowOnlyDigits0And1) {
    const Args design = {"T=2",      "pi=1",     "psiA=.5",  "pA=.4",    "eta0AA=1",
                         "eta1AA=1", "eta0BA=1", "eta1BA=1", "gamAA=.2", "epsAA=.1"};
    auto bysite = run_cli(with(design, {"N=60", "SIMTYPE=2", "SEED=4", "QUIET"}));
    EXPECT_EQ(bysite.status, 0);
    EXPECT_EQ(history_lines(bysite.pao()).size(), 60u);
    EXPECT_EQ(digits_used(bysite.pao()).find_first_not_of("01"), std::string::npos);

    auto r = run_cli(with(design, {"N=100", "INTEGRATED"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "9\t2\n"
                       "0\t0\t16.200000\n"
                       "0\t1\t10.800000\n"
                       "0\t0\t3.000000\n"
                       "1\t0\t10.800000\n"
                       "1\t1\t7.200000\n"
                       "1\t0\t2.000000\n"
                       "0\t0\t6.000000\n"
                       "0\t1\t4.000000\n"
                       "0\t0\t40.000000\n" +
                           trailer("2"));
}

// pA = pB = 0: no unit is ever detected and the digits 0 and 2 trace the
// areas. 60 start in A (70% stay there), 40 in B (20% move to A); each start
// is split in two occupancy halves, written separately and not collapsed.
TEST(Integrated, WithoutDetectionTheDigitsTraceTheAreas) {
    const Args design = {"T=2",  "pi=.6",     "psiA=.5",   "psiB=.5",   "pA=0",
                         "pB=0", "eta0AA=.7", "eta1AA=.7", "eta0BA=.2", "eta1BA=.2"};
    auto bysite = run_cli(with(design, {"N=60", "SIMTYPE=2", "SEED=6", "QUIET"}));
    EXPECT_EQ(bysite.status, 0);
    EXPECT_EQ(digits_used(bysite.pao()).find_first_not_of("02"), std::string::npos);
    EXPECT_NE(digits_used(bysite.pao()).find('2'), std::string::npos);

    auto r = run_cli(with(design, {"N=100", "INTEGRATED"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "8\t2\n"
                       "0\t0\t21.000000\n"
                       "0\t2\t9.000000\n"
                       "0\t0\t21.000000\n"
                       "0\t2\t9.000000\n"
                       "2\t0\t4.000000\n"
                       "2\t2\t16.000000\n"
                       "2\t0\t4.000000\n"
                       "2\t2\t16.000000\n" +
                           trailer("2"));
}

// Seed 1, six units over three surveys. Draws in order: area (B above
// pi .5), initial occupancy, then per survey detection (occupied units only),
// movement (B above eta) and occupancy change (kept below 1 - eps, gained
// below gam, both for the move just made):
//   1 A .00002, occ .09 | seen .60, to B .89, extinct .97 | B, to A .19, .52 | A     -> 1 2 0
//   2 B .74, occ .09 | seen .56, stay B .58, extinct .81 | B, .59, .51 | B          -> 3 2 2
//   3 B .73, empty .97 | B, to A .30, .43 | A, to B .90, .65 | B                     -> 2 0 2
//   4 A .16, empty .86 | A, to B .91, colonised .29 | missed .94, stay B .41, .31 | seen .51 -> 0 2 3
//   5 B .69, occ .54 | seen .59, to A .09, kept .61 | seen .43, .60, .84 | seen .49  -> 3 1 1
//   6 A .19, occ .22 | missed .78, A .08, .18 | seen .62, .58, .74 | seen .31         -> 0 1 1
TEST(Integrated, SeededSiteBySiteRun) {
    auto r = run_movement({"T=3", "N=6"}, {"SIMTYPE=2", "SEED=1"});
    EXPECT_EQ(r.status, 0);
    const std::string lines = "1\t2\t0\t\n"
                              "3\t2\t2\t\n"
                              "2\t0\t2\t\n"
                              "0\t2\t3\t\n"
                              "3\t1\t1\t\n"
                              "0\t1\t1\t\n";
    EXPECT_EQ(r.pao(), "6\t3\n" + lines + trailer("3"));
    EXPECT_EQ(r.file("occusim.tmp"), lines);
    EXPECT_EQ(r.file("occusim.inp"), "");
    EXPECT_EQ(r.err, "seed=1\nsimulating by individual...\n");

    // Seasons are listed in the trailer as given.
    auto seasons = run_movement({"T=4", "N=3", "SPS=2"}, {"SIMTYPE=2", "SEED=1", "QUIET"});
    EXPECT_EQ(seasons.status, 0);
    EXPECT_EQ(seasons.pao().substr(0, 4), "3\t4\n");
    const std::string end = trailer("2,2");
    ASSERT_GT(seasons.pao().size(), end.size());
    EXPECT_EQ(seasons.pao().substr(seasons.pao().size() - end.size()), end);
}

// Site by site the number of units is N rounded to the nearest whole number.
TEST(Integrated, UnitCountIsRoundedToNearest) {
    auto down =
        run_cli({"T=1", "N=10.4", "pi=.5", "psiA=.5", "psiB=.5", "SIMTYPE=2", "SEED=3", "INTEGRATED"});
    auto up = run_cli({"T=1", "N=10.5", "pi=.5", "psiA=.5", "psiB=.5", "SIMTYPE=2", "SEED=3", "INTEGRATED"});
    EXPECT_EQ(down.status, 0);
    EXPECT_EQ(up.status, 0);
    EXPECT_EQ(down.pao().substr(0, 5), "10\t1\n");
    EXPECT_EQ(history_lines(down.pao()).size(), 10u);
    EXPECT_EQ(up.pao().substr(0, 5), "11\t1\n");
    EXPECT_EQ(history_lines(up.pao()).size(), 11u);
}

TEST(Integrated, RefusesWhatItCannotDo) {
    auto r = run_cli({"T=10", "N=100", "pi=.5", "psiA=.5", "QUIET", "INTEGRATED"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(
        r.err.find("occusim8: error: the integrated model by cohort handles at most 9 surveys (T=10); use SIMTYPE=2 "
                   "for longer designs\n"),
        std::string::npos);
    EXPECT_FALSE(r.exists("occusim.tmp"));
    EXPECT_FALSE(r.exists("occusim.pao"));

    // A design without surveys is refused before any file is made.
    auto none = run_cli({"T=0", "N=100", "pi=.5", "psiA=.5", "QUIET", "INTEGRATED"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "occusim8: error: T=0: give at least one survey\n");
    for (const char *f : {"occusim.err", "occusim.inp", "occusim.tmp", "occusim.pao"}) EXPECT_FALSE(none.exists(f));

    // A unit count beyond 32 bits is refused before anything is written.
    auto huge = run_cli({"T=2", "N=3e9", "pi=.5", "psiA=.5", "SIMTYPE=2", "SEED=8", "QUIET", "INTEGRATED"});
    EXPECT_EQ(huge.status, 1);
    EXPECT_NE(huge.err.find("occusim8: error: N=3e+09: the number of units does not fit a 32-bit count\n"),
              std::string::npos);
    EXPECT_FALSE(huge.exists("occusim.tmp"));

    // The share of units starting in area A is a probability in every mode
    // (in a random cohort run, above 1 it asked for more units than N and the
    // run never ended while its temporary file grew).
    for (const char *simtype : {"SIMTYPE=1", "SIMTYPE=2", "SIMTYPE=6"})
        for (const char *pi : {"pi=5e299", "pi=-.5", "pi=nan", "pi=1.5"}) {
            auto refused = run_cli({"T=1", "N=10", pi, "psiA=.5", simtype, "SEED=3", "QUIET", "INTEGRATED"});
            EXPECT_EQ(refused.status, 1) << pi;
            EXPECT_NE(refused.err.find(std::string(pi) + ": "), std::string::npos) << refused.err;
            EXPECT_NE(refused.err.find("is not a probability: give a value from 0 to 1\n"), std::string::npos);
            EXPECT_FALSE(refused.exists("occusim.tmp"));
            EXPECT_FALSE(refused.exists("occusim.pao"));
        }

    // Site by site the design has no such limit.
    auto bysite = run_cli({"T=10", "N=4", "pi=.5", "psiA=.5", "SIMTYPE=2", "SEED=8", "QUIET", "INTEGRATED"});
    EXPECT_EQ(bysite.status, 0);
    auto lines = history_lines(bysite.pao());
    ASSERT_EQ(lines.size(), 4u);
    for (const auto &line : lines) EXPECT_EQ(line.size(), 20u);

    // The history file cannot be the temporary file it is copied from.
    auto clash = run_cli({"T=2", "N=4", "pi=.5", "psiA=.5", "outfile=./occusim.tmp", "SIMTYPE=2", "SEED=8",
                          "QUIET", "INTEGRATED"});
    EXPECT_EQ(clash.status, 1);
    EXPECT_NE(clash.err.find(
                  "occusim8: error: outfile=./occusim.tmp would overwrite the temporary history file occusim.tmp\n"),
              std::string::npos);
}

// In a stochastic cohort run every unit is one line without a count (groups
// of at most 300 are split by exact binomial draws, so no unit is lost).
TEST(Integrated, StochasticCohortWritesOneLinePerUnit) {
    auto r = run_movement({"T=2", "N=200"}, {"STOCH", "SEED=21", "QUIET"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao().substr(0, 6), "200\t2\n");
    auto lines = history_lines(r.pao());
    ASSERT_EQ(lines.size(), 200u);
    for (const auto &line : lines) EXPECT_EQ(line.size(), 3u) << line;
}

// A large seeded site-by-site run agrees with the expected values of the
// cohort form: chi-square over the 16 two-survey histories against the 0.1%
// critical value of its degrees of freedom.
TEST(Integrated, SiteBySiteAgreesWithExpectedValues) {
    auto expected = run_movement({"T=2", "N=1000"}, {"QUIET", "INTEGRATED"});
    auto simulated = run_movement({"T=2", "N=20000"}, {"SIMTYPE=2", "SEED=777", "QUIET"});
    ASSERT_EQ(expected.status, 0);
    ASSERT_EQ(simulated.status, 0);
    auto e = history_counts(expected.pao());
    ASSERT_EQ(e.size(), 16u);
    // One cell by hand, history 23 (in B and missed, then in B and seen), from
    // the 500 units starting in B: 300 occupied * .4 missed * .6 stay in B *
    // .6 stay occupied * .6 seen = 25.92, and 200 empty * .7 stay in B * .1
    // colonised * .6 seen = 8.4.
    EXPECT_NEAR(e["23"], 34.32, 1e-9);
    auto c = chi_square(history_counts(simulated.pao()), scaled(e, 20000.0 / 1000));
    EXPECT_LT(c.statistic, c.critical(3.09)); // 15 degrees of freedom
}

// Random command lines of the cohort form, expected and seeded stochastic,
// against the reference that follows every branch: the same lines in the
// temporary file and the history file, the same LIST echo. Probabilities of
// exactly 0 and 1 empty whole branches, which the model does not follow.
TEST(Integrated, CohortFormMatchesTheBranchByBranchReference) {
    std::mt19937_64 gen(17);
    auto prob = [&] {
        const unsigned r = static_cast<unsigned>(gen() % 1000);
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.3f", r < 150 ? 0.0 : r < 300 ? 1.0 : (r % 997) / 997.0);
        return std::string(buf);
    };
    const char *names[] = {"pi",     "psiA",   "psiB",   "pA",    "pB",    "eta0AA",
                           "eta1AA", "eta0BA", "eta1BA", "gamAA", "gamAB", "gamBA",
                           "gamBB",  "epsAA",  "epsAB",  "epsBA", "epsBB"};
    int stochastic = 0, listed = 0;
    for (int trial = 0; trial < 1000; trial++) {
        const int T = 1 + trial % 4;
        Args args{"T=" + std::to_string(T), "N=" + std::to_string(1 + gen() % 500) + ".25"};
        for (const char *n : names) args.push_back(std::string(n) + "=" + prob());
        if (trial % 3 == 1) {
            args.push_back("STOCH");
            args.push_back("SEED=" + std::to_string(1 + gen() % 100000));
            stochastic++;
        }
        if (trial % 5 == 2) {
            args.push_back("LIST");
            listed++;
        }
        args.push_back("QUIET");
        args.push_back("INTEGRATED");

        Prepared ref_run(args);
        IntegratedPaths ref(ref_run.ctx);
        ref.run();
        auto r = run_cli(args);
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(r.file("occusim.tmp"), ref.lines) << "trial " << trial;
        const std::string body = r.pao().substr(r.pao().find('\n') + 1);
        EXPECT_EQ(body.substr(0, ref.lines.size()), ref.lines) << "trial " << trial;
        std::string echo;
        for (const auto &line : lines_of(r.out))
            if (line.rfind("MSCAPHIS:", 0) == 0) echo += line + "\n";
        EXPECT_EQ(echo, ref.listed) << "trial " << trial;
    }
    EXPECT_GT(stochastic, 300);
    EXPECT_GT(listed, 150);
}

// Nobody is ever present and every unit stays in its area, so almost every
// branch is empty: with nine surveys, following them all would take 8^9
// steps; the run follows the two that hold units.
TEST(Integrated, EmptyBranchesAreNotFollowed) {
    auto r = run_cli({"T=9", "N=100", "pi=.5", "psiA=0", "psiB=0", "pA=.5", "pB=.5", "eta0AA=1", "eta0BA=0",
                      "QUIET", "INTEGRATED"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.pao().substr(0, 4), "2\t9\n");
    EXPECT_EQ(r.file("occusim.tmp"), "0\t0\t0\t0\t0\t0\t0\t0\t0\t50.000000\n"
                                     "2\t2\t2\t2\t2\t2\t2\t2\t2\t50.000000\n");
}

} // namespace
