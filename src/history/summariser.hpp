#pragma once

#include "core/context.hpp"

namespace occusim {

// Turns the temporary history file "occusim.tmp" into the history file:
// sorts the lines, collapses equal histories (frequency at character position
// frqcol, or 1 each when frqcol is 0) and writes outfile. Returns.
void smrz_pao(Context &ctx, int frqcol);

} // namespace occusim
