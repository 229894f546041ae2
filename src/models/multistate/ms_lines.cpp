// Line writer of the multistate models. One history with count x becomes one
// line carrying x in expected-value mode, or x (rounded) identical lines
// without a count in stochastic mode, each standing for one site.
#include "models/multistate/ms_lines.hpp"

#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/errors.hpp"
#include "history/summariser.hpp"

namespace occusim {

void require_ms_surveys(int T) {
    if (T > kMaxMsSurveys)
        input_error("T=%d: multistate histories hold at most %d surveys", T, kMaxMsSurveys);
}

std::FILE *open_for_writing(Context &ctx, const char *name) {
    std::FILE *f = ctx.open(name, "w");
    if (!f) {
        ctx.write_error_file("error opening %s\n", name);
        finish(1);
    }
    return f;
}

void summarise_ms_histories(Context &ctx, int T, const char *farewell) {
    std::fclose(ctx.fp2);
    ctx.fp2 = nullptr;
    smrz_pao(ctx, 2 * T);
    std::fprintf(ctx.out, "%s", farewell);
    finish(0);
}

int format_count(char *buf, std::size_t room, double x) {
    if (std::isfinite(x)) {
        // Fixed notation with a precision is printf's %f, digit for digit,
        // without the cost of the format machinery.
        auto res = std::to_chars(buf, buf + room, x, std::chars_format::fixed, 6);
        if (res.ec == std::errc()) return static_cast<int>(res.ptr - buf);
    }
    const int n = std::snprintf(buf, room, "%f", x);
    return n < static_cast<int>(room) ? n : static_cast<int>(room) - 1;
}

void print_mscaphis(Context &ctx, std::int64_t code, double x) {
    const int T = ctx.num_srvys;
    if (T < 0 || T > kMaxMsSurveys)
        input_error("T=%d: multistate histories hold 0 to %d surveys", T, kMaxMsSurveys);
    // The code with at least nine digits; the history is its last T digits.
    char digits[32];
    std::snprintf(digits, sizeof digits, "%9.9" PRId64, code);
    const char *history = digits + std::strlen(digits) - T;

    if (ctx.LIST > 0 && x > 0) std::fprintf(ctx.out, "MSCAPHIS:%s %f\n", history, x);
    if (!(x > 0)) return;

    char line[448];
    int len = 0;
    for (int i = 0; i < T; i++) {
        if (i > 0) line[len++] = '\t';
        line[len++] = history[i];
    }
    if (ctx.determ != 0) {
        line[len++] = '\t';
        len += format_count(line + len, sizeof line - len - 1, x);
    }
    line[len++] = '\n';

    const double copies = ctx.determ != 0 ? 1.0 : std::trunc(x + 0.5);
    for (double c = 0; c < copies; c++) {
        std::fwrite(line, 1, static_cast<std::size_t>(len), ctx.fp2);
        ctx.nout++;
    }
}

} // namespace occusim
