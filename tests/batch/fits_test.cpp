// Simulation studies through the command line: FIT with a replicate batch
// writes the fits of every replicate and the study summary, the same for
// every thread count and shard, accurate where the design is well
// identified, honest where it is not, and refused where it cannot be done.
#include "batch/fits.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

#include "support/cli.hpp"

using namespace occusim::testing;

namespace {

// The rows of a CSV table without its header, each split at its commas.
std::vector<std::vector<std::string>> csv_rows(const std::string &text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::stringstream cs(line);
        std::string cell;
        while (std::getline(cs, cell, ',')) cells.push_back(cell);
        if (!line.empty() && line.back() == ',') cells.push_back("");
        rows.push_back(cells);
    }
    return rows;
}

struct StudyRow {
    double truth, mean, bias, sd, mean_se, coverage;
    long used, n;
};

// <stem>_study.csv by parameter name.
std::map<std::string, StudyRow> study_table(const std::string &text) {
    std::map<std::string, StudyRow> out;
    for (const auto &c : csv_rows(text)) {
        if (c.size() != 15) continue;
        out[c[0]] = {std::stod(c[1]), std::stod(c[2]), std::stod(c[3]), std::stod(c[6]),
                     std::stod(c[7]), std::stod(c[8]), std::stol(c[9]), std::stol(c[10])};
    }
    return out;
}

// Every parameter's mean estimate lies within its Monte Carlo error of the
// true value, and its intervals cover about 95% of the time.
void expect_accurate(const std::map<std::string, StudyRow> &table, long reps, const std::string &what) {
    ASSERT_FALSE(table.empty()) << what;
    for (const auto &[name, r] : table) {
        EXPECT_EQ(r.n, reps) << what << " " << name;
        EXPECT_GE(r.used, reps * 98 / 100) << what << " " << name;
        EXPECT_NEAR(r.mean, r.truth, 3.5 * r.sd / std::sqrt(static_cast<double>(r.used))) << what << " " << name;
        EXPECT_NEAR(r.coverage, 0.95, 3.5 * std::sqrt(0.95 * 0.05 / static_cast<double>(r.used)))
            << what << " " << name;
    }
}

const Args kDesign = {"T=5", "N=100", "psi=.6", "p=.3", "STOCH", "SEED=20261208", "FIT", "QUIET"};

TEST(BatchFit, TablesAreTheSameForEveryThreadCount) {
    auto one = run_cli(with(kDesign, {"REPS=24", "THREADS=1"}));
    auto two = run_cli(with(kDesign, {"REPS=24", "THREADS=2"}));
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_EQ(two.status, 0) << two.err;
    const std::string fits = one.file("occusim_fits.csv");
    EXPECT_EQ(fits.substr(0, fits.find('\n') + 1), "rep,parameter,true,estimate,se,lcl,ucl,converged\n");
    EXPECT_EQ(csv_rows(fits).size(), 48u);
    EXPECT_EQ(fits, two.file("occusim_fits.csv"));
    EXPECT_EQ(one.file("occusim_study.csv"), two.file("occusim_study.csv"));
    EXPECT_EQ(from_marker(one.out, "simulation study:"), from_marker(two.out, "simulation study:"));
    // Rows come in replicate order, psi before p in each.
    const auto rows = csv_rows(fits);
    for (std::size_t i = 0; i < rows.size(); i++) {
        EXPECT_EQ(rows[i][0], std::to_string(i / 2 + 1));
        EXPECT_EQ(rows[i][1], i % 2 == 0 ? "psi" : "p");
    }
    // The history files and the manifest are written as in any batch; no
    // hidden part file stays behind.
    EXPECT_TRUE(one.exists("occusim_24.pao"));
    EXPECT_TRUE(one.exists("occusim_replicates.csv"));
    for (const auto &name : {".occusim_fits.csv", ".occusim_study.csv"})
        EXPECT_EQ(one.file(name), "") << name;
}

