// The binomial split: expected values, the three stochastic regimes and the
// exact number of uniforms each one draws.
#include <gtest/gtest.h>

#include <cmath>

#include "core/binoml.hpp"
#include "support/replay.hpp"

using occusim::binoml;
using occusim::Rngs;
using occusim::testing::planted;

namespace {

TEST(Binoml, ExpectedValueModeReturnsNTimesPWithoutDrawing) {
    Rngs r;
    EXPECT_DOUBLE_EQ(binoml(r, 1, 10, 0.25), 2.5);
    EXPECT_DOUBLE_EQ(binoml(r, 1, 10, -1), -10); // an unset survey's -1 acts as it falls
    EXPECT_EQ(r.draws, 0u);
}

TEST(Binoml, CertainAndImpossibleOutcomesDrawNothing) {
    Rngs r = planted(3);
    EXPECT_EQ(binoml(r, 0, 10, 1), 10);
    EXPECT_EQ(binoml(r, 0, 10, 0), 0);
    EXPECT_EQ(binoml(r, 0, 10, -1), 0);
    EXPECT_EQ(binoml(r, 0, 10, std::nan("")), 0);
    EXPECT_EQ(r.draws, 0u);
}

TEST(Binoml, SmallGroupsDrawOneUniformPerWholeTrial) {
    Rngs r = planted(11), replay = planted(11);
    double got = binoml(r, 0, 2.5, 0.5);
    EXPECT_EQ(r.draws, 2u);
    int expected = 0;
    for (int i = 0; i < 2; i++) expected += replay.Random() <= 0.5;
    EXPECT_EQ(got, expected);

    Rngs big = planted(11);
    binoml(big, 0, 300, 0.3);
    EXPECT_EQ(big.draws, 300u);
}

TEST(Binoml, LargeGroupsWithModerateProbabilityUseTwelveUniforms) {
    Rngs r = planted(5), replay = planted(5);
    double got = binoml(r, 0, 1000, 0.5);
    EXPECT_EQ(r.draws, 12u);
    double sum = 0;
    for (int i = 0; i < 12; i++) sum += replay.Random();
    EXPECT_EQ(got, std::floor(std::sqrt(1000 * 0.5 * 0.5) * (sum - 6) + 500 + 0.5));
}

TEST(Binoml, LargeGroupsWithExtremeProbabilityCountWaitingTimes) {
    // A first uniform below exp(-0.301) ends the count at 0 after one draw.
    Rngs r;
    r.PutSeed(1); // first uniform 48271/(2^31-1), far below exp(-0.301)
    EXPECT_EQ(binoml(r, 0, 301, 0.001), 0);
    EXPECT_EQ(r.draws, 1u);

    Rngs hi = planted(9), replay = planted(9);
    double got = binoml(hi, 0, 1000, 0.97);
    double total = 0;
    int drawn = 0;
    while (total >= -1000 * (1 - 0.97)) {
        total += std::log(replay.Random());
        drawn++;
    }
    EXPECT_EQ(got, 1000 - (drawn - 1));
    EXPECT_EQ(hi.draws, static_cast<unsigned>(drawn));
}

TEST(Binoml, StochasticCountsStayBetweenZeroAndTheGroupSize) {
    // The approximations can stray past 0 or n; a count of sites never does.
    Rngs r = planted(1);
    for (int i = 0; i < 20000; i++) {
        double n = 301 + (i % 50);
        for (double p : {0.05, 0.95, 0.999, 0.9999}) {
            double x = binoml(r, 0, n, p);
            ASSERT_GE(x, 0);
            ASSERT_LE(x, n);
        }
    }
}

TEST(Binoml, StochasticMeanMatchesExpectation) {
    Rngs r = planted(2024);
    double sum = 0;
    const int reps = 4000;
    for (int i = 0; i < reps; i++) sum += binoml(r, 0, 50, 0.3);
    double mean = sum / reps, se = std::sqrt(50 * 0.3 * 0.7 / reps);
    EXPECT_NEAR(mean, 15.0, 4 * se);
}

} // namespace
