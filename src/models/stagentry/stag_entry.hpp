#pragma once

#include <cstdint>
#include <string>

#include "driver/context.hpp"

namespace occusim {

// Staggered entry and departure. Ends the run.
[[noreturn]] void do_stag_entry_model_sim(Context &ctx, const Args &argv, const std::string &outfile);

} // namespace occusim
