// Line writer of the multistate models. One history with count x becomes one
// line carrying x in expected-value mode, or x (rounded) identical lines
// without a count in stochastic mode, each standing for one site.
//
// The tally keeps, while the lines are written, what the summariser would
// read back from them, so that the history file is written directly.
#include "models/multistate/ms_lines.hpp"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

void summarise_ms_histories(Context &ctx, int T, const char *farewell, MsTally *tally) {
    ctx.close(ctx.fp2);
    if (!tally || !tally->summarise(T)) smrz_pao(ctx, 2 * T);
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
    print_mscaphis(ctx, code, x, nullptr);
}

void print_mscaphis(Context &ctx, std::int64_t code, double x, MsTally *tally) {
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
        const int start = len;
        len += format_count(line + len, sizeof line - len - 1, x);
        if (tally) tally->add_text(code, line + start, len - start, x);
    }
    line[len++] = '\n';

    const double copies = ctx.determ != 0 ? 1.0 : std::trunc(x + 0.5);
    if (tally && ctx.determ == 0) tally->add_copies(code, copies);
    for (double c = 0; c < copies; c++) {
        std::fwrite(line, 1, static_cast<std::size_t>(len), ctx.fp2);
        ctx.nout++;
    }
}

// ---- tally ----

namespace {

// The summariser's closing text after the season list.
constexpr const char *kClosingText = ";1\nsimulated multistate-corr-detection data from occusim8\n";
// Counts with more digits than this are left to the summariser.
constexpr int kMaxCountChars = 16;

} // namespace

MsTally::MsTally(Context &ctx, double sites)
    : ctx_(ctx), sites_(sites), progress_(ctx.err, "expected histories") {}

void MsTally::add_text(std::int64_t code, const char *text, int len, double x) {
    lines_++;
    Sum &s = sums_[code];
    s.lines++;
    // "%f" text: digits, a point, six digits. Anything else (a sign, an
    // infinite or undefined count, a huge one) is left to the summariser.
    if (len > kMaxCountChars) {
        exact_ = false;
        return;
    }
    std::int64_t micro = 0;
    int digits = 0;
    bool point = false;
    for (int i = 0; i < len; i++) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            micro = micro * 10 + (c - '0');
            digits++;
        } else {
            exact_ = false;
            return;
        }
    }
    if (!point || digits < 7) {
        exact_ = false;
        return;
    }
    s.micro += micro;
    s.size += static_cast<double>(micro) / 1e6;
    done_ += x;
    progress_.update(sites_ > 0 ? done_ / sites_ : 0);
}

void MsTally::add_copies(std::int64_t code, double copies) {
    if (!(copies > 0)) return;
    if (copies > 1e9) exact_ = false;
    Sum &s = sums_[code];
    s.lines += static_cast<std::int64_t>(copies);
    s.micro += static_cast<std::int64_t>(copies) * 1000000;
    s.size += copies;
    lines_ += static_cast<std::int64_t>(copies);
    done_ += copies;
    progress_.update(sites_ > 0 ? done_ / sites_ : 0);
}

bool MsTally::summarise(int T) {
    if (!exact_ || lines_ > 2147483647) return false;
    std::vector<std::int64_t> codes;
    codes.reserve(sums_.size());
    for (const auto &[code, s] : sums_) {
        // The summariser adds the counts as floating-point numbers: each read
        // within half a unit of the last place of the exact value, each
        // addition within the same of the running sum. While all of that stays
        // below half a millionth, its "%f" shows the exact sum.
        if (static_cast<double>(s.lines + 1) * 2.3e-16 * s.size >= 4e-7) return false;
        codes.push_back(code);
    }
    std::sort(codes.begin(), codes.end());
    const int nlines = static_cast<int>(lines_);
    if (!ctx_.QUIET) std::fprintf(ctx_.out, "nlines=%d frqcol=%d\n", nlines, 2 * T);

    // The history text of a code: its last T digits, separated by tabs.
    std::string body;
    int written = 0, before_last = 0;
    char history[2 * kMaxMsSurveys];
    for (std::size_t j = 0; j < codes.size(); j++) {
        const Sum &s = sums_[codes[j]];
        if (s.micro <= 0) continue;
        if (j + 1 < codes.size()) before_last++;
        written++;
        std::int64_t rest = codes[j];
        for (int k = T - 1; k >= 0; k--) {
            history[2 * k] = static_cast<char>('0' + rest % 10);
            if (k > 0) history[2 * k - 1] = '\t';
            rest /= 10;
        }
        const std::string_view fields(history, static_cast<std::size_t>(2 * T - 1));
        const double count = static_cast<double>(s.micro) / 1e6;
        if (ctx_.sink) ctx_.sink->history(fields, count);
        char text[48];
        const int len = std::snprintf(text, sizeof text, "\t%" PRId64 ".%06" PRId64 "\n", s.micro / 1000000,
                                      s.micro % 1000000);
        body.append(fields);
        body.append(text, static_cast<std::size_t>(len));
    }
    std::fprintf(ctx_.out, "nin=%d nout=%d\n", nlines, before_last);

    ctx_.fp2 = ctx_.open(ctx_.outfile, "w");
    if (!ctx_.fp2) {
        ctx_.write_error_file("error opening %s\n", ctx_.outfile.c_str());
        finish(1);
    }
    ctx_.history_opened = true;
    ctx_.nout = written;
    std::fprintf(ctx_.fp2, "%d%c%d\n", written, '\t', ctx_.num_srvys);
    std::fwrite(body.data(), 1, body.size(), ctx_.fp2);
    std::fprintf(ctx_.fp2, "0\n0\n%d", ctx_.SRVYPERSEASN[0]);
    for (int k = 1; k < kVecLen && ctx_.SRVYPERSEASN[k] > 0; k++)
        std::fprintf(ctx_.fp2, ",%d", ctx_.SRVYPERSEASN[k]);
    std::fputs(kClosingText, ctx_.fp2);
    ctx_.history_written = true;
    ctx_.close(ctx_.fp2);
    return true;
}

} // namespace occusim
