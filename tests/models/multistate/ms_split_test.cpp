// Division of a group among outcomes: expected products as written, and
// stochastic draws that always add up to the group with the right means.
#include <gtest/gtest.h>

#include <cmath>

#include "models/multistate/ms_split.hpp"

namespace {

using occusim::Context;
using occusim::OutcomeSplit;

TEST(OutcomeSplit, ExpectedValuesAreTheProductsAsWritten) {
    Context ctx;
    OutcomeSplit a(ctx, 10);
    EXPECT_DOUBLE_EQ(a.next(.3), 3);
    EXPECT_DOUBLE_EQ(a.next(.5), 5);
    EXPECT_DOUBLE_EQ(a.rest(), 2);
    // Probabilities adding up to more than 1 leave a negative remainder.
    OutcomeSplit b(ctx, 10);
    b.next(.7);
    b.next(.7);
    EXPECT_DOUBLE_EQ(b.rest(), -4);
    EXPECT_DOUBLE_EQ(b.left(), -4);
}

TEST(OutcomeSplit, StochasticOutcomesAddUpToTheGroup) {
    Context ctx;
    ctx.determ = 0;
    ctx.rng.PlantSeeds(17);
    double sums[3] = {0, 0, 0};
    const int groups = 2000;
    for (int g = 0; g < groups; g++) {
        OutcomeSplit over(ctx, 20);
        over.next(.7);
        over.next(.7);
        EXPECT_GE(over.rest(), 0);
        OutcomeSplit full(ctx, 20);
        full.next(.5);
        full.next(.5); // the last outcome takes all that is left
        EXPECT_EQ(full.rest(), 0);
        OutcomeSplit s(ctx, 100);
        sums[0] += s.next(.2);
        sums[1] += s.next(.3);
        sums[2] += s.next(.1);
    }
    // Each outcome keeps its binomial mean 100 p (4 standard errors).
    const double p[3] = {.2, .3, .1};
    for (int i = 0; i < 3; i++)
        EXPECT_NEAR(sums[i] / groups, 100 * p[i], 4 * std::sqrt(100 * p[i] * (1 - p[i]) / groups)) << i;
}

} // namespace
