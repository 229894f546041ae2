// Two-species model with detections correlated from survey to survey through
// the availability of each species.
#pragma once

#include "core/context.hpp"
#include "models/twospecies/two_species.hpp"

namespace occusim {

// Runs the model (echo, then by cohort or site by site). The cohort form ends
// the run through the history writer; the site-by-site form writes and closes
// the history file itself and returns.
void do_two_sp_corr_det(Context &ctx);

// Expected-value form: puts the `neither` sites of `o` at the empty history
// and adds the expected number of sites of every history of the other three
// states into nx, by one walk over the tree of history prefixes. The counts
// are those of the cohort recursions below up to the rounding of their sums.
void corr_det_expected(Context &ctx, const TwoSpeciesOccupancy &o);

// Cohort recursions at survey d (from 1) for sites where only A is present
// (prevA: A available at the previous survey), only B is present (prevB), and
// both are present. A random group without sites is not followed (it would
// draw nothing); in expected-value runs every branch is.
void caphis2corrdetA(Context &ctx, int code, int d, int prevA, double n);
void caphis2corrdetBa(Context &ctx, int code, int d, int prevB, double n);
void caphis2corrdetBA(Context &ctx, int code, int d, int prevA, int prevB, double n);

} // namespace occusim
