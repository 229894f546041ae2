// The multistate history line: layout, copies in stochastic mode, the LIST
// echo, and the survey limit of the decimal history code.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/errors.hpp"
#include "models/multistate/ms_lines.hpp"
#include "support/cli.hpp"

namespace {

using occusim::Context;
using occusim::testing::read_stream;

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

} // namespace
