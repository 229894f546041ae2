// Argument diagnostics: each kind of warning with and without a suggestion,
// the arguments that must never warn (switches, prefix rows, quiet words,
// positional numbers, every end-to-end command line of the suite), that a
// warning changes neither the files nor the status of a run, and STRICT.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/diagnostics.hpp"
#include "fuzz/harness.hpp"
#include "support/cli.hpp"

using occusim::Args;
using occusim::diagnose;
using occusim::testing::read_file;
using occusim::testing::run_cli;
using occusim::testing::with;

namespace {

using Lines = std::vector<std::string>;

Lines warnings(const Args &args) {
    return diagnose(with({"occusim8"}, args));
}

const Args kRun = {"T=3", "N=100", "psi=.5", "p=.4"};

TEST(Diagnostics, UnknownNamesWithAndWithoutTheClosestKnownName) {
    EXPECT_EQ(warnings({"pp=.4"}), Lines{"unknown option 'pp' is ignored (did you mean 'p'?)"});
    EXPECT_EQ(warnings({"SEDE=4"}), Lines{"unknown option 'SEDE' is ignored (did you mean 'SEED'?)"});
    EXPECT_EQ(warnings({"Seed=4"}), Lines{"unknown option 'Seed' is ignored (did you mean 'seed'?)"});
    EXPECT_EQ(warnings({"STOHC"}), Lines{"unknown option 'STOHC' is ignored (did you mean 'STOCH'?)"});
    EXPECT_EQ(warnings({"xyzzy=1"}), Lines{"unknown option 'xyzzy' is ignored"});
    EXPECT_EQ(warnings({"--hepl"}), Lines{"unknown option '--hepl' is ignored"});
    EXPECT_EQ(warnings({"=5"}), Lines{"unknown option '5' is ignored"}); // the name as the table sees it
    EXPECT_EQ(warnings({"="}), Lines{"unknown option '=' is ignored"});
    // The longest argument a run takes is named in full.
    const std::string longest(510, 'x');
    EXPECT_EQ(warnings({longest}), Lines{"unknown option '" + longest + "' is ignored"});
    const std::string value(500, '7');
    EXPECT_EQ(warnings({"psi=" + value + "x"}),
              Lines{"argument 'psi=" + value + "x': '" + value + "x' is not a number (read as inf)"});
}

TEST(Diagnostics, NamesOfTheUsageTextPointToTheOptionsThatDoTheirJob) {
    EXPECT_EQ(warnings({"lambda=2", "e=.2", "theta'=.5", "2SP"}),
              (Lines{"unknown option 'lambda' is ignored (did you mean 'Lambda'?)",
                     "unknown option 'e' is ignored (did you mean 'Ent'?)",
                     "unknown option 'theta'' is ignored (did you mean 'th1'?)",
                     "unknown option '2SP' is ignored (two species need no switch: give psiA, psiBA and psiBa)"}));
}

TEST(Diagnostics, EditDistanceAndTiesGoToTheRowThatAppliesFirst) {
    EXPECT_EQ(occusim::edit_distance("", "abc"), 3);
    EXPECT_EQ(occusim::edit_distance("psi", "pis"), 2);
    EXPECT_EQ(occusim::edit_distance("kitten", "sitting"), 3);
    // A limit caps the answer and never lowers a distance below it.
    EXPECT_EQ(occusim::edit_distance("kitten", "sitting", 2), 2);
    EXPECT_EQ(occusim::edit_distance("kitten", "sitting", 4), 3);
    EXPECT_EQ(occusim::edit_distance(std::string(100, 'x'), "psi", 3), 3);
    EXPECT_EQ(occusim::edit_distance(std::string(100, 'p'), std::string(99, 'p')), 1);
    EXPECT_EQ(occusim::closest_option("pp"), "p"); // pi, pA, p1 ... are as close, but later
    EXPECT_EQ(occusim::closest_option("qqqqqq"), "");
}

TEST(Diagnostics, ValuesThatAreNotNumbersNameTheArgumentAndTheValueRead) {
    EXPECT_EQ(warnings({"psi=abc"}), Lines{"argument 'psi=abc': 'abc' is not a number (read as 0)"});
    EXPECT_EQ(warnings({"psi=12x"}), Lines{"argument 'psi=12x': '12x' is not a number (read as 12)"});
    // The number of sites is refused instead, once the model is known.
    EXPECT_EQ(warnings({"N=abc"}), Lines{});
    EXPECT_EQ(warnings({"T=3.5"}), Lines{"argument 'T=3.5': '3.5' is not a whole number (read as 3)"});
    EXPECT_EQ(warnings({"T=4294967299"}),
              Lines{"argument 'T=4294967299': '4294967299' is out of range for a whole number (read as 3)"});
    EXPECT_EQ(warnings({"p=.4,x,.5"}), Lines{"argument 'p=.4,x,.5': 'x' is not a number (read as 0)"});
    EXPECT_EQ(warnings({"SPS=2,2.5"}), Lines{"argument 'SPS=2,2.5': '2.5' is not a whole number (read as 2)"});
    EXPECT_EQ(warnings({"psi"}), Lines{"argument 'psi' has no value (read as 0)"});
    EXPECT_EQ(warnings({"eps="}), Lines{"argument 'eps=' has no values"});
    EXPECT_EQ(warnings({"SHARD=1/k"}), Lines{"argument 'SHARD=1/k': 'k' is not a number (read as 0)"});
    EXPECT_EQ(warnings({"N=1e3", "N=inf", "SEED=-7", "p=.4,,.5", "SHARD=3/8", "outfile=abc"}), Lines{});
}


TEST(Diagnostics, SwitchesPrefixRowsAndQuietWordsNeverWarn) {
    EXPECT_EQ(warnings({"STOCH", "STOCHASTIC", "STOCH=yes", "QUIET", "quiet", "NOQUIET=1", "veryquietplease",
                        "r", "c", "HET", "MSCD", "SPADMS", "STRICT", "DESIGN", "FIT", "phi(0;2)=.1,.2",
                        "p(1,1)=.5"}),
              Lines{});
}

TEST(Diagnostics, PositionalNumbersOfTheFrontBlockModelsNeverWarn) {
    const Args ms = {"1", "100", ".5", "0", "0", ".6", "0", "0", "0", "0", "0", "0", "0", "0",
                     ".5", ".8", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0",
                     "0", "0", "0", "0", "0", "0", ".4", "0", "0", "0", "0", "0"};
    EXPECT_EQ(warnings(with(ms, {"MSCD"})), Lines{});
    EXPECT_EQ(warnings(with(ms, {"MSCD", "QUIET"})), Lines{});
    // Without the model switch the same numbers are unknown options.
    EXPECT_EQ(warnings({"1", "100", "MULTISTATE"}).size(), 2u);
    const Args spad = {"3", "100", ".5", ".4", ".5", ".6", ".2", ".3", ".4", ".7",
                       ".8", ".9", ".1", ".2", ".3", "0", ".2", "0", "0"};
    EXPECT_EQ(warnings(with(spad, {"T=3", "SPADMS", "QUIET"})), Lines{});
    // A block too short for its T is refused by the model; its numbers do not warn.
    EXPECT_EQ(warnings({"4", "100", ".5", ".5", ".5", "T=4", "SPADMS"}), Lines{});
    EXPECT_EQ(warnings({"0", "100", ".5", ".5", "T=4", "SPADMS", "QUIET"}), Lines{});
    // Text where the model reads a number is said so, by position.
    Args typo = with(spad, {"T=3", "SPADMS"});
    typo[3] = ".4x";
    EXPECT_EQ(diagnose(with({"occusim8"}, typo)),
              Lines{"argument 4 ('.4x') is read by position and is not a number (read as 0.4)"});
}

// Every command line of the end-to-end tests reads as written except the one
// that tests a value the program takes as it is (probabilities are checked
// against the model that runs, see model_reads_test).
TEST(Diagnostics, NoEndToEndCommandLineWarnsExceptTheDeliberateOnes) {
    auto dir = std::filesystem::path(__FILE__).parent_path().parent_path() / "fuzz" / "corpus";
    int lines = 0;
    for (const auto &e : std::filesystem::directory_iterator(dir)) {
        if (e.path().filename().string().rfind("golden-", 0) != 0) continue;
        Args args = occusim::fuzzing::split_input(read_file(e.path().string()));
        Lines w = diagnose(args);
        std::string line;
        for (std::size_t i = 1; i < args.size(); i++) line += (i > 1 ? " " : "") + args[i];
        lines++;
        if (line == "T=2 N=100 psi p=.5")
            EXPECT_EQ(w, Lines{"argument 'psi' has no value (read as 0)"});
        else
            EXPECT_EQ(w, Lines{}) << line;
    }
    EXPECT_GE(lines, 100);
}

TEST(Diagnostics, WarningsChangeNeitherFilesNorStatusAndAppearUnderQuiet) {
    auto plain = run_cli(with(kRun, {"QUIET"}));
    auto typo = run_cli(with(kRun, {"QUIET", "pp=.9", "NOBS=1x"}));
    EXPECT_EQ(typo.status, plain.status);
    EXPECT_EQ(typo.pao(), plain.pao());
    EXPECT_EQ(typo.out, plain.out);
    EXPECT_EQ(typo.err, "occusim8: warning: unknown option 'pp' is ignored (did you mean 'p'?)\n"
                        "occusim8: warning: argument 'NOBS=1x': '1x' is not a number (read as 1)\n");
    EXPECT_EQ(plain.err, "");
}

TEST(Diagnostics, StrictStopsAWarnedRunBeforeAnyFileIsWritten) {
    auto r = run_cli(with(kRun, {"pp=.9", "outfile=mine.pao", "STRICT"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "occusim8: warning: unknown option 'pp' is ignored (did you mean 'p'?)\n"
                     "occusim8: error: STRICT: 1 warning, nothing written\n");
    EXPECT_EQ(r.out, "OCCUSIM ver8 180607.2051\n");
    EXPECT_FALSE(r.exists("mine.pao"));
    EXPECT_FALSE(r.exists("occusim.pao"));
    EXPECT_FALSE(r.exists("occusim.err"));
    EXPECT_TRUE(std::filesystem::is_empty(r.dir));

    // The covariate warning of the run counts too.
    auto cov = run_cli({"T=2", "N=4", "psi=.7", "p=.5", "NCOVS=2", "coef=0,1", "SIMTYPE=2", "SEED=3", "STRICT"});
    EXPECT_EQ(cov.status, 1);
    EXPECT_EQ(cov.err, "occusim8: warning: NCOVS=2 but 1 slopes given; missing slopes are 0\n"
                       "occusim8: error: STRICT: 1 warning, nothing written\n");
    EXPECT_TRUE(std::filesystem::is_empty(cov.dir));
}

TEST(Diagnostics, StrictWithoutAProblemRunsAsWithoutIt) {
    auto plain = run_cli(kRun);
    auto strict = run_cli(with(kRun, {"STRICT"}));
    EXPECT_EQ(strict.status, 0);
    EXPECT_EQ(strict.err, "");
    EXPECT_EQ(strict.pao(), plain.pao());
    // STRICT itself is a switch and never a problem, wherever it stands.
    auto first = run_cli(with({"STRICT"}, kRun));
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.pao(), plain.pao());
}

} // namespace
