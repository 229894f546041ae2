// What the replicate machinery asks of the program that drives it: to run a
// replicate's command line as one whole run, to read a command line into a
// context without running it (a fit reads the replicate's design that way),
// and the run record of a command line. The command line hands these in, so
// the batch layer runs replicates without reaching up to it.
#pragma once

#include "core/context.hpp"
#include "history/json_record.hpp"

namespace occusim {

struct Program {
    int (*execute)(Context &ctx, const Args &args) = nullptr;
    void (*read_command_line)(Context &ctx, const Args &args) = nullptr;
    Json (*run_metadata)(const Context &ctx, const Args &args) = nullptr;
};

} // namespace occusim
