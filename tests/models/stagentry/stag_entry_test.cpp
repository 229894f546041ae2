// Staggered entry and departure, end to end: the expected-value recursion,
// the site-by-site form, the listing merge and its failures. Expected counts
// are worked out by hand from the entry (Ent), departure (Dep) and detection
// probabilities; seeded runs were followed draw by draw with the Lehmer
// generator (multiplier 48271, modulus 2^31-1) from the seed.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/context.hpp"
#include "core/errors.hpp"
#include "models/stagentry/reference_stag.hpp"
#include "models/stagentry/stag_entry.hpp"
#include "support/cli.hpp"
#include "support/history.hpp"
#include "support/prepared.hpp"

using namespace occusim::testing;

namespace {

const char *kTrailer3 = "0\n0\n3\nsimulated data from occusim6-stag-entry\n";

// With entry and departure 1 everywhere every occupied site is available at
// the first survey only: 50 occupied * 0.5 detected give history 100 with 25;
// history 000 gathers the 25 missed and the 50 unoccupied sites.
TEST(StagEntry, DefaultsLeaveOnlyTheFirstSurveyToDetect) {
    auto r = run_cli({"T=3", "N=100", "psi=.5", "p=.5", "STAG"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), std::string("2\t3\n"
                                   "1\t0\t0\t\t25.000000\n"
                                   "0\t0\t0\t\t75.000000\n") +
                           kTrailer3);
    EXPECT_EQ(from_marker(r.out, "nsites="), "nsites=100, num_srvys=3 SIMTYPE=1 SRVYPERSEASN=3\n"
                                             "psi: 0.50\n"
                                             "p: 0.50 0.50 0.50\n"
                                             "e: 1.00 1.00 1.00\n"
                                             "d: 1.00 1.00 1.00\n\n"
                                             "opening occusim.pao...\n"
                                             "num_occ=50.000000\n"
                                             "==============\n"
                                             "OUTFILE=occusim.pao\n"
                                             "NSITES=3 NSRVYS=3\n"
                                             "end of program(occusim5)\n");
    EXPECT_EQ(r.err, "simulating by binary tree...\n");

    // The number of sites is N truncated toward zero.
    auto truncated = run_cli({"T=3", "N=100.9", "psi=.5", "p=.5", "STAG"});
    EXPECT_EQ(truncated.status, 0);
    EXPECT_EQ(truncated.pao(), r.pao());

    // Staggered entry is chosen before the integrated and multistate models.
    auto first = run_cli({"T=3", "N=100", "psi=.5", "p=.5", "MULTISTATE", "INTEGRATED", "STAG", "QUIET"});
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.pao(), r.pao());
    EXPECT_FALSE(first.exists("occusim.tmp"));

    // Thirty surveys, the most the recursion is run for: still the same two
    // histories, found without following the empty groups (no entry, or
    // already departed) through every later survey, which would take hours.
    auto longest = run_cli({"T=30", "N=100", "psi=.5", "p=.5", "QUIET", "STAG"});
    EXPECT_EQ(longest.status, 0);
    std::string zeros;
    for (int k = 1; k < 30; k++) zeros += "0\t";
    EXPECT_EQ(longest.pao(), "2\t30\n1\t" + zeros + "\t25.000000\n0\t" + zeros +
                                 "\t75.000000\n0\n0\n30\nsimulated data from occusim6-stag-entry\n");
}

