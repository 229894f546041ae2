// The summariser turns a site list into the frequency form of the history
// file. Simulators that produce one line per simulated site (or per group of
// sites with its count) write those lines to the temporary history file
// "occusim.tmp"; smrz_pao reads them back, sorts them byte-wise as whole raw
// lines, adds up the frequencies of equal histories and writes one line per
// history with a positive sum, followed by the season list and a fixed closing
// text.
//
// A line is the history text (survey symbols separated by tabs, possibly with
// a tab after the last one), optionally followed at character position frqcol
// by its frequency. Lines without a frequency count one site each.
#include "history/summariser.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.hpp"

namespace occusim {

namespace {

constexpr const char *kTempFile = "occusim.tmp";
constexpr const char *kClosingText = ";1\nsimulated multistate-corr-detection data from occusim8\n";

// Reads the whole temporary history file.
std::string load_temp_file(Context &ctx) {
    std::FILE *f = ctx.open(kTempFile, "rb");
    if (!f) {
        ctx.write_error_file("error opening %s\n", kTempFile);
        finish(1);
    }
    std::string text;
    char buf[65536];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, got);
    std::fclose(f);
    return text;
}

// The raw lines, each with its newline (the last one may lack it).
std::vector<std::string_view> split_lines(const std::string &text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        std::size_t end = nl == std::string::npos ? text.size() : nl + 1;
        lines.emplace_back(text.data() + start, end - start);
        start = end;
    }
    return lines;
}

// A sorted line split into its history text and its frequency.
struct SplitLine {
    std::string_view history;
    double freq;
};

SplitLine split_line(std::string_view line, int frqcol) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (frqcol < 1) return {line, 1.0};
    const auto col = static_cast<std::size_t>(frqcol);
    double freq = 1.0;
    if (line.size() > col) {
        // The frequency text is copied out so that the number cannot run on
        // into the next line of the file.
        std::string text(line.substr(col));
        freq = std::strtod(text.c_str(), nullptr);
    }
    // The history text ends before the separator at position frqcol-1; a
    // line without frequency loses a trailing tab there as well.
    return {line.substr(0, std::min(line.size(), col - 1)), freq};
}

// Output line of a closed group: the history, a tab and the summed frequency.
void close_group(Context &ctx, std::string &out, std::string_view history, double sum) {
    if (!(sum > 0)) return;
    if (ctx.sink) ctx.sink->history(history, sum);
    char freq[400];
    std::snprintf(freq, sizeof freq, "\t%f\n", sum);
    out.append(history);
    out += freq;
    ctx.nout++;
}

} // namespace

void smrz_pao(Context &ctx, int frqcol) {
    // The writer has finished the temporary file; make sure it is flushed.
    ctx.close(ctx.fp2);
    const std::string text = load_temp_file(ctx);
    std::vector<std::string_view> lines = split_lines(text);
    const int nlines = static_cast<int>(lines.size());
    if (!ctx.QUIET) std::fprintf(ctx.out, "nlines=%d frqcol=%d\n", nlines, frqcol);

    // Ascending byte order of the whole raw lines; equal lines are identical,
    // so their relative order does not matter.
    std::sort(lines.begin(), lines.end());

    if (ctx.sink) {
        HistoryShape shape;
        shape.surveys = ctx.num_srvys;
        ctx.sink->begin(shape);
    }
    ctx.nout = 0;
    std::string body;
    SplitLine group{{}, 0.0};
    bool have_group = false;
    for (std::string_view raw : lines) {
        SplitLine cur = split_line(raw, frqcol);
        if (have_group && cur.history == group.history) {
            group.freq += cur.freq;
            continue;
        }
        if (have_group) close_group(ctx, body, group.history, group.freq);
        group = cur;
        have_group = true;
    }
    std::fprintf(ctx.out, "nin=%d nout=%d\n", nlines, ctx.nout);
    if (have_group) close_group(ctx, body, group.history, group.freq);

    ctx.fp2 = ctx.open(ctx.outfile, "w");
    if (!ctx.fp2) {
        ctx.write_error_file("error opening %s\n", ctx.outfile.c_str());
        finish(1);
    }
    ctx.history_opened = true;
    std::fprintf(ctx.fp2, "%d%c%d\n", ctx.nout, '\t', ctx.num_srvys);
    std::fwrite(body.data(), 1, body.size(), ctx.fp2);
    std::fprintf(ctx.fp2, "0\n0\n%d", ctx.SRVYPERSEASN[0]);
    for (int k = 1; k < kVecLen && ctx.SRVYPERSEASN[k] > 0; k++)
        std::fprintf(ctx.fp2, ",%d", ctx.SRVYPERSEASN[k]);
    std::fputs(kClosingText, ctx.fp2);
    ctx.history_written = true;
    ctx.close(ctx.fp2);
}

} // namespace occusim
