// Two-species model over several seasons: the joint occupancy state of a site
// changes between consecutive surveys by colonisation and extinction.
#pragma once

#include "core/context.hpp"
#include "models/twospecies/two_species.hpp"

namespace occusim {

// Runs the model. The cohort form ends the run through the history writer; the
// site-by-site form writes the history file, closes the second stream and
// returns (the caller ends the run).
void do_two_species_multiseason(Context &ctx);

// Expected-value form: adds the expected number of sites of every history
// into nx, by one walk over the tree of history prefixes. The counts are those
// of the cohort recursion below up to the rounding of their sums.
void seasons_expected(Context &ctx, const TwoSpeciesOccupancy &o);

// Probabilities of the change after survey j (from 0) for a site in joint
// state `state` (0 neither, 1 A only, 2 B only, 3 both): A present after the
// change, and B present after it among the sites with and without A then.
struct StateChange {
    double pA_after, pB_with, pB_without;
};
StateChange state_change(const Context &ctx, int state, int j);

// Detection at survey d (from 1) for n sites in joint state `state`
// (0 neither, 1 A only, 2 B only, 3 both) with base-4 history `code` so far.
void ms2caphis(Context &ctx, int state, int code, int d, double n);
// The change of state after survey d for such a cohort.
void ms2srv(Context &ctx, int state, int code, int d, double n);

} // namespace occusim
