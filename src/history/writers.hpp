// The two writers that turn the count table into the history file and end the
// run: prnt_caphis for base-2 codes, prnt_caphis2 for base-4 codes.
#pragma once

#include <cstdio>

namespace occusim {

struct Context;

// Writes the history file from base-2 codes of n bits, closes fp2 then fp and
// ends the run with status 0. expected != 0 writes each history once with its
// frequency ("%20.10f"); otherwise a history seen c times is written c times.
[[noreturn]] void prnt_caphis(Context &ctx, int n, int expected);
// The same for base-4 codes of n digits ("%f" frequencies, no ';' field);
// closes fp then fp2.
[[noreturn]] void prnt_caphis2(Context &ctx, int n, int expected);
// "0\n0\n" then the surveys-per-season list "%d,%d,..." of the first nseasns
// seasons, with the first entry clamped to n.
void write_season_trailer(Context &ctx, std::FILE *f, int n);

} // namespace occusim
