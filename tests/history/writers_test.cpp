// The two history-file writers on hand-filled count tables.
#include <gtest/gtest.h>

#include <cstdio>

#include "core/context.hpp"
#include "core/errors.hpp"
#include "history/writers.hpp"
#include "support/cli.hpp"

using occusim::Context;
using occusim::RunFinished;

namespace {

struct WriterRun {
    Context ctx;
    std::FILE *console = std::tmpfile();
    occusim::testing::TempDir dir;
    WriterRun(int n, int entries) {
        ctx.set_vector_defaults();
        ctx.out = console;
        ctx.workdir = dir.path;
        ctx.nper = n;
        ctx.SRVYPERSEASN[0] = n;
        for (int k = 0; k < n; k++) ctx.pa[k] = 0.5;
        ctx.nx.reset(entries);
        ctx.fp2 = ctx.open("h.pao", "w");
        ctx.fp = ctx.open("occusim.pao", "w");
    }
    ~WriterRun() { std::fclose(console); }
    std::string file() { return occusim::testing::read_file(dir.path + "/h.pao"); }
    std::string console_text() { return occusim::testing::read_stream(console); }
};

int status_of(void (*write)(Context &, int, int), Context &ctx, int n, int expected) {
    try {
        write(ctx, n, expected);
    } catch (const RunFinished &f) {
        return f.status;
    }
    return -1;
}

TEST(PrntCaphis, EmptyTableGivesCountZeroThenTheTrailer) {
    WriterRun w(3, 8);
    EXPECT_EQ(status_of(occusim::prnt_caphis, w.ctx, 3, 1), 0);
    EXPECT_EQ(w.file(), "0\t3\n0\n0\n3;0\nsimulated data from occusim8\n");
    EXPECT_EQ(w.ctx.fp2, nullptr);
}

TEST(PrntCaphis, StochasticEntriesAreRepeatedAndExpectedOnesCarryFrequencies) {
    WriterRun st(2, 4);
    st.ctx.nx.set(1, 2.4);
    st.ctx.nx.set(2, 0.6);
    st.ctx.METH = 2;
    EXPECT_EQ(status_of(occusim::prnt_caphis, st.ctx, 2, 0), 0);
    EXPECT_EQ(st.file(), "3\t2\n0\t1\t\n0\t1\t\n1\t0\t\n0\n0\n2;2\nsimulated data from occusim8\n");

    WriterRun ev(2, 4);
    ev.ctx.nx.set(1, 2.4);
    ev.ctx.nx.set(3, 1e-11); // below the tolerance: neither counted nor written
    EXPECT_EQ(status_of(occusim::prnt_caphis, ev.ctx, 2, 1), 0);
    EXPECT_EQ(ev.file(), "1\t2\n0\t1\t        2.4000000000\n0\n0\n2;0\nsimulated data from occusim8\n");
}

TEST(PrntCaphis, ListEchoAndMissingSurveys) {
    WriterRun w(3, 8);
    w.ctx.LIST = 1;
    w.ctx.P0MISS = 1;
    w.ctx.pa[1] = 0;
    w.ctx.nx.set(5, 2);
    EXPECT_EQ(status_of(occusim::prnt_caphis, w.ctx, 3, 1), 0);
    EXPECT_EQ(w.console_text(), "\n=========== prnt_caphis =========\n5>1.1 2.000000;\n");
    EXPECT_EQ(w.file(), "1\t3\n1\t.\t1\t        2.0000000000\n0\n0\n3;0\nsimulated data from occusim8\n");
}

TEST(PrntCaphis2, RemovalDashesAndSeasonList) {
    WriterRun w(4, 3 * 256);
    w.ctx.REMOVAL = 1;
    w.ctx.SRVYPERSEASN[0] = 10; // clamped to the survey count
    w.ctx.SRVYPERSEASN[1] = 2;
    w.ctx.nseasns = 2;
    w.ctx.nx.set(0b00010000, 1.5); // digits 0,1,0,0
    w.ctx.nx.set(0b00100000, 2.0); // digits 0,2,0,0
    EXPECT_EQ(status_of(occusim::prnt_caphis2, w.ctx, 4, 1), 0);
    EXPECT_EQ(w.file(),
              "2\t4\n0\t1\t-\t-\t1.500000\n0\t2\t0\t0\t2.000000\n0\n0\n4,2\nsimulated data from occusim8\n");
    EXPECT_EQ(w.console_text(), "\n=========== prnt_caphis2 ========= nper=4 sps=10 meth=0\n");
}

} // namespace
