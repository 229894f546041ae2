// Site-by-site simulation: fixed-seed runs compared byte for byte with a
// replay of the generator that follows the model's order of draws, the
// number of uniforms a site consumes, the removal design, the hand-over of
// long designs, and a large stochastic run against the expected-value run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "cli/run.hpp"
#include "models/single/by_indiv.hpp"
#include "support/cli.hpp"
#include "support/history.hpp"
#include "support/replay.hpp"

using namespace occusim::testing;

namespace {

// A site-by-site design, one season, surveys indexed from 0.
struct Design {
    int T = 3;
    int n = 5;
    int nobs = 1;
    std::vector<double> p, b, p10, eps;
    std::vector<double> gam = std::vector<double>(1000, 0.0); // gam[0] = psi
    std::vector<double> coef;                                 // intercept, slopes
    int ncovs = 0;
    bool removal = false;
    int spadep = 0;
    int meth = 0;
    std::vector<int> survey; // visit of each survey (meth > 1)
    double pi0 = 0;
    std::vector<double> pcoef; // one slope per detection covariate

    Design(int surveys, int sites, double psi) : T(surveys), n(sites) {
        p.assign(T, 0.0);
        b.assign(T, 0.0);
        p10.assign(T, 0.0);
        eps.assign(T, 0.0);
        gam[0] = psi;
    }
};

// The history file the design gives from `seed`, drawn in the model's order:
// covariates first, then per site occupancy, local state and, per survey,
// availability, detection (and certainty) or false positive, transition.
std::string replay(const Design &d, Lehmer &g) {
    std::vector<std::vector<double>> cov(d.ncovs, std::vector<double>(d.n));
    for (auto &row : cov)
        for (double &v : row) {
            double sum = 0;
            for (int i = 0; i < 12; i++) sum += g.next();
            v = sum - 6.0;
        }
    std::ostringstream file;
    file << d.n * d.nobs << '\t' << d.T << '\n';
    const int K = static_cast<int>(d.pcoef.size());
    std::vector<double> px; // detection covariates, site by site, then covariate, then survey
    for (int i = 0; i < d.n; i++) {
        std::vector<double> p = d.p;
        for (int v = 0; v < K * d.T; v++) {
            double sum = 0;
            for (int u = 0; u < 12; u++) sum += g.next();
            px.push_back(sum - 6.0);
        }
        for (int j = 0; j < d.T && K > 0; j++) {
            if (!(p[j] > 0 && p[j] < 1)) continue;
            double eta = std::log(p[j] / (1 - p[j]));
            for (int k = 0; k < K; k++)
                eta += d.pcoef[k] * px[(static_cast<std::size_t>(i) * K + k) * d.T + j];
            p[j] = 1 / (1 + std::exp(-eta));
        }
        double psi = d.gam[0];
        if (d.ncovs > 0) {
            double x = d.coef[0];
            for (int k = 0; k < d.ncovs; k++) x += cov[k][i] * d.coef[k + 1];
            psi = 1 / (std::exp(-x) + 1);
        }
        bool occupied = !(g.next() > psi);
        int local = g.next() < d.pi0 ? 1 : 0;
        bool available = true, removed = false;
        std::string line;
        for (int j = 0; j < d.T; j++) {
            char c = removed ? '-' : '0';
            if (d.spadep > 0) {
                double th = local == 0 ? d.gam[j + 1] : d.gam[d.T + j + 1];
                available = g.next() <= th;
                local = available ? 1 : 0;
            }
            if (d.meth > 1 && j % d.meth == 0) available = g.next() <= d.gam[d.survey[j] + 1];
            if (occupied && available) {
                if (g.next() < p[j]) {
                    bool certain = g.next() < d.b[j];
                    if (!removed) c = certain ? '2' : '1';
                    if (d.removal) removed = true;
                }
            } else if (g.next() < d.p10[j] && !removed) {
                c = '1';
            }
            double e = (!occupied && d.spadep == 0) ? d.gam[j + 1] : d.eps[j];
            if (g.next() < e) occupied = !occupied;
            line += c;
            line += '\t';
        }
        for (int r = 0; r < d.nobs; r++) file << line << '\n';
    }
    file << d.ncovs << '\n';
    for (int k = 0; k < d.ncovs; k++) {
        file << "cov" << k + 1 << '\n';
        for (double v : cov[k]) file << stringf("%f\n", v);
    }
    file << K << '\n';
    for (int k = 0; k < K; k++) {
        file << "pcov" << k + 1 << '\n';
        for (int i = 0; i < d.n; i++)
            for (int j = 0; j < d.T; j++)
                file << stringf(j > 0 ? "\t%f" : "%f", px[(static_cast<std::size_t>(i) * K + k) * d.T + j])
                     << (j == d.T - 1 ? "\n" : "");
    }
    file << d.T << "\nsimulated data from occusim8\n";
    return file.str();
}

std::string replay(const Design &d, long seed) {
    Lehmer g{seed};
    return replay(d, g);
}

const char *kMxper = "\n ERROR per > MXPER - switching to 'simulate by individual'\n";

TEST(SiteBySite, NoCovariates) {
    auto r = run_cli({"T=3", "N=6", "psi=.6", "p=.5", "gam=.2", "eps=.3", "SIMTYPE=2", "SEED=918273"});
    ASSERT_EQ(r.status, 0) << r.err;
    Design d(3, 6, 0.6);
    d.p = {0.5, 0.5, 0.5};
    for (int j = 1; j <= 3; j++) d.gam[j] = 0.2;
    d.eps = {0.3, 0.3, 0.3};
    EXPECT_EQ(r.pao(), replay(d, 918273));
    EXPECT_EQ(r.err, "seed=918273\n");
    EXPECT_TRUE(r.out.ends_with("caphis(0,npresent,1,0)\n"
                                "caphis_by_indiv(n=6.000000 nper=3)\n"
                                "NOBS=1 METH=0 psi=0.600000 gam=0.600000 0.200000 0.200000\n"
                                "theta : 0.200000 0.200000 0.200000\n"
                                "theta': 0.000000 0.000000 0.000000\n"))
        << r.out;
    EXPECT_EQ(r.out.find("MXPER"), std::string::npos);
    // Site-by-site runs are stochastic whatever the options say.
    EXPECT_NE(r.out.find("determ=0"), std::string::npos);
}

TEST(SiteBySite, TwoCovariatesWithGivenCoefficients) {
    auto r = run_cli({"T=4", "N=7", "psi=.9", "p=.6,.5,.4,.3", "NCOVS=2", "coef=-.5,1.2,-.8", "SIMTYPE=2",
                      "SEED=55555", "QUIET"});
    ASSERT_EQ(r.status, 0) << r.err;
    Design d(4, 7, 0.9);
    d.p = {0.6, 0.5, 0.4, 0.3};
    d.ncovs = 2;
    d.coef = {-0.5, 1.2, -0.8};
    std::string want = replay(d, 55555);
    EXPECT_EQ(r.pao(), want);
    // The block: count, then each covariate's seven values.
    EXPECT_NE(want.find("\n2\ncov1\n"), std::string::npos);
    EXPECT_EQ(r.err, "occusim8: warning: psi is not read: coef sets the occupancy intercept (logit scale) when "
                     "there are site covariates\n");
}

TEST(SiteBySite, CopiesPerSiteMultiplyTheLinesButNotTheCovariateValues) {
    auto r = run_cli({"T=2", "N=4", "psi=.7", "p=.5", "NOBS=3", "coef=0,1", "SIMTYPE=2", "SEED=31"});
    ASSERT_EQ(r.status, 0) << r.err;
    Design d(2, 4, 0.7);
    d.p = {0.5, 0.5};
    d.nobs = 3;
    d.ncovs = 1;
    d.coef = {0, 1};
    std::string want = replay(d, 31);
    EXPECT_EQ(r.pao(), want);
    auto lines = history_lines(want);
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(want.substr(0, 5), "12\t2\n");
    for (std::size_t i = 0; i < lines.size(); i += 3) {
        EXPECT_EQ(lines[i], lines[i + 1]);
        EXPECT_EQ(lines[i], lines[i + 2]);
    }
    EXPECT_NE(r.out.find("NOBS=3 METH=0 psi="), std::string::npos);
}

TEST(SiteBySite, RemovalWithCertaintyAndFalsePositives) {
    std::vector<std::string> args{"T=6",    "N=40",   "psi=.7",    "p=.4",     "b=.5", "p10=.2",
                                  "eps=.2", "gam=.3", "SIMTYPE=2", "SEED=777", "QUIET"};
    auto plain = run_cli(args);
    args.push_back("REMOVAL");
    auto removal = run_cli(args);
    ASSERT_EQ(removal.status, 0) << removal.err;

    Design d(6, 40, 0.7);
    d.p.assign(6, 0.4);
    d.b.assign(6, 0.5);
    d.p10.assign(6, 0.2);
    d.eps.assign(6, 0.2);
    for (int j = 1; j <= 6; j++) d.gam[j] = 0.3;
    EXPECT_EQ(plain.pao(), replay(d, 777));
    d.removal = true;
    EXPECT_EQ(removal.pao(), replay(d, 777));

    // The same draws: each site reads as without removal up to and including
    // the detection that removes it, and '-' ever after; sites never removed
    // read exactly as without removal.
    auto a = history_lines(plain.pao()), b = history_lines(removal.pao());
    ASSERT_EQ(a.size(), b.size());
    int removed_sites = 0;
    for (std::size_t i = 0; i < a.size(); i++) {
        std::size_t first = b[i].find_first_of("12");
        std::size_t dash = b[i].find('-');
        if (dash == std::string::npos) {
            EXPECT_EQ(a[i], b[i]); // never removed: identical
            continue;
        }
        removed_sites++;
        ASSERT_LT(first, dash);
        EXPECT_EQ(a[i].substr(0, dash), b[i].substr(0, dash));
        for (std::size_t k = dash; k < b[i].size(); k += 2) EXPECT_EQ(b[i][k], '-') << b[i];
    }
    EXPECT_GT(removed_sites, 5);
    // Without the removal rule the plain run shows later '2's and false
    // positives that the removal run must have blanked.
    EXPECT_NE(plain.pao(), removal.pao());
}

TEST(SiteBySite, SeventeenSurveysHandOverWithTheMxperMessage) {
    auto r = run_cli({"T=17", "N=5", "psi=.5", "p=.3", "STOCH", "SEED=4444"});
    ASSERT_EQ(r.status, 0) << r.err;
    Design d(17, 5, 0.5);
    d.p.assign(17, 0.3);
    EXPECT_EQ(r.pao(), replay(d, 4444));
    std::string hand_over =
        std::string("caphis(0,npresent,1,0)\n") + kMxper + "caphis_by_indiv(n=5.000000 nper=17)\n";
    EXPECT_NE(r.out.find(hand_over), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("allocating memory"), std::string::npos); // no count table for such designs
}

TEST(SiteBySite, FifteenSurveysAreRefusedLikeTheRecursionsTable) {
    // The base-4 table of 15 surveys does not fit a 32-bit size; such runs are
    // refused as a failed allocation, whatever SIMTYPE says.
    auto r = run_cli({"T=15", "N=3", "psi=.5", "p=.3", "SIMTYPE=2", "SEED=99"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("5)error allocating nx (size=-1073741824)\n"), std::string::npos);
    EXPECT_EQ(r.pao(), "");
}

TEST(SiteBySite, QuietKeepsTheFileAndDropsTheEcho) {
    std::vector<std::string> args{"T=3", "N=8", "psi=.5", "p=.5", "SIMTYPE=2", "SEED=2468"};
    auto loud = run_cli(args);
    args.push_back("QUIET");
    auto quiet = run_cli(args);
    ASSERT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.pao(), loud.pao());
    for (const char *echo : {"caphis_by_indiv(", "NOBS=", "theta :", "theta':"}) {
        EXPECT_NE(loud.out.find(echo), std::string::npos) << echo;
        EXPECT_EQ(quiet.out.find(echo), std::string::npos) << echo;
    }
}

TEST(SiteBySite, FalsePositiveRunsAreSimulatedSiteBySiteToo) {
    auto r = run_cli({"T=3", "N=6", "psi=0", "p=.5", "p10=.5", "SIMTYPE=2", "SEED=1357", "QUIET"});
    ASSERT_EQ(r.status, 0) << r.err;
    Design d(3, 6, 0.0);
    d.p.assign(3, 0.5);
    d.p10.assign(3, 0.5);
    EXPECT_EQ(r.pao(), replay(d, 1357));
}

TEST(SiteBySite, MoreThan499SurveysAreRefused) {
    auto r = run_cli({"T=500", "N=3", "psi=.5", "p=.5", "SIMTYPE=2", "SEED=1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "seed=1\noccusim8: error: 500 surveys: site-by-site simulation handles at most 499 surveys\n");
    EXPECT_EQ(r.pao(), ""); // the history file was opened, and is left empty

    auto ok = run_cli({"T=499", "N=2", "psi=.5", "p=.5", "SIMTYPE=2", "SEED=1", "QUIET"});
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.pao().substr(0, 6), "2\t499\n");
}

// ---- direct calls: the branches the driver reaches only through other models ----

// A context prepared as the driver leaves it, writing into a temporary file.
struct Direct {
    occusim::Context ctx;
    TempDir dir;
    std::FILE *console = std::tmpfile();

    Direct(int nper, long seed) {
        ctx.out = console;
        ctx.workdir = dir.path;
        ctx.set_vector_defaults();
        ctx.nper = nper;
        ctx.SRVYPERSEASN[0] = nper;
        ctx.determ = 0;
        ctx.rng.PlantSeeds(seed);
    }
    ~Direct() { std::fclose(console); }
    // Runs the simulation for n sites and returns the history file.
    std::string run(double n) {
        ctx.fp2 = ctx.open("h.pao", "w");
        int status = -1;
        try {
            occusim::caphis_by_indiv(ctx, n);
        } catch (const occusim::RunFinished &f) {
            status = f.status;
        }
        EXPECT_EQ(status, 0);
        EXPECT_EQ(ctx.fp2, nullptr);
        return read_file(dir.path + "/h.pao");
    }
};

TEST(SiteBySiteBranches, SpatialDependenceDrawsLocalAvailabilityFromTheColonisationVector) {
    Direct run(4, 8642);
    run.ctx.SPADEP = 1;
    run.ctx.pi[0] = 0.5;
    // theta row 0 (previous survey unavailable) from gam[1..4], row 1 from gam[5..8].
    const double g[] = {0.7, 0.2, 0.4, 0.6, 0.3, 0.9, 0.8, 0.5, 0.1};
    for (int j = 0; j < 9; j++) run.ctx.gam[j] = g[j];
    for (int j = 0; j < 4; j++) {
        run.ctx.pa[j] = 0.6;
        run.ctx.eps[j] = 0.1;
        run.ctx.p10[j] = 0.05;
    }
    run.ctx.theta[0][0] = 0.99; // whatever the options held is replaced
    std::string got = run.run(30);

    Design d(4, 30, 0.7);
    d.spadep = 1;
    d.pi0 = 0.5;
    for (int j = 0; j < 9; j++) d.gam[j] = g[j];
    d.p.assign(4, 0.6);
    d.eps.assign(4, 0.1);
    d.p10.assign(4, 0.05);
    Lehmer ref{8642};
    EXPECT_EQ(got, replay(d, ref));
    EXPECT_EQ(run.ctx.theta[0][0], 0.2);
    EXPECT_EQ(run.ctx.theta[1][3], 0.1);
    EXPECT_EQ(run.ctx.rng.draws, ref.draws);
}

TEST(SiteBySiteBranches, MethodsShareTheAvailabilityOfTheirVisit) {
    // Two visits of two methods each: visit 0 always available, visit 1 never.
    Direct run(4, 1212);
    run.ctx.METH = 2;
    const int visit[] = {0, 0, 1, 1};
    for (int j = 0; j < 4; j++) {
        run.ctx.Survey[j] = visit[j];
        run.ctx.pa[j] = 0.7;
    }
    run.ctx.gam[0] = 1.0; // every site occupied, never extinct
    run.ctx.gam[1] = 1.0;
    run.ctx.gam[2] = 0.0;
    std::string got = run.run(40);

    Design d(4, 40, 1.0);
    d.meth = 2;
    d.survey = {0, 0, 1, 1};
    d.p.assign(4, 0.7);
    d.gam[1] = 1.0;
    Lehmer ref{1212};
    EXPECT_EQ(got, replay(d, ref));
    EXPECT_EQ(run.ctx.rng.draws, ref.draws);
    int detected_first_visit = 0;
    for (const auto &line : history_lines(got)) {
        EXPECT_EQ(line.substr(4), "0\t0\t") << "an unavailable visit detects nothing";
        detected_first_visit += (line[0] == '1') + (line[2] == '1');
    }
    EXPECT_GT(detected_first_visit, 30);
}

TEST(SiteBySiteBranches, EachSiteDrawsTwoPlusTwoPerSurveyPlusOnePerDetection) {
    for (int T : {1, 3, 8}) {
        Direct run(T, 1000 + T);
        run.ctx.gam[0] = 0.6;
        for (int j = 0; j < T; j++) {
            run.ctx.pa[j] = 0.5;
            run.ctx.b[j] = 0.3;
            run.ctx.gam[j + 1] = 0.2;
            run.ctx.eps[j] = 0.25;
        }
        const int sites = 25;
        std::string got = run.run(sites);
        std::uint64_t detections = 0;
        for (const auto &line : history_lines(got))
            for (char c : line) detections += (c == '1' || c == '2');
        EXPECT_EQ(run.ctx.rng.draws, static_cast<std::uint64_t>(sites) * (2 + 2 * T) + detections) << T;
    }
}

TEST(SiteBySiteBranches, CovariatesAddTwelveDrawsPerValueBeforeAnySite) {
    Direct run(2, 4321);
    run.ctx.ncovs = 3;
    run.ctx.coef = {0.2, 1, -1, 0.5};
    run.ctx.pa[0] = run.ctx.pa[1] = 0; // no detections
    std::string got = run.run(10);
    EXPECT_EQ(run.ctx.rng.draws, 10u * 12 * 3 + 10u * (2 + 2 * 2));
    EXPECT_NE(got.find("\n3\ncov1\n"), std::string::npos);
    EXPECT_TRUE(run.ctx.cov.empty()); // released once written
}

TEST(SiteBySiteBranches, NoSitesWithCovariatesWritesAnEmptyList) {
    Direct run(2, 77);
    run.ctx.ncovs = 1;
    run.ctx.coef = {0.0, 1.0};
    EXPECT_EQ(run.run(0.9), "0\t2\n1\ncov1\n0\n2\nsimulated data from occusim8\n");
    EXPECT_EQ(run.ctx.rng.draws, 0u);
}

TEST(SiteBySiteBranches, OccupancyFromCovariatesIsTheLogisticOfTheLinearPredictor) {
    occusim::Context ctx;
    ctx.gam[0] = 0.35;
    EXPECT_EQ(occusim::get_occ_with_covs(ctx, 0), 0.35);
    ctx.ncovs = 2;
    ctx.coef = {0.5, 2.0, -1.0};
    ctx.cov = {{0.0, 1.0}, {0.0, 0.5}};
    EXPECT_DOUBLE_EQ(occusim::get_occ_with_covs(ctx, 0), 1 / (1 + std::exp(-0.5)));
    EXPECT_DOUBLE_EQ(occusim::get_occ_with_covs(ctx, 1), 1 / (1 + std::exp(-2.0)));
}

// ---- a large stochastic run against the expected-value cohort run ----

TEST(SiteBySiteAgreement, LargeRunMatchesTheExpectedValueRun) {
    const Args model{"T=3", "N=20000", "psi=.6", "p=.4", "b=.3", "p10=.1", "eps=.2", "gam=.15"};
    auto expected = run_cli(model);
    ASSERT_EQ(expected.status, 0);
    auto want = history_counts(expected.pao());
    ASSERT_EQ(want.size(), 27u);

    auto sim = run_cli(with(model, {"SIMTYPE=2", "SEED=271828", "QUIET"}));
    ASSERT_EQ(sim.status, 0);
    ASSERT_EQ(history_lines(sim.pao()).size(), 20000u);

    // Pearson chi-square over the 27 histories; 26 degrees of freedom, the
    // 0.999 quantile is 54.1.
    auto c = chi_square(history_counts(sim.pao()), want);
    EXPECT_EQ(c.unexpected, std::vector<std::string>());
    EXPECT_LT(c.statistic, 54.1);
}

// ---- detection covariates ----

// The values of a history file's sampling-covariate block: by covariate, then
// site by site the T values of the site.
std::vector<std::vector<std::vector<double>>> detection_covariates(const std::string &pao, int nsites,
                                                                   int T) {
    std::vector<std::string> lines = lines_of(pao);
    std::size_t i = 1 + static_cast<std::size_t>(nsites); // header, one line per site
    int ncovs = std::atoi(lines.at(i++).c_str());
    i += static_cast<std::size_t>(ncovs) * (1 + nsites);
    int K = std::atoi(lines.at(i++).c_str());
    std::vector<std::vector<std::vector<double>>> x(K);
    for (int k = 0; k < K; k++) {
        EXPECT_EQ(lines.at(i++), "pcov" + std::to_string(k + 1));
        for (int s = 0; s < nsites; s++) {
            std::vector<double> row;
            std::istringstream in(lines.at(i++));
            for (double v; in >> v;) row.push_back(v);
            EXPECT_EQ(static_cast<int>(row.size()), T);
            x[k].push_back(row);
        }
    }
    return x;
}

TEST(DetectionCovariates, NoneGivenChangesNothing) {
    const Args model{"T=4",      "N=30",   "psi=.6",    "p=.5",   "NCOVS=1",
                     "coef=0,1", "NOBS=2", "SIMTYPE=2", "SEED=77"};
    auto plain = run_cli(model);
    auto zero = run_cli(with(model, {"NPCOVS=0"}));
    ASSERT_EQ(plain.status, 0);
    EXPECT_EQ(zero.status, 0);
    EXPECT_EQ(zero.pao(), plain.pao());
    std::string echo = plain.out;
    echo.insert(echo.find("ARG[9]:SEED=77\n") + 15, "\nARG[10]:NPCOVS=0\n");
    EXPECT_EQ(zero.out, echo);
}

TEST(DetectionCovariates, DrawnPerSiteAfterTheSiteCovariates) {
    auto r = run_cli({"T=3", "N=6", "psi=.7", "p=.6,1,.3", "coef=.2,.9", "eps=.2", "NOBS=2", "NPCOVS=2",
                      "pcoef=1.5,-2", "SIMTYPE=2", "SEED=424242", "QUIET"});
    ASSERT_EQ(r.status, 0) << r.err;
    Design d(3, 6, 0.7);
    d.p = {0.6, 1, 0.3};
    d.eps = {0.2, 0.2, 0.2};
    d.nobs = 2;
    d.ncovs = 1;
    d.coef = {0.2, 0.9};
    d.pcoef = {1.5, -2};
    EXPECT_EQ(r.pao(), replay(d, 424242));
}

TEST(DetectionCovariates, BlockLayoutDrawOrderAndFixedProbabilities) {
    // Every site occupied (the covariate cannot outweigh the intercept).
    const Args model{"T=3", "N=25", "p=1,0,.5", "NCOVS=1", "coef=30,1", "SIMTYPE=2", "SEED=5", "QUIET"};
    auto plain = run_cli(model);
    auto r = run_cli(with(model, {"NPCOVS=2", "pcoef=4,-4"}));
    ASSERT_EQ(r.status, 0) << r.err;
    auto lines = lines_of(r.pao());
    // The site covariates are drawn first, as without detection covariates.
    auto cov_block = [](const std::vector<std::string> &l) {
        return std::vector<std::string>(l.begin() + 26, l.begin() + 28 + 25);
    };
    EXPECT_EQ(cov_block(lines), cov_block(lines_of(plain.pao())));
    EXPECT_EQ(lines[28 + 25], "2");
    EXPECT_EQ(lines[29 + 25], "pcov1");
    EXPECT_EQ(lines[29 + 25 + 26], "pcov2");
    EXPECT_EQ(lines.end()[-2], "3");
    auto x = detection_covariates(r.pao(), 25, 3);
    ASSERT_EQ(x.size(), 2u);
    // A survey with p exactly 1 or 0 ignores the covariates.
    for (const auto &h : history_lines(r.pao())) EXPECT_EQ(h.substr(0, 4), "1\t0\t") << h;
    // Each value a sum of twelve uniforms less six.
    for (const auto &site : x[0])
        for (double v : site) EXPECT_LE(std::abs(v), 6.0);
    EXPECT_NE(x[0], x[1]);
}

TEST(DetectionCovariates, DetectionFollowsTheLogisticCurve) {
    // Every site occupied, one covariate with slope 1.5 on logit(.4).
    const int nsites = 8000, T = 5;
    auto r = run_cli(
        {"T=5", "N=8000", "psi=1", "p=.4", "NPCOVS=1", "pcoef=1.5", "SIMTYPE=2", "SEED=20261208", "QUIET"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto x = detection_covariates(r.pao(), nsites, T)[0];
    auto h = history_lines(r.pao());
    ASSERT_EQ(static_cast<int>(h.size()), nsites);
    // Detections against their expectation in eight covariate bins: the sum
    // of (observed - expected)^2 / variance is chi-square with 8 degrees of
    // freedom, whose 0.999 quantile is 26.1.
    const double edges[] = {-1.5, -1, -0.5, 0, 0.5, 1, 1.5};
    double obs[8] = {}, expd[8] = {}, var[8] = {}, n[8] = {};
    const double lp = std::log(0.4 / 0.6);
    for (int i = 0; i < nsites; i++)
        for (int j = 0; j < T; j++) {
            const double v = x[i][j];
            int bin = 0;
            while (bin < 7 && v >= edges[bin]) bin++;
            // The file shows six decimals; the run used the exact value.
            const double p = 1 / (1 + std::exp(-(lp + 1.5 * v)));
            obs[bin] += h[i][2 * j] == '1';
            expd[bin] += p;
            n[bin]++;
            var[bin] += p * (1 - p);
        }
    double chi2 = 0;
    for (int b = 0; b < 8; b++) {
        ASSERT_GT(var[b], 10) << "bin " << b;
        chi2 += (obs[b] - expd[b]) * (obs[b] - expd[b]) / var[b];
    }
    EXPECT_LT(chi2, 26.1);
    // The covariate matters: the outer bins lie far from the plain p of .4.
    EXPECT_LT(obs[0], 0.5 * 0.4 * n[0]);
    EXPECT_GT(obs[7], 1.5 * 0.4 * n[7]);
}

TEST(DetectionCovariates, RefusedElsewhereAndWithoutTheirCoefficients) {
    const struct {
        Args args;
    } other[] = {
        {{"T=3", "N=10", "psi=.5", "p=.5"}},                          // expected values
        {{"T=3", "N=10", "psi=.5", "p=.5", "STOCH", "SEED=1"}},       // stochastic cohort
        {{"T=3", "N=10", "psi=.5", "p=.4", "pi=1", "SIMTYPE=2"}},     // heterogeneity
        {{"T=2", "N=10", "psi=.8", "Lambda=.5", "r=.4", "SEED=2"}},   // abundance
        {{"T=2", "N=10", "psiA=.5", "pA=.5", "SIMTYPE=2", "SEED=2"}}, // two species
        {{"T=3", "N=10", "psi=.5", "p=.4", "th1=.5", "SIMTYPE=2"}},   // spatial
        {{"T=3", "N=10", "psi=.5", "p=.5", "STAG", "SIMTYPE=2"}},     // staggered entry
        {{"T=2", "METH=2", "N=10", "psi=.7", "p1=.6", "p2=.4", "SIMTYPE=2"}},
    };
    for (const auto &o : other) {
        auto r = run_cli(with(o.args, {"NPCOVS=1", "pcoef=1", "QUIET"}));
        EXPECT_EQ(r.status, 1) << o.args[4];
        EXPECT_EQ(r.err,
                  "occusim8: error: NPCOVS=1: detection covariates need single-species site-by-site simulation "
                  "(SIMTYPE=2)\n");
        EXPECT_FALSE(r.exists("occusim.pao"));
    }
    auto missing = run_cli({"T=3", "N=10", "psi=.5", "p=.5", "NPCOVS=2", "pcoef=1", "SIMTYPE=2", "QUIET"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err,
              "occusim8: error: NPCOVS=2 needs pcoef with one coefficient per detection covariate (1 given)\n");
    auto stray = run_cli({"T=3", "N=10", "psi=.5", "p=.5", "pcoef=1", "SIMTYPE=2", "QUIET"});
    EXPECT_EQ(stray.status, 1);
    EXPECT_EQ(stray.err, "occusim8: error: pcoef: 1 detection coefficient(s) given without NPCOVS\n");
    auto negative = run_cli({"T=3", "N=10", "psi=.5", "p=.5", "NPCOVS=-1", "SIMTYPE=2", "QUIET"});
    EXPECT_EQ(negative.status, 1);
    EXPECT_FALSE(negative.exists("occusim.pao"));
    // The hand-over of long designs is site by site too.
    auto long_design =
        run_cli({"T=17", "N=5", "psi=.5", "p=.3", "STOCH", "SEED=4", "NPCOVS=1", "pcoef=1", "QUIET"});
    EXPECT_EQ(long_design.status, 0) << long_design.err;
    EXPECT_EQ(detection_covariates(long_design.pao(), 5, 17).size(), 1u);
}

} // namespace
