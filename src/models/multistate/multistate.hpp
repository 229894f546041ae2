#pragma once

#include <cstdint>
#include <string>

#include "core/context.hpp"

namespace occusim {

// Multistate occupancy (psi/R parameterisation; NSTATES runs pass to the phi
// parameterisation). Ends the run.
[[noreturn]] void do_multistate_sim(Context &ctx, double N);

// Exact expected number of sites with each history of the psi/R model for N
// sites and the parameters in ctx (T = ctx.nper surveys, at most 9), computed
// over the tree of history prefixes: work and memory grow with the number of
// histories, not with the number of paths of states. Every history with a
// positive count goes to sink.history in the order of the history file, its
// codes separated by tabs as the file shows them. Applies the season closure
// and the unset-dlta rule to ctx as a run does (both may be repeated after
// changing parameters); prints nothing and writes no file. These are the
// expected counts themselves: a run's history file adds up its paths' counts
// rounded to six decimals, so the two agree only to about 1e-6 per path.
void ms_expected_histories(Context &ctx, double N, HistorySink &sink);

} // namespace occusim
