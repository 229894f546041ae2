// The multistate history line shared by the multistate models and the
// integrated model: a decimal history code (one digit per survey, the first
// survey most significant) written as its survey digits separated by tabs,
// with the expected count after a further tab in expected-value mode; and the
// temporary history file the multistate models write these lines to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "core/context.hpp"

namespace occusim {

// Decimal history codes of this family hold at most this many surveys.
inline constexpr int kMaxMsSurveys = 9;

// Writes the multistate history line(s) of decimal history code `code` with
// count x to the temporary history file (fp2) and counts them in nout.
void print_mscaphis(Context &ctx, std::int64_t code, double x);

// Writes x as printf's "%f" would (six decimals) into buf, which has room
// characters, and returns the number of characters written (no NUL).
int format_count(char *buf, std::size_t room, double x);

// Refuses a multistate run whose T surveys do not fit a decimal history code.
void require_ms_surveys(int T);

// Opens `name` for writing. A file that cannot be opened ends the run with
// status 1 and "error opening <name>" in the error file.
std::FILE *open_for_writing(Context &ctx, const char *name);

// Closes the temporary history file (fp2), has the summariser write the
// history file of T-survey histories from it, prints `farewell` on the
// console and ends the run with status 0.
[[noreturn]] void summarise_ms_histories(Context &ctx, int T, const char *farewell);

// 10 to the power e (0 <= e <= 9): the place value of a survey's digit.
inline std::int64_t place_value(int e) {
    std::int64_t v = 1;
    for (int i = 0; i < e; i++) v *= 10;
    return v;
}

} // namespace occusim
