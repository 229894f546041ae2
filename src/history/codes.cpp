#include "history/codes.hpp"

#include <algorithm>
#include <bit>

#include "core/context.hpp"

namespace occusim {

void binrep(const Context &ctx, std::int64_t code, int n, char *buffer) {
    int len = 0;
    for (int i = 0; i < n; i++) {
        std::int64_t mask = std::int64_t{1} << (n - 1 - i);
        if (ctx.pa[i] <= 0 && ctx.P0MISS > 0)
            buffer[len++] = '.';
        else
            buffer[len++] = (code & mask) ? '1' : '0';
    }
    buffer[len] = '\0';
}

void base4rep(const Context &ctx, std::int64_t code, int n, char *buffer) {
    static const char digits[] = {'0', '1', '2', '3'};
    char none = '0';
    int len = 0;
    for (int i = 0; i < n; i++) {
        if (ctx.pa[i] <= 0 && ctx.P0MISS > 0) {
            buffer[len++] = '.';
        } else {
            int digit = static_cast<int>((code >> (2 * (n - 1 - i))) & 3);
            if (digit == 0) {
                buffer[len++] = none;
            } else {
                buffer[len++] = digits[digit];
                if (digit == 1 && ctx.REMOVAL) none = '-';
            }
        }
        buffer[len++] = '\t';
    }
    buffer[len] = '\0';
}

HistoryText::HistoryText(const Context &ctx, int n, int bits_per_survey)
    : n_(std::max(n, 0)), bits_(bits_per_survey), removal_(bits_per_survey == 2 && ctx.REMOVAL),
      missing_(static_cast<std::size_t>(n_)), text_(2 * static_cast<std::size_t>(n_), '\t'),
      none_(static_cast<std::size_t>(n_) + 1, '0') {
    for (int i = 0; i < n_; i++) missing_[static_cast<std::size_t>(i)] = ctx.pa[i] <= 0 && ctx.P0MISS > 0;
}

std::string_view HistoryText::of(std::int64_t code) {
    int start = 0;
    if (last_ >= 0) {
        const auto diff = static_cast<std::uint64_t>(code ^ last_);
        if (diff == 0) return text_;
        const int digit = (63 - std::countl_zero(diff)) / bits_; // counted from the last survey
        start = digit >= n_ ? 0 : n_ - 1 - digit;
    }
    last_ = code;
    const std::int64_t mask = (std::int64_t{1} << bits_) - 1;
    char none = none_[static_cast<std::size_t>(start)];
    for (int i = start; i < n_; i++) {
        none_[static_cast<std::size_t>(i)] = none;
        char c = '.';
        if (!missing_[static_cast<std::size_t>(i)]) {
            const int d = static_cast<int>((code >> (bits_ * (n_ - 1 - i))) & mask);
            c = d == 0 ? none : static_cast<char>('0' + d);
            if (d == 1 && removal_) none = '-';
        }
        text_[2 * static_cast<std::size_t>(i)] = c;
    }
    return text_;
}

} // namespace occusim
