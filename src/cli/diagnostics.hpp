// Advice on a command line before the run starts: names that match no
// option (with the closest known name), values that are not numbers, and
// probabilities outside 0..1. Warnings never change what a run writes; only
// STRICT turns them into an error.
#pragma once

#include <climits>

#include <string>
#include <string_view>
#include <vector>

#include "core/context.hpp"

namespace occusim {

struct ParsedArgument;
using CommandLine = std::vector<ParsedArgument>;

// The warnings for a whole command line (entry 0 is the program name), one
// text each, in argument order, without the "occusim8: warning: " lead.
std::vector<std::string> diagnose(const Args &args);
std::vector<std::string> diagnose(const CommandLine &line);

// Prints the warnings of `args` on ctx.err; when the command line asks for
// STRICT and there is any, ends the run with status 1 before anything is
// written.
void report_diagnostics(Context &ctx, const CommandLine &line);

// Ends a STRICT run that met `count` warnings.
[[noreturn]] void stop_strict(Context &ctx, std::size_t count);

// Levenshtein distance between two names; `limit` when it is at least
// `limit` (the work then stops as soon as that is certain).
int edit_distance(std::string_view a, std::string_view b, int limit = INT_MAX);

// The known option name closest to `name` within edit distance 2 ("" when
// none is that close, or only by changing every character); ties go to the
// row that applies first.
std::string closest_option(const std::string &name);

} // namespace occusim
