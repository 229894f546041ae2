// The two writers that turn the count table into the history file and end the
// run: prnt_caphis for base-2 codes, prnt_caphis2 for base-4 codes.
#pragma once

#include <cstddef>
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

// Room format_fixed needs: the longest double in fixed notation with up to 20
// decimals, a sign and padding to a width of at most 40.
inline constexpr std::size_t kFixedMax = 400;
// Writes v into out as printf's "%*.*f" with this width and precision would
// (precision at most 20, width at most 40), without a terminating NUL;
// returns the number of characters.
std::size_t format_fixed(char *out, double v, int width, int precision);

} // namespace occusim
