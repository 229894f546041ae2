// Multiplicative (Lehmer) uniform generator, modulus 2^31-1 and multiplier
// 48271, run as 256 streams whose start states are 22925-fold jumps apart.
// Every random decision of every model draws from the current stream.
#pragma once

#include <cstdint>
#include <cstdio>

namespace occusim {

class Rngs {
  public:
    static constexpr std::int64_t MODULUS = 2147483647;
    static constexpr std::int64_t MULTIPLIER = 48271;
    static constexpr int STREAMS = 256;
    static constexpr std::int64_t A256 = 22925;
    static constexpr std::int64_t DEFAULT = 123456789;
    static constexpr std::int64_t CHECK = 399268537;

    Rngs();

    // Uniform on the open interval (0, 1); advances the current stream.
    double Random();
    void PlantSeeds(long x);
    void PutSeed(long x);
    void GetSeed(long *x) const { *x = static_cast<long>(seed_[stream_]); }
    void SelectStream(int index);
    // The seed stream 0 was last planted with, as used (a clock or prompted
    // seed resolved, a large one reduced); 0 before any planting.
    long planted_seed() const { return planted_; }
    // Self-check; prints its verdict on the prompt stream.
    void TestRandom();

    // Streams for the interactive seed prompt (a seed of 0).
    std::FILE *prompt_out = stdout;
    std::FILE *prompt_in = stdin;
    // Number of uniforms drawn so far (all streams); for draw-count checks.
    std::uint64_t draws = 0;

  private:
    long prompt_for_seed();
    std::int64_t seed_[STREAMS];
    int stream_ = 0;
    int initialized_ = 0;
    long planted_ = 0;
};

} // namespace occusim
