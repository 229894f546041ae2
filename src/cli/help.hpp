// The option reference (--help / -h) and the version line (--version), both
// generated from the option table, and the same reference as Markdown for
// the README.
#pragma once

#include <cstdio>
#include <string>

#include "core/context.hpp"

namespace occusim {

// The program version (from the build).
const char *program_version();

// The option reference, grouped by model family.
std::string help_text();

// The option reference as Markdown tables, one per family.
std::string option_reference_markdown();

// Prints the reference or the version on ctx.out when the command line asks
// for it and returns true; false otherwise.
bool answer_help_or_version(Context &ctx, const Args &args);

} // namespace occusim
