// The two history-file writers on hand-filled count tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>

#include "core/context.hpp"
#include "core/errors.hpp"
#include "history/codes.hpp"
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

// format_fixed must give printf's text byte for byte. Random bit patterns
// cover every magnitude; odd multiples of 2^-7 and 2^-11 are exact ties at
// the 6th and 10th decimal (rounded to even by printf); the rest are the
// edges: zeros of both signs, values that round to zero from below, the
// extremes of the range, infinities and NaNs of both signs.
TEST(FormatFixed, MatchesPrintfOnMillionsOfValues) {
    std::mt19937_64 gen(2024);
    long mismatches = 0;
    auto check = [&](double v) {
        for (auto [width, precision, fmt] : {std::tuple{0, 6, "%f"}, std::tuple{20, 10, "%20.10f"}}) {
            char want[occusim::kFixedMax];
            char got[occusim::kFixedMax];
            const int n = std::snprintf(want, sizeof want, fmt, v);
            const std::size_t len = occusim::format_fixed(got, v, width, precision);
            if (static_cast<std::size_t>(n) != len || std::memcmp(want, got, len) != 0) {
                if (++mismatches <= 5)
                    ADD_FAILURE() << std::hexfloat << v << ": printf '" << want << "', got '"
                                  << std::string(got, len) << "'";
            }
        }
    };
    for (int i = 0; i < 400000; i++) {
        std::uint64_t bits = gen();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        check(v);
        const double odd = static_cast<double>(2 * (gen() % 5000000) + 1);
        check(std::ldexp(odd, -7));
        check(-std::ldexp(odd, -11));
        // Counts as the models give them: a few sites to millions, any fraction.
        check(std::ldexp(static_cast<double>(gen() >> 11), -static_cast<int>(gen() % 70)));
    }
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double v : {0.0, -0.0, -1e-9, -4e-7, 5e-7, 4.9999999999e-7, 1.5e-6, 2.5e-6, 0.5, 1.5, 2.5, 1e15 + 0.5,
                     std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
                     std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min(), inf, -inf, nan,
                     -nan})
        check(v);
    EXPECT_EQ(mismatches, 0);
}

// A table of thousands of histories (many blocks of output) gives the lines a
// line-by-line printf rendering gives, in both writers and both run kinds.
TEST(Writers, LargeTablesMatchALineByLineRendering) {
    std::mt19937_64 gen(5);
    for (int expected = 0; expected < 2; expected++)
        for (int base4 = 0; base4 < 2; base4++) {
            const int n = base4 ? 7 : 14;
            const std::int64_t entries = std::int64_t{1} << 14;
            WriterRun w(n, static_cast<int>(entries));
            w.ctx.REMOVAL = 1;
            w.ctx.P0MISS = 1;
            w.ctx.pa[2] = 0;
            std::string lines;
            long long count = 0, total = 0;
            for (std::int64_t j = 0; j < entries; j++) {
                if (gen() % 3 == 0) continue;
                const double v = expected ? std::ldexp(static_cast<double>(gen() % 100000), -static_cast<int>(gen() % 20))
                                          : static_cast<double>(gen() % 4);
                w.ctx.nx.set(j, v);
                if (!(base4 ? v > 0 : v >= 1e-10)) continue;
                count++;
                char sym[64], num[64];
                std::string line;
                if (base4) {
                    occusim::base4rep(w.ctx, j, n, sym);
                    line = sym;
                } else {
                    occusim::binrep(w.ctx, j, n, sym);
                    for (int i = 0; i < n; i++) line += std::string(1, sym[i]) + "\t";
                }
                if (expected) {
                    std::snprintf(num, sizeof num, base4 ? "%f" : "%20.10f", v);
                    lines += line + num + "\n";
                } else {
                    for (int r = 0; r < static_cast<int>(v); r++) lines += line + "\n";
                    total += static_cast<long long>(v);
                }
            }
            const std::string header = std::to_string(expected ? count : total) + "\t" + std::to_string(n) + "\n";
            const std::string trailer = "0\n0\n" + std::to_string(n) + (base4 ? "\n" : ";0\n") +
                                        "simulated data from occusim8\n";
            EXPECT_EQ(status_of(base4 ? occusim::prnt_caphis2 : occusim::prnt_caphis, w.ctx, n, expected), 0);
            EXPECT_TRUE(w.file() == header + lines + trailer) << "expected " << expected << " base4 " << base4;
        }
}

} // namespace
