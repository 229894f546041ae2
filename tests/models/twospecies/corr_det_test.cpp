// End-to-end runs of the two-species model with detections correlated through
// availability: expected values, seeded random data by cohort and site by
// site, its equivalence with the single-season model, and alternating
// availability.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>

#include "cli/run.hpp"
#include "models/twospecies/reference_cohorts.hpp"
#include "models/twospecies/sweep.hpp"
#include "support/cli.hpp"
#include "support/history.hpp"

using namespace occusim::testing;

namespace {

const Args kDetection = {"psiA=.6", "psiBA=.5", "psiBa=.25", "pA=.5", "pB=.4", "rA=.8", "rBA=.5", "rBa=.25"};
const Args kAvailability = {"thA=.5", "thA'=.8", "thBA=.6", "thBA'=.9", "thBa=.4", "thBa'=.7"};
const Args kModel = with(kDetection, kAvailability);

// True when some history with a positive count shows A (digit 1 or 3) at two
// consecutive surveys.
bool a_seen_twice_in_a_row(const std::map<std::string, double> &counts) {
    for (const auto &[h, n] : counts)
        for (std::size_t j = 1; j < h.size(); j++)
            if (n > 0 && (h[j - 1] - '0') % 2 == 1 && (h[j] - '0') % 2 == 1) return true;
    return false;
}

TEST(CorrelatedDetections, ExpectedValuesOverTwoSurveys) {
    // Sum over the availability paths of each occupancy state (30 A only,
    // 10 B only, 30 both, 30 neither) of the path's probability times the
    // detection probabilities given availability, in exact fractions. E.g.
    // 3,3 needs both species available at both surveys: 30 * (.5*.6) * (.8*.5)
    // * (.8*.9) * (.8*.5) = 1.0368.
    auto r = run_cli(with({"T=2", "N=100"}, kModel));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "16\t2\n"
                       "0\t0\t60.826200\n0\t1\t10.966800\n0\t2\t3.364200\n0\t3\t2.692800\n"
                       "1\t0\t6.751200\n1\t1\t5.236800\n1\t2\t0.499200\n1\t3\t1.612800\n"
                       "2\t0\t2.369400\n2\t1\t0.639600\n2\t2\t0.879400\n2\t3\t0.561600\n"
                       "3\t0\t1.051200\n3\t1\t1.180800\n3\t2\t0.331200\n3\t3\t1.036800\n"
                       "0\n0\n2\nsimulated data from occusim8\n");
    EXPECT_EQ(from_marker(r.out, "2-species"),
              "2-species simulation:\n2-species corr. detections simulation:\n"
              "thA  = 0.500000 0.500000\nthA' = 0.800000 0.800000\nthBA = 0.600000 0.600000\n"
              "thBA'= 0.900000 0.900000\nthBa = 0.400000 0.400000\nthBa'= 0.700000 0.700000\n"
              "pA  = 0.500000 0.500000\npB  = 0.400000 0.400000\nrA  = 0.800000 0.800000\n"
              "rBA = 0.500000 0.500000\nrBa = 0.250000 0.250000\n"
              "nAonly,nBonly,nAB,neither: 30.000000 10.000000 30.000000 30.000000\n"
              "------------------------------"
              "\n=========== prnt_caphis2 ========= nper=2 sps=2 meth=0\n");
    EXPECT_EQ(r.err, "nsites:100 nsurveys:2\npsiA=0.600000 psiBA=0.500000 psiBa=0.250000\n");
}

TEST(CorrelatedDetections, SeededCohortRun) {
    // Worked out by replaying the generator from seed 99 through the three
    // recursions, every branch visited (47 uniforms).
    auto r = run_cli(with({"T=2", "N=10"}, with(kModel, {"STOCH", "SEED=99"})));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("nAonly,nBonly,nAB,neither: 4.000000 0.000000 2.000000 4.000000\n"),
              std::string::npos);
    EXPECT_EQ(r.pao(), "5\t2\n0\t0\t5.000000\n0\t1\t1.000000\n1\t0\t2.000000\n1\t1\t1.000000\n"
                       "2\t2\t1.000000\n0\n0\n2\nsimulated data from occusim8\n");
}

