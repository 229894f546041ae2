// History codes and their text. Base-2 codes hold one bit per survey, base-4
// codes one digit 0..3 per survey; the first survey is the most significant.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace occusim {

struct Context;

// n characters, one per survey ('.' for a survey with p <= 0 under P0MISS).
void binrep(const Context &ctx, std::int64_t code, int n, char *buffer);
// 2n characters: each survey's symbol followed by a tab ('-' after the first
// '1' of a removal design).
void base4rep(const Context &ctx, std::int64_t code, int n, char *buffer);

// The survey part of history lines for a run of codes: each survey's symbol
// followed by a tab (2n characters), the symbols of binrep (bits_per_survey
// 1) or base4rep (2). Only the surveys from the first one whose digit differs
// from the previous code's are rewritten, so a walk in increasing order costs
// little more than its last survey or two per line.
class HistoryText {
  public:
    HistoryText(const Context &ctx, int n, int bits_per_survey);
    std::string_view of(std::int64_t code);

  private:
    int n_;
    int bits_;
    bool removal_;          // a 0 after the first 1 shows as '-' (base 4 only)
    std::vector<char> missing_; // survey shown as '.'
    std::string text_;
    std::string none_;      // symbol of a 0 digit at each survey, given the surveys before
    std::int64_t last_ = -1;
};

} // namespace occusim
