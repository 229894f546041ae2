// Grids of designs through the command line: the same bytes for every thread
// count, every point equal to the study its own command line runs, any
// replicate regenerated alone, and refusals before anything is written.
#include "batch/grid.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "cli/options.hpp"
#include "support/cli.hpp"

using namespace occusim::testing;

namespace {

const Args kStudy = {"T=4", "N=100", "p=.5", "NCOVS=1", "coef=0,-.4", "SIMTYPE=2", "SEED=11", "FIT", "QUIET"};
const Args kDesign = {"T=8",      "N=200",     "p=.5",   "NCOVS=1", "coef=0,-.4", "NPCOVS=1",
                      "pcoef=.5", "SIMTYPE=2", "SEED=1", "DESIGN",  "QUIET"};

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<std::string> cells(const std::string &line) {
    std::vector<std::string> out;
    std::size_t at = 0;
    for (;;) {
        const std::size_t comma = line.find(',', at);
        out.push_back(line.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (comma == std::string::npos) return out;
        at = comma + 1;
    }
}

// A table's rows keyed by the leading `key` cells, each row as column -> cell.
std::map<std::string, std::map<std::string, std::string>> keyed(const std::string &text, std::size_t key) {
    std::map<std::string, std::map<std::string, std::string>> out;
    const auto rows = lines(text);
    if (rows.empty()) return out;
    const auto header = cells(rows[0]);
    for (std::size_t i = 1; i < rows.size(); i++) {
        const auto c = cells(rows[i]);
        std::string k;
        for (std::size_t j = 0; j < key; j++) k += c[j] + ",";
        for (std::size_t j = 0; j < c.size() && j < header.size(); j++) out[k][header[j]] = c[j];
    }
    return out;
}

// The rows of a table without its header, each with its first `drop` cells
// taken off.
std::string body_without(const std::string &text, std::size_t drop) {
    std::string out;
    const auto rows = lines(text);
    for (std::size_t i = 1; i < rows.size(); i++) {
        std::size_t at = 0;
        for (std::size_t d = 0; d < drop; d++) at = rows[i].find(',', at) + 1;
        out += rows[i].substr(at) + "\n";
    }
    return out;
}

TEST(Grid, BytesAreTheSameForEveryThreadCount) {
    const Args grid = with(kStudy, {"REPS=5", "GRID=N:40,80", "GRID=T:3,5"});
    const CliRun one = run_cli(with(grid, {"THREADS=1"}));
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(lines(one.file("occusim_grid.csv")).size(), 1u + 4 * 3);
    EXPECT_EQ(lines(one.file("occusim_fits.csv")).size(), 1u + 4 * 5 * 3);
    EXPECT_EQ(lines(one.file("occusim_fits.csv"))[0], "N,T,rep,parameter,true,estimate,se,lcl,ucl,converged");
    // No replicate data, manifest or scratch directory is left.
    std::vector<std::string> left;
    for (const auto &e : std::filesystem::directory_iterator(one.dir)) left.push_back(e.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"occusim_fits.csv", "occusim_grid.csv"}));
    for (const char *threads : {"THREADS=2", "THREADS=3"}) {
        const CliRun other = run_cli(with(grid, {threads}));
        ASSERT_EQ(other.status, 0) << other.err;
        EXPECT_EQ(other.file("occusim_grid.csv"), one.file("occusim_grid.csv")) << threads;
        EXPECT_EQ(other.file("occusim_fits.csv"), one.file("occusim_fits.csv")) << threads;
        EXPECT_EQ(other.out, one.out) << threads;
    }
}

