// Hands a prepared run to the model family its options chose.
#pragma once

#include "core/context.hpp"

namespace occusim {

// Runs the chosen model; every model ends the run by throwing.
[[noreturn]] void dispatch(Context &ctx, const Args &args);

// True when the run will go to single-species site-by-site simulation
// (SIMTYPE=2, or the hand-over of more than 16 surveys).
bool single_species_by_site(const Context &ctx);

// Refuses, before any file is opened, a data layout other than pao or csv and
// detection covariates for a run that cannot carry them.
void check_data_options(const Context &ctx);

} // namespace occusim