TEST(BatchFit, ShardsSplitTheFitsOfOneBatch) {
    auto whole = run_cli(with(kDesign, {"REPS=9", "THREADS=2"}));
    auto first = run_cli(with(kDesign, {"REPS=9", "SHARD=1/2"}));
    auto second = run_cli(with(kDesign, {"REPS=9", "SHARD=2/2"}));
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_FALSE(first.exists("occusim_fits.csv"));
    const std::string a = first.file("occusim_fits_1of2.csv"), b = second.file("occusim_fits_2of2.csv");
    EXPECT_EQ(a + b.substr(b.find('\n') + 1), whole.file("occusim_fits.csv"));
    EXPECT_EQ(study_table(first.file("occusim_study_1of2.csv"))["psi"].n, 4);
    EXPECT_EQ(study_table(second.file("occusim_study_2of2.csv"))["psi"].n, 5);
}

TEST(BatchFit, WellIdentifiedDesignIsUnbiasedAndCovers) {
    auto run = run_cli(with(kDesign, {"REPS=400", "THREADS=2"}));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto table = study_table(run.file("occusim_study.csv"));
    expect_accurate(table, 400, "single season");
    // The standard errors describe the spread of the estimates.
    for (const auto &[name, r] : table) EXPECT_NEAR(r.mean_se, r.sd, 0.15 * r.sd) << name;
    EXPECT_NE(run.out.find("simulation study:\nparameter"), std::string::npos);
    EXPECT_NE(run.out.find("400/400"), std::string::npos);
}

// The families whose random lines reach the fits by another road than the
// cohort writers: site-by-site simulation (survey-specific p, so that a
// survey out of place would show) and the abundance model, whose site lines
// list the surveys in the other order than its probabilities.
TEST(BatchFit, SiteBySiteAndAbundanceDataAreFittedAsSimulated) {
    auto bysite = run_cli({"T=4", "N=150", "psi=.6", "p=.2,.5,.4,.6", "SIMTYPE=2", "SEED=5", "REPS=250", "FIT",
                           "QUIET"});
    ASSERT_EQ(bysite.status, 0) << bysite.err;
    expect_accurate(study_table(bysite.file("occusim_study.csv")), 250, "site by site");

    // A survey never made shows as a miss in site lines and as '.' in the
    // model's histories; read wrongly, no history would be found and no fit
    // made.
    auto unsurveyed = run_cli({"T=4", "N=200", "psi=.6", "p=.3,0,.4,.5", "P0MISS", "SIMTYPE=2", "SEED=3",
                               "REPS=60", "FIT", "QUIET"});
    ASSERT_EQ(unsurveyed.status, 0) << unsurveyed.err;
    expect_accurate(study_table(unsurveyed.file("occusim_study.csv")), 60, "survey not made");

    // Each fit of this model costs a full expected-value computation per
    // likelihood evaluation: fewer replicates, enough to tell r[1] from r[2].
    auto royle = run_cli({"T=2", "N=300", "Lambda=1.5", "r=.2,.6", "ROYLE", "SEED=9", "REPS=40", "FIT", "QUIET"});
    ASSERT_EQ(royle.status, 0) << royle.err;
    const auto table = study_table(royle.file("occusim_study.csv"));
    EXPECT_EQ(table.count("r[1]"), 1u);
    expect_accurate(table, 40, "abundance");
}

