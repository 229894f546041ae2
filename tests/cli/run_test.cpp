// End-to-end runs of the default single-species path: command line, standard
// output, the history file and the exit status.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/run.hpp"
#include "support/cli.hpp"

using occusim::Args;
using occusim::testing::blocking;
using occusim::testing::run_cli;
using occusim::testing::with;

namespace {

const char *kDefaultOut = "OCCUSIM ver8 180607.2051\n"
                          "\nARG[1]:T=3\nT=3\n"
                          "\nARG[2]:N=100\nN=100.000000\n"
                          "\nARG[3]:psi=.5\npsi=0.50\n"
                          "\nARG[4]:p=.4\np=[ 0.40 0.40 0.40]\n"
                          "determ=1 het=0 MS=0 MS2=0\n"
                          "psi=0.500000 npresnt=100.000000\n"
                          "gam= 0.50 0.00 0.00\n"
                          "eps= 0.00 0.00 0.00\n"
                          "p  = 0.40 0.40 0.40\n"
                          "th0= 0.00 0.00 0.00\n"
                          "th1= 0.00 0.00 0.00\n"
                          "b  = 0.00 0.00 0.00\n"
                          "p10= 0.00 0.00 0.00\n"
                          "nseasns=1\n"
                          "SPS= 3\n"
                          "Season= 0 0 0\n"
                          "newSeason= 1 0 0\n"
                          "allocating memory for double precision vector of length 192\n"
                          "caphis(0,npresent,1,0)\n"
                          "prnt_caphis2(nper,determ)\n"
                          "\n=========== prnt_caphis2 ========= nper=3 sps=3 meth=0\n";

const char *kDefaultPao = "8\t3\n"
                          "0\t0\t0\t60.800000\n"
                          "0\t0\t1\t7.200000\n"
                          "0\t1\t0\t7.200000\n"
                          "0\t1\t1\t4.800000\n"
                          "1\t0\t0\t7.200000\n"
                          "1\t0\t1\t4.800000\n"
                          "1\t1\t0\t4.800000\n"
                          "1\t1\t1\t3.200000\n"
                          "0\n0\n3\nsimulated data from occusim8\n";

TEST(DefaultRun, ExpectedValuesConsoleAndHistoryFile) {
    auto r = run_cli({"T=3", "N=100", "psi=.5", "p=.4"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kDefaultOut);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.pao(), kDefaultPao);
}

TEST(DefaultRun, FewerThanFourArgumentsPrintUsageAndWriteNothing) {
    auto r = run_cli({"T=3", "N=100", "psi=.5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "OCCUSIM ver8 180607.2051\n");
    EXPECT_EQ(r.err, occusim::kUsageText);
    EXPECT_FALSE(r.exists("occusim.pao"));
    EXPECT_FALSE(r.exists("occusim.err"));
}

} // namespace

namespace {

using occusim::testing::CliRun;

TEST(DriverLimits, ThirtySurveysPassTheCheckAndThirtyOneAreRefused) {
    auto ok = run_cli({"T=30", "N=10", "psi=.5", "p=.4", "QUIET"});
    EXPECT_EQ(ok.err.find("T must be < 30"), std::string::npos);
    EXPECT_NE(ok.out.find("\n ERROR per > MXPER - switching to 'simulate by individual'\n"),
              std::string::npos);

    auto refused = run_cli({"T=31", "N=10", "psi=.5", "p=.4"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "\nT must be < 30\noccusim8: error: T=31: expected values are computed for at most 30 "
                           "surveys; SIMTYPE=2 simulates longer designs site by site\n");
    EXPECT_FALSE(refused.exists("occusim.pao"));

    auto by_site = run_cli({"T=31", "N=10", "psi=.5", "SIMTYPE=2"});
    EXPECT_EQ(by_site.err.find("T must be < 30"), std::string::npos);

    // A design longer than the vectors still gets the recursive refusal first;
    // site by site it is refused on its own, and the most negative T (no
    // positive counterpart) is refused rather than negated.
    auto huge = run_cli({"T=-5000", "N=10", "psi=.5", "p=.4,.4"});
    EXPECT_EQ(huge.status, 1);
    EXPECT_EQ(huge.err, "\nT must be < 30\noccusim8: error: T=5000: expected values are computed for at most 30 "
                        "surveys; SIMTYPE=2 simulates longer designs site by site\n");
    auto huge_by_site = run_cli({"T=5000", "N=10", "psi=.5", "SIMTYPE=2", "QUIET"});
    EXPECT_EQ(huge_by_site.status, 1);
    EXPECT_EQ(huge_by_site.err, "occusim8: error: T=5000: at most 4000 surveys are supported\n");
    auto most_negative = run_cli({"T=-2147483648", "N=10", "psi=.5", "p=.4"});
    EXPECT_EQ(most_negative.status, 1);
    EXPECT_EQ(most_negative.err, "occusim8: error: T=-2147483648: at most 4000 surveys are supported\n");
}

TEST(DriverLimits, FifteenAndSixteenSurveysAreRefusedAsAFailedTableAllocation) {
    auto r15 = run_cli({"T=15", "N=10", "psi=.5", "p=.4"});
    EXPECT_EQ(r15.status, 1);
    EXPECT_NE(r15.out.find("allocating memory for double precision vector of length -1073741824\n"
                           "5)error allocating nx (size=-1073741824)\n"),
              std::string::npos);
    EXPECT_EQ(r15.pao(), ""); // left empty, not half-written

    auto r16 = run_cli({"T=16", "N=10", "psi=.5", "p=.4", "p10=.1"});
    EXPECT_EQ(r16.status, 1);
    EXPECT_NE(r16.out.find("3)error allocating nx (size=0)\n"), std::string::npos);
}

TEST(DriverSeasons, ZeroLengthSeasonStopsTheRun) {
    auto r = run_cli({"T=10", "N=10", "psi=.5", "p=.4", "SPS=3,3,3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("SPS=[ 3 3 3]\nnseasns=3 nper=10\nseason 1  surveys=3\nseason 2  surveys=3\n"
                         "season 3  surveys=0\n\n*** error: surveys per season(3) = 0 ***\n\n"),
              std::string::npos);
    EXPECT_FALSE(r.exists("occusim.pao"));

    auto ok = run_cli({"T=10", "N=10", "psi=.5", "p=.4", "SPS=4,4,4"});
    EXPECT_EQ(ok.status, 0);
    EXPECT_NE(ok.out.find("nseasns=3\nSPS= 4 4 4\n"), std::string::npos);
    // The first season's length is clamped to T in the history file.
    auto single = run_cli({"T=4", "N=10", "psi=.5", "p=.4", "SPS=10"});
    EXPECT_NE(single.pao().find("\n0\n0\n4\nsimulated"), std::string::npos);
}

TEST(DriverDispatch, TwoSpeciesRunsMarkMissingSurveysByTheDetectionOfA) {
    // The two-species family takes A's detection as the survey's detection
    // probability, replacing p: with P0MISS the survey where pA is 0 is
    // missing in every history although p is .7 there. Only the driver
    // copies it on the multi-season path. 100 A-only sites, half seen at
    // survey 1, none at survey 2.
    auto r = run_cli({"T=2", "SPS=1", "N=100", "psiA=1", "pA=.5,0", "p=.7", "P0MISS"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.pao(), "2\t2\n0\t.\t50.000000\n1\t.\t50.000000\n0\n0\n1,1\nsimulated data from occusim8\n");
}

TEST(DriverFiles, UnopenableHistoryFileIsNamedOnStandardErrorAndRecordedInTheErrorFile) {
    auto r = run_cli({"T=3", "N=100", "psi=.5", "p=.4", "outfile=no/such/dir/x.pao"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.file("occusim.err"), "1)error opening occusim.pao\n");
    EXPECT_EQ(r.err, "occusim8: error: cannot create 'no/such/dir/x.pao': No such file or directory\n");
    EXPECT_EQ(r.out.find("error"), std::string::npos);
}

TEST(DriverFiles, UnopenableSecondStreamIsNamedOnStandardErrorAndRecordedInTheErrorFile) {
    auto r = run_cli({"T=3", "N=100", "psi=.5", "p=.4", "outfile=x.pao"}, "", blocking("occusim.pao"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.file("occusim.err"), "2)error opening occusim.pao\n");
    EXPECT_EQ(r.err, "occusim8: error: cannot create 'occusim.pao': Is a directory\n");
    EXPECT_EQ(r.file("x.pao"), "");
}

// A write that fails (a full disk: /dev/full, directly or through a link
// under the file's name, fails every write) is an error naming the file,
// status 1, and no part file remains.
TEST(DriverFiles, WriteFailuresStopTheRunWithOneLineNamingTheFile) {
    auto full = [](std::vector<std::string> names) -> occusim::testing::Setup {
        return [names](const std::string &dir) {
            for (const auto &n : names) std::filesystem::create_symlink("/dev/full", dir + "/" + n);
        };
    };
    const Args base{"T=3", "N=100", "psi=.5", "p=.4", "QUIET"};
    const struct {
        Args args;
        std::vector<std::string> full_files;
        const char *file; // the one named by the error
    } cases[] = {
        {with(base, {"outfile=/dev/full"}), {}, "/dev/full"},
        {with(base, {"STOCH", "SEED=1", "outfile=/dev/full"}), {}, "/dev/full"},
        {with(base, {"SIMTYPE=2", "SEED=1", "outfile=/dev/full"}), {}, "/dev/full"},
        {with(base, {"DESIGN", "outfile=/dev/full"}), {}, "/dev/full"},
        {{"T=2", "N=100", "MULTISTATE", "psi0=.6", "R0=.4", "p1=.5", "p2=.7", "dlta=.6", "SIMTYPE=2", "SEED=1", "QUIET"},
         {"occusim.tmp"}, "occusim.tmp"},
        {with(base, {"DESIGN"}), {"occusim_design.csv"}, "occusim_design.csv"},
        {with(base, {"FORMAT=csv"}), {"occusim.csv"}, "occusim.csv"},
        {with(base, {"FORMAT=csv"}), {"occusim.json"}, "occusim.json"},
        {with(base, {"STOCH", "SEED=1", "REPS=2", "THREADS=1"}), {"occusim_replicates.csv"},
         "occusim_replicates.csv"},
        {with(base, {"STOCH", "SEED=1", "REPS=2", "THREADS=1"}), {"occusim.json"}, "occusim.json"},
        {with(base, {"STOCH", "SEED=1", "REPS=2", "THREADS=1", "FIT"}), {"occusim_fits.csv"}, "occusim_fits.csv"},
    };
    for (const auto &c : cases) {
        auto r = run_cli(c.args, "", full(c.full_files));
        SCOPED_TRACE(r.out);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, std::string("occusim8: error: cannot write '") + c.file + "': No space left on device\n");
        for (const auto &e : std::filesystem::directory_iterator(r.dir))
            EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
    }
}

// On a regular file the write fails part-way (here at a file size limit):
// neither the part nor anything under the final name remains.
TEST(DriverFiles, AHistoryFileCutShortIsRemoved) {
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto *previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    auto r = run_cli({"T=8", "N=100", "psi=.5", "p=.4", "QUIET", "outfile=run.pao"});
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "occusim8: error: cannot write 'run.pao': File too large\n");
    EXPECT_FALSE(r.exists("run.pao"));
    EXPECT_FALSE(r.exists("run.pao.part"));
}

TEST(DriverFiles, OutfileGetsTheHistoryAndOccusimPaoStaysEmpty) {
    auto r = run_cli({"T=3", "N=100", "psi=.5", "p=.4", "outfile=x.pao"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.file("x.pao").substr(0, 5), "8\t3\n0");
    EXPECT_TRUE(r.exists("occusim.pao"));
    EXPECT_EQ(r.pao(), "");
}

TEST(DriverConsole, QuietAnywhereInAnArgumentSilencesEchoAndSeedLine) {
    auto r = run_cli({"T=3", "N=100", "psi=.5", "p=.4", "STOCHASTIC", "outfile=quietrun.pao"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("ARG["), std::string::npos);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("asdf\n"), std::string::npos);

    auto loud = run_cli({"T=3", "N=100", "psi=.5", "p=.4", "STOCHASTIC"});
    // The clock seed shows as -1, followed by the value actually drawn.
    EXPECT_EQ(loud.err.rfind("seed=-1\noccusim8: seed ", 0), 0u) << loud.err;
}

// The clock seed is printed so that the run can be repeated: the same bytes
// with either generator. Under QUIET nothing is printed; an expected-value
// run draws nothing and prints nothing either.
TEST(DriverConsole, ClockSeedLineRepeatsTheRun) {
    for (const char *rng : {"RNG=lehmer", "RNG=philox"}) {
        auto clock = run_cli({"T=4", "N=300", "psi=.5", "p=.4", "STOCH", rng});
        ASSERT_EQ(clock.status, 0);
        long seed = 0;
        char again[64] = "";
        ASSERT_EQ(std::sscanf(clock.err.c_str(), "seed=-1\noccusim8: seed %ld (give SEED=%63[0-9]", &seed, again), 2)
            << clock.err;
        EXPECT_GT(seed, 0);
        EXPECT_EQ(std::to_string(seed), again);
        EXPECT_EQ(clock.err, "seed=-1\noccusim8: seed " + std::to_string(seed) + " (give SEED=" +
                                 std::to_string(seed) + " to repeat this run)\n");
        auto rerun = run_cli({"T=4", "N=300", "psi=.5", "p=.4", "STOCH", rng, "SEED=" + std::to_string(seed)});
        EXPECT_EQ(rerun.err, "seed=" + std::to_string(seed) + "\n");
        EXPECT_EQ(rerun.pao(), clock.pao()) << rng;
    }
    EXPECT_EQ(run_cli({"T=4", "N=300", "psi=.5", "p=.4", "STOCH", "QUIET"}).err, "");
    // Two surveys without a seed take the abundance model's expected form.
    EXPECT_EQ(run_cli({"T=2", "N=50", "Lambda=1", "r=.5", "STOCH"}).err, "seed=-1\n");
}

TEST(DriverInput, OverlongArgumentsAndListsAreRefusedBeforeAnyFile) {
    auto longarg = run_cli({"T=3", "N=100", "psi=.5", "p=.4", "outfile=" + std::string(600, 'a')});
    EXPECT_EQ(longarg.status, 1);
    EXPECT_NE(longarg.err.find("argument 5"), std::string::npos);
    EXPECT_NE(longarg.err.find("longer than 511 characters"), std::string::npos);
    EXPECT_FALSE(longarg.exists("occusim.pao"));

    auto longname = run_cli({"T=3", "N=100", "psi=.5", "p=.4", "outfile=" + std::string(300, 'b')});
    EXPECT_EQ(longname.status, 1);
    EXPECT_EQ(longname.err,
              "occusim8: error: argument 'outfile': a file name of 300 characters is longer than 255\n");

    std::string list = "p=0";
    for (int i = 0; i < 3200; i++) list += ",0.5";
    auto longlist = run_cli({"T=3", "N=100", "psi=.5", list});
    EXPECT_EQ(longlist.status, 1);
    // A list longer than any vector cannot fit in 511 characters.
    EXPECT_EQ(longlist.err,
              "occusim8: error: argument 4 (\"p=0,0.5,0.5,0.5,0.5,...\") is longer than 511 characters\n");
    EXPECT_FALSE(longlist.exists("occusim.pao"));
}

TEST(DriverInput, ReplicatingOverMoreSurveysThanAVectorHoldsIsRefused) {
    auto r = run_cli({"T=1200", "N=10", "SIMTYPE=2", "psi=.5", "eps=.1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "occusim8: error: argument 'eps': 1200 surveys do not fit the 1000 entries of its vector\n");
}

TEST(DriverInput, NonFiniteSiteCountIsRefused) {
    auto r = run_cli({"T=3", "N=inf", "psi=.5", "p=.01", "STOCH", "SEED=1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "occusim8: error: N=inf: the number of sites must be a finite number\n");
    EXPECT_FALSE(r.exists("occusim.pao"));
}

TEST(DriverInput, OptionsWithoutValueConvertToZero) {
    auto r = run_cli({"T=2", "N=100", "psi", "p=.5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("psi=0.00\n"), std::string::npos);
    EXPECT_EQ(r.pao(), "1\t2\n0\t0\t100.000000\n0\n0\n2\nsimulated data from occusim8\n");
}

TEST(DriverSeed, PromptedSeedAtEndOfInputStopsWithAClearError) {
    auto r = run_cli({"T=3", "N=100", "psi=.5", "p=.4", "STOCH", "SEED=0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Enter a positive integer seed"), std::string::npos);
    EXPECT_EQ(r.err, "occusim8: error: no seed given: standard input ended at the seed prompt\n");

    auto typed = run_cli({"T=3", "N=100", "psi=.5", "p=.4", "STOCH", "SEED=0", "QUIET"}, "7\n");
    auto seeded = run_cli({"T=3", "N=100", "psi=.5", "p=.4", "STOCH", "SEED=7", "QUIET"});
    EXPECT_EQ(typed.status, 0);
    EXPECT_EQ(typed.pao(), seeded.pao());
}

} // namespace
