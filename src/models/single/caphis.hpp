#pragma once

#include <cstdint>

#include "core/context.hpp"

namespace occusim {

// Cohort recursion of the single-species model (with removal and false
// positives): follows the cohort of n sites with base-4 history `code` through
// survey k (from 1), occupancy state `occ` before that survey, and adds the
// final cohort sizes into the count table.
void caphis(Context &ctx, std::int64_t code, double n, int k, int occ);

} // namespace occusim
