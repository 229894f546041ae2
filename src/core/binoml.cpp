#include "core/binoml.hpp"

#include <cmath>

namespace occusim {

// Expected-value mode returns n*p for any p. Stochastic mode counts successes
// trial by trial for groups of up to 300 sites, uses a normal approximation
// (12 uniforms) for large groups with moderate p, and a Poisson count by
// exponential waiting times for large groups with extreme p. A binomial count
// lies in 0..n; the two approximations can stray past either end, which would
// put negative cohorts into the count table, so their result is held to 0..n
// after the draws (the uniforms drawn are exactly those of the approximation).
double binoml(Rngs &rng, int determ, double n, double p) {
    if (determ != 0 || p == 1.0 || p == 0.0) return n * p;
    if (!(p > 0.0)) return 0.0;
    double result;
    if (n <= 300) {
        int count = 0;
        for (int i = 1; i <= n; i++)
            if (rng.Random() <= p) count++;
        return count;
    }
    if (p >= 0.05 && p <= 0.95) {
        // z is the sum of the twelve uniforms, less 6 (in that order).
        double sum = 0.0;
        for (int i = 0; i < 12; i++) sum += rng.Random();
        double z = sum - 6.0;
        result = std::floor(std::sqrt(n * p * (1 - p)) * z + n * p + 0.5);
    } else {
        double q = p <= 0.9 ? p : 1 - p;
        double total = 0.0;
        // Counted in 64 bits: a group of tens of billions of sites draws more
        // uniforms than an int can count.
        long long drawn = 0;
        while (total >= -n * q) {
            total += std::log(rng.Random());
            drawn++;
        }
        double count = static_cast<double>(drawn - 1);
        result = p <= 0.9 ? count : n - count;
    }
    if (result < 0) result = 0;
    if (result > n) result = n;
    return result;
}

} // namespace occusim
