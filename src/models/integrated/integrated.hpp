#pragma once

#include <cstdint>
#include <string>

#include "core/context.hpp"

namespace occusim {

// Integrated occupancy-movement model with two areas. Ends the run.
[[noreturn]] void do_integrated_model_sim(Context &ctx, const Args &argv, int simtype);

} // namespace occusim
