#pragma once

#include <cstdint>
#include <string>

#include "core/context.hpp"

namespace occusim {

// Multistate occupancy with correlated detection (40 positional values).
[[noreturn]] void do_multistate_sim_corr(Context &ctx, const Args &argv);

} // namespace occusim
