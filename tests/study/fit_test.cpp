// Replicate fits and the study summary: the closed-form estimate of the
// single-season model, seeded studies (accuracy, coverage, small-sample
// bias), fits that fail or end on the boundary, data from real random runs
// of each family, thread independence and the refusals of FIT.
#include "study/fit.hpp"

#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "core/errors.hpp"
#include "study/design.hpp"
#include "study_test_support.hpp"
#include "support/cli.hpp"

using namespace occusim;
using namespace occusim::testing;

namespace {

using Tallies = std::vector<std::pair<std::string, double>>;

struct Study {
    Args args;
    std::vector<Parameter> params;
    ReplicateFitter fitter;
    explicit Study(std::vector<std::string> options)
        : args(command(std::move(options))), params(study_parameters(kPrepare, args)),
          fitter(kPrepare, args, params) {}
};

// A data set of `sites` sites drawn from the model's history probabilities
// at the true values.
Tallies simulate(HistoryProbabilities &model, double sites, std::mt19937_64 &rng) {
    std::vector<double> probs;
    const auto values = given_values(model.parameters());
    model.evaluate(values.data(), probs);
    std::discrete_distribution<std::size_t> pick(probs.begin(), probs.end());
    std::vector<double> counts(probs.size(), 0.0);
    for (int s = 0; s < static_cast<int>(sites); s++) counts[pick(rng)] += 1;
    Tallies t;
    for (std::size_t h = 0; h < counts.size(); h++)
        if (counts[h] > 0) t.emplace_back(model.history(h), counts[h]);
    return t;
}

TEST(ReplicateFit, SingleSeasonMatchesClosedFormEstimate) {
    Study s({"T=3", "N=50", "psi=.6", "p=.3"});
    const Tallies data = {{"0\t0\t0\t", 25}, {"1\t0\t0\t", 8}, {"0\t1\t0\t", 5}, {"0\t0\t1\t", 4},
                          {"1\t1\t0\t", 4},  {"1\t0\t1\t", 2}, {"0\t1\t1\t", 1}, {"1\t1\t1\t", 1}};
    // The estimates solve D / (n K) = p / (1 - (1 - p)^K) (D detections at
    // the n sites detected at least once) and psi = n / (s (1 - (1 - p)^K)).
    const double n = 25, D = 34, K = 3, sites = 50;
    double lo = 1e-9, hi = 1 - 1e-9;
    for (int i = 0; i < 200; i++) {
        const double m = (lo + hi) / 2;
        (m / (1 - std::pow(1 - m, K)) < D / (n * K) ? lo : hi) = m;
    }
    const double p = (lo + hi) / 2, psi = n / (sites * (1 - std::pow(1 - p, K)));
    FitResult f = s.fitter.fit(data);
    ASSERT_EQ(f.status, FitStatus::Converged);
    EXPECT_NEAR(f.estimates[0].estimate, psi, 1e-6);
    EXPECT_NEAR(f.estimates[1].estimate, p, 1e-6);
    EXPECT_LT(f.estimates[0].lcl, psi);
    EXPECT_GT(f.estimates[0].ucl, psi);
    EXPECT_GT(f.evaluations, 0);
}

TEST(ReplicateFit, SeededStudyIsAccurateAndCovers) {
    Study s({"T=5", "N=100", "psi=.6", "p=.3"});
    const double predicted = evaluate_design(kPrepare, s.args)[0].se;
    std::mt19937_64 rng(20261208);
    StudySummary summary(s.params);
    const int reps = 300;
    for (int r = 0; r < reps; r++) summary.add(s.fitter.fit(simulate(s.fitter.model(), 100, rng)));
    for (const auto &row : summary.rows()) {
        EXPECT_EQ(row.n, reps);
        EXPECT_GE(row.used, reps - 3) << row.name;
        EXPECT_NEAR(row.mean, row.truth, 3.5 * row.sd / std::sqrt(row.used)) << row.name;
        const double band = 3 * std::sqrt(0.95 * 0.05 / row.used);
        EXPECT_NEAR(row.coverage, 0.95, band) << row.name;
        EXPECT_NEAR(row.mean_se, row.sd, 0.15 * row.sd) << row.name;
    }
    // The spread of the estimates of psi is the precision the design
    // evaluation predicts.
    EXPECT_NEAR(summary.rows()[0].sd, predicted, 0.12 * predicted);
}

TEST(ReplicateFit, SmallSampleBiasAndBoundaryEstimatesShow) {
    Study s({"T=3", "N=20", "psi=.6", "p=.15"});
    std::mt19937_64 rng(7);
    StudySummary summary(s.params);
    int boundary = 0;
    std::string rows;
    for (int r = 0; r < 300; r++) {
        FitResult f = s.fitter.fit(simulate(s.fitter.model(), 20, rng));
        if (f.status == FitStatus::Boundary) {
            boundary++;
            rows += fit_rows(r + 1, s.params, f);
        }
        summary.add(f);
    }
    const auto psi = summary.rows()[0];
    EXPECT_GT(std::abs(psi.bias), 4 * psi.sd / std::sqrt(psi.used));
    EXPECT_GT(boundary, 0);
    // Boundary fits are kept in the summary and in the fit rows.
    EXPECT_GE(psi.used, 300 - 5);
    EXPECT_NE(rows.find(",boundary\n"), std::string::npos);
}

TEST(ReplicateFit, FailedAndBoundaryFitsAreRecorded) {
    Study s({"T=3", "N=20", "psi=.6", "p=.3"});
    FitResult none = s.fitter.fit(Tallies{});
    EXPECT_EQ(none.status, FitStatus::Failed);
    EXPECT_EQ(fit_rows(4, s.params, none), "4,psi,0.6,,,,,no\n4,p,0.3,,,,,no\n");
    FitResult empty = s.fitter.fit(Tallies{{"0\t0\t0\t", 20}});
    EXPECT_EQ(empty.status, FitStatus::Boundary);
    StudySummary summary(s.params);
    summary.add(none);
    summary.add(empty);
    EXPECT_EQ(summary.rows()[0].n, 2);
    EXPECT_EQ(summary.rows()[0].used, 1);
}

TEST(StudySummaryTable, StatisticsOfTheFits) {
    Study s({"T=3", "N=20", "psi=.5", "p=.5"});
    StudySummary summary(s.params);
    auto fit = [](double psi, double se, double lcl, double ucl) {
        FitResult f;
        f.status = FitStatus::Converged;
        f.estimates = {{psi, se, lcl, ucl}, {0.5, 0.1, 0.3, 0.7}};
        return f;
    };
    summary.add(fit(0.4, 0.1, 0.2, 0.6));
    summary.add(fit(0.8, 0.3, 0.6, 0.9)); // misses 0.5
    const auto r = summary.rows()[0];
    EXPECT_DOUBLE_EQ(r.mean, 0.6);
    EXPECT_NEAR(r.bias, 0.1, 1e-12);
    EXPECT_NEAR(r.relbias, 0.2, 1e-12);
    EXPECT_NEAR(r.rmse, std::sqrt((0.01 + 0.09) / 2), 1e-12);
    EXPECT_NEAR(r.sd, std::sqrt(0.08), 1e-12);
    EXPECT_NEAR(r.mean_se, 0.2, 1e-12);
    EXPECT_DOUBLE_EQ(r.coverage, 0.5);
    const std::string csv = summary.csv();
    EXPECT_EQ(csv.substr(0, csv.find('\n')),
              "parameter,true,mean,bias,relbias,rmse,sd,mean_se,coverage,used,n,null,power,type_s,type_m");
    EXPECT_NE(csv.find("\np,0.5,0.5,0,0,0,0,0.1,1,2,2,,,,\n"), std::string::npos);
}

// Power, type S and type M of hand-made fits: estimates and standard errors
// chosen so that each z statistic falls clearly on one side of 1.96 (or of
// 2.576 at level .01).
TEST(StudySummaryTable, WaldTestsOfTheFits) {
    std::vector<Parameter> params(3);
    params[0] = {"psi(Int)", 0.2, Scale::Linear, false, {}};
    params[1] = {"psi(cov1)", -0.4, Scale::Linear, false, {}};
    params[2] = {"p", 0.5, Scale::Logit, false, {}};
    struct Case {
        WaldTests tests;
        std::vector<std::pair<double, double>> slope; // estimate, se of psi(cov1)
        double power, type_s, type_m;
    };
    const std::vector<Case> cases = {
        // Rejections: -1.0 (right side), -0.5 (right), +0.6 (wrong); -0.3 and a
        // missing se do not reject.
        {{},
         {{-1.0, 0.2}, {-0.5, 0.2}, {0.6, 0.2}, {-0.3, 0.2}, {-0.9, NAN}},
         2.0 / 5,
         1.0 / 3,
         (1.0 + 0.5 + 0.6) / 3 / 0.4},
        // At level .01, -0.5/0.2 = 2.5 no longer rejects.
        {{{}, 0.01},
         {{-1.0, 0.2}, {-0.5, 0.2}, {0.6, 0.2}, {-0.3, 0.2}},
         1.0 / 4,
         1.0 / 2,
         (1.0 + 0.6) / 2 / 0.4},
        // A null of -0.4 is the true value: power is the share of rejections.
        {{{{"psi(cov1)", -0.4}}, 0.05}, {{-1.0, 0.2}, {-0.45, 0.2}, {0.1, 0.2}}, 2.0 / 3, NAN, NAN},
    };
    for (const Case &c : cases) {
        StudySummary summary(params, c.tests);
        for (const auto &[est, se] : c.slope) {
            FitResult f;
            f.status = FitStatus::Converged;
            f.estimates = {{0.2, 0.1, 0, 0.4}, {est, se, est - 2 * se, est + 2 * se}, {0.5, 0.05, 0.4, 0.6}};
            summary.add(f);
        }
        FitResult failed; // a failed fit is not used
        failed.estimates.assign(3, ParameterEstimate{});
        summary.add(failed);
        const auto rows = summary.rows();
        EXPECT_TRUE(std::isnan(rows[0].null) && std::isnan(rows[0].power)); // the intercept: no null
        EXPECT_TRUE(std::isnan(rows[2].power));
        const auto &s = rows[1];
        EXPECT_NEAR(s.power, c.power, 1e-12);
        if (std::isnan(c.type_s)) {
            EXPECT_TRUE(std::isnan(s.type_s) && std::isnan(s.type_m));
        } else {
            EXPECT_NEAR(s.type_s, c.type_s, 1e-12);
            EXPECT_NEAR(s.type_m, c.type_m, 1e-12);
        }
    }
    // A probability tested on its own scale, and a name that is no parameter.
    StudySummary on_p(params, {{{"p", 0.4}}, 0.05});
    FitResult f;
    f.status = FitStatus::Converged;
    f.estimates = {{0.2, 0.1, 0, 0.4}, {-0.4, 0.2, -0.8, 0}, {0.52, 0.05, 0.4, 0.6}};
    on_p.add(f);
    EXPECT_EQ(on_p.rows()[2].power, 1.0);
    EXPECT_THROW(StudySummary(params, {{{"psi", 0.5}}, 0.05}), InputError);
}

TEST(WaldPower, AnalyticPowerAndNormalQuantiles) {
    EXPECT_NEAR(normal_quantile(0.975), 1.959963984540054, 1e-13);
    EXPECT_NEAR(normal_quantile(0.995), 2.5758293035489004, 1e-13);
    EXPECT_NEAR(normal_quantile(1e-10), -6.361340902404056, 1e-10);
    EXPECT_NEAR(wald_power(0, 1, 0.05), 0.05, 1e-12);
    // 2.8 standard errors away: about 80% power at level .05.
    EXPECT_NEAR(wald_power(-0.28, 0.1, 0.05), 0.7995568, 1e-6);
}

// Data of real random runs, collected through the sink, are read by the
// fitter history by history, in every supported family.
TEST(ReplicateFit, FitsDataOfRandomRunsInEveryFamily) {
    const std::vector<std::vector<std::string>> runs = {
        {"T=4", "N=200", "psi=.6", "p=.4", "p10=.05", "b=.4"},
        {"T=5", "N=200", "psi=.6", "p=.5", "pB=.1", "pi=.4", "HET"},
        {"T=2", "N=200", "psi=.6", "METH=2", "p1=.3", "p2=.5", "theta=.7"},
        {"T=3", "N=200", "psiA=.6", "psiBA=.4", "psiBa=.3", "pA=.5", "pB=.4", "rA=.6", "rBA=.5", "rBa=.3"},
        {"T=3", "N=200", "psi0=.6", "R0=.4", "p1=.5", "p2=.6", "dlta=.7", "MULTISTATE"},
    };
    for (const auto &options : runs) {
        auto with_seed = options;
        with_seed.push_back("STOCH");
        with_seed.push_back("SEED=11");
        Study s(with_seed);
        TempDir dir;
        Context ctx;
        ctx.workdir = dir.path;
        ctx.out = open_null_stream();
        ctx.err = open_null_stream();
        HistoryTally tally;
        ctx.sink = &tally;
        const int status = execute(ctx, s.args);
        std::fclose(ctx.out);
        std::fclose(ctx.err);
        ASSERT_EQ(status, 0) << options[5];
        double sites = 0;
        for (const auto &[fields, n] : tally.entries()) {
            EXPECT_GE(s.fitter.model().find(fields), 0) << fields;
            sites += n;
        }
        EXPECT_EQ(sites, 200) << options[5];
        FitResult f = s.fitter.fit(tally);
        EXPECT_NE(f.status, FitStatus::Failed) << options[5];
    }
}

TEST(ReplicateFit, SameRowsOnEveryThread) {
    const std::vector<std::string> options = {"T=4", "N=60", "psi=.5", "p=.3,.4,.5,.4"};
    Study reference(options);
    std::mt19937_64 rng(3);
    std::vector<Tallies> data;
    for (int r = 0; r < 12; r++) data.push_back(simulate(reference.fitter.model(), 60, rng));
    auto fit_all = [&](std::string &out) {
        Study s(options);
        for (std::size_t r = 0; r < data.size(); r++)
            out += fit_rows(static_cast<long>(r + 1), s.params, s.fitter.fit(data[r]));
    };
    std::string one, a, b;
    fit_all(one);
    std::thread ta(fit_all, std::ref(a)), tb(fit_all, std::ref(b));
    ta.join();
    tb.join();
    EXPECT_EQ(a, one);
    EXPECT_EQ(b, one);
}

TEST(FitSwitch, RefusedForCovariatesAndOtherModels) {
    auto covs = run_cli({"T=4", "N=100", "psi=.6", "p=.3", "NCOVS=1", "coef=0,1", "STOCH", "SEED=2", "FIT"});
    EXPECT_EQ(covs.status, 1);
    EXPECT_EQ(covs.err, "occusim8: warning: NCOVS is not read by a cohort run: site covariates need site-by-site "
                        "simulation (SIMTYPE=2)\n"
                        "occusim8: warning: coef is not read by a cohort run: site covariates need site-by-site "
                        "simulation (SIMTYPE=2)\n"
                        "occusim8: error: FIT with covariates needs site-by-site simulation (SIMTYPE=2)\n");
    EXPECT_FALSE(covs.exists("occusim.pao"));
    auto pcovs = run_cli({"T=4", "N=100", "psi=.6", "p=.3", "NPCOVS=1", "pcoef=.5", "SIMTYPE=2", "SEED=2", "FIT"});
    EXPECT_EQ(pcovs.err, "occusim8: error: FIT fits the replicates of a batch: give REPS=n\n");
    auto spatial = run_cli({"T=4", "N=100", "psi=.6", "p=.3", "th0=.2", "th1=.5", "STOCH", "SEED=2", "FIT"});
    EXPECT_EQ(spatial.status, 1);
    EXPECT_EQ(spatial.err, "occusim8: error: FIT is not available for the spatial-dependence model\n");
    EXPECT_FALSE(spatial.exists("occusim.pao"));
    auto bysite = run_cli({"T=4", "N=100", "psi=.6", "p=.3", "SIMTYPE=2", "SEED=2", "FIT"});
    EXPECT_EQ(bysite.status, 1);
    EXPECT_EQ(bysite.err, "occusim8: error: FIT fits the replicates of a batch: give REPS=n\n");
    auto royle = run_cli({"T=3", "N=100", "Lambda=2", "r=.3", "STOCH", "SEED=2", "REPS=2", "FIT"});
    EXPECT_EQ(royle.err, "occusim8: error: FIT: the Royle-Nichols model can be fitted with two surveys (T=2) only\n");
}

} // namespace
