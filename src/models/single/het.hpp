#pragma once

#include <cstdint>
#include <string>

#include "core/context.hpp"

namespace occusim {

// Two-class detection mixture by cohort (base-2 codes).
void caphis_het(Context &ctx, std::int64_t code, int k, int occupied, int cls, double n);

} // namespace occusim
