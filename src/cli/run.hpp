// The run driver: defaults, the argument passes, the season layout, seeding,
// the parameter echo and the dispatch to exactly one model.
#pragma once

#include "batch/program.hpp"
#include "core/context.hpp"

namespace occusim {

// Runs the program on the command line `args` (entry 0 is the program name)
// and returns the exit status. Every way a run can end is caught here: a
// finished run, a refused input (one line on ctx.err) or exhausted memory.
int execute(Context &ctx, const Args &args);

// The program as the replicate machinery sees it: execute, read_command_line
// and the run record of cli/metadata.
Program command_line_program();

// The build stamp the banner line shows after the version.
inline constexpr const char *kBuildStamp = "180607.2051";

// The first part of a run: defaults, the banner, the argument passes (with
// their echo on ctx.out), the season layout and the checks of the design;
// nothing is seeded, simulated or written. Internal evaluations of a model
// (design evaluation, fitting) prepare their own contexts with it.
void read_command_line(Context &ctx, const Args &args);

// read_command_line and the checks a run makes before it seeds, simulates or
// writes anything: the study refusals, the grid and batch options.
void prepare_run(Context &ctx, const Args &args);

// The usage text printed for fewer than four arguments.
extern const char *const kUsageText;

} // namespace occusim
