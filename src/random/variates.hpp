// Random variates and probability mass functions of the abundance model and
// the standard-normal draw of the site covariates. All draws come from the
// current stream of the generator.
#pragma once

#include <array>
#include <climits>

#include "core/rngs.hpp"

namespace occusim {

// Poisson means above kPoissonPart are drawn in parts of at most that size;
// one draw costs about its mean in uniforms, so means beyond kMaxPoissonMean
// are refused, as are negative binomial sizes beyond kMaxNegbinSize (each
// unit of the size costs at least one uniform).
inline constexpr double kPoissonPart = 700;
inline constexpr double kMaxPoissonMean = 1e8;
inline constexpr double kMaxNegbinSize = 1e8;

// Counts that would pass `limit` end the run (see variates.cpp).
int geom(Rngs &rng, double p, int limit = INT_MAX);
int negbin(Rngs &rng, double mu, double a, int limit = INT_MAX);
int pois(Rngs &rng, double lambda);
double rand_norm(Rngs &rng);
double dbinom(int k, int n, double p);

// dbinom(k, n, p) for one p and many 0 <= k <= n <= kMaxTrials, with the
// powers of p and 1 - p computed once: every value is the one dbinom gives,
// bit for bit.
class BinomialPmf {
  public:
    static constexpr int kMaxTrials = 170;
    explicit BinomialPmf(double p);
    double operator()(int k, int n) const;

  private:
    std::array<double, kMaxTrials + 1> success_{}; // p^k
    std::array<double, kMaxTrials + 1> failure_{}; // (1 - p)^m
};
double dpois(int k, double lambda);
double dnegbin(int k, double mu, double a);

} // namespace occusim
