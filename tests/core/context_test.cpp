// The run context as a run finds it: vector defaults, and the multistate
// tables that come into being only when a run reaches them.
#include <gtest/gtest.h>

#include "core/context.hpp"

using occusim::Context;
using occusim::kStorage;
using occusim::kVecLen;

namespace {

// Unwritten tables read as full-length zeros; writing one brings only that
// one into being, keeps its own values and leaves the others alone (eta
// shares psiMS's storage).
TEST(StateTables, ReadAsZerosUntilWrittenAndKeepWhatIsWritten) {
    Context ctx;
    const Context &cc = ctx;
    EXPECT_EQ(cc.pMS[2][3].size(), static_cast<std::size_t>(kStorage));
    EXPECT_EQ(cc.pMS[2][3][kStorage - 1], 0.0);
    EXPECT_FALSE(ctx.pMS.allocated(2, 3));

    ctx.pMS[2][3][7] = 0.25;
    ctx.eta(1, 0)[kStorage - 1] = 0.5;
    EXPECT_EQ(cc.pMS[2][3][7], 0.25);
    EXPECT_EQ(cc.psiMS[1][0][kStorage - 1], 0.5);
    EXPECT_EQ(&cc.pMS[2][3], &ctx.pMS[2][3]);
    EXPECT_EQ(ctx.pMS[2][3].size(), static_cast<std::size_t>(kStorage));
    int in_being = 0;
    for (int i = 0; i < occusim::kMaxStates; i++)
        for (int j = 0; j < occusim::kMaxStates; j++)
            in_being += ctx.pMS.allocated(i, j) + ctx.psiMS.allocated(i, j);
    EXPECT_EQ(in_being, 2);
}

// Code that takes the whole square sees every table at full length, with the
// values written before.
TEST(StateTables, WholeSquareHasEveryTableInBeing) {
    Context ctx;
    ctx.psiMS[0][1][3] = 0.75;
    occusim::StateTables::Array &all = ctx.psiMS;
    for (const auto &row : all)
        for (const auto &table : row) EXPECT_EQ(table.size(), static_cast<std::size_t>(kStorage));
    EXPECT_EQ(all[0][1][3], 0.75);
    all[5][5][0] = 1;
    EXPECT_EQ(ctx.psiMS[5][5][0], 1.0);
}

TEST(Context, VectorDefaultsCoverTheNominalLengthOnly) {
    Context ctx;
    ctx.pa[kVecLen] = 9;
    ctx.set_vector_defaults();
    EXPECT_EQ(ctx.pa[0], -1.0);
    EXPECT_EQ(ctx.pa[kVecLen - 1], -1.0);
    EXPECT_EQ(ctx.pa[kVecLen], 9.0);
    EXPECT_EQ(ctx.thB[1][0][kVecLen - 1], 1.0);
    EXPECT_EQ(ctx.thA[1][0], 1.0);
    EXPECT_EQ(ctx.dlta[5], -1.0);
    EXPECT_EQ(ctx.psiB[5], -1.0);
    EXPECT_EQ(ctx.gam[5], 0.0);
    EXPECT_EQ(ctx.SRVYPERSEASN[kVecLen - 1], 0);
    EXPECT_EQ(ctx.thB[0][0][kVecLen], 0.0);
}

} // namespace
