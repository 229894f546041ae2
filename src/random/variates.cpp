#include "random/variates.hpp"

#include <array>
#include <cfloat>
#include <cmath>

#include "core/errors.hpp"

namespace occusim {

namespace {

// A success probability of 0 or less would never end a geometric count.
void refuse_endless(double p) {
    if (p <= 0) input_error("geometric draw with success probability %g never ends", p);
}

// Adds to `n` the failures before the first success (uniform <= p); false,
// with the draw left unfinished, once `n` would pass `limit`.
bool add_failures(Rngs &rng, double p, int limit, int &n) {
    while (rng.Random() > p) {
        if (n == limit) return false;
        n++;
    }
    return true;
}

// Failures before the product of uniforms falls to `limit` (exp of minus the
// mean): one Poisson count.
int pois_product(Rngs &rng, double limit) {
    double product = 1.0;
    int count = 0;
    do {
        product *= rng.Random();
        count++;
    } while (product > limit);
    return count - 1;
}

} // namespace

// Number of failures before the first success; an endless count is refused,
// as is one that would pass `limit` (by default the range of the count).
int geom(Rngs &rng, double p, int limit) {
    refuse_endless(p);
    int n = 0;
    if (!add_failures(rng, p, limit, n))
        input_error("geometric draw with success probability %g passes %d failures", p, limit);
    return n;
}

// Negative binomial as a sum of ceil(a) geometric counts with success
// probability a / (a + mu); a sum that would pass `limit` is refused.
int negbin(Rngs &rng, double mu, double a, int limit) {
    if (a > kMaxNegbinSize)
        input_error("negative binomial draw with dispersion %g would take more than %g uniforms", a,
                    kMaxNegbinSize);
    double s = a / (a + mu);
    if (a > 0) refuse_endless(s);
    int total = 0;
    for (int i = 0; i < a; i++)
        if (!add_failures(rng, s, limit, total))
            input_error("negative binomial draw with mean %g and dispersion %g passes %d", mu, a, limit);
    return total;
}

// Poisson count by multiplying uniforms until the product falls to
// exp(-lambda). That limit, and every product above it, is a normal double
// only while lambda is at most -log(DBL_MIN), about 708.4: beyond it the limit
// loses precision among the subnormals and from about 745.1 it is 0, so that
// the count stalls near 745 whatever the mean. A larger mean is drawn as the
// sum of counts of equal parts no larger than kPoissonPart (a sum of
// independent Poisson counts is Poisson with the summed mean); means up to
// the point keep their single product and so their draws.
int pois(Rngs &rng, double lambda) {
    const double limit = std::exp(-lambda);
    if (!(limit < DBL_MIN)) return pois_product(rng, limit);
    if (!(lambda <= kMaxPoissonMean))
        input_error("Poisson draw with mean %g would take more than %g uniforms", lambda, kMaxPoissonMean);
    const double parts = std::ceil(lambda / kPoissonPart);
    const double part_limit = std::exp(-(lambda / parts));
    int count = 0;
    for (double i = 0; i < parts; i++) count += pois_product(rng, part_limit);
    return count;
}

double rand_norm(Rngs &rng) {
    double sum = 0.0;
    for (int i = 0; i < 12; i++) sum += rng.Random();
    return sum - 6.0;
}

namespace {

// 0! .. 170! (the largest finite one), each the running product 1 * 2 * ... * i
// in that order, so that a table entry is exactly the product a loop over i
// would give.
constexpr int kFactorials = 171;
constexpr std::array<double, kFactorials> make_factorials() {
    std::array<double, kFactorials> f{};
    f[0] = 1.0;
    for (int i = 1; i < kFactorials; i++)
        f[static_cast<std::size_t>(i)] = f[static_cast<std::size_t>(i - 1)] * i;
    return f;
}
constexpr std::array<double, kFactorials> kFactorial = make_factorials();

double factorial(int i) {
    return kFactorial[static_cast<std::size_t>(i)];
}

} // namespace

static_assert(BinomialPmf::kMaxTrials < kFactorials);

BinomialPmf::BinomialPmf(double p) {
    for (int i = 0; i <= kMaxTrials; i++) {
        success_[static_cast<std::size_t>(i)] = std::pow(p, i);
        failure_[static_cast<std::size_t>(i)] = std::pow(1 - p, i);
    }
}

double BinomialPmf::operator()(int k, int n) const {
    if (k > n) return 0.0;
    return success_[static_cast<std::size_t>(k)] * failure_[static_cast<std::size_t>(n - k)] * factorial(n) /
           factorial(k) / factorial(n - k);
}

double dbinom(int k, int n, double p) {
    if (k > n) return 0.0;
    if (k >= 0 && n < kFactorials)
        return std::pow(p, k) * std::pow(1 - p, n - k) * factorial(n) / factorial(k) / factorial(n - k);
    double fn = 1.0, fk = 1.0, fnk = 1.0;
    for (int i = 1; i <= n; i++) {
        fn *= i;
        if (i <= k) fk *= i;
        if (i <= n - k) fnk *= i;
    }
    return std::pow(p, k) * std::pow(1 - p, n - k) * fn / fk / fnk;
}

// For a large mean, lambda^k overflows while exp(-lambda) underflows; the
// product is then computed in logs, where the probability is well defined.
double dpois(int k, double lambda) {
    double v = std::pow(lambda, k) * std::exp(-lambda) / std::tgamma(k + 1.0);
    if (std::isfinite(v) || !(lambda > 0)) return v;
    return std::exp(k * std::log(lambda) - lambda - std::lgamma(k + 1.0));
}

// Mean mu, size a. For a large size (close to Poisson) the gamma functions
// overflow although the probability itself is small; it is then computed in
// logs.
double dnegbin(int k, double mu, double a) {
    double q = a / (mu + a);
    double v =
        std::tgamma(k + a) / std::tgamma(a) / std::tgamma(k + 1.0) * std::pow(q, a) * std::pow(1 - q, k);
    if (std::isfinite(v) || !(a > 0 && mu > 0)) return v;
    return std::exp(std::lgamma(k + a) - std::lgamma(a) - std::lgamma(k + 1.0) + a * std::log(q) +
                    k * std::log1p(-q));
}

} // namespace occusim
