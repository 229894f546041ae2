#pragma once

#include <cstdint>
#include <string>

#include "driver/context.hpp"

namespace occusim {

// Entry of the two-species family; returns only after site-by-site simulation.
void do_two_species(Context &ctx);

} // namespace occusim
