// The summariser on hand-made temporary history files: sorting, collapsing,
// dropped groups, the console lines and the history-file layout.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "core/context.hpp"
#include "core/errors.hpp"
#include "history/summariser.hpp"
#include "support/cli.hpp"

namespace {

using occusim::Context;
using occusim::testing::read_file;
using occusim::testing::read_stream;
using occusim::testing::TempDir;

const std::string kTrailer = ";1\nsimulated multistate-corr-detection data from occusim8\n";

struct Summary {
    int status = 0;
    std::string out, pao, err_file;
};

// Writes `tmp` as occusim.tmp, runs the summariser with `frqcol` and keeps
// what it printed and wrote. num_srvys and the season list come from `sps`.
Summary summarise(const std::string &tmp, int frqcol, int num_srvys, std::vector<int> sps, bool quiet = false,
                  bool write_tmp = true) {
    Summary s;
    TempDir dir;
    if (write_tmp) std::ofstream(dir.path + "/occusim.tmp", std::ios::binary) << tmp;
    std::FILE *out = std::tmpfile();
    {
        Context ctx;
        ctx.out = out;
        ctx.workdir = dir.path;
        ctx.QUIET = quiet;
        ctx.num_srvys = num_srvys;
        for (std::size_t k = 0; k < sps.size(); k++) ctx.SRVYPERSEASN[k] = sps[k];
        try {
            occusim::smrz_pao(ctx, frqcol);
        } catch (const occusim::RunFinished &f) {
            s.status = f.status;
        }
    }
    s.out = read_stream(out);
    std::fclose(out);
    s.pao = read_file(dir.path + "/occusim.pao");
    s.err_file = read_file(dir.path + "/occusim.err");
    return s;
}

TEST(Summariser, FrequenciesOfEqualHistoriesAreAddedInByteOrder) {
    // Expected-value lines of two surveys, frequency at column 4, unsorted;
    // "0\t1" sorts before "0\t2" and "1\t0"; 0.25 + 0.75 collapse to 1.
    auto s = summarise("1\t0\t2.500000\n0\t2\t0.250000\n0\t1\t3.000000\n0\t2\t0.750000\n", 4, 2, {2});
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.out, "nlines=4 frqcol=4\nnin=4 nout=2\n");
    EXPECT_EQ(s.pao, "3\t2\n0\t1\t3.000000\n0\t2\t1.000000\n1\t0\t2.500000\n0\n0\n2" + kTrailer);
}

TEST(Summariser, LinesWithoutFrequencyCountOneSiteEach) {
    // A site list of 10 lines with 3 distinct histories (frqcol 0).
    std::string tmp;
    for (const char *h :
         {"1\t1\n", "0\t0\n", "1\t0\n", "0\t0\n", "1\t1\n", "0\t0\n", "1\t1\n", "0\t0\n", "1\t1\n", "1\t1\n"})
        tmp += h;
    auto s = summarise(tmp, 0, 2, {2}, true);
    EXPECT_EQ(s.out, "nin=10 nout=2\n"); // QUIET silences only the line count
    EXPECT_EQ(s.pao, "3\t2\n0\t0\t4.000000\n1\t0\t1.000000\n1\t1\t5.000000\n0\n0\n2" + kTrailer);
}

TEST(Summariser, TrailingTabIsCutWithOrWithoutFrequency) {
    // Site lines "%d\t" per survey: with a count after the last tab, and
    // without one (the line then stands for one site).
    auto s = summarise("2\t0\t5.400000\n2\t0\t\n0\t0\t\n", 4, 2, {2});
    EXPECT_EQ(s.pao, "2\t2\n0\t0\t1.000000\n2\t0\t6.400000\n0\n0\n2" + kTrailer);
}

TEST(Summariser, GroupsSummingToZeroOrLessAreDroppedFirstAndLast) {
    auto s = summarise("0\t0.000000\n1\t2.000000\n2\t0.500000\n2\t-0.500000\n", 2, 1, {1});
    EXPECT_EQ(s.out, "nlines=4 frqcol=2\nnin=4 nout=1\n"); // last group dropped: no off-by-one
    EXPECT_EQ(s.pao, "1\t1\n1\t2.000000\n0\n0\n1" + kTrailer);

    auto none = summarise("0\t0.000000\n1\t-1.000000\n", 2, 1, {1});
    EXPECT_EQ(none.pao, "0\t1\n0\n0\n1" + kTrailer);
}

TEST(Summariser, SeasonListEndsAtFirstNonPositiveEntry) {
    auto s = summarise("0\t1\t0\t1.000000\n", 6, 3, {1, 2, 0, 4});
    EXPECT_EQ(s.out, "nlines=1 frqcol=6\nnin=1 nout=0\n"); // printed before the last group closes
    EXPECT_EQ(s.pao, "1\t3\n0\t1\t0\t1.000000\n0\n0\n1,2" + kTrailer);
}

TEST(Summariser, EmptyFileGivesAZeroCountAndTheTrailer) {
    auto s = summarise("", 4, 2, {2});
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.out, "nlines=0 frqcol=4\nnin=0 nout=0\n");
    EXPECT_EQ(s.pao, "0\t2\n0\n0\n2" + kTrailer);
}

TEST(Summariser, MissingTemporaryFileIsReportedInTheErrorFile) {
    auto s = summarise("", 4, 2, {2}, false, false);
    EXPECT_EQ(s.status, 1);
    EXPECT_EQ(s.err_file, "error opening occusim.tmp\n");
    EXPECT_EQ(s.pao, "");
}

TEST(Summariser, LargeSiteListIsSortedInSeconds) {
    // 200,000 site lines over the 243 histories of five three-valued surveys,
    // in scrambled order; a quadratic sort would take hours.
    const int lines = 200000, kinds = 243;
    std::vector<std::string> text(kinds);
    for (int h = 0; h < kinds; h++) {
        for (int d = 0, v = h; d < 5; d++, v /= 3) {
            text[h] += static_cast<char>('0' + v % 3);
            text[h] += '\t';
        }
        text[h] += "0.500000\n";
    }
    std::string tmp;
    tmp.reserve(lines * 19);
    for (int i = 0; i < lines; i++) tmp += text[(i * 7919L) % kinds];
    auto start = std::chrono::steady_clock::now();
    auto s = summarise(tmp, 10, 5, {5}, true);
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(secs, 5.0);
    EXPECT_EQ(s.out, "nin=200000 nout=242\n");
    // 200000 = 243 * 823 + 11: eleven histories, the all-zero one among them,
    // occur 824 times; the all-two history occurs 823 times.
    EXPECT_EQ(s.pao.rfind("243\t5\n0\t0\t0\t0\t0\t412.000000\n", 0), 0u);
    EXPECT_NE(s.pao.find("\n2\t2\t2\t2\t2\t411.500000\n0\n0\n5;1\n"), std::string::npos);
}

} // namespace
