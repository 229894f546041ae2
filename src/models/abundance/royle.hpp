#pragma once

#include <cstdint>
#include <string>

#include "core/context.hpp"

namespace occusim {

// Royle-Nichols abundance model; writes its own layout and ends the run.
[[noreturn]] void do_royle(Context &ctx, int T, long seed, int nichols, int negbin, double ns);

} // namespace occusim
