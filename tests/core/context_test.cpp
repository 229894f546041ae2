// The run context as a run finds it: vector defaults, the multistate tables
// that come into being only when a run reaches them, and the seeding of
// expected-value runs that a model simulates instead.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/context.hpp"
#include "support/cli.hpp"

using occusim::Args;
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

// Expected-value runs that their model simulates instead: the abundance model
// beyond its expected form, and designs of more than 16 surveys handed over to
// site-by-site simulation. A given seed is honoured as in a stochastic run
// (same data as with STOCH; under Philox, replicate 1 of a batch); without one
// the generator's default state (seed 123456789) is used and named.
TEST(SimulatedInstead, DrawsFromTheSeedGivenOrNamesTheDefault) {
    using occusim::testing::run_cli;
    using occusim::testing::with;
    const std::string default_state = "occusim8: warning: this run draws from the generator's default state (seed "
                                      "123456789); give SEED=n to choose another\n";
    const std::string one_data_set = "occusim8: warning: expected values are computed for at most 16 surveys "
                                     "(this design has 17); this run simulates one random data set site by "
                                     "site instead\n";
    struct Path {
        const char *name;
        Args args;
        bool needs_seed; // without a seed the run takes its expected form
        std::string warning;
    };
    const std::vector<Path> paths = {
        {"abundance, three surveys", {"T=3", "N=50", "ROYLE", "Lambda=1.5", "r=.3"}, false, ""},
        {"abundance, two surveys", {"T=2", "N=50", "Lambda=2", "r=.3"}, true, ""},
        {"beyond 16 surveys", {"T=17", "N=30", "psi=.5", "p=.3"}, false, one_data_set},
        {"beyond 16 surveys, false positives", {"T=17", "N=30", "psi=.5", "p=.3", "p10=.1", "b=.5"}, false,
         one_data_set},
    };
    for (const Path &path : paths) {
        SCOPED_TRACE(path.name);
        const Args args = with(path.args, {"QUIET"});
        auto six = run_cli(with(args, {"SEED=6"}));
        ASSERT_EQ(six.status, 0) << six.err;
        EXPECT_EQ(six.err, path.warning);
        auto stoch = run_cli(with(args, {"SEED=6", "STOCH"}));
        EXPECT_EQ(six.pao(), stoch.pao());
        EXPECT_NE(six.pao(), run_cli(with(args, {"SEED=7"})).pao());

        auto single = run_cli(with(args, {"SEED=6", "RNG=philox"}));
        auto batch = run_cli(with(args, {"SEED=6", "REPS=2"}));
        ASSERT_EQ(batch.status, 0) << batch.err;
        EXPECT_EQ(single.pao(), batch.file("occusim_1.pao"));
        EXPECT_NE(single.pao(), six.pao());

        if (path.needs_seed) continue;
        for (const char *rng : {"RNG=lehmer", "RNG=philox"}) {
            auto unseeded = run_cli(with(args, {rng}));
            ASSERT_EQ(unseeded.status, 0);
            EXPECT_EQ(unseeded.err, path.warning + default_state);
            EXPECT_EQ(unseeded.pao(), run_cli(with(args, {rng, "SEED=123456789"})).pao());
        }
    }
}

} // namespace
