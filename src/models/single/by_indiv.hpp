#pragma once

#include <cstdint>
#include <string>

#include "core/context.hpp"

namespace occusim {

// Site-by-site simulation of the single-species model (with covariates,
// removal and false positives): simulates the integer part of n sites, writes
// the history file in its site-list form and ends the run.
[[noreturn]] void caphis_by_indiv(Context &ctx, double n);
// Called by the expected-value recursions before they hand a design too long
// for them (more than 16 surveys) to caphis_by_indiv: an expected-value run
// then simulates one random data set, says so, and draws from the seed given.
void hand_over_to_sites(Context &ctx);
// Occupancy probability of site i from the site covariates (gam[0] without).
double get_occ_with_covs(Context &ctx, int i);

} // namespace occusim