// Point 2 of a FIT grid of two points is block 2 of 2 of the batch of both
// points' replicates, run by the point's own command line.
TEST(Grid, FitPointIsTheBlockOfItsOwnCommandLine) {
    const CliRun grid = run_cli(with(kStudy, {"REPS=6", "GRID=N:40,80"}));
    ASSERT_EQ(grid.status, 0) << grid.err;
    const CliRun point = run_cli({"T=4", "N=80", "p=.5", "NCOVS=1", "coef=0,-.4", "SIMTYPE=2", "SEED=11",
                                  "FIT", "QUIET", "REPS=12", "SHARD=2/2"});
    ASSERT_EQ(point.status, 0) << point.err;
    std::string fits;
    for (const auto &row : lines(grid.file("occusim_fits.csv")))
        if (row.rfind("80,", 0) == 0) fits += row.substr(3) + "\n";
    EXPECT_EQ(fits, body_without(point.file("occusim_fits_2of2.csv"), 0));
    const auto study = keyed(point.file("occusim_study_2of2.csv"), 1);
    const auto rows = keyed(grid.file("occusim_grid.csv"), 2);
    ASSERT_EQ(study.size(), 3u);
    for (const auto &[name, row] : study)
        for (const char *column : {"true", "mean", "bias", "rmse", "sd", "mean_se", "coverage", "power",
                                   "type_s", "type_m", "used", "n"})
            EXPECT_EQ(rows.at("80," + name).at(column), row.at(column)) << name << " " << column;
}

// Replicate k of the grid (its rep column) is written alone by the point's
// command line with REPS=points*n SHARD=k/(points*n): its data set, fitted,
// gives the grid's row.
TEST(Grid, ReplicateIsRegeneratedAlone) {
    const CliRun grid = run_cli(with(kStudy, {"REPS=4", "GRID=N:40,80", "GRID=psi:.3"}));
    ASSERT_EQ(grid.status, 0) << grid.err;
    // psi, put first, is not read beside site covariates: the points say so once.
    EXPECT_EQ(
        grid.err.rfind("occusim8: warning: GRID N=40 psi=.3: psi is not read: coef sets the occupancy "
                       "intercept (logit scale) when there are site covariates\noccusim8: 2 grid points",
                       0),
        0u)
        << grid.err;
    for (const char *k : {"2", "7"}) {
        const std::string n = std::string(k) == "2" ? "N=40" : "N=80";
        const CliRun alone = run_cli({"psi=.3", "T=4", n, "p=.5", "NCOVS=1", "coef=0,-.4", "SIMTYPE=2",
                                      "SEED=11", "FIT", "QUIET", "REPS=8", std::string("SHARD=") + k + "/8"});
        ASSERT_EQ(alone.status, 0) << alone.err;
        EXPECT_TRUE(alone.exists(std::string("occusim_") + k + ".pao")) << k;
        std::string rows;
        for (const auto &row : lines(body_without(grid.file("occusim_fits.csv"), 2)))
            if (row.rfind(std::string(k) + ",", 0) == 0) rows += row + "\n";
        EXPECT_EQ(rows, body_without(alone.file(std::string("occusim_fits_") + k + "of8.csv"), 0)) << k;
    }
}

TEST(Grid, DesignPointEqualsItsOwnDesign) {
    const CliRun grid = run_cli(with(kDesign, {"GRID=N:50,200", "GRID=T:4,8"}));
    ASSERT_EQ(grid.status, 0) << grid.err;
    EXPECT_FALSE(grid.exists("occusim.pao"));
    EXPECT_NE(grid.out.find("design grid:\n       N        T  parameter"), std::string::npos) << grid.out;
    const auto rows = keyed(grid.file("occusim_grid.csv"), 3);
    ASSERT_EQ(rows.size(), 4u * 4);
    // T=4 with p=.5 after it: the single value follows the grid's T.
    const CliRun point = run_cli({"T=4", "N=50", "p=.5", "NCOVS=1", "coef=0,-.4", "NPCOVS=1", "pcoef=.5",
                                  "SIMTYPE=2", "SEED=1", "DESIGN", "QUIET"});
    ASSERT_EQ(point.status, 0) << point.err;
    const auto design = keyed(point.file("occusim_design.csv"), 1);
    ASSERT_EQ(design.size(), 4u);
    for (const auto &[name, row] : design) {
        const auto &g = rows.at("50,4," + name);
        EXPECT_EQ(g.at("true"), row.at("value")) << name;
        for (const char *column : {"se", "cv", "power"})
            EXPECT_EQ(g.at(column), row.at(column)) << name << column;
    }
}

