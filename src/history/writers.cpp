#include "history/writers.hpp"

#include <cmath>
#include <cstdio>
#include <string>

#include "driver/context.hpp"
#include "driver/finish.hpp"
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

} // namespace

void prnt_caphis(Context &ctx, int n, int expected) {
    std::fprintf(ctx.out, "\n=========== prnt_caphis =========\n");
    long long total = 0;
    int distinct = 0;
    ctx.nx.for_each([&](std::int64_t, double v) {
        total += rounded(v);
        if (v > 1e-10) distinct++;
    });
    std::fprintf(ctx.fp2, "%lld\t%d\n", expected ? static_cast<long long>(distinct) : total, n);

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
        if (expected) {
            char freq[400];
            std::snprintf(freq, sizeof freq, "%20.10f", v);
            line += freq;
        }
        line.push_back('\n');
        long long reps = expected ? 1 : rounded(v);
        for (long long r = 0; r < reps; r++) std::fwrite(line.data(), 1, line.size(), ctx.fp2);
    });
    write_season_trailer(ctx, ctx.fp2, n);
    std::fprintf(ctx.fp2, ";%d\nsimulated data from occusim8\n", ctx.METH);
    close_history(ctx, true);
    finish(0);
}

void prnt_caphis2(Context &ctx, int n, int expected) {
    std::fprintf(ctx.out, "\n=========== prnt_caphis2 ========= nper=%d sps=%d meth=%d\n", n,
                 ctx.SRVYPERSEASN[0], ctx.METH);
    long long total = 0;
    int distinct = 0;
    ctx.nx.for_each([&](std::int64_t, double v) {
        total += rounded(v);
        if (v > 0) distinct++;
    });
    std::fprintf(ctx.fp2, "%lld\t%d\n", expected ? static_cast<long long>(distinct) : total, n);

    std::string text(2 * static_cast<std::size_t>(n) + 1, '\0');
    std::string out;
    out.reserve(2 * static_cast<std::size_t>(n) + 32);
    ctx.nx.for_each([&](std::int64_t j, double v) {
        if (!(v > 0)) return;
        base4rep(ctx, j, n, text.data());
        out.assign(text.c_str(), 2 * static_cast<std::size_t>(n));
        if (expected) {
            char freq[400];
            std::snprintf(freq, sizeof freq, "%f", v);
            out += freq;
        }
        out.push_back('\n');
        long long reps = expected ? 1 : rounded(v);
        for (long long r = 0; r < reps; r++) std::fwrite(out.data(), 1, out.size(), ctx.fp2);
    });
    write_season_trailer(ctx, ctx.fp2, n);
    std::fprintf(ctx.fp2, "\nsimulated data from occusim8\n");
    close_history(ctx, false);
    finish(0);
}

} // namespace occusim
