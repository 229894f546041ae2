#include "history/codes.hpp"

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

} // namespace occusim
