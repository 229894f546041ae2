// Fits with site and detection covariates: the estimates and standard errors
// are those of a direct maximisation of the per-site likelihood written out
// here on its own terms (every sequence of occupancy states summed, numerical
// derivatives, Newton's method), for single-season, removal, per-survey and
// multi-season designs; the parameters are named and placed as the command
// line gives them.
#include "study/covariates.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "study/study_test_support.hpp"
#include "support/cli.hpp"

using namespace occusim;
using namespace occusim::testing;

namespace {

double logistic(double x) {
    return 1 / (1 + std::exp(-x));
}

// A design as the test sees it: the free parameters in reported order, and
// for each survey the index of the parameter of its logit detection and of
// the logit extinction and colonisation that follow it (-1: none).
struct Design {
    Args args;
    int T, ncov, npcov;
    int a_first; // index of the first detection coefficient
    bool removal;
    std::vector<double> truth; // free scale, reported order
    std::vector<int> p_at, eps_at, gam_at;
    std::vector<std::string> names;
};

struct Data {
    std::vector<std::vector<int>> y;       // 0, 1, 2 = not surveyed
    std::vector<std::vector<double>> x, w; // site covariates; detection covariates k*T+j
};

struct Quantities {
    double psi;
    std::vector<double> p, e, g;
};

Quantities site_quantities(const Design &d, const Data &data, std::size_t i, const std::vector<double> &th) {
    Quantities q;
    double eta = th[0];
    for (int m = 0; m < d.ncov; m++)
        eta += th[static_cast<std::size_t>(1 + m)] * data.x[i][static_cast<std::size_t>(m)];
    q.psi = d.ncov > 0 ? logistic(eta) : logistic(th[0]);
    const std::size_t first_a = static_cast<std::size_t>(d.a_first);
    for (int j = 0; j < d.T; j++) {
        double lp = th[static_cast<std::size_t>(d.p_at[static_cast<std::size_t>(j)])];
        for (int k = 0; k < d.npcov; k++)
            lp +=
                th[first_a + static_cast<std::size_t>(k)] * data.w[i][static_cast<std::size_t>(k * d.T + j)];
        q.p.push_back(logistic(lp));
        const int e = d.eps_at[static_cast<std::size_t>(j)], g = d.gam_at[static_cast<std::size_t>(j)];
        q.e.push_back(e < 0 ? 0 : logistic(th[static_cast<std::size_t>(e)]));
        q.g.push_back(g < 0 ? 0 : logistic(th[static_cast<std::size_t>(g)]));
    }
    return q;
}

// Sum over every sequence of occupancy states of a site.
double hand_loglik(const Design &d, const Data &data, const std::vector<double> &th) {
    double ll = 0;
    for (std::size_t i = 0; i < data.y.size(); i++) {
        const Quantities q = site_quantities(d, data, i, th);
        double site = 0;
        for (int seq = 0; seq < (1 << d.T); seq++) {
            double pr = 1;
            for (int j = 0; j < d.T; j++) {
                const int z = (seq >> j) & 1;
                if (j == 0)
                    pr *= z ? q.psi : 1 - q.psi;
                else {
                    const int before = (seq >> (j - 1)) & 1;
                    const double move =
                        before ? q.e[static_cast<std::size_t>(j - 1)] : q.g[static_cast<std::size_t>(j - 1)];
                    pr *= z != before ? move : 1 - move;
                }
                const int y = data.y[i][static_cast<std::size_t>(j)];
                if (y == 2) continue;
                const double det = z ? q.p[static_cast<std::size_t>(j)] : 0;
                pr *= y ? det : 1 - det;
            }
            site += pr;
        }
        ll += std::log(site);
    }
    return ll;
}

Data simulate(const Design &d, int sites, unsigned seed) {
    std::mt19937_64 gen(seed);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> unif;
    Data data;
    for (int i = 0; i < sites; i++) {
        std::vector<double> x(static_cast<std::size_t>(d.ncov)), w(static_cast<std::size_t>(d.npcov * d.T));
        for (double &v : x) v = normal(gen);
        for (double &v : w) v = normal(gen);
        data.x.push_back(x);
        data.w.push_back(w);
        const Quantities q = site_quantities(d, data, static_cast<std::size_t>(i), d.truth);
        int z = unif(gen) < q.psi;
        bool removed = false;
        std::vector<int> y;
        for (int j = 0; j < d.T; j++) {
            const int hit = z && unif(gen) < q.p[static_cast<std::size_t>(j)];
            y.push_back(removed ? 2 : hit);
            if (hit && d.removal) removed = true;
            const double move = z ? q.e[static_cast<std::size_t>(j)] : q.g[static_cast<std::size_t>(j)];
            if (unif(gen) < move) z = 1 - z;
        }
        data.y.push_back(y);
    }
    return data;
}

// Newton's method on numerical derivatives of the hand likelihood; returns
// the estimate and the standard errors from the numerical Hessian.
std::pair<std::vector<double>, std::vector<double>> hand_fit(const Design &d, const Data &data) {
    const std::size_t k = d.truth.size();
    auto f = [&](const std::vector<double> &th) { return hand_loglik(d, data, th); };
    auto grad = [&](const std::vector<double> &th) {
        std::vector<double> g(k);
        for (std::size_t a = 0; a < k; a++) {
            auto u = th, v = th;
            u[a] += 1e-5;
            v[a] -= 1e-5;
            g[a] = (f(u) - f(v)) / 2e-5;
        }
        return g;
    };
    std::vector<double> th = d.truth;
    Eigen::MatrixXd H(static_cast<Eigen::Index>(k), static_cast<Eigen::Index>(k));
    for (int it = 0; it < 50; it++) {
        const auto g = grad(th);
        for (std::size_t a = 0; a < k; a++) {
            auto u = th, v = th;
            u[a] += 1e-4;
            v[a] -= 1e-4;
            const auto gu = grad(u), gv = grad(v);
            for (std::size_t b = 0; b < k; b++)
                H(static_cast<Eigen::Index>(b), static_cast<Eigen::Index>(a)) = (gu[b] - gv[b]) / 2e-4;
        }
        H = (0.5 * (H + H.transpose())).eval();
        Eigen::VectorXd gv(static_cast<Eigen::Index>(k));
        for (std::size_t a = 0; a < k; a++) gv(static_cast<Eigen::Index>(a)) = g[a];
        const Eigen::VectorXd step = (-H).ldlt().solve(gv);
        for (std::size_t a = 0; a < k; a++) th[a] += step(static_cast<Eigen::Index>(a));
        if (step.cwiseAbs().maxCoeff() < 1e-11) break;
    }
    const Eigen::MatrixXd cov = (-H).inverse();
    std::vector<double> se(k);
    for (std::size_t a = 0; a < k; a++)
        se[a] = std::sqrt(cov(static_cast<Eigen::Index>(a), static_cast<Eigen::Index>(a)));
    return {th, se};
}

SiteRecords records(const Design &d, const Data &data) {
    SiteRecords r;
    r.shape(d.T, d.ncov, d.npcov);
    for (std::size_t i = 0; i < data.y.size(); i++) {
        std::vector<unsigned char> y(data.y[i].begin(), data.y[i].end());
        r.add(y, data.x[i], data.w[i]);
    }
    return r;
}

double logit(double p) {
    return std::log(p / (1 - p));
}

TEST(CovariateFit, EstimatesAreThoseOfTheDirectMaximisation) {
    const std::vector<Design> designs = {
        // One site and one detection covariate, one season.
        {command({"T=5", "N=250", "p=.4", "NCOVS=1", "coef=.3,-.8", "NPCOVS=1", "pcoef=.6", "SIMTYPE=2"}),
         5,
         1,
         1,
         3,
         false,
         {.3, -.8, logit(.4), .6},
         {2, 2, 2, 2, 2},
         {-1, -1, -1, -1, -1},
         {-1, -1, -1, -1, -1},
         {"psi(Int)", "psi(cov1)", "p", "p(pcov1)"}},
        // Removal: surveys after the first detection tell nothing.
        {command({"T=5", "N=250", "p=.4", "NCOVS=1", "coef=.5,1", "NPCOVS=1", "pcoef=-.5", "SIMTYPE=2",
                  "REMOVAL"}),
         5,
         1,
         1,
         3,
         true,
         {.5, 1, logit(.4), -.5},
         {2, 2, 2, 2, 2},
         {-1, -1, -1, -1, -1},
         {-1, -1, -1, -1, -1},
         {"psi(Int)", "psi(cov1)", "p", "p(pcov1)"}},
        // Detection per survey, two site covariates, no detection covariate.
        {command({"T=3", "N=300", "p=.3,.5,.6", "NCOVS=2", "coef=0,.7,-.4", "SIMTYPE=2"}),
         3,
         2,
         0,
         -1,
         false,
         {0, .7, -.4, logit(.3), logit(.5), logit(.6)},
         {3, 4, 5},
         {-1, -1, -1},
         {-1, -1, -1},
         {"psi(Int)", "psi(cov1)", "psi(cov2)", "p[1]", "p[2]", "p[3]"}},
        // Plain psi, a detection covariate, extinction and colonisation
        // after survey 2 only (the per-survey vectors of the site-by-site
        // model; their zeros are structural).
        {command(
             {"T=5", "N=300", "psi=.6", "p=.5", "eps=0,.2", "gam=0,.3", "NPCOVS=1", "pcoef=.5", "SIMTYPE=2"}),
         5,
         0,
         1,
         2,
         false,
         {logit(.6), logit(.5), .5, logit(.2), logit(.3)},
         {1, 1, 1, 1, 1},
         {-1, 3, -1, -1, -1},
         {-1, 4, -1, -1, -1},
         {"psi", "p", "p(pcov1)", "eps[2]", "gam[2]"}},
    };
    unsigned seed = 11;
    for (const Design &d : designs) {
        SCOPED_TRACE(d.args[1] + " " + d.args.back());
        CovariateLayout layout = covariate_layout(kPrepare, d.args);
        // The estimated parameters, in reported order (structural zeros stay fixed).
        std::vector<Parameter> est;
        for (int i : layout.estimated) est.push_back(layout.params[static_cast<std::size_t>(i)]);
        ASSERT_EQ(est.size(), d.names.size());
        for (std::size_t a = 0; a < d.names.size(); a++) {
            EXPECT_EQ(est[a].name, d.names[a]);
            EXPECT_NEAR(est[a].to_free(est[a].value), d.truth[a], 1e-12);
        }
        const Data data = simulate(d, 300, seed++);
        CovariateFitter fitter(layout);
        const SiteRecords sites = records(d, data);
        std::vector<double> g(d.truth.size());
        EXPECT_NEAR(fitter.loglik(sites, d.truth.data(), g.data()), hand_loglik(d, data, d.truth), 1e-8);
        const FitResult fit = fitter.fit(sites);
        ASSERT_EQ(fit.status, FitStatus::Converged);
        const auto [hat, se] = hand_fit(d, data);
        for (std::size_t a = 0; a < hat.size(); a++) {
            const Parameter &p = est[a];
            EXPECT_NEAR(p.to_free(fit.estimates[a].estimate), hat[a], 1e-6) << p.name;
            const double se_free = fit.estimates[a].se / p.derivative(hat[a]);
            EXPECT_NEAR(se_free, se[a], 1e-4 * se[a]) << p.name;
        }
        EXPECT_NEAR(fit.loglik, hand_loglik(d, data, hat), 1e-7);
    }
}

TEST(CovariateFit, SiteRecordsReadTheWritersFields) {
    SiteRecords r;
    r.begin(HistoryShape{true, 3, 1, 3});
    const std::vector<double> x{0.25}, w{1, 2, 3};
    r.site(x, w);
    r.history("1\t-\t.\t", 2);
    r.site(std::vector<double>{-1}, std::vector<double>{4, 5, 6});
    r.history("0\t1\t0", 1);
    ASSERT_EQ(r.sites(), 2u);
    EXPECT_EQ(std::vector<int>(r.symbols(0), r.symbols(0) + 3), (std::vector<int>{1, 2, 2}));
    EXPECT_EQ(std::vector<int>(r.symbols(1), r.symbols(1) + 3), (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(r.weight(0), 2);
    EXPECT_EQ(r.covs(1)[0], -1);
    EXPECT_EQ(r.pcovs(1)[2], 6);
}

} // namespace

namespace {

// One site of the single-season design below: log-probability of its
// history given its covariates, at theta = (b0, b1, logit p, a1).
double site_loglik(const std::vector<double> &th, double x, const double *w, const int *y, int T) {
    const double psi = logistic(th[0] + th[1] * x);
    double det = 1;
    bool any = false;
    for (int j = 0; j < T; j++) {
        const double p = logistic(th[2] + th[3] * w[j]);
        det *= y[j] ? p : 1 - p;
        any = any || y[j];
    }
    return std::log(psi * det + (any ? 0 : 1 - psi));
}

// A covariate value as the simulator draws it: twelve uniforms less six.
double twelve_uniforms(std::mt19937_64 &gen) {
    std::uniform_real_distribution<double> u;
    double s = -6;
    for (int i = 0; i < 12; i++) s += u(gen);
    return s;
}

} // namespace

// The expected information over the covariate distribution against the
// average outer product of the scores of a million simulated sites: the
// standard errors agree within 0.5%.
TEST(CovariateDesign, StandardErrorsMatchALargeSimulatedInformation) {
    const Args args = command(
        {"T=5", "N=200", "p=.5", "NCOVS=1", "coef=.2,-.4", "NPCOVS=1", "pcoef=.5", "SIMTYPE=2", "DESIGN"});
    const std::vector<DesignRow> rows = covariate_design(kPrepare, args);
    ASSERT_EQ(rows.size(), 4u);
    const int T = 5;
    const std::vector<double> th = {.2, -.4, 0, .5};
    std::mt19937_64 gen(4242);
    std::uniform_real_distribution<double> u;
    Eigen::Matrix4d info = Eigen::Matrix4d::Zero();
    const int sites = 1000000;
    double w[T];
    int y[T];
    for (int i = 0; i < sites; i++) {
        const double x = twelve_uniforms(gen);
        for (double &v : w) v = twelve_uniforms(gen);
        const bool z = u(gen) < logistic(th[0] + th[1] * x);
        for (int j = 0; j < T; j++) y[j] = z && u(gen) < logistic(th[2] + th[3] * w[j]);
        Eigen::Vector4d score;
        for (int a = 0; a < 4; a++) {
            auto up = th, down = th;
            up[static_cast<std::size_t>(a)] += 1e-5;
            down[static_cast<std::size_t>(a)] -= 1e-5;
            score(a) = (site_loglik(up, x, w, y, T) - site_loglik(down, x, w, y, T)) / 2e-5;
        }
        info += score * score.transpose();
    }
    const Eigen::Matrix4d cov = (200.0 * info / sites).inverse();
    const double p_scale = 0.25; // d p / d logit p at p = .5
    const double se_rows[] = {rows[0].se, rows[1].se, rows[2].se / p_scale, rows[3].se};
    for (int a = 0; a < 4; a++)
        EXPECT_NEAR(se_rows[a], std::sqrt(cov(a, a)), 0.005 * std::sqrt(cov(a, a)))
            << rows[static_cast<std::size_t>(a)].name;
    EXPECT_EQ(rows[1].name, "psi(cov1)");
    EXPECT_TRUE(rows[1].slope && !rows[0].slope);
}

TEST(CovariateDesign, RefusedWithOneLine) {
    struct Case {
        Args args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"T=4", "N=100", "p=.3", "NCOVS=1", "coef=0,1", "REMOVAL", "SIMTYPE=2", "SEED=2", "DESIGN"},
         "occusim8: error: DESIGN with covariates: removal designs are not evaluated\n"},
        {{"T=4", "N=100", "p=.3", "eps=.2", "gam=.1", "NCOVS=1", "coef=0,1", "SIMTYPE=2", "SEED=2", "DESIGN"},
         "occusim8: error: DESIGN with covariates evaluates single-season designs only\n"},
        {{"T=4", "N=100", "p=.3", "p10=.1", "NCOVS=1", "coef=0,1", "SIMTYPE=2", "SEED=2", "DESIGN"},
         "occusim8: error: DESIGN with covariates fits the single-species model only, not the false-positive "
         "model\n"},
    };
    for (const auto &c : cases) {
        auto run = run_cli(with(c.args, {"QUIET"}));
        EXPECT_EQ(run.status, 1) << c.err;
        EXPECT_EQ(run.err, c.err);
        EXPECT_FALSE(run.exists("occusim.pao")) << c.err;
    }
}
