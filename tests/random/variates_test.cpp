// Random variates and probability functions: each variate is replayed draw by
// draw against an independent Lehmer sequence, and the mass functions are
// checked against closed forms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/errors.hpp"
#include "core/rngs.hpp"
#include "random/variates.hpp"
#include "support/replay.hpp"

using occusim::Rngs;
using occusim::testing::Lehmer;

namespace {

Rngs seeded(long seed) {
    Rngs r;
    r.SelectStream(0);
    r.PutSeed(seed);
    return r;
}

TEST(Pois, ZeroMeanDrawsOneUniformAndReturnsZero) {
    Rngs r = seeded(12345);
    EXPECT_EQ(occusim::pois(r, 0.0), 0);
    EXPECT_EQ(r.draws, 1u);
}

TEST(Pois, ReturnsZeroWhenFirstUniformIsAtOrBelowExpMinusLambda) {
    // Seed 1: the first uniform is 48271 / (2^31 - 1), far below exp(-2).
    Rngs r = seeded(1);
    EXPECT_EQ(occusim::pois(r, 2.0), 0);
    EXPECT_EQ(r.draws, 1u);
}

TEST(Pois, CountsUniformsUntilTheProductFallsToExpMinusLambda) {
    for (long seed : {99L, 4242L, 777777L}) {
        Rngs r = seeded(seed);
        Lehmer l{seed};
        for (int rep = 0; rep < 50; rep++) {
            double limit = std::exp(-4.5), product = 1.0;
            int expected = -1;
            do {
                product *= l.next();
                expected++;
            } while (product > limit);
            std::uint64_t before = r.draws;
            EXPECT_EQ(occusim::pois(r, 4.5), expected);
            EXPECT_EQ(r.draws - before, static_cast<std::uint64_t>(expected) + 1);
        }
    }
}

// Up to -log(DBL_MIN), about 708.4, exp(-lambda) and every product above it
// are normal doubles: those means keep the single product, uniform for
// uniform, on either generator.
TEST(Pois, MeansUpToTheNormalRangeKeepTheSingleProduct) {
    for (bool philox : {false, true})
        for (double lambda : {37.5, 700.0, 708.0, 708.39}) {
            Rngs r = seeded(4711), replay = seeded(4711);
            if (philox) {
                r.UsePhilox(1);
                replay.UsePhilox(1);
            }
            for (int rep = 0; rep < 20; rep++) {
                double product = 1.0;
                int expected = -1;
                do {
                    product *= replay.Random();
                    expected++;
                } while (product > std::exp(-lambda));
                EXPECT_EQ(occusim::pois(r, lambda), expected) << lambda;
                EXPECT_EQ(r.draws, replay.draws);
            }
        }
}

// Beyond that point a single product stalls near 745 whatever the mean; the
// draw is a sum of parts instead, with the mean and variance of the whole.
TEST(Pois, LargeMeansHaveTheirMeanAndVariance) {
    for (double lambda : {708.5, 1000.0, 5000.0, 20000.0}) {
        Rngs r = seeded(2718);
        const int n = 2000;
        double sum = 0, sum2 = 0;
        for (int i = 0; i < n; i++) {
            const double x = occusim::pois(r, lambda);
            sum += x;
            sum2 += x * x;
        }
        const double mean = sum / n, var = sum2 / n - mean * mean;
        EXPECT_NEAR(mean, lambda, 4 * std::sqrt(lambda / n)) << lambda;
        // The sample variance of n Poisson counts has sd about lambda * sqrt(2 / n).
        EXPECT_NEAR(var, lambda, 4 * lambda * std::sqrt(2.0 / n)) << lambda;
    }
}

TEST(Geom, CountsFailuresBeforeTheFirstUniformAtOrBelowP) {
    Rngs r = seeded(2024);
    Lehmer l{2024};
    for (int rep = 0; rep < 100; rep++) {
        int expected = 0;
        while (l.next() > 0.3) expected++;
        EXPECT_EQ(occusim::geom(r, 0.3), expected);
    }
    EXPECT_EQ(l.x, [&] {
        long x;
        r.GetSeed(&x);
        return static_cast<std::int64_t>(x);
    }());
}

TEST(Geom, SuccessProbabilityZeroIsRefusedInsteadOfDrawingForever) {
    Rngs r = seeded(5);
    EXPECT_THROW(occusim::geom(r, 0.0), occusim::InputError);
    EXPECT_THROW(occusim::geom(r, -0.5), occusim::InputError);
    EXPECT_EQ(r.draws, 0u);
}

TEST(Negbin, NonIntegerSizeSumsCeilingManyGeometricDraws) {
    // negbin(mu, 2.5) is the sum of three geometric counts with success
    // probability 2.5 / (2.5 + mu).
    const double mu = 4.0, s = 2.5 / (2.5 + mu);
    Rngs a = seeded(31337), b = seeded(31337);
    for (int rep = 0; rep < 40; rep++) {
        int sum = occusim::geom(b, s) + occusim::geom(b, s) + occusim::geom(b, s);
        EXPECT_EQ(occusim::negbin(a, mu, 2.5), sum);
        EXPECT_EQ(a.draws, b.draws);
    }
    Rngs c = seeded(8);
    EXPECT_EQ(occusim::negbin(c, 3.0, 0.0), 0); // no terms, no draws
    EXPECT_EQ(c.draws, 0u);
}

// A count past the range of int would overflow; the draws refuse to pass a
// limit instead (the range of int unless given), and counts up to it stand.
TEST(Negbin, CountsThatWouldPassTheLimitAreRefused) {
    Rngs r = seeded(77);
    EXPECT_THROW(occusim::geom(r, 1e-9, 10), occusim::InputError);
    EXPECT_THROW(occusim::negbin(r, 1e9, 2.0, 10), occusim::InputError);
    Rngs a = seeded(12), b = seeded(12);
    for (int rep = 0; rep < 40; rep++) {
        int n = occusim::negbin(a, 4.0, 2.0);
        EXPECT_EQ(occusim::negbin(b, 4.0, 2.0, n), n); // exactly at the limit
    }
    // Draws that would cost more than 10^8 uniforms (a Poisson count about
    // its mean, a negative binomial at least its size) are refused before any
    // is drawn.
    Rngs big = seeded(9);
    EXPECT_THROW(occusim::negbin(big, 2.0, 2147483647.0), occusim::InputError);
    EXPECT_THROW(occusim::pois(big, 1.5e8), occusim::InputError);
    EXPECT_THROW(occusim::pois(big, HUGE_VAL), occusim::InputError);
    EXPECT_EQ(big.draws, 0u);
    try {
        Rngs c = seeded(3);
        occusim::negbin(c, 1e9, 0.5, 100);
        ADD_FAILURE() << "no refusal";
    } catch (const occusim::InputError &e) {
        EXPECT_STREQ(e.what(), "negative binomial draw with mean 1e+09 and dispersion 0.5 passes 100");
    }
}

TEST(RandNorm, IsTwelveUniformsMinusSix) {
    Rngs r = seeded(606);
    Lehmer l{606};
    for (int rep = 0; rep < 20; rep++) {
        double sum = 0;
        for (int i = 0; i < 12; i++) sum += l.next();
        EXPECT_EQ(occusim::rand_norm(r), sum - 6.0);
    }
    EXPECT_EQ(r.draws, 240u);
}

TEST(Variates, LargeSamplesHaveTheirTheoreticalMeans) {
    Rngs r = seeded(424242);
    const int n = 20000;
    double sp = 0, sn = 0, sn2 = 0, sz = 0, sz2 = 0;
    for (int i = 0; i < n; i++) {
        sp += occusim::pois(r, 3.0);
        double x = occusim::negbin(r, 2.0, 3.0);
        sn += x;
        sn2 += x * x;
        double z = occusim::rand_norm(r);
        sz += z;
        sz2 += z * z;
    }
    // Poisson(3): sd of the mean sqrt(3/n); negative binomial with mean 2 and
    // size 3: variance 2 + 4/3; the sum of 12 uniforms minus 6 has variance 1.
    EXPECT_NEAR(sp / n, 3.0, 4 * std::sqrt(3.0 / n));
    double mn = sn / n;
    EXPECT_NEAR(mn, 2.0, 4 * std::sqrt((2.0 + 4.0 / 3.0) / n));
    EXPECT_NEAR(sn2 / n - mn * mn, 2.0 + 4.0 / 3.0, 0.15);
    EXPECT_NEAR(sz / n, 0.0, 4 * std::sqrt(1.0 / n));
    EXPECT_NEAR(sz2 / n, 1.0, 0.05);
}

TEST(Dbinom, ClosedFormsAndCountsAboveTheTrials) {
    EXPECT_EQ(occusim::dbinom(3, 2, 0.5), 0.0);
    EXPECT_DOUBLE_EQ(occusim::dbinom(1, 2, 0.5), 0.5);
    EXPECT_DOUBLE_EQ(occusim::dbinom(2, 4, 0.3), 6 * 0.09 * 0.49);
    EXPECT_DOUBLE_EQ(occusim::dbinom(0, 0, 0.7), 1.0);
    double total = 0;
    for (int k = 0; k <= 100; k++) total += occusim::dbinom(k, 100, 0.37);
    EXPECT_NEAR(total, 1.0, 1e-12);
}

// The factorials come from a table; every value must be the one the running
// products give, bit for bit, since expected-value files print them.
TEST(Dbinom, FactorialTableGivesTheRunningProductsBitForBit) {
    auto by_loop = [](int k, int n, double p) {
        if (k > n) return 0.0;
        double fn = 1.0, fk = 1.0, fnk = 1.0;
        for (int i = 1; i <= n; i++) {
            fn *= i;
            if (i <= k) fk *= i;
            if (i <= n - k) fnk *= i;
        }
        return std::pow(p, k) * std::pow(1 - p, n - k) * fn / fk / fnk;
    };
    for (double p : {0.0, 1e-3, 0.37, 0.5, 0.999, 1.0, -0.2, 1.7})
        for (int n = -3; n <= 200; n++)
            for (int k = -3; k <= n + 1; k++) {
                double a = occusim::dbinom(k, n, p), b = by_loop(k, n, p);
                EXPECT_TRUE(std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b)))
                    << "k=" << k << " n=" << n << " p=" << p;
            }
}

