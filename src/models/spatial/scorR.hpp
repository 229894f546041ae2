#pragma once

#include <cstdint>
#include <string>

#include "driver/context.hpp"

namespace occusim {

// Second spatial generator with its positional parameter block.
void caphis_scorR(Context &ctx, const Args &argv, int simtype);

} // namespace occusim
