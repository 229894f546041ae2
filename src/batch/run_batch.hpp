// Runs the replicate batch a command line asks for (REPS=n).
#pragma once

#include "batch/program.hpp"
#include "core/context.hpp"

namespace occusim {

// Runs the batch configured in ctx (called by the run driver after the
// parse pass and the echo) and returns the exit status.
int run_batch(Context &ctx, const Args &args, const Program &program);

} // namespace occusim