TEST(Dbinom, CachedPowersGiveDbinomBitForBit) {
    for (double p : {0.0, 1e-3, 0.37, 0.5, 0.999, 1.0, -0.2, 1.7}) {
        const occusim::BinomialPmf pmf(p);
        for (int n = 0; n <= occusim::BinomialPmf::kMaxTrials; n++)
            for (int k = 0; k <= n + 1; k++) {
                double a = pmf(k, n), b = occusim::dbinom(k, n, p);
                EXPECT_TRUE(std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b)))
                    << "k=" << k << " n=" << n << " p=" << p;
            }
    }
}

TEST(Dpois, ClosedFormAndTotalMass) {
    EXPECT_DOUBLE_EQ(occusim::dpois(0, 1.5), std::exp(-1.5));
    EXPECT_DOUBLE_EQ(occusim::dpois(2, 1.5), 1.125 * std::exp(-1.5));
    double total = 0;
    for (int k = 0; k <= 100; k++) total += occusim::dpois(k, 7.0);
    EXPECT_NEAR(total, 1.0, 1e-12);
}

TEST(Dnegbin, SizeOneIsGeometricAndMassSumsToOne) {
    // Size 1, mean 3: q = 1/4, P(k) = q (1-q)^k.
    for (int k = 0; k < 6; k++) EXPECT_NEAR(occusim::dnegbin(k, 3.0, 1.0), 0.25 * std::pow(0.75, k), 1e-14);
    double total = 0, mean = 0;
    for (int k = 0; k <= 100; k++) {
        double w = occusim::dnegbin(k, 2.0, 2.5);
        total += w;
        mean += k * w;
    }
    EXPECT_NEAR(total, 1.0, 1e-10);
    EXPECT_NEAR(mean, 2.0, 1e-8);
}

} // namespace
