// The history file: a header with the number of lines and the history
// length, one line per history (or per site in random runs) with its survey
// symbols and, in expected-value runs, its expected number of sites, then the
// season trailer. Tables can hold millions of histories, so lines are built
// in a large block and the frequencies formatted without printf.
#include "history/writers.hpp"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "core/context.hpp"
#include "core/errors.hpp"
#include "core/progress.hpp"
#include "history/codes.hpp"

namespace occusim {

void write_season_trailer(Context &ctx, std::FILE *f, int n) {
    if (n < ctx.SRVYPERSEASN[0]) ctx.SRVYPERSEASN[0] = n;
    std::fprintf(f, "0\n0\n%d", ctx.SRVYPERSEASN[0]);
    for (int s = 1; s < ctx.nseasns; s++) std::fprintf(f, ",%d", ctx.SRVYPERSEASN[s]);
}

std::size_t format_fixed(char *out, double v, int width, int precision) {
    // printf decides how non-finite values look ("nan", "-nan", "inf").
    if (!std::isfinite(v)) {
        const int n = std::snprintf(out, kFixedMax, "%*.*f", width, precision, v);
        return n < 0 ? 0 : std::min(static_cast<std::size_t>(n), kFixedMax - 1);
    }
    // Exact decimal value rounded to nearest, ties to even: printf's digits.
    char digits[kFixedMax];
    const auto r = std::to_chars(digits, digits + sizeof digits, v, std::chars_format::fixed, precision);
    const auto len = static_cast<std::size_t>(r.ptr - digits);
    const std::size_t pad = static_cast<std::size_t>(width) > len ? static_cast<std::size_t>(width) - len : 0;
    std::memset(out, ' ', pad);
    std::memcpy(out + pad, digits, len);
    return pad + len;
}

namespace {

// Text bound for the history file, gathered into blocks of about 64 KB and
// written a block at a time; whatever is gathered is written at the latest
// when the writer goes out of scope.
class BlockWriter {
  public:
    explicit BlockWriter(std::FILE *f) : f_(f) { buf_.reserve(kBlock + 512); }
    ~BlockWriter() { flush(); }
    BlockWriter(const BlockWriter &) = delete;
    BlockWriter &operator=(const BlockWriter &) = delete;

    void append(std::string_view s) {
        buf_.append(s);
        if (buf_.size() >= kBlock) flush();
    }
    void flush() {
        if (!buf_.empty() && f_) std::fwrite(buf_.data(), 1, buf_.size(), f_);
        buf_.clear();
    }

  private:
    static constexpr std::size_t kBlock = std::size_t{1} << 16;
    std::FILE *f_;
    std::string buf_;
};

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
    ctx.close(fp2_first ? ctx.fp2 : ctx.fp);
    ctx.close(fp2_first ? ctx.fp : ctx.fp2);
}

// First line of the history file: the number of lines that follow (the
// histories above `threshold` in expected-value runs, the rounded number of
// sites otherwise) and the history length n.
void write_history_header(Context &ctx, int n, int expected, double threshold) {
    long long lines = 0;
    if (expected) {
        int distinct = 0;
        ctx.nx.for_each([&](std::int64_t, double v) { distinct += v > threshold; });
        lines = distinct;
    } else {
        // Counts far beyond any number of sites (probabilities given out of
        // range) saturate rather than overflow.
        ctx.nx.for_each([&](std::int64_t, double v) {
            const long long r = rounded(v);
            if (__builtin_add_overflow(lines, r, &lines)) lines = r > 0 ? LLONG_MAX : LLONG_MIN;
        });
    }
    std::fprintf(ctx.fp2, "%lld\t%d\n", lines, n);
}

// Layout of the frequency that ends an expected-value line.
struct FreqFormat {
    int width;
    int precision;
};

// Writes a history line: its survey symbols `fields`, then in expected-value
// runs the frequency v and a newline, once; in random runs the symbols and a
// newline once per site the count v stands for.
void write_history_line(Context &ctx, BlockWriter &out, std::string_view fields, double v, int expected,
                        FreqFormat freq) {
    long long reps = expected ? 1 : rounded(v);
    if (ctx.sink && reps > 0) ctx.sink->history(fields, expected ? v : static_cast<double>(reps));
    if (expected) {
        char num[kFixedMax + 1];
        std::size_t len = format_fixed(num, v, freq.width, freq.precision);
        num[len++] = '\n';
        out.append(fields);
        out.append(std::string_view(num, len));
        return;
    }
    for (long long r = 0; r < reps; r++) {
        out.append(fields);
        out.append("\n");
    }
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

    {
        std::string text;
        if (ctx.LIST > 0) text.assign(static_cast<std::size_t>(n) + 1, '\0');
        HistoryText fields(ctx, n, 1);
        BlockWriter out(ctx.fp2);
        Progress progress(ctx.err, "writing histories");
        const double size = static_cast<double>(ctx.nx.size());
        ctx.nx.for_each([&](std::int64_t j, double v) {
            if (!(v >= 1e-10)) return;
            if (ctx.LIST > 0) {
                binrep(ctx, j, n, text.data());
                std::fprintf(ctx.out, "%d>%s %lf;\n", static_cast<int>(j), text.c_str(), v);
            }
            write_history_line(ctx, out, fields.of(j), v, expected, {20, 10});
            progress.update(static_cast<double>(j) / size);
        });
    }
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

    {
        HistoryText fields(ctx, n, 2);
        BlockWriter out(ctx.fp2);
        Progress progress(ctx.err, "writing histories");
        const double size = static_cast<double>(ctx.nx.size());
        ctx.nx.for_each([&](std::int64_t j, double v) {
            if (!(v > 0)) return;
            write_history_line(ctx, out, fields.of(j), v, expected, {0, 6});
            progress.update(static_cast<double>(j) / size);
        });
    }
    write_season_trailer(ctx, ctx.fp2, n);
    std::fprintf(ctx.fp2, "\nsimulated data from occusim8\n");
    close_history(ctx, false);
    finish(0);
}

} // namespace occusim
