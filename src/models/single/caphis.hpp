#pragma once

#include <cstdint>

#include "core/context.hpp"

namespace occusim {

// Single-species model (with removal and false positives) by cohort: follows
// the cohort of n sites with base-4 history `code` through survey k (from 1),
// occupancy state `occ` before that survey, and adds the final cohort sizes
// into the count table. Expected values come from the forward pass over
// history prefixes; stochastic runs walk the cohorts.
void caphis(Context &ctx, std::int64_t code, double n, int k, int occ);
// The same, walking every cohort (every sequence of hidden states) on its
// own: the form stochastic runs draw in, and the reference for the pass.
void caphis_walk(Context &ctx, std::int64_t code, double n, int k, int occ);

} // namespace occusim