TEST(Grid, RefusesWithOneLineBeforeAnyFile) {
    struct Case {
        Args more;
        std::string error;
    };
    const Case cases[] = {
        {{"REPS=3", "GRID=X:1,2"}, "GRID=X:1,2: X is no option"},
        {{"REPS=3", "GRID=p:.1,.2"},
         "GRID=p:.1,.2: GRID varies an option that takes one number; p takes a list or a word"},
        {{"REPS=3", "GRID=FIT:1"},
         "GRID=FIT:1: GRID varies an option that takes one number; FIT takes no value"},
        {{"REPS=3", "GRID=N:50", "GRID=N:60"}, "GRID=N:60: N is already varied by another GRID"},
        {{"REPS=3", "GRID=N:5", "GRID=T:5", "GRID=SIMTYPE:2", "GRID=psi:.5"},
         "GRID=psi:.5: at most three GRID options"},
        {{"REPS=3", "GRID=REPS:5,10"}, "GRID=REPS:5,10: REPS is the same for the whole grid"},
        {{"REPS=3", "GRID=N:50,"}, "GRID=N:50,: '' is not a number"},
        {{"REPS=3", "GRID=T:4.5"}, "GRID=T:4.5: '4.5' is not a whole number"},
        {{"REPS=3", "GRID=N"}, "GRID=N: give GRID=NAME:v1,v2,... (an option and its values)"},
        {{"REPS=3", "GRID=N:50", "SHARD=1/2"},
         "GRID with SHARD=1/2: a grid runs whole; shard a point's batch on its own command line"},
        {{"REPS=4294967295", "GRID=N:10,20"},
         "GRID: 2 points of 4294967295 replicates exceed the 4294967295 replicates a seed numbers"},
        // Values the option or the model refuses, named by their point.
        {{"REPS=3", "GRID=N:50,-5"}, "GRID N=-5: N=-5: the number of sites cannot be negative"},
        {{"REPS=3", "GRID=T:4,2", "p=.5,.5,.5,.5"},
         "GRID T=2: p has 4 values for T=2 surveys: give one value or 2"},
        {{"REPS=3", "GRID=ALPHA:.05,2"}, "GRID ALPHA=2: ALPHA=2: the level lies strictly between 0 and 1"},
        {{"REPS=3", "GRID=N:50", "NULLS=foo:1"},
         "GRID N=50: NULLS: foo is not an estimated parameter of this study"},
    };
    for (const Case &c : cases) {
        const CliRun run = run_cli(with(kStudy, c.more));
        EXPECT_EQ(run.status, 1) << c.error;
        EXPECT_EQ(run.err, "occusim8: error: " + c.error + "\n");
        EXPECT_TRUE(std::filesystem::is_empty(run.dir)) << c.error;
    }
    const CliRun alone = run_cli({"T=4", "N=100", "psi=.5", "p=.5", "QUIET", "GRID=N:50,100"});
    EXPECT_EQ(alone.err,
              "occusim8: error: GRID runs a study at every point: add DESIGN (an expected-value run) or "
              "FIT (with REPS=n)\n");
    EXPECT_TRUE(std::filesystem::is_empty(alone.dir));
}

TEST(Grid, PointCommandLines) {
    using occusim::Context;
    const std::vector<Context::GridAxis> axes = {{"PsiA", {".2", ".4"}}, {"N", {"10"}}, {"T", {"3", "6"}}};
    const auto points = occusim::grid_points(axes);
    ASSERT_EQ(points.size(), 4u);
    EXPECT_EQ(points[1], (std::vector<std::string>{".2", "10", "6"})); // the first axis slowest
    struct Case {
        Args args;
        Args point;
    };
    const Case cases[] = {
        // Every argument of the option takes the value under its own name.
        {{"occusim8", "T=5", "psiA=.5", "N=1", "psiA=.6", "GRID=N:1"},
         {"occusim8", "T=3", "psiA=.2", "N=10", "psiA=.2"}},
        // An option not given goes first, ahead of the lists that follow T.
        {{"occusim8", "p=.5", "GRID=T:3", "N=2"}, {"occusim8", "PsiA=.2", "T=3", "p=.5", "N=10"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(occusim::grid_point_args(c.args, axes, {".2", "10", "3"}, occusim::same_option), c.point);
}

} // namespace
