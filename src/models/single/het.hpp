#pragma once

#include <cstdint>
#include <string>

#include "core/context.hpp"

namespace occusim {

// Two-class detection mixture by cohort (base-2 codes): expected values by
// the forward pass over history prefixes, stochastic runs by the walk.
void caphis_het(Context &ctx, std::int64_t code, int k, int occupied, int cls, double n);
// The same, walking every cohort on its own (the reference for the pass).
void caphis_het_walk(Context &ctx, std::int64_t code, int k, int occupied, int cls, double n);

} // namespace occusim