TEST(CorrelatedDetections, SeededSiteBySiteRunSortsAndCollapsesHistories) {
    // Worked out by replaying the generator from seed 14 site by site: the 12
    // histories 00 x4, 01 x2, 02, 03, 11 x2, 13, 20 in ascending order. The
    // history file is written afresh under its own name; the second stream
    // stays empty.
    auto r = run_cli(with({"T=2", "N=12", "outfile=corr.pao"}, with(kModel, {"SIMTYPE=2", "SEED=14"})));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.file("corr.pao"),
              "7\t2\n0\t0\t 4\n0\t1\t 2\n0\t2\t 1\n0\t3\t 1\n1\t1\t 2\n1\t3\t 1\n2\t0\t 1\n"
              "0\n0\n2\nsimulated data from occusim8\n");
    EXPECT_TRUE(r.exists("occusim.pao"));
    EXPECT_EQ(r.pao(), "");
    EXPECT_EQ(from_marker(r.out, "nsites="),
              "nsites=12 nper=2\n"
              "nAonly,nBonly,nAB,neither: 4.000000 1.000000 5.000000 2.000000\n"
              "end of program\n");
    EXPECT_EQ(from_marker(r.err, "nsites"),
              "nsites:12 nsurveys:2\npsiA=0.600000 psiBA=0.500000 psiBa=0.250000\n"
              "simulating by individual...\n");
}

TEST(CorrelatedDetections, PhiBeforeTheAvailabilityOptionsIsNotApplied) {
    // thBA after phi selects this model; psiB and phi would make psiBA 1.8 and
    // stop the single-season model, here psiBA and psiBa are used as given.
    auto r = run_cli(with({"T=2", "N=100", "psiB=.9", "phi=2"}, kModel));
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.exists("occusim.err"));
    EXPECT_EQ(r.err, "occusim8: warning: option psiB is not read by the correlated-detection two-species model\n"
                     "occusim8: warning: option phi is not read by the correlated-detection two-species model\n"
                     "nsites:100 nsurveys:2\npsiA=0.600000 psiBA=0.500000 psiBa=0.250000\n");
    EXPECT_EQ(r.pao(), run_cli(with({"T=2", "N=100"}, kModel)).pao());
}

TEST(CorrelatedDetections, AlwaysAvailableSpeciesGiveTheSingleSeasonModel) {
    auto single = run_cli(with({"T=3", "N=100"}, kDetection));
    auto corr = run_cli(with({"T=3", "N=100"}, with(kDetection, {"thBA=1"})));
    ASSERT_EQ(single.status, 0);
    ASSERT_EQ(corr.status, 0);
    EXPECT_NE(corr.out.find("2-species corr. detections simulation:"), std::string::npos);
    EXPECT_EQ(corr.pao(), single.pao());
}

TEST(CorrelatedDetections, AlternatingAvailabilityNeverShowsATwiceInARow) {
    // thA = 1, thA' = 0: A is available at surveys 1, 3, ... only.
    const Args model = with(kDetection, {"thA=1", "thA'=0", "thBA=.7"});
    auto expected = history_counts(run_cli(with({"T=4", "N=100"}, model)).pao());
    EXPECT_FALSE(a_seen_twice_in_a_row(expected));
    EXPECT_GT(expected["1010"], 0);
    auto sites = run_cli(with({"T=4", "N=2000"}, with(model, {"SIMTYPE=2", "SEED=8"})));
    ASSERT_EQ(sites.status, 0);
    auto observed = history_counts(sites.pao());
    EXPECT_FALSE(a_seen_twice_in_a_row(observed));
    EXPECT_GT(observed["1010"], 0);
}

