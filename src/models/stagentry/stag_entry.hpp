#pragma once

#include <cstdint>
#include <string>

#include "core/context.hpp"

namespace occusim {

// Staggered entry and departure. Ends the run.
[[noreturn]] void do_stag_entry_model_sim(Context &ctx, const Args &argv, const std::string &outfile);

// Reads back the listing in `outfile` (ctx.nout lines, each history character
// followed by a tab, then the count), sums equal histories in the order of
// their first line and rewrites the file: the number of histories with a
// positive count and T, one line per history with two tabs before its count,
// and the season length L. A file that cannot be reopened ends the run with
// one line in "occusim.err" and status 1.
void rewrite_stag_listing(Context &ctx, const std::string &outfile, int T, int L);

} // namespace occusim
