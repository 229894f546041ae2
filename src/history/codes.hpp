// History codes and their text. Base-2 codes hold one bit per survey, base-4
// codes one digit 0..3 per survey; the first survey is the most significant.
#pragma once

#include <cstdint>

namespace occusim {

struct Context;

// n characters, one per survey ('.' for a survey with p <= 0 under P0MISS).
void binrep(const Context &ctx, std::int64_t code, int n, char *buffer);
// 2n characters: each survey's symbol followed by a tab ('-' after the first
// '1' of a removal design).
void base4rep(const Context &ctx, std::int64_t code, int n, char *buffer);

} // namespace occusim
