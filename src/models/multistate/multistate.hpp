#pragma once

#include <cstdint>
#include <string>

#include "core/context.hpp"

namespace occusim {

// Multistate occupancy (psi/R parameterisation; NSTATES runs pass to the phi
// parameterisation). Ends the run.
[[noreturn]] void do_multistate_sim(Context &ctx, double N);

} // namespace occusim