// Two seasons of two surveys, p = 1, Ent = .5 and Dep = .5; the last survey of
// each season forces entry: e = .5 1 .5 1, d = .5 .5 .5 1.
//   entered at 1 (50): 25 depart after 1 -> 1000; 12.5 after 2 -> 1100;
//     6.25 after 3 -> 1110; 6.25 stay -> 1111;
//   entered at 2 (50): 25 depart after 2 -> 0100; 12.5 after 3 -> 0110; 12.5 -> 0111.
// Without extinction and colonisation at the boundary the flags carry over:
// no site re-enters in season two.
TEST(StagEntry, TwoSeasonsWithoutTurnoverCarryEntryAndDepartureOver) {
    auto r = run_cli({"T=4", "N=100", "psi=1", "p=1", "SPS=2", "Ent=.5", "Dep=.5", "STAG"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "7\t4\n"
                       "1\t1\t1\t1\t\t6.250000\n"
                       "1\t1\t1\t0\t\t6.250000\n"
                       "1\t1\t0\t0\t\t12.500000\n"
                       "1\t0\t0\t0\t\t25.000000\n"
                       "0\t1\t1\t1\t\t12.500000\n"
                       "0\t1\t1\t0\t\t12.500000\n"
                       "0\t1\t0\t0\t\t25.000000\n"
                       "0\n0\n2\nsimulated data from occusim6-stag-entry\n");
    EXPECT_NE(r.out.find("e: 0.50 1.00 0.50 1.00\n"
                         "d: 0.50 0.50 0.50 1.00\n\n"
                         "gam: 1.00 0.00 0.00\n"
                         "eps: 0.00 0.00 0.00\n\n"),
              std::string::npos);

    // Extinction .5 at the boundary restarts the season: every season-one
    // pattern of mass m splits into m/8 -> 11, m/8 -> 10, m/4 -> 01 (occupied,
    // entering afresh) and m/2 -> 00 (extinct).
    auto restart =
        run_cli({"T=4", "N=100", "psi=1", "p=1", "SPS=2", "Ent=.5", "Dep=.5", "eps=0,.5,0", "STAG"});
    EXPECT_EQ(restart.status, 0);
    EXPECT_EQ(restart.pao(), "12\t4\n"
                             "1\t1\t1\t1\t\t3.125000\n"
                             "1\t1\t1\t0\t\t3.125000\n"
                             "1\t1\t0\t1\t\t6.250000\n"
                             "1\t1\t0\t0\t\t12.500000\n"
                             "1\t0\t1\t1\t\t3.125000\n"
                             "1\t0\t1\t0\t\t3.125000\n"
                             "1\t0\t0\t1\t\t6.250000\n"
                             "1\t0\t0\t0\t\t12.500000\n"
                             "0\t1\t1\t1\t\t6.250000\n"
                             "0\t1\t1\t0\t\t6.250000\n"
                             "0\t1\t0\t1\t\t12.500000\n"
                             "0\t1\t0\t0\t\t25.000000\n"
                             "0\n0\n2\nsimulated data from occusim6-stag-entry\n");
}

// T = 2, Ent = .5, Dep = 0 (the unit stays once it has entered). Listing in
// recursion order: 11 6.25, 10 6.25, 01 6.25, 00 6.25 (entered at 1), then
// 01 12.5, 00 12.5 (forced entry at 2), then 00 50 (unoccupied). The merge
// keeps that first-appearance order, the reverse of sorted order.
TEST(StagEntry, MergeSumsRepeatedHistoriesInFirstAppearanceOrder) {
    auto r = run_cli({"T=2", "N=100", "psi=.5", "p=.5", "Ent=.5", "Dep=0", "STAG"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "4\t2\n"
                       "1\t1\t\t6.250000\n"
                       "1\t0\t\t6.250000\n"
                       "0\t1\t\t18.750000\n"
                       "0\t0\t\t68.750000\n"
                       "0\n0\n2\nsimulated data from occusim6-stag-entry\n");
    EXPECT_NE(r.out.find("NSITES=7 NSRVYS=2\n"), std::string::npos);
}

// p = .5, 0, .5 with P0MISS: survey 2 is '.' in every history. Entered at 1
// (25): 1.1 6.25, 1.0 6.25, 0.1 6.25, 0.0 6.25; entered at 2 (12.5) and
// forced at 3 (12.5) each add 6.25 to 0.1 and to 0.0; 50 unoccupied -> 0.0.
TEST(StagEntry, P0MissMarksTheUnsurveyedOccasionInEveryHistory) {
    auto r = run_cli({"T=3", "N=100", "psi=.5", "p=.5,0,.5", "P0MISS", "Ent=.5", "Dep=0", "STAG"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), std::string("4\t3\n"
                                   "1\t.\t1\t\t6.250000\n"
                                   "1\t.\t0\t\t6.250000\n"
                                   "0\t.\t1\t\t18.750000\n"
                                   "0\t.\t0\t\t68.750000\n") +
                           kTrailer3);
}

// The recursion uses plain products: STOCH changes nothing.
TEST(StagEntry, RecursionIgnoresTheStochasticSwitch) {
    auto expected = run_cli({"T=4", "N=100", "psi=.7", "p=.6", "SPS=2", "Ent=.5", "Dep=.3", "STAG"});
    auto stoch =
        run_cli({"T=4", "N=100", "psi=.7", "p=.6", "SPS=2", "Ent=.5", "Dep=.3", "STOCH", "SEED=5", "STAG"});
    EXPECT_EQ(stoch.status, 0);
    EXPECT_EQ(stoch.pao(), expected.pao());
}

// Seed 2, N = 8, psi .7, p .8, Ent = Dep = .5 (e = .5 .5 1, d = .5 .5 1).
// Sites in order (draws in brackets):
//   1 occ(.00004) enter(.17) det(.20) stay(.78) | det(.38) depart(.03)       -> 110
//   2 occ(.49) enter(.18) det(.12) depart(.16)                                -> 100
//   3 unoccupied(.75), colonisation draws .99 .45 .93                          -> 000
//   4 occ(.59) no entry(.85) | enter(.31) miss(.80) stay(.92) | det(.72)    -> 001
//   5, 6 unoccupied (.87, .79)                                                 -> 000
//   7 occ(.18) enter(.19) det(.22) stay(.86) | det(.69) stay(.98) | det(.14) -> 111
//   8 occ(.56) enter(.17) det(.36) depart(.23)                                -> 100
// (each occupied survey ends with an extinction draw, harmless with eps 0).
TEST(StagEntry, SeededSiteBySiteRun) {
    auto r = run_cli({"T=3", "N=8", "psi=.7", "p=.8", "Ent=.5", "Dep=.5", "SIMTYPE=2", "SEED=2", "STAG"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), std::string("5\t3\n"
                                   "1\t1\t0\t\t1.000000\n"
                                   "1\t0\t0\t\t2.000000\n"
                                   "0\t0\t1\t\t1.000000\n"
                                   "1\t1\t1\t\t1.000000\n"
                                   "0\t0\t0\t\t3.000000\n") +
                           kTrailer3);
    EXPECT_EQ(r.err, "seed=2\nsimulating by individual...\n");
    EXPECT_NE(r.out.find("NSITES=6 NSRVYS=3\n"), std::string::npos);

    // Two seasons with turnover at the boundary (eps and gam .5 between
    // surveys 2 and 3) and P0MISS at survey 2, seed 13. Site 2 survives the
    // boundary and re-enters; site 5 is colonised there; site 8 colonised
    // too but only detected at the last survey after entering there.
    auto seasons = run_cli({"T=4", "N=8", "psi=.5", "p=.9,0,.9,.9", "P0MISS", "Ent=.6", "Dep=.4", "SPS=2",
                            "eps=0,.5,0", "gam=0,.5,0", "SIMTYPE=2", "SEED=13", "STAG"});
    EXPECT_EQ(seasons.status, 0);
    EXPECT_EQ(seasons.pao(), "5\t4\n"
                             "1\t.\t0\t0\t\t2.000000\n"
                             "1\t.\t1\t1\t\t1.000000\n"
                             "0\t.\t0\t1\t\t2.000000\n"
                             "0\t.\t1\t1\t\t1.000000\n"
                             "0\t.\t0\t0\t\t2.000000\n"
                             "0\n0\n2\nsimulated data from occusim6-stag-entry\n");
}

// Site by site there is no limit of 31 surveys, and listing lines longer than
// 255 characters are read back whole: 140 surveys, every site detected at the
// first survey only.
TEST(StagEntry, SiteBySiteHandlesLongDesigns) {
    auto r = run_cli({"T=140", "N=5", "psi=1", "p=1", "SIMTYPE=2", "SEED=9", "QUIET", "STAG"});
    EXPECT_EQ(r.status, 0);
    std::string line = "1\t";
    for (int k = 1; k < 140; k++) line += "0\t";
    EXPECT_EQ(r.pao(),
              "1\t140\n" + line + "\t5.000000\n0\n0\n140\nsimulated data from occusim6-stag-entry\n");
}

TEST(StagEntry, RefusesWhatItCannotDo) {
    // The recursion codes a history in 32 bits.
    auto longrec = run_cli({"T=32", "N=10", "psi=.5", "p=.5", "SIMTYPE=3", "QUIET", "STAG"});
    EXPECT_EQ(longrec.status, 1);
    EXPECT_NE(longrec.err.find("occusim8: error: the staggered-entry recursion handles at most 31 surveys (T=32); "
                               "use SIMTYPE=2\n"),
              std::string::npos);
    EXPECT_FALSE(longrec.exists("occusim.pao"));

    auto noT = run_cli({"T=0", "N=10", "psi=.5", "p=.5", "STAG"});
    EXPECT_EQ(noT.status, 1);
    EXPECT_EQ(noT.err, "occusim8: error: T=0: give at least one survey\n");

    // The history file cannot be created: the model's fixed message.
    auto noFile = run_cli({"T=3", "N=100", "psi=.5", "p=.5", "outfile=no/such/dir.pao", "STAG"});
    EXPECT_EQ(noFile.status, 1);
    EXPECT_NE(noFile.out.find("opening no/such/dir.pao...\nerror opening occusim.inp\n"), std::string::npos);
}

// The merge on its own: interleaved repeats of long keys (over 255
// characters a line), counts summed in listing order, and a history whose
// listed counts sum to 0 dropped.
TEST(StagListing, MergeIsByWholeKeyInFirstAppearanceOrder) {
    TempDir d;
    const int T = 130;
    auto key = [&](char first, char last) {
        std::string k;
        for (int i = 0; i < T; i++) {
            k += i == 0 ? first : i == T - 1 ? last : '0';
            k += '\t';
        }
        return k;
    };
    std::string a = key('1', '0'), b = key('0', '1'), c = key('0', '0'), z = key('1', '1');
    std::FILE *f = std::fopen((d.path + "/l.pao").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fprintf(f, "%s2.500000\n%s0.000000\n%s1.000000\n%s0.250000\n%s4.000000\n%s0.250000\n", b.c_str(),
                 z.c_str(), a.c_str(), b.c_str(), c.c_str(), a.c_str());
    std::fclose(f);
    occusim::Context ctx;
    ctx.workdir = d.path;
    ctx.nout = 6;
    occusim::rewrite_stag_listing(ctx, "l.pao", T, 7);
    EXPECT_EQ(read_file(d.path + "/l.pao"),
              "3\t130\n" + b + "\t2.750000\n" + a + "\t1.250000\n" + c +
                  "\t4.000000\n0\n0\n7\nsimulated data from occusim6-stag-entry\n");
    EXPECT_TRUE(ctx.history_written);
}

TEST(StagListing, ReopenFailureIsReportedInTheErrorFile) {
    TempDir d;
    occusim::Context ctx;
    ctx.workdir = d.path;
    int status = -1;
    try {
        occusim::rewrite_stag_listing(ctx, "/no/such/dir/l.pao", 3, 3);
    } catch (const occusim::RunFinished &fin) {
        status = fin.status;
    }
    EXPECT_EQ(status, 1);
    EXPECT_EQ(read_file(d.path + "/occusim.err"), "error reopening /no/such/dir/l.pao for reading\n");
}

// A large seeded site-by-site run agrees with the expected-value recursion
// (two seasons with turnover at the boundary): chi-square over the 16
// histories against the 0.1% critical value of its degrees of freedom.
TEST(StagEntry, SiteBySiteAgreesWithTheRecursion) {
    const Args design = {"T=4",    "psi=.7",     "p=.7",       "SPS=2", "Ent=.6",
                         "Dep=.4", "eps=0,.2,0", "gam=0,.3,0", "QUIET", "STAG"};
    auto expected = run_cli(with(design, {"N=1000"}));
    auto simulated = run_cli(with(design, {"N=20000", "SIMTYPE=2", "SEED=12345"}));
    ASSERT_EQ(expected.status, 0);
    ASSERT_EQ(simulated.status, 0);
    auto s = history_counts(simulated.pao());
    EXPECT_EQ(total(s), 20000);
    auto e = scaled(history_counts(expected.pao()), total(s) / 1000);
    for (const auto &[k, exp] : e) ASSERT_GT(exp, 5) << k;
    auto c = chi_square(s, e);
    EXPECT_EQ(c.unexpected, std::vector<std::string>()) << "histories that cannot occur";
    EXPECT_EQ(c.classes, 16);
    EXPECT_LT(c.statistic, c.critical(3.09));
}

// Random command lines of the recursion against the path-by-path reference
// (a written listing merged by rewrite_stag_listing): the same history file
// and the same number of listing lines. Probabilities of exactly 0 and 1 and
// undetectable surveys are mixed in.
TEST(StagEntry, RecursionMatchesThePathByPathReference) {
    std::mt19937_64 gen(31);
    auto prob = [&] {
        const unsigned r = static_cast<unsigned>(gen() % 1000);
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.3f", r < 120 ? 0.0 : r < 240 ? 1.0 : (r % 997) / 997.0);
        return std::string(buf);
    };
    auto list = [&](int n) {
        std::string v;
        for (int k = 0; k < n; k++) v += (k ? "," : "") + prob();
        return v;
    };
    int turnover = 0;
    for (int trial = 0; trial < 1000; trial++) {
        const int T = 1 + trial % 6;
        Args args{"T=" + std::to_string(T), "N=" + std::to_string(1 + gen() % 5000),
                  "psi=" + prob(),          "p=" + list(T),
                  "Ent=" + list(T),         "Dep=" + list(T)};
        if (gen() % 2) args.push_back("SPS=" + std::to_string(1 + gen() % T));
        if (gen() % 3 == 0) {
            args.push_back("eps=" + list(T));
            args.push_back("gam=" + list(T));
            turnover++;
        }
        if (gen() % 4 == 0) args.push_back("P0MISS");
        args.push_back("QUIET");
        args.push_back("STAG");

        auto r = run_cli(args);
        ASSERT_EQ(r.status, 0) << r.err;
        Prepared ref_run(args);
        occusim::Context &ctx = ref_run.ctx;
        TempDir d;
        std::FILE *f = std::fopen((d.path + "/ref.pao").c_str(), "w");
        ASSERT_NE(f, nullptr);
        StagPaths ref(ctx, f);
        ref.run();
        std::fclose(f);
        int L = ctx.SRVYPERSEASN[0];
        if (L <= 1 || L > T) L = T;
        ctx.workdir = d.path;
        ctx.nout = ref.lines;
        occusim::rewrite_stag_listing(ctx, "ref.pao", T, L);
        ASSERT_EQ(r.pao(), read_file(d.path + "/ref.pao")) << "trial " << trial;
        EXPECT_NE(r.out.find("NSITES=" + std::to_string(ref.lines) + " NSRVYS"), std::string::npos)
            << "trial " << trial;
    }
    EXPECT_GT(turnover, 250);
}

} // namespace
