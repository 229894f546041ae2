// The multistate history line: layout, copies in stochastic mode, the LIST
// echo, the survey limit of the decimal history code, the count text, and the
// tally that writes the history file in the summariser's place.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "history/summariser.hpp"
#include "models/multistate/ms_lines.hpp"
#include "support/cli.hpp"
#include "support/history.hpp"
#include "support/prepared.hpp"

namespace {

using occusim::Context;
using occusim::testing::read_stream;
using occusim::testing::run_cli;

struct Lines : ::testing::Test {
    Context ctx;
    std::FILE *console = std::tmpfile();
    void SetUp() override {
        ctx.fp2 = std::tmpfile();
        ctx.out = console;
        ctx.num_srvys = 3;
    }
    void TearDown() override { std::fclose(console); }
};

TEST_F(Lines, ExpectedValueLineCarriesItsCount) {
    ctx.LIST = 1;
    occusim::print_mscaphis(ctx, 12, 12.5);
    occusim::print_mscaphis(ctx, 201, 0);
    occusim::print_mscaphis(ctx, 201, -1);
    EXPECT_EQ(read_stream(ctx.fp2), "0\t1\t2\t12.500000\n");
    EXPECT_EQ(read_stream(console), "MSCAPHIS:012 12.500000\n");
    EXPECT_EQ(ctx.nout, 1);
}

TEST_F(Lines, StochasticCountBecomesIdenticalLines) {
    ctx.determ = 0;
    occusim::print_mscaphis(ctx, 210, 2.5);
    occusim::print_mscaphis(ctx, 2, 1.4);
    EXPECT_EQ(read_stream(ctx.fp2), "2\t1\t0\n2\t1\t0\n2\t1\t0\n0\t0\t2\n");
    EXPECT_EQ(ctx.nout, 4);
}

TEST_F(Lines, SurveysBeyondTheCodeAreRefused) {
    ctx.num_srvys = 10;
    EXPECT_THROW(occusim::print_mscaphis(ctx, 1, 1.0), occusim::InputError);
    EXPECT_EQ(read_stream(ctx.fp2), "");
}

// The count text is printf's "%f" for every kind of value: ties at the sixth
// decimal, values around the rounding boundaries, huge, tiny, negative and
// non-finite ones.
TEST(CountText, IsPrintfsFixedSixDecimals) {
    std::mt19937_64 gen(5);
    std::vector<double> values = {0.0,
                                  -0.0,
                                  1.0 / 128,
                                  0.0000005,
                                  0.0000015,
                                  2.5e-7,
                                  1e300,
                                  -1e-300,
                                  123.4567885,
                                  1e15 + 0.5,
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN()};
    std::uniform_real_distribution<double> u(0, 1);
    for (int i = 0; i < 200000; i++) {
        const double scale = std::pow(10.0, static_cast<int>(gen() % 16) - 8);
        values.push_back(u(gen) * scale);
        // exactly halfway between two millionths where binary allows it
        values.push_back((static_cast<double>(gen() % 1000000) + 0.5) / 1048576.0);
    }
    for (double x : values) {
        char mine[400], theirs[400];
        const int n = occusim::format_count(mine, sizeof mine, x);
        std::snprintf(theirs, sizeof theirs, "%f", x);
        ASSERT_EQ(std::string(mine, static_cast<std::size_t>(n)), theirs) << x;
    }
}

// Random command lines of the three multistate models, expected and seeded
// stochastic, LIST and QUIET mixed in. The reference is the summariser run on
// the temporary file the run left: the tally must give the same history file,
// the same console lines and the same histories to the sink.
struct Commandlines {
    std::mt19937_64 gen{2026};
    std::string p(double scale = 1) {
        const unsigned r = static_cast<unsigned>(gen() % 1000);
        const double v = r < 100 ? 0.0 : r < 180 ? 1.0 : (r % 997) / 997.0;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.4f", v * scale);
        return buf;
    }
    std::string list(int n, double scale = 1) {
        std::string v;
        for (int k = 0; k < n; k++) v += (k ? "," : "") + p(scale);
        return v;
    }
    // One command line of model m (0 psi/R, 1 phi, 2 correlated detection).
    occusim::Args make(int m, int T) {
        occusim::Args a;
        const std::string N = std::to_string(1 + gen() % 3000) + "." + std::to_string(gen() % 100);
        if (m == 2) {
            a = {std::to_string(T), N};
            for (int i = 0; i < 3; i++) a.push_back(p(1.0 / 3));
            for (int i = 0; i < 9; i++) a.push_back(p(1.0 / 3));
            a.push_back(p());
            a.push_back(p());
            for (int i = 0; i < 6; i++) a.push_back(p(0.5));
            for (int i = 0; i < 12; i++) a.push_back(p(1.0 / 3));
            for (int i = 0; i < 3; i++) a.push_back(p(0.5));
            for (int i = 0; i < 3; i++) a.push_back(p(1.0 / 3));
            a.push_back("MSCD");
        } else if (m == 1) {
            const int S = 2 + static_cast<int>(gen() % 3);
            a = {"T=" + std::to_string(T), "N=" + N, "NSTATES=" + std::to_string(S),
                 "Psi=" + list(S - 1, 1.0 / S)};
            for (int r = 0; r < S; r++)
                for (int s = 1; s < S && T > 1; s++)
                    a.push_back("phi(" + std::to_string(r) + ";" + std::to_string(s) +
                                ")=" + list(T - 1, 1.0 / S));
            for (int i = 1; i < S; i++)
                for (int s = 0; s < S; s++)
                    a.push_back("p(" + std::to_string(i) + "," + std::to_string(s) + ")=" + list(T, 1.0 / S));
        } else {
            a = {"T=" + std::to_string(T),
                 "N=" + N,
                 "MULTISTATE",
                 "SPS=" + std::to_string(1 + gen() % T),
                 "psi0=" + p(),
                 "R0=" + p(),
                 "p1=" + list(T),
                 "p2=" + list(T)};
            if (gen() % 4) a.push_back("dlta=" + list(T));
            for (const char *n : {"Cpsi0", "Cpsi1", "Cpsi2", "cR0", "cR1", "cR2"})
                if (T > 1) a.push_back(std::string(n) + "=" + list(T - 1));
        }
        if (gen() % 3 == 0) {
            a.push_back("STOCH");
            a.push_back("SEED=" + std::to_string(1 + gen() % 50000));
        }
        if (gen() % 5 == 0) a.push_back("LIST");
        if (gen() % 2) a.push_back("QUIET");
        return a;
    }
};

struct Keep : occusim::HistorySink {
    std::vector<std::pair<std::string, double>> seen;
    void history(std::string_view fields, double count) override { seen.emplace_back(fields, count); }
};

TEST(MsTally, WritesWhatTheSummariserWritesFromTheTemporaryFile) {
    Commandlines cl;
    int stochastic = 0;
    for (int trial = 0; trial < 1002; trial++) {
        // Correlated detection has forty paths per survey: three surveys.
        const int m = trial % 3, T = 1 + (trial / 3) % (m == 0 ? 4 : 3);
        const occusim::Args args = cl.make(m, T);
        auto r = run_cli(args);
        ASSERT_EQ(r.status, 0) << r.err << " trial " << trial;
        occusim::testing::Prepared prep(args);
        Context &ctx = prep.ctx;
        if (ctx.determ == 0) stochastic++;
        std::FILE *console = std::tmpfile();
        ctx.out = console;
        ctx.workdir = r.dir;
        ctx.outfile = "ref.pao";
        ctx.num_srvys = T;
        Keep keep;
        ctx.sink = &keep;
        occusim::smrz_pao(ctx, 2 * T);
        const std::string summary = read_stream(console);
        std::fclose(console);
        ASSERT_EQ(r.pao(), r.file("ref.pao")) << "trial " << trial;
        // The summariser's console lines close the run's console.
        const std::string tail =
            summary + std::string(m == 0 ? "end of program(occusim8.exe)\n" : "end of program\n");
        ASSERT_GE(r.out.size(), tail.size());
        EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << "trial " << trial;
    }
    EXPECT_GT(stochastic, 300);
}

// Counts so large that the summariser's own floating-point sums could show in
// the sixth decimal, or too long for the tally to hold exactly: the history
// file is still the summariser's.
TEST(MsTally, HugeCountsStillGiveTheSummarisersFile) {
    for (const char *N : {"N=123456789.5", "N=3e12", "N=1e300"}) {
        const occusim::Args args = {"T=3",       "SPS=1",     "psi0=.61", "R0=.53",  "Cpsi0=.37",
                                    "Cpsi1=.83", "Cpsi2=.91", "cR0=.33",  "cR1=.29", "cR2=.7",
                                    "p1=.51",    "p2=.83",    "dlta=.47", "QUIET",   N};
        auto r = run_cli(args);
        ASSERT_EQ(r.status, 0);
        occusim::testing::Prepared prep(args);
        prep.ctx.workdir = r.dir;
        prep.ctx.outfile = "ref.pao";
        prep.ctx.num_srvys = 3;
        occusim::smrz_pao(prep.ctx, 6);
        EXPECT_EQ(r.pao(), r.file("ref.pao")) << N;
    }
}

// The sink sees the summariser's histories and counts (to the rounding of
// its floating-point sums).
TEST(MsTally, SinkSeesTheSummarisersHistories) {
    struct Run {
        Keep keep;
        std::string dir;
    };
    Commandlines cl;
    for (int trial = 0; trial < 60; trial++) {
        const occusim::Args args = cl.make(trial % 3, 3);
        auto r = run_cli(args);
        ASSERT_EQ(r.status, 0);
        // Summariser over the temporary file, and the tally over the same
        // lines read back.
        occusim::testing::Prepared a(args), b(args);
        a.ctx.workdir = b.ctx.workdir = r.dir;
        a.ctx.outfile = "a.pao";
        b.ctx.outfile = "b.pao";
        a.ctx.num_srvys = b.ctx.num_srvys = 3;
        Keep ka, kb;
        a.ctx.sink = &ka;
        b.ctx.sink = &kb;
        occusim::smrz_pao(a.ctx, 6);
        occusim::MsTally tally(b.ctx, 1);
        for (const auto &line : occusim::testing::lines_of(r.file("occusim.tmp"))) {
            std::int64_t code = 0;
            for (int k = 0; k < 3; k++) code = code * 10 + (line[2 * k] - '0');
            if (line.size() > 6)
                tally.add_text(code, line.c_str() + 6, static_cast<int>(line.size()) - 6, 0);
            else
                tally.add_copies(code, 1);
        }
        ASSERT_TRUE(tally.summarise(3));
        EXPECT_EQ(r.file("a.pao"), r.file("b.pao"));
        ASSERT_EQ(ka.seen.size(), kb.seen.size());
        for (std::size_t i = 0; i < ka.seen.size(); i++) {
            EXPECT_EQ(ka.seen[i].first, kb.seen[i].first);
            EXPECT_NEAR(ka.seen[i].second, kb.seen[i].second, 1e-12 * ka.seen[i].second);
        }
    }
}

} // namespace