TEST(CorrelatedDetections, SiteBySiteAndCohortRandomDataAgreeWithExpectedValues) {
    const Args design = {"T=3", "N=20000"};
    auto expected = history_counts(run_cli(with(design, kModel)).pao());
    for (const Args &mode : {Args{"SIMTYPE=2", "SEED=23"}, Args{"STOCH", "SEED=23"}}) {
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
    const int T = g.surveys(6);
    Args a = with({"T=" + std::to_string(T)}, g.sites(g.chance(33)));
    a = with(a, {"psiA=" + g.prob(), "psiBA=" + g.prob(), "psiBa=" + g.prob(), "pA=" + g.probs(T),
                 "pB=" + g.probs(T), "rA=" + g.probs(T), "rBA=" + g.probs(T), "rBa=" + g.probs(T),
                 "thBA=" + g.probs(T)});
    for (const char *th : {"thA=", "thA'=", "thBA'=", "thBa=", "thBa'="})
        if (g.chance(80)) a.push_back(th + g.probs(T));
    return a;
}

TEST(CorrelatedDetections, PrefixWalkAgreesWithThePathByPathRecursions) {
    Lines g(7031);
    const int wanted = lines_wanted();
    Summary s = run_sweep([&] { return random_line(g); }, occusim::testing::reference::corr_det_cohorts,
                          "2-species corr. detections simulation:", wanted);
    EXPECT_EQ(s.compared, wanted);
    EXPECT_GT(s.random, wanted / 5);
    for (const auto &f : s.failures) ADD_FAILURE() << f;
    for (const auto &b : s.boundary) std::printf("rounding boundary: %s\n", b.c_str());
}

TEST(CorrelatedDetections, RandomGroupsWithoutSitesAreNotFollowed) {
    // Ten sites over nine surveys: the recursions that followed every empty
    // group (9^9 calls for the sites with both species) drew the same
    // uniforms and wrote this file.
    auto r = run_cli(with({"T=9", "N=10"}, with(kModel, {"STOCH", "SEED=4"})));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("nAonly,nBonly,nAB,neither: 1.000000 0.000000 6.000000 3.000000"),
              std::string::npos);
    EXPECT_EQ(r.pao(), "8\t9\n"
                       "0\t0\t0\t0\t0\t0\t0\t0\t0\t3.000000\n"
                       "0\t0\t0\t1\t1\t0\t1\t1\t1\t1.000000\n"
                       "0\t0\t2\t3\t0\t0\t3\t1\t3\t1.000000\n"
                       "0\t1\t1\t1\t0\t0\t3\t2\t2\t1.000000\n"
                       "0\t3\t0\t0\t0\t1\t0\t2\t1\t1.000000\n"
                       "1\t0\t0\t1\t3\t3\t3\t3\t1\t1.000000\n"
                       "3\t0\t0\t1\t3\t3\t0\t0\t0\t1.000000\n"
                       "3\t3\t1\t0\t3\t1\t0\t3\t3\t1.000000\n"
                       "0\n0\n9\nsimulated data from occusim8\n");
}

TEST(CorrelatedDetections, ExpectedValuesTouchOnlyTheHistoriesTheyWrite) {
    // Half the sites hold A only, available at surveys 1, 3, ... and then
    // always seen; the other half hold B only, always available and seen with
    // .5. Of the 4^12 histories 2^12 + 1 have sites; every other branch,
    // among them all of the 9^12 paths of the empty group with both species,
    // is empty and must be left alone: every page of the count table that
    // comes into being holds a history with sites.
    occusim::testing::TempDir dir;
    std::FILE *out = std::tmpfile();
    std::FILE *err = std::tmpfile();
    occusim::Context ctx;
    ctx.out = out;
    ctx.err = err;
    ctx.workdir = dir.path;
    const int status = occusim::execute(ctx, {"occusim8", "T=12", "N=100", "psiA=.5", "psiBA=0", "psiBa=1",
                                              "thA=1", "thA'=0", "pA=1", "thBA=1", "pB=.5"});
    EXPECT_EQ(status, 0);
    std::map<std::int64_t, bool> page_has_sites;
    ctx.nx.for_each([&](std::int64_t code, double v) {
        page_has_sites[code >> occusim::CountTable::PAGE_BITS] |= v > 0;
    });
    EXPECT_EQ(page_has_sites.size(), 65u); // 64 pages of B's histories, A's 101010101010
    for (const auto &[page, used] : page_has_sites) EXPECT_TRUE(used) << "page " << page;
    const std::string pao = read_file(dir.path + "/occusim.pao");
    EXPECT_EQ(pao.substr(0, pao.find('\n')), "4097\t12");
    EXPECT_NE(pao.find("1\t0\t1\t0\t1\t0\t1\t0\t1\t0\t1\t0\t50.000000\n"), std::string::npos);
    EXPECT_NE(pao.find("2\t2\t2\t2\t2\t2\t2\t2\t2\t2\t2\t2\t0.012207\n"), std::string::npos);
    std::fclose(out);
    std::fclose(err);
}

} // namespace walk
