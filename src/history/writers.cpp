#include "history/writers.hpp"

#include <climits>
#include <cmath>
#include <cstdio>
#include <string>

#include "core/context.hpp"
#include "core/errors.hpp"
#include "history/codes.hpp"

namespace occusim {

void write_season_trailer(Context &ctx, std::FILE *f, int n) {
    if (n < ctx.SRVYPERSEASN[0]) ctx.SRVYPERSEASN[0] = n;
    std::fprintf(f, "0\n0\n%d", ctx.SRVYPERSEASN[0]);
    for (int s = 1; s < ctx.nseasns; s++) std::fprintf(f, ",%d", ctx.SRVYPERSEASN[s]);
}

namespace {

// Number of sites a stochastic table entry stands for, in 64 bits so that
// very large site counts cannot overflow (the header shows the same digits as
// a 32-bit count whenever that one fits).
long long rounded(double v) {
    double r = std::floor(v + 0.5);
    if (!(r > -9e18 && r < 9e18)) return 0;
    return static_cast<long long>(r);
}

void close_history(Context &ctx, bool fp2_first) {
    ctx.history_written = true;
    std::FILE *first = fp2_first ? ctx.fp2 : ctx.fp;
    std::FILE *second = fp2_first ? ctx.fp : ctx.fp2;
    if (first) std::fclose(first);
    if (second) std::fclose(second);
    ctx.fp = ctx.fp2 = nullptr;
}

// First line of the history file: the number of lines that follow (the
// histories above `threshold` in expected-value runs, the rounded number of
// sites otherwise) and the history length n.
void write_history_header(Context &ctx, int n, int expected, double threshold) {
    long long total = 0;
    int distinct = 0;
    ctx.nx.for_each([&](std::int64_t, double v) {
        // Counts far beyond any number of sites (probabilities given out of
        // range) saturate rather than overflow.
        const long long r = rounded(v);
        if (__builtin_add_overflow(total, r, &total)) total = r > 0 ? LLONG_MAX : LLONG_MIN;
        if (v > threshold) distinct++;
    });
    std::fprintf(ctx.fp2, "%lld\t%d\n", expected ? static_cast<long long>(distinct) : total, n);
}

// Ends a history line with its frequency in `freq_format` (expected-value
// runs only) and a newline, and writes it once, or in random runs once per
// site the count v stands for.
__attribute__((format(printf, 5, 0))) void write_history_line(Context &ctx, std::string &line, double v,
                                                              int expected, const char *freq_format) {
    long long reps = expected ? 1 : rounded(v);
    if (ctx.sink && reps > 0) ctx.sink->history(line, expected ? v : static_cast<double>(reps));
    if (expected) {
        char freq[400];
        std::snprintf(freq, sizeof freq, freq_format, v);
        line += freq;
    }
    line.push_back('\n');
    for (long long r = 0; r < reps; r++) std::fwrite(line.data(), 1, line.size(), ctx.fp2);
}

// Tells the sink how the histories come: listed site by site in random
// runs, with their frequency in expected-value runs.
void announce_shape(Context &ctx, int n, int expected) {
    if (!ctx.sink) return;
    HistoryShape shape;
    shape.per_site = !expected;
    shape.surveys = n;
    ctx.sink->begin(shape);
}

} // namespace

void prnt_caphis(Context &ctx, int n, int expected) {
    std::fprintf(ctx.out, "\n=========== prnt_caphis =========\n");
    write_history_header(ctx, n, expected, 1e-10);
    announce_shape(ctx, n, expected);

    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    std::string line;
    line.reserve(2 * static_cast<std::size_t>(n) + 32);
    ctx.nx.for_each([&](std::int64_t j, double v) {
        if (!(v >= 1e-10)) return;
        binrep(ctx, j, n, text.data());
        if (ctx.LIST > 0) std::fprintf(ctx.out, "%d>%s %lf;\n", static_cast<int>(j), text.c_str(), v);
        line.clear();
        for (int i = 0; i < n; i++) {
            line.push_back(text[i]);
            line.push_back('\t');
        }
        write_history_line(ctx, line, v, expected, "%20.10f");
    });
    write_season_trailer(ctx, ctx.fp2, n);
    std::fprintf(ctx.fp2, ";%d\nsimulated data from occusim8\n", ctx.METH);
    close_history(ctx, true);
    finish(0);
}

void prnt_caphis2(Context &ctx, int n, int expected) {
    std::fprintf(ctx.out, "\n=========== prnt_caphis2 ========= nper=%d sps=%d meth=%d\n", n,
                 ctx.SRVYPERSEASN[0], ctx.METH);
    write_history_header(ctx, n, expected, 0);
    announce_shape(ctx, n, expected);

    std::string text(2 * static_cast<std::size_t>(n) + 1, '\0');
    std::string out;
    out.reserve(2 * static_cast<std::size_t>(n) + 32);
    ctx.nx.for_each([&](std::int64_t j, double v) {
        if (!(v > 0)) return;
        base4rep(ctx, j, n, text.data());
        out.assign(text.c_str(), 2 * static_cast<std::size_t>(n));
        write_history_line(ctx, out, v, expected, "%f");
    });
    write_season_trailer(ctx, ctx.fp2, n);
    std::fprintf(ctx.fp2, "\nsimulated data from occusim8\n");
    close_history(ctx, false);
    finish(0);
}

} // namespace occusim
