// What the replicate machinery asks of the program that drives it: to run a
// replicate's command line as one whole run, to read a command line into a
// context without running it (a fit reads the replicate's design that way),
// the run record of a command line, to read and check one as a run would,
// and whether two argument names set the same option. The command line hands these in, so
// the batch layer runs replicates without reaching up to it.
#pragma once

#include <string>

#include "core/context.hpp"
#include "history/json_record.hpp"

namespace occusim {

struct Program {
    int (*execute)(Context &ctx, const Args &args) = nullptr;
    void (*read_command_line)(Context &ctx, const Args &args) = nullptr;
    Json (*run_metadata)(const Context &ctx, const Args &args) = nullptr;
    // Reads a command line into a context and makes the checks a run makes
    // before it simulates or writes anything (a grid point is refused so).
    void (*prepare_run)(Context &ctx, const Args &args) = nullptr;
    // Whether arguments named a and b set the same option.
    bool (*same_option)(const std::string &a, const std::string &b) = nullptr;
};

} // namespace occusim
