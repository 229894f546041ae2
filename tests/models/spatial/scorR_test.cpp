// End-to-end runs of the second spatial generator and its record collapse.
// Expected-value files were derived by enumerating every hidden path of
// occupancy and local presence; seeded files by replaying the generator and
// the per-site draws by hand in the order the model makes them. On a bare
// run context: the forward pass writes only the histories that hold sites.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "models/spatial/scorR.hpp"
#include "support/cli.hpp"
#include "support/history.hpp"

using namespace occusim::testing;

namespace {

// T=3, one season: no positive colonisation; extinction 0.2 before the third
// survey redraws local presence there.
const Args kOneSeason{"3",  "100", ".5", ".4", ".5", ".6", ".2", ".3", ".4", ".7",
                      ".8", ".9",  ".1", ".2", ".3", "0",  ".2", "0",  "0"};
// T=4 with colonisation 0, 0.2, 0: a second season opens at the third survey.
const Args kTwoSeasons{"4",  "200", ".7", ".5", ".6", ".7", ".8", ".3", ".2", ".3", ".4", ".8", ".9",
                       ".6", ".7",  ".6", ".5", ".4", ".3", "0",  ".1", "0",  "0",  ".2", "0"};

TEST(SpatialRecords, OneSeasonWithoutColonisation) {
    auto r = run_cli(with(kOneSeason, {"T=3", "SPADMS", "QUIET"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("allocating memory for double precision vector of length 8\n"
                         "N=100.000000 T=3 psi=0.500000\n"
                         "p: 0.400000 0.500000 0.600000\n"
                         "theta(0): 0.200000 0.300000 0.400000\n"
                         "theta(1): 0.700000 0.800000 0.900000\n"
                         "theta0pi: 0.100000 0.200000 0.300000\n"
                         "eps    : 0.000000 0.200000\n"
                         "gam    : 0.000000 0.000000\n"
                         "noccupied:50.000000  not_occ:50.000000\n"
                         "\n=========== prnt_caphis =========\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.pao(), "8\t3\n"
                       "0\t0\t0\t       76.7720000000\n"
                       "0\t0\t1\t        9.6030000000\n"
                       "0\t1\t0\t        6.3480000000\n"
                       "0\t1\t1\t        2.2770000000\n"
                       "1\t0\t0\t        2.2080000000\n"
                       "1\t0\t1\t        0.7920000000\n"
                       "1\t1\t0\t        1.4720000000\n"
                       "1\t1\t1\t        0.5280000000\n"
                       "0\n0\n3;0\nsimulated data from occusim8\n");
}

TEST(SpatialRecords, TwoSeasonsFromColonisation) {
    auto r = run_cli(with(kTwoSeasons, {"T=4", "SPADMS", "QUIET"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "16\t4\n"
                       "0\t0\t0\t0\t       88.0312016000\n"
                       "0\t0\t0\t1\t       18.8892384000\n"
                       "0\t0\t1\t0\t        9.5390064000\n"
                       "0\t0\t1\t1\t       12.1405536000\n"
                       "0\t1\t0\t0\t       14.8427664000\n"
                       "0\t1\t0\t1\t        6.7779936000\n"
                       "0\t1\t1\t0\t        3.4228656000\n"
                       "0\t1\t1\t1\t        4.3563744000\n"
                       "1\t0\t0\t0\t        9.7538179200\n"
                       "1\t0\t0\t1\t        4.4541100800\n"
                       "1\t0\t1\t0\t        2.2493116800\n"
                       "1\t0\t1\t1\t        2.8627603200\n"
                       "1\t1\t0\t0\t       11.4501340800\n"
                       "1\t1\t0\t1\t        5.2287379200\n"
                       "1\t1\t1\t0\t        2.6404963200\n"
                       "1\t1\t1\t1\t        3.3606316800\n"
                       "0\n0\n2,2;0\nsimulated data from occusim8\n");
}

TEST(SpatialRecords, SeededRecursionKeepsDrawOrder) {
    // Replayed draw by draw apart from this code: the presence draw is made for
    // unoccupied cohorts too, detected cohorts go first, and the occupied
    // part of each cohort before the unoccupied one.
    Args block = kTwoSeasons;
    block[1] = "12";
    auto r = run_cli(with(block, {"T=4", "SPADMS", "STOCH", "SEED=1", "QUIET"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("noccupied:9.000000  not_occ:3.000000\n"), std::string::npos);
    EXPECT_EQ(r.pao(), "12\t4\n"
                       "0\t0\t0\t0\t\n0\t0\t0\t0\t\n0\t0\t0\t0\t\n0\t0\t0\t0\t\n"
                       "0\t0\t0\t1\t\n0\t0\t0\t1\t\n0\t0\t1\t0\t\n0\t0\t1\t1\t\n"
                       "0\t1\t0\t0\t\n0\t1\t0\t0\t\n0\t1\t0\t1\t\n1\t0\t0\t0\t\n"
                       "0\n0\n2,2;0\nsimulated data from occusim8\n");
}

TEST(SpatialRecords, SiteBySiteWithoutDetectionsIsOneRecord) {
    Args block = kTwoSeasons;
    block[1] = "50";
    for (int t = 3; t < 7; t++) block[t] = "0";
    auto r = run_cli(with(block, {"T=4", "SPADMS", "SIMTYPE=2", "SEED=5", "QUIET"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "1\t4\n0\t0\t0\t0\t50\n0\n0\n2,2;1\nsimulated data\n");
    EXPECT_FALSE(r.exists("occusim.tmp"));
}

TEST(SpatialRecords, SeededSiteBySiteRunKeepsFirstAppearanceOrder) {
    Args block = kTwoSeasons;
    block[1] = "30";
    auto r = run_cli(with(block, {"T=4", "SPADMS", "SIMTYPE=2", "SEED=777", "QUIET"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "9\t4\n"
                       "0\t1\t0\t1\t2\n"
                       "0\t0\t0\t0\t18\n"
                       "1\t1\t0\t0\t2\n"
                       "0\t0\t1\t0\t2\n"
                       "0\t1\t1\t0\t2\n"
                       "1\t0\t0\t0\t1\n"
                       "0\t0\t0\t1\t1\n"
                       "0\t1\t1\t1\t1\n"
                       "0\t1\t0\t0\t1\n"
                       "0\n0\n2,2;1\nsimulated data\n");
}

TEST(SpatialRecords, SiteBySiteAgreesWithRecursion) {
    // The site chain and the recursion agree when extinction is positive only
    // where a season opens, as here.
    Args block = kTwoSeasons;
    block[1] = "20000";
    auto expected = run_cli(with(block, {"T=4", "SPADMS", "QUIET"}));
    auto sites = run_cli(with(block, {"T=4", "SPADMS", "SIMTYPE=2", "SEED=31337", "QUIET"}));
    ASSERT_EQ(expected.status, 0);
    ASSERT_EQ(sites.status, 0);
    auto e = history_counts(expected.pao()), o = history_counts(sites.pao());
    ASSERT_EQ(e.size(), 16u);
    auto c = chi_square(o, e);
    ASSERT_EQ(c.unexpected, std::vector<std::string>());
    EXPECT_EQ(total(o), 20000);
    EXPECT_LT(c.statistic, 37.7); // 15 degrees of freedom, 0.1 % level
}

TEST(SpatialRecords, PositionalBlockRefusals) {
    // T=4 needs 25 numbers; the command line holds 7 arguments in all.
    auto shortb = run_cli({"4", "100", ".5", ".5", ".5", "T=4", "SPADMS"});
    EXPECT_EQ(shortb.status, 1);
    EXPECT_EQ(shortb.err,
              "occusim8: error: SPADMS with T=4 needs 6*T+1 = 25 numbers at the front of the command line, "
              "but only 7 arguments were given\n");
    EXPECT_EQ(shortb.pao(), ""); // opened, then left empty

    auto zero = run_cli({"0", "100", ".5", ".5", "T=4", "SPADMS", "QUIET"});
    EXPECT_EQ(zero.status, 1);
    EXPECT_EQ(zero.err,
              "occusim8: error: SPADMS needs the number of surveys T (at least 1) as its first argument, not "
              "\"0\"\n");

    // The recursion writes histories of the T given among the named options.
    auto unnamed = run_cli(with(kOneSeason, {"SPADMS", "QUIET"}));
    EXPECT_EQ(unnamed.status, 1);
    EXPECT_EQ(unnamed.err,
              "occusim8: error: SPADMS: the recursion needs the number of surveys as T=3 among the named options\n");
}

// The collapse as a pairwise comparison with every earlier surviving record.
int collapse_pairwise(int count, int T, const std::vector<std::uint8_t> &rec, std::vector<int> &freq) {
    freq.assign(count, 1);
    for (int i = 1; i < count; i++)
        for (int j = 0; j < i; j++) {
            if (freq[j] <= 0) continue;
            bool same = true;
            for (int t = 0; t < T; t++) same = same && rec[i * T + t] == rec[j * T + t];
            if (same) {
                freq[j]++;
                freq[i] = -999;
                break;
            }
        }
    int distinct = 0;
    for (int f : freq) distinct += f > 0;
    return distinct;
}

TEST(Collapse, MatchesPairwiseComparison) {
    std::uint32_t x = 12345;
    for (int T : {1, 3, 7}) {
        const int count = 500;
        std::vector<std::uint8_t> rec(static_cast<std::size_t>(count * T));
        for (auto &v : rec) {
            x = x * 1103515245u + 12345u;
            v = (x >> 16) % 5 == 0; // mostly zeros: many repeats
        }
        std::vector<int> want, got(count);
        int distinct = collapse_pairwise(count, T, rec, want);
        EXPECT_EQ(occusim::smrzCaphis(count, T, rec, got), distinct) << T;
        EXPECT_EQ(got, want) << T;
    }
    std::vector<int> none;
    EXPECT_EQ(occusim::smrzCaphis(0, 4, {}, none), 0);
}

TEST(Collapse, ManyDistinctRecords) {
    // 200000 different records: a pairwise collapse would need 2e10
    // comparisons; one pass over the records is enough.
    const int count = 200000, T = 20;
    std::vector<std::uint8_t> rec(static_cast<std::size_t>(count) * T);
    for (int i = 0; i < count; i++)
        for (int t = 0; t < T; t++) rec[static_cast<std::size_t>(i) * T + t] = (i >> t) & 1;
    std::vector<int> freq(count);
    EXPECT_EQ(occusim::smrzCaphis(count, T, rec, freq), count);
    EXPECT_EQ(freq, std::vector<int>(count, 1));
}

// Every occupied site locally present and detected at every survey, nothing
// changing between surveys: of the 2^16 histories two hold sites, and only
// their pages are written.
TEST(SpatialRecords, EmptyBranchesAreNotWalked) {
    const int T = 16;
    occusim::Args argv{"occusim8", std::to_string(T), "100", ".3"};
    for (int row = 0; row < 4; row++)
        for (int t = 0; t < T; t++) argv.push_back("1");
    for (int t = 0; t < 2 * (T - 1); t++) argv.push_back("0");
    occusim::Context ctx;
    ctx.set_vector_defaults();
    ctx.out = std::tmpfile();
    ctx.nper = T;
    ctx.nx.reset(std::int64_t{1} << T);
    occusim::caphis_scorR(ctx, argv, 1);
    EXPECT_DOUBLE_EQ(ctx.nx.get(0), 70);
    EXPECT_DOUBLE_EQ(ctx.nx.get((1 << T) - 1), 30);
    long entries = 0;
    ctx.nx.for_each([&](std::int64_t, double) { entries++; });
    EXPECT_EQ(entries, 2 * occusim::CountTable::PAGE);
    std::fclose(ctx.out);
}

} // namespace
