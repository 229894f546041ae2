// End-to-end runs of the Royle-Nichols abundance model: the expected-value
// form checked against closed forms of the joint distribution of the two
// surveys' counts, the form choice, the seeded simulation form replayed from
// the generator, refusals, and a large seeded simulation checked against the
// expected values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "support/cli.hpp"
#include "support/history.hpp"
#include "support/replay.hpp"

using namespace occusim::testing;

// Allocation failure injection: while fail_alloc_bytes is non-zero, a request
// of exactly that many bytes fails as if the memory were exhausted.
namespace {
std::size_t fail_alloc_bytes = 0;
}

// Kept out of line, so that the optimiser never pairs an inlined free() with
// the operator new of a caller and warns of a mismatch.
[[gnu::noinline]] void *operator new(std::size_t n) {
    if (fail_alloc_bytes != 0 && n == fail_alloc_bytes) throw std::bad_alloc();
    if (void *p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void *p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}

namespace {

constexpr int kDim = 101; // abundances 0 .. 100

double pois_pmf(int k, double mean) {
    if (mean == 0) return k == 0 ? 1.0 : 0.0;
    return std::exp(k * std::log(mean) - mean - std::lgamma(k + 1.0));
}

// Joint probability of (count at survey 2 = i, count at survey 1 = j) when the
// abundance is Poisson(lam): the individuals seen at both surveys, only at the
// first and only at the second are independent Poisson counts.
double bivariate_poisson(int i, int j, double lam, double r1, double r2) {
    double both = lam * r1 * r2, first = lam * r1 * (1 - r2), second = lam * (1 - r1) * r2;
    double sum = 0;
    for (int c = 0; c <= std::min(i, j); c++)
        sum += pois_pmf(c, both) * pois_pmf(j - c, first) * pois_pmf(i - c, second);
    return sum;
}

// Same for a negative binomial abundance (mean lam, size s): a gamma mixture of
// the Poisson case, which gives a negative multinomial for the three classes.
double bivariate_negbin(int i, int j, double lam, double s, double r1, double r2) {
    double theta = lam / s;
    double pi[3] = {r1 * r2, r1 * (1 - r2), (1 - r1) * r2};
    double seen = pi[0] + pi[1] + pi[2];
    double sum = 0;
    for (int c = 0; c <= std::min(i, j); c++) {
        int z[3] = {c, j - c, i - c};
        int tot = z[0] + z[1] + z[2];
        double lp = std::lgamma(s + tot) - std::lgamma(s) - (s + tot) * std::log1p(theta * seen);
        for (int q = 0; q < 3; q++) lp += z[q] * std::log(theta * pi[q]) - std::lgamma(z[q] + 1.0);
        sum += std::exp(lp);
    }
    return sum;
}

// History file of the expected-value form from a joint distribution of the
// abundance-level counts, with the zero-inflation added to the (0, 0) pair.
template <class Joint> std::string expected_pao(double ns, double psi, bool nichols, Joint joint) {
    std::string body;
    int stored = 0;
    for (int i = 0; i < kDim; i++)
        for (int j = 0; j < kDim; j++) {
            double m = psi * joint(i, j) + (i == 0 && j == 0 ? 1 - psi : 0.0);
            if (m < 5e-7) continue;
            stored++;
            int c2 = nichols ? (i > 0) : i, c1 = nichols ? (j > 0) : j;
            body += std::to_string(c2) + "\t" + std::to_string(c1) + "\t" + stringf("%f", ns * m) + "\n";
        }
    return std::to_string(stored) + "\t2\n" + body + "0\n0\n2\nasdf\n";
}

TEST(RoyleExpected, PoissonAbundanceMatchesBivariatePoisson) {
    auto r = run_cli({"T=2", "N=100", "psi=.8", "Lambda=.5", "r=.4,.6", "QUIET"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.out.ends_with("Royle-Nichols model (exp vals): n=100 t=2 lam=0.500000 ix=-1 r=r=0.400000 "
                                "0.600000 lam=0.500000 psi=0.800000 nicholsHet=0 negBin=0\n"
                                "occusim8 exiting...\n"))
        << r.out;
    auto joint = [](int i, int j) { return bivariate_poisson(i, j, 0.5, 0.4, 0.6); };
    EXPECT_EQ(r.pao(), expected_pao(100, 0.8, false, joint));
    // By hand: no individual seen at either survey, exp(-0.5 * (1 - 0.6 * 0.4)),
    // plus the 20 sites that hold nobody.
    auto pao = lines_of(r.pao());
    ASSERT_GT(pao.size(), 2u);
    EXPECT_EQ(pao[1], "0\t0\t" + stringf("%f", 20 + 80 * std::exp(-0.38)));
}

TEST(RoyleExpected, NegativeBinomialAbundanceMatchesNegativeMultinomial) {
    // u and a: mean 1.2 and variance 1.2 + 0.8, i.e. size 1.2^2 / 0.8 = 1.8.
    auto r = run_cli({"T=2", "N=200", "psi=.7", "r=.3,.5", "u=1.2", "a=.8", "QUIET"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.ends_with("Royle-Nichols model (exp vals): n=200 t=2 lam=1.200000 ix=-1 r=r=0.300000 "
                                "0.500000 lam=1.200000 psi=0.700000 nicholsHet=0 negBin=1\n"
                                "a=0.800000\noccusim8 exiting...\n"))
        << r.out;
    auto joint = [](int i, int j) { return bivariate_negbin(i, j, 1.2, 1.8, 0.3, 0.5); };
    EXPECT_EQ(r.pao(), expected_pao(200, 0.7, false, joint));
}

// Frequencies of an expected-value history file by (count 2, count 1).
std::map<std::pair<int, int>, double> frequencies(const std::string &pao, int *first_line_count) {
    auto l = lines_of(pao);
    std::map<std::pair<int, int>, double> f;
    *first_line_count = std::atoi(l.at(0).c_str());
    for (int k = 1; k <= *first_line_count && k < static_cast<int>(l.size()); k++) {
        int i, j;
        double v;
        EXPECT_EQ(std::sscanf(l[k].c_str(), "%d\t%d\t%lf", &i, &j, &v), 3) << l[k];
        f[{i, j}] += v;
    }
    return f;
}

TEST(RoyleExpected, ExtremeAbundancesStayFinite) {
    // A negative binomial close to the Poisson (size 10^2 / 0.4 = 250) still
    // gives the whole distribution, not an empty file.
    {
        auto r = run_cli({"T=2", "N=100", "r=.5,.5", "u=10", "a=.4", "QUIET"});
        ASSERT_EQ(r.status, 0) << r.err;
        int count = 0;
        auto f = frequencies(r.pao(), &count);
        EXPECT_EQ(static_cast<std::size_t>(count), f.size());
        double sum = 0;
        for (auto &[key, v] : f) {
            sum += v;
            double want = 100 * bivariate_negbin(key.first, key.second, 10, 250, 0.5, 0.5);
            EXPECT_NEAR(v, want, 2e-6) << key.first << "," << key.second;
        }
        EXPECT_NEAR(sum, 100, 0.01);
    }
    // A mean so large that nothing is left below 101 individuals: only the
    // empty sites remain, and the dropped mass is not redistributed.
    {
        auto r = run_cli({"T=2", "N=100", "psi=.5", "Lambda=2000", "r=.5,.5", "QUIET"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.pao(), "1\t2\n0\t0\t50.000000\n0\n0\n2\nasdf\n");
    }
}

TEST(RoyleExpected, NicholsWritesIndicatorsWithoutMerging) {
    // c sets the detection probabilities and the indicator layout; ROYLE
    // selects the model.
    auto r = run_cli({"T=2", "N=100", "psi=.8", "Lambda=.5", "c=.4,.6", "ROYLE", "QUIET"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("nicholsHet=1 negBin=0\n"), std::string::npos) << r.out;
    auto joint = [](int i, int j) { return bivariate_poisson(i, j, 0.5, 0.4, 0.6); };
    std::string want = expected_pao(100, 0.8, true, joint);
    EXPECT_EQ(r.pao(), want);
    // The count lines and indicator lines are the same pairs in the same order.
    EXPECT_EQ(lines_of(r.pao()).size(), lines_of(expected_pao(100, 0.8, false, joint)).size());
    int both = 0;
    for (auto &l : lines_of(r.pao())) both += l.rfind("1\t1\t", 0) == 0;
    EXPECT_GT(both, 1); // pairs of positive counts repeat, one line each
}

TEST(RoyleForm, TwoSurveysWithoutSeedGiveExpectedValuesOtherwiseSimulation) {
    const std::string sim = "Royle-Nichols model (simulation): ";
    const std::string exp = "Royle-Nichols model (exp vals): ";
    // STOCH does not change the choice: only the seed and the survey count do.
    for (const char *stoch : {"QUIET", "STOCH"}) {
        auto r = run_cli({"T=2", "N=50", "Lambda=1", "r=.5", stoch, "QUIET"});
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find(exp), std::string::npos) << stoch;
        EXPECT_NE(r.out.find("ix=-1 r=r=0.500000 0.500000"), std::string::npos);
    }
    {
        auto r = run_cli({"T=2", "N=50", "Lambda=1", "r=.5", "SEED=5", "QUIET"});
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find(sim + "n=50 t=2 lam=1.000000 psi=1.000000 r=0.500000 0.500000 NEGBIN=0\n"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(r.pao().rfind("50\t2\n", 0), 0u);
        EXPECT_EQ(lines_of(r.pao()).size(), 1u + 50 + 4);
    }
    {
        auto r = run_cli({"T=3", "N=50", "Lambda=1", "r=.5", "QUIET"});
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find(sim + "n=50 t=3 "), std::string::npos) << r.out;
        EXPECT_EQ(r.pao().rfind("50\t3\n", 0), 0u);
        EXPECT_TRUE(r.pao().ends_with("\n0\n0\n3\nasdf\n"));
    }
    // The number of sites is N rounded to the nearest whole number.
    {
        auto r = run_cli({"T=3", "N=7.6", "Lambda=1", "r=.5", "QUIET"});
        EXPECT_EQ(r.pao().rfind("8\t3\n", 0), 0u);
    }
}

// The seeded simulation replayed from the generator: per site the occupancy
// draw, the Poisson abundance (uniforms multiplied until the product falls to
// exp(-lam)), then the detections survey by survey, individual by individual.
TEST(RoyleSimulation, SeededRunFollowsTheDrawOrder) {
    const int n = 14, T = 3;
    const double psi = 0.6, lam = 1.5, r[T] = {0.3, 0.5, 0.8};
    auto rng = planted(5);
    std::string pao = "14\t3\n", console;
    double total = 0, count = 0;
    bool saw_empty = false;
    for (int s = 0; s < n; s++) {
        if (rng.Random() > psi) {
            pao += "0\t0\t0\t\n";
            saw_empty = true;
            continue;
        }
        int draws = 0;
        double prod = 1;
        do {
            prod *= rng.Random();
            draws++;
        } while (prod > std::exp(-lam));
        int N = draws - 1;
        if (s <= 9) console += "lam=1.500000 npersite=" + std::to_string(N) + "\n";
        total += N;
        count++;
        for (int j = 0; j < T; j++) {
            int y = 0;
            for (int k = 0; k < N; k++) y += rng.Random() < r[j];
            pao += std::to_string(y) + "\t";
        }
        pao += "\n";
    }
    ASSERT_TRUE(saw_empty); // the seed gives at least one empty site
    pao += "0\n0\n3\nasdf\n";
    console += "avg nperiste(for occ sites)=" + stringf("%f", total / count) +
               " count=" + stringf("%f", count) + "\noccusim8 exiting...\n";

    auto run = run_cli({"T=3", "N=14", "psi=.6", "Lambda=1.5", "r=.3,.5,.8", "STOCH", "SEED=5", "QUIET"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.pao(), pao);
    EXPECT_TRUE(run.out.ends_with("Royle-Nichols model (simulation): n=14 t=3 lam=1.500000 psi=0.600000 "
                                  "r=0.300000 0.500000 NEGBIN=0\n" +
                                  console))
        << run.out;
}

// The simulation form's negative binomial has size a itself (not lam^2/a as in
// the expected-value form): a = 1.5 gives two geometric counts with success
// 1.5 / 4.5 per occupied site. Without STOCH the draws come from SEED all the
// same.
TEST(RoyleSimulation, NegativeBinomialSeededReplay) {
    const int n = 12, T = 2;
    const double psi = 0.7, r[T] = {0.4, 0.6};
    Lehmer rng{11};
    std::string pao = "12\t2\n";
    for (int s = 0; s < n; s++) {
        if (rng.next() > psi) {
            pao += "0\t0\t\n";
            continue;
        }
        int N = 0;
        for (int g = 0; g < 2; g++)
            while (rng.next() > 1.5 / 4.5) N++;
        for (int j = 0; j < T; j++) {
            int y = 0;
            for (int k = 0; k < N; k++) y += rng.next() < r[j];
            pao += std::to_string(y) + "\t";
        }
        pao += "\n";
    }
    auto run = run_cli({"T=2", "N=12", "psi=.7", "u=3", "a=1.5", "r=.4,.6", "SEED=11", "QUIET"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("(simulation): n=12 t=2 lam=3.000000 psi=0.700000 r=0.400000 0.600000 NEGBIN=1\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.pao(), pao + "0\n0\n2\nasdf\n");
}

TEST(RoyleSimulation, NicholsAndEmptyStudyArea) {
    // Nobody anywhere: every line is T zeros each followed by a tab, and the
    // average over occupied sites is 0/0.
    {
        auto r = run_cli({"T=3", "N=4", "psi=1e-12", "Lambda=2", "r=.5", "STOCH", "SEED=9", "QUIET"});
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(r.pao(), "4\t3\n0\t0\t0\t\n0\t0\t0\t\n0\t0\t0\t\n0\t0\t0\t\n0\n0\n3\nasdf\n");
        EXPECT_TRUE(std::regex_search(
            r.out,
            std::regex(
                R"(\navg nperiste\(for occ sites\)=-?nan count=0\.000000\noccusim8 exiting\.\.\.\n$)")))
            << r.out;
        EXPECT_EQ(r.out.find("npersite"), std::string::npos);
    }
    // With certain detection every individual is seen: the counts repeat the
    // abundance at each survey, and with c they collapse to 0/1.
    {
        auto counts = run_cli({"T=4", "N=30", "Lambda=3", "r=1", "STOCH", "SEED=3", "QUIET"});
        auto flags = run_cli({"T=4", "N=30", "Lambda=3", "c=1", "ROYLE", "STOCH", "SEED=3", "QUIET"});
        ASSERT_EQ(counts.status, 0);
        ASSERT_EQ(flags.status, 0);
        auto lc = lines_of(counts.pao()), lf = lines_of(flags.pao());
        ASSERT_EQ(lc.size(), 1u + 30 + 4);
        ASSERT_EQ(lf.size(), lc.size());
        bool saw_many = false;
        for (int s = 1; s <= 30; s++) {
            int y[4];
            ASSERT_EQ(std::sscanf(lc[s].c_str(), "%d\t%d\t%d\t%d\t", &y[0], &y[1], &y[2], &y[3]), 4);
            EXPECT_TRUE(y[0] == y[1] && y[1] == y[2] && y[2] == y[3]) << lc[s];
            std::string flag = y[0] > 0 ? "1\t" : "0\t";
            EXPECT_EQ(lf[s], flag + flag + flag + flag);
            saw_many |= y[0] > 1;
        }
        EXPECT_TRUE(saw_many);
    }
}

TEST(RoyleSimulation, PsiNotGivenMeansEverySiteCanHoldIndividuals) {
    auto r = run_cli({"T=3", "N=12", "Lambda=0", "r=.5", "QUIET"});
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("lam=0.000000 psi=1.000000 r=0.500000 0.500000 NEGBIN=0\n"), std::string::npos);
    // All twelve sites are occupied (abundance 0): ten npersite lines, count 12.
    std::string ten;
    for (int s = 0; s < 10; s++) ten += "lam=0.000000 npersite=0\n";
    EXPECT_NE(r.out.find(ten + "avg nperiste(for occ sites)=0.000000 count=12.000000\n"), std::string::npos)
        << r.out;

    auto e = run_cli({"T=2", "N=12", "Lambda=1", "r=.5", "QUIET"});
    EXPECT_NE(e.out.find("lam=1.000000 psi=1.000000 nicholsHet=0"), std::string::npos) << e.out;
}

TEST(RoyleRefusals, UnsafeRequestsEndWithStatusOneAndNoHistory) {
    // A negative binomial whose geometric success probability a/(a+lam) is
    // negative would never finish its first draw.
    {
        auto r = run_cli({"T=3", "N=10", "Lambda=1", "r=.5", "u=-5", "a=2", "QUIET"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err,
                  "occusim8: error: negative binomial abundance with lam=-5.000000 a=2.000000 cannot be drawn "
                  "(a/(a+lam) must be above 0)\n");
        EXPECT_EQ(r.pao(), "");
    }
    // A dispersion so small that a geometric count would average beyond the
    // range of the count: the draw never ended (and would have overflowed).
    {
        auto r = run_cli({"T=3", "N=10", "r=.5", "u=1", "a=1e-300", "QUIET"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(
            r.err,
            "occusim8: error: negative binomial abundance with lam=1.000000 a=1e-300 cannot be drawn (a geometric "
            "count would average 1e+300, beyond 2147483647)\n");
        EXPECT_EQ(r.pao(), "");
    }
    // A mean or dispersion that would take a site more than 10^8 uniforms to
    // draw (the run went on for hours).
    {
        auto r = run_cli({"T=11", "N=10", "c=.5", "a=2147483647", "QUIET"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "occusim8: error: a=2.14748e+09: a site's negative binomial abundance would take at least that "
                         "many uniforms to draw; the dispersion a can be at most 1e+08\n");
        EXPECT_EQ(r.pao(), "");
        auto l = run_cli({"T=3", "N=10", "Lambda=2e8", "r=.5", "SEED=1", "QUIET"});
        EXPECT_EQ(l.status, 1);
        EXPECT_EQ(l.err, "occusim8: error: Lambda=2e+08: a site's Poisson abundance would take about that many uniforms "
                         "to draw; Lambda can be at most 1e+08\n");
        EXPECT_EQ(l.pao(), "");
    }
    // More sites than the site counter holds.
    {
        auto r = run_cli({"T=3", "N=1e12", "Lambda=1", "r=.5", "QUIET"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("occusim8: error: N=1000000000000.000000: the number of sites"), std::string::npos)
            << r.err;
        EXPECT_EQ(r.pao(), "");
    }
    // The count-pair matrix cannot be obtained.
    {
        fail_alloc_bytes = sizeof(double) * kDim * kDim;
        auto r = run_cli({"T=2", "N=100", "Lambda=.5", "r=.4,.6", "QUIET"});
        fail_alloc_bytes = 0;
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "occusim8: error: cannot allocate the 101 x 101 count-pair matrix\n");
        EXPECT_TRUE(r.exists("occusim.pao"));
        EXPECT_EQ(r.pao(), "");
        EXPECT_EQ(r.out.find("occusim8 exiting"), std::string::npos);
    }
}

// A large seeded simulation with two surveys agrees with the expected values:
// chi-square over the (count 2, count 1) cells, small cells pooled with the
// counts the expected values never list and the mass they leave out.
void cross_check(const Args &model, int n) {
    const Args common = with({"T=2", "N=" + std::to_string(n), "psi=.7", "QUIET"}, model);
    auto e = run_cli(common);
    auto s = run_cli(with(common, {"STOCH", "SEED=4242"}));
    ASSERT_EQ(e.status, 0);
    ASSERT_EQ(s.status, 0);
    auto cell = [](int c2, int c1) { return std::to_string(c2) + "," + std::to_string(c1); };
    int count = 0;
    Counts want, got;
    for (const auto &[key, w] : frequencies(e.pao(), &count)) want[cell(key.first, key.second)] = w;
    auto lines = lines_of(s.pao());
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(n) + 5);
    for (int k = 1; k <= n; k++) {
        int y1, y2;
        ASSERT_EQ(std::sscanf(lines[k].c_str(), "%d\t%d\t", &y1, &y2), 2);
        got[cell(y2, y1)] += 1; // expected lines list survey 2 first
    }
    auto c = chi_square(got, want, Small::pool, n);
    ASSERT_GE(c.df(), 5);
    // Well above the 99.9% point of chi-square for these degrees of freedom.
    EXPECT_LT(c.statistic, c.df() + 4.5 * std::sqrt(2.0 * c.df())) << "df=" << c.df();
}

TEST(RoyleSimulation, AgreesWithExpectedValuesPoisson) {
    cross_check({"Lambda=1.2", "r=.4,.6"}, 20000);
}

// With mean and size both 2 the two forms describe the same negative binomial.
TEST(RoyleSimulation, AgreesWithExpectedValuesNegativeBinomial) {
    cross_check({"r=.4,.6", "u=2", "a=2"}, 20000);
}

} // namespace
