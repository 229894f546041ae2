// End-to-end runs of the default single-species path: command line, standard
// output, the history file and the exit status.
#include <gtest/gtest.h>

#include "driver/run.hpp"
#include "support/cli.hpp"

using occusim::testing::run_cli;

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
