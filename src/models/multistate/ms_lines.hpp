#pragma once

#include <cstdint>

#include "driver/context.hpp"

namespace occusim {

// Writes the multistate history line(s) of decimal history code `code` with
// count x to the temporary history file (fp2) and counts them in nout.
void print_mscaphis(Context &ctx, std::int64_t code, double x);

} // namespace occusim
