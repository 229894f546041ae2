// Replays every input of the fuzzing corpus (the golden command lines and
// every input that once crashed the program) through the same bounded
// in-process runner the fuzzer uses. Under the sanitizer build a fault in any
// of them fails here; every run must end with status 0 or 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/harness.hpp"
#include "support/cli.hpp"

namespace {

namespace fz = occusim::fuzzing;
using occusim::Args;
using occusim::testing::read_file;
using occusim::testing::TempDir;

std::vector<std::filesystem::path> corpus() {
    std::vector<std::filesystem::path> files;
    auto dir = std::filesystem::path(__FILE__).parent_path() / "corpus";
    for (const auto &e : std::filesystem::directory_iterator(dir))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(FuzzHarness, SplitsAtBlanksAndNuls) {
    std::string bytes("T=3\tN=100\n\npsi=.5 \0p=.4  ", 26);
    EXPECT_EQ(fz::split_input(bytes), (Args{"occusim8", "T=3", "N=100", "psi=.5", "p=.4"}));
    EXPECT_EQ(fz::split_input(""), Args{"occusim8"});
}

TEST(FuzzHarness, CapsTheWorkOfARunAndKeepsTextWithinTheCaps) {
    Args a = fz::bounded({"occusim8", "T=5000", "N=1e12", "psi=.5", "NOBS=99999", "SPS=100,2,x"});
    EXPECT_EQ(a, (Args{"occusim8", "T=6", "N=10000", "psi=.5", "NOBS=10", "SPS=6,2,x", "SEED=1"}));
    // A random run costs work in every site; a fit in every replicate.
    EXPECT_EQ(fz::bounded({"occusim8", "T=-5000", "N=1e12", "REPS=80"}),
              (Args{"occusim8", "T=-6", "N=200", "REPS=10", "SEED=1"}));
    EXPECT_EQ(fz::bounded({"occusim8", "T=9", "N=1e4", "SIMTYPE=2"})[2], "N=200");
    // The abundance dispersion is a number of draws per site.
    EXPECT_EQ(fz::bounded({"occusim8", "T=2", "u=1", "a=111111117"})[3], "a=1000");
    EXPECT_EQ(fz::bounded({"occusim8", "T=2", "u=1", "a=.7"})[3], "a=.7");
    // So is the mean abundance of the negative binomial (one uniform for every
    // failure of a geometric count), and every animal costs a uniform a survey.
    EXPECT_EQ(fz::bounded({"occusim8", "T=2", "u=88888882", "a=.4"})[2], "u=1000");
    EXPECT_EQ(fz::bounded({"occusim8", "T=2", "Lambda=2e9,x,.5", "b=.3,-1e7"}),
              (Args{"occusim8", "T=2", "Lambda=1000,x,.5", "b=.3,-1000", "SEED=1"}));
    EXPECT_EQ(fz::bounded({"occusim8", "T=9", "N=1e4", "STOCH"})[2], "N=200");
    EXPECT_EQ(fz::bounded({"occusim8", "T=9", "N=1e4", "REPS=80", "FIT"}),
              (Args{"occusim8", "T=3", "N=200", "REPS=2", "FIT", "SEED=1"}));
    // Malformed values within the caps reach the program as they were typed.
    Args kept = fz::bounded({"occusim8", "T=3abc", "N=inf", "==N=5", "SEED=7"});
    EXPECT_EQ(kept, (Args{"occusim8", "T=3abc", "N=inf", "N=5", "SEED=7"}));
}

TEST(FuzzHarness, FrontBlockNumbersAreCappedLikeTAndN) {
    Args a = fz::bounded({"occusim8", "4000", "1e9", ".5", "SPADMS"});
    EXPECT_EQ(a[1], "6");
    EXPECT_EQ(a[2], "10000");
    EXPECT_EQ(fz::bounded({"occusim8", "STOCH", "MSCD"})[1], "STOCH");
}

TEST(FuzzHarness, FamiliesWhoseHistoriesGrowFastestGetFewerSurveys) {
    EXPECT_EQ(fz::bounded({"occusim8", "9", "100", "MSCD"})[1], "4");
    EXPECT_EQ(fz::bounded({"occusim8", "T=9", "p(1,1)=.5"})[1], "T=4");
    EXPECT_EQ(fz::bounded({"occusim8", "T=9", "eta0AA=.5"})[1], "T=4");
    EXPECT_EQ(fz::bounded({"occusim8", "T=9", "thBA=.5"})[1], "T=4");
    EXPECT_EQ(fz::bounded({"occusim8", "SPS=9,2", "INTEGRATED"})[1], "SPS=4,2");
    EXPECT_EQ(fz::bounded({"occusim8", "T=9", "psi=.5"})[1], "T=6");
    // Methods multiply the detections of a survey; a design evaluation runs
    // the model once per parameter and side.
    EXPECT_EQ(fz::bounded({"occusim8", "T=9", "METH=40"}), (Args{"occusim8", "T=4", "METH=2", "SEED=1"}));
    EXPECT_EQ(fz::bounded({"occusim8", "T=9", "psi=.5", "DESIGN"})[1], "T=4");
}

TEST(FuzzHarness, ClockAndPromptSeedsAndPathsOutOfTheScratchDirectoryAreReplaced) {
    EXPECT_EQ(fz::bounded({"occusim8", "seed=-4"})[1], "SEED=1");
    EXPECT_EQ(fz::bounded({"occusim8", "outfile=/etc/x"})[1], "outfile=_etc_x");
    EXPECT_EQ(fz::bounded({"occusim8", "outfile=../x"})[1], "outfile=.._x");
}

TEST(FuzzCorpus, EveryInputRunsToAnOrdinaryEnd) {
    auto files = corpus();
    ASSERT_GE(files.size(), 100u);
    std::FILE *console = std::tmpfile();
    std::FILE *empty = std::tmpfile();
    for (const auto &f : files) {
        TempDir dir;
        Args args = fz::bounded(fz::split_input(read_file(f.string())));
        int status = fz::run_in(dir.path, args, console, empty);
        EXPECT_TRUE(status == 0 || status == 1) << f.filename() << " ended with status " << status;
        std::rewind(console);
    }
    std::fclose(console);
    std::fclose(empty);
}

} // namespace

namespace {

using occusim::testing::run_cli;

// Found by fuzzing: a probability far out of range made expected counts so
// large that adding them up for the header overflowed (a sanitizer abort).
// Such a probability is now refused before the run.
TEST(FuzzFindings, ExpectedCountsBeyondEveryWholeNumberAreRefusedAsAProbability) {
    auto r = run_cli({"T=4", "N=12", "psi=.6", "SPS=2,2", "p=.5,.6,.7,.8", "th0=.4,.2,.1,.3", "th1=.8,.9,.7,.6",
                      "th0pi=2147483648", "SEED=12345", "QUIET"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.exists("occusim.pao"));
    EXPECT_EQ(r.err, "occusim8: error: th0pi=2147483648: 2.14748e+09 is not a probability: give a value from 0 to 1\n");
}

} // namespace
