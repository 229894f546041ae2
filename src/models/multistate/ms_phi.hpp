#pragma once

#include "core/context.hpp"

namespace occusim {

// Multistate occupancy, phi parameterisation (NSTATES states, transition and
// detection matrices per survey). Ends the run.
[[noreturn]] void do_multistate_sim2(Context &ctx, double N);

} // namespace occusim