TEST(BatchFit, SmallSampleBiasAndBoundaryFitsAreKept) {
    auto run = run_cli({"T=3", "N=20", "psi=.6", "p=.15", "STOCH", "SEED=7", "REPS=300", "FIT", "QUIET"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto psi = study_table(run.file("occusim_study.csv"))["psi"];
    EXPECT_GT(std::abs(psi.bias), 4 * psi.sd / std::sqrt(static_cast<double>(psi.used)));
    // Every replicate keeps its rows; fits at the boundary are marked, and
    // all but failed fits count in the summary.
    const auto rows = csv_rows(run.file("occusim_fits.csv"));
    ASSERT_EQ(rows.size(), 600u);
    long boundary = 0, failed = 0;
    for (const auto &r : rows) {
        ASSERT_EQ(r.size(), 8u);
        boundary += r[7] == "boundary";
        failed += r[7] == "no";
        if (r[7] == "no") {
            EXPECT_EQ(r[3], "");
        }
    }
    EXPECT_GT(boundary, 0);
    EXPECT_EQ(psi.used, 300 - failed / 2);
}

TEST(BatchFit, CovariatesAreFittedSiteBySite) {
    const Args args = {"T=6",       "N=150",  "p=.4",     "NCOVS=1", "coef=.2,-.6", "NPCOVS=1",  "pcoef=.5",
                       "SIMTYPE=2", "SEED=9", "REPS=300", "FIT",     "QUIET",       "FORMAT=csv"};
    auto run = run_cli(args);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto table = study_table(run.file("occusim_study.csv"));
    EXPECT_EQ(table.size(), 4u);
    for (const char *name : {"psi(Int)", "psi(cov1)", "p", "p(pcov1)"})
        EXPECT_TRUE(table.count(name)) << name;
    expect_accurate(table, 300, "covariates");
    auto two = run_cli(with(args, {"THREADS=1"}));
    EXPECT_EQ(two.file("occusim_fits.csv"), run.file("occusim_fits.csv"));
}

// The power analysis of a tutorial design (200 sites, 8 visits, logit psi =
// 0 - 0.4 elev, p = .5): the share of 1,000 replicates whose Wald test finds
// the slope lies within Monte Carlo error of the power the expected
// information promises.
TEST(BatchFit, SimulatedPowerIsTheAnalyticPower) {
    const Args design = {"T=8", "N=200", "p=.5", "NCOVS=1", "coef=0,-.4", "SIMTYPE=2", "SEED=3", "QUIET"};
    auto analytic = run_cli(with(design, {"DESIGN"}));
    ASSERT_EQ(analytic.status, 0) << analytic.err;
    double promised = -1;
    for (const auto &c : csv_rows(analytic.file("occusim_design.csv")))
        if (c[0] == "psi(cov1)") promised = std::stod(c[6]);
    auto study = run_cli(with(design, {"REPS=1000", "FIT", "FORMAT=csv"}));
    ASSERT_EQ(study.status, 0) << study.err;
    double simulated = -1;
    for (const auto &c : csv_rows(study.file("occusim_study.csv")))
        if (c[0] == "psi(cov1)") simulated = std::stod(c[12]);
    EXPECT_NEAR(promised, 0.76, 0.02);
    EXPECT_NEAR(simulated, promised, 3.5 * std::sqrt(promised * (1 - promised) / 1000));
}

// The standard model fitted to other single-species data: ignoring
// heterogeneous detection biases psi low; on data of the standard model the
// fits are those of FIT itself.
TEST(BatchFit, StandardModelFittedToOtherData) {
    auto mixture = run_cli({"T=5", "N=200", "psi=.6", "p=.5", "pB=.1", "pi=.5", "HET", "STOCH", "SEED=3",
                            "REPS=200", "FIT", "FITMODEL=standard", "QUIET"});
    ASSERT_EQ(mixture.status, 0) << mixture.err;
    const auto rows = csv_rows(mixture.file("occusim_study.csv"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "psi");
    EXPECT_LT(std::stod(rows[0][2]), 0.6 - 4 * std::stod(rows[0][6]) / std::sqrt(200.0));
    EXPECT_EQ(rows[1][0], "p");
    EXPECT_EQ(rows[1][1], ""); // the mixture has no single p: no true value, bias or coverage
    EXPECT_EQ(rows[1][3], "");
    EXPECT_EQ(rows[1][8], "");

    const Args plain = {"T=5", "N=100", "psi=.6", "p=.4", "STOCH", "SEED=4", "REPS=50", "FIT", "QUIET"};
    auto fit = run_cli(plain);
    auto standard = run_cli(with(plain, {"FITMODEL=standard"}));
    const auto a = csv_rows(fit.file("occusim_fits.csv")), b = csv_rows(standard.file("occusim_fits.csv"));
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); i++) {
        ASSERT_EQ(a[i].size(), b[i].size());
        for (std::size_t c = 0; c < a[i].size(); c++)
            if (c == 1 || c == 7)
                EXPECT_EQ(a[i][c], b[i][c]);
            else
                EXPECT_NEAR(std::stod(a[i][c]), std::stod(b[i][c]), 1e-6) << i << " " << c;
    }
}

TEST(BatchFit, RefusedBeforeAnythingIsWritten) {
    struct Case {
        Args args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"T=4", "N=100", "psi=.6", "p=.3", "STOCH", "SEED=2", "FIT"},
         "occusim8: error: FIT fits the replicates of a batch: give REPS=n\n"},
        {{"T=4", "N=100", "psi=.6", "p=.3", "NCOVS=1", "coef=0,1", "STOCH", "SEED=2", "REPS=3", "FIT"},
         "occusim8: warning: NCOVS is not read by a cohort run: site covariates need site-by-site simulation (SIMTYPE=2)\n"
         "occusim8: warning: coef is not read by a cohort run: site covariates need site-by-site simulation (SIMTYPE=2)\n"
         "occusim8: error: FIT with covariates needs site-by-site simulation (SIMTYPE=2)\n"},
        {{"T=4", "N=100", "p=.3", "p10=.1", "NCOVS=1", "coef=0,1", "SIMTYPE=2", "SEED=2", "REPS=3",
          "FIT"},
         "occusim8: error: FIT with covariates fits the single-species model only, not the false-positive model\n"},
        {{"T=4", "N=100", "p=.3", "b=.2", "NCOVS=1", "coef=0,1", "SIMTYPE=2", "SEED=2", "REPS=3",
          "FIT"},
         "occusim8: error: FIT with covariates cannot fit certain detections (b)\n"},
        {{"T=4", "N=100", "psi=.6", "p=.3", "th0=.2", "th1=.5", "STOCH", "SEED=2", "REPS=3", "FIT"},
         "occusim8: error: FIT is not available for the spatial-dependence model\n"},
        {{"T=3", "N=100", "Lambda=2", "r=.3", "ROYLE", "SEED=2", "REPS=3", "FIT"},
         "occusim8: error: FIT: the Royle-Nichols model can be fitted with two surveys (T=2) only\n"},
        {{"T=2", "N=100", "psi=.6", "METH=2", "p1=.3", "p2=.5", "STOCH", "SEED=2", "REPS=3", "FIT",
          "FITMODEL=standard"},
         "occusim8: error: FITMODEL=standard fits single-species data with one detection per survey, not the "
         "multi-method model\n"},
        {{"T=3", "N=100", "Lambda=2", "r=.3", "ROYLE", "SEED=2", "REPS=3", "FIT", "FITMODEL=standard"},
         "occusim8: error: FITMODEL=standard: the abundance model's counts are not detections; give its "
         "detection/non-detection form (c)\n"},
        {{"T=4", "N=100", "psi=.6", "p=.3", "REPS=3", "FIT"},
         "occusim8: error: REPS=3: an expected-value run gives the same data set every time; ask for random data "
         "(STOCH, a negative T or SIMTYPE=2) to replicate it\n"},
    };
    for (const auto &c : cases) {
        auto run = run_cli(with(c.args, {"QUIET"}));
        EXPECT_EQ(run.status, 1) << c.err;
        EXPECT_EQ(run.err, c.err);
        for (const auto &name : {"occusim.pao", "occusim_1.pao", "occusim_fits.csv", "occusim_study.csv"})
            EXPECT_FALSE(run.exists(name)) << c.err << name;
    }
}

} // namespace
