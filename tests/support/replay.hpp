// Independent replays of the random generator, for checking a model's order
// of draws uniform by uniform.
#pragma once

#include <cstdint>

#include "core/rngs.hpp"

namespace occusim::testing {

// Stream 0 of the generator computed directly from a positive seed below
// 2^31-1: x <- 48271 x mod (2^31-1), counting the uniforms drawn.
struct Lehmer {
    std::int64_t x;
    std::uint64_t draws = 0;
    double next() {
        draws++;
        x = (48271 * x) % 2147483647;
        return static_cast<double>(x) / 2147483647.0;
    }
};

// A generator whose streams are planted from seed (stream 0 starts there).
inline Rngs planted(long seed) {
    Rngs r;
    r.PlantSeeds(seed);
    return r;
}

} // namespace occusim::testing
