// Staggered entry and departure. At an occupied site the species is not
// available for detection during the whole season: an occupying unit enters
// the superpopulation just before some survey (entry probability e[k]) and,
// once it has been available at a survey, may depart right after it
// (departure probability d[k]). A site can be detected (pa[k]) only between its
// entry and its departure. Seasons are equal blocks of L surveys; a unit that
// has not entered by the last survey of a season enters there, and the unit
// departs after the last survey at the latest. Between surveys occupancy
// changes by extinction (eps) and colonisation (gam); whenever either is
// non-zero the season restarts and entry and departure begin afresh.
//
// Expected counts come from a recursion over surveys in plain products of
// probabilities (the random generator is never used); SIMTYPE=2 simulates each
// site instead. Either way every path of the recursion (or every site) with
// its count makes one listing line, equal histories are merged in the order of
// their first listing line, each adding its count as the listing line shows
// it (six decimals), and the history file is written in its final layout (two
// tabs before each count). The site-by-site form writes its listing into the
// history file and reads it back; the recursion keeps the merge in memory and
// writes the history file once.
#include "models/stagentry/stag_entry.hpp"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/errors.hpp"
#include "core/progress.hpp"
#include "history/codes.hpp"
#include "models/multistate/ms_lines.hpp"

namespace occusim {

namespace {

// The recursion builds one bit per survey into a 32-bit history code.
constexpr int kMaxRecursiveSurveys = 31;
// Counts at or below this are not listed.
constexpr double kListThreshold = 1e-18;
// Room for a "%f" count of any double, its newline and the terminating NUL.
constexpr int kCountRoom = 400;

// The listing of the recursion, merged as it is made: each history code in
// the order of its first line, with the sum of its lines' counts as the lines
// show them.
struct Merge {
    std::unordered_map<std::int64_t, std::size_t> index;
    std::vector<std::int64_t> codes;
    std::vector<double> sums;
    double done = 0; // sites listed so far, for the progress line
};

struct StagRun {
    Context &ctx;
    int T;
    const Vec &e;                        // entry probability per survey
    const Vec &d;                        // departure probability per survey
    std::vector<char> line;              // listing-line buffer, sized once for T surveys
    char text[kMaxRecursiveSurveys + 1]; // history text of the recursion
    Merge *merge = nullptr;              // the recursion's listing (none: lines go to the file)
    Progress *progress = nullptr;
    double sites = 0; // all sites, for the progress line
};

// One listing line: each history character followed by a tab, then the count.
void prntcap(StagRun &run, const char *hist, double x) {
    if (!(x > kListThreshold)) return;
    char *buf = run.line.data();
    int len = 0;
    for (int k = 0; k < run.T; k++) {
        buf[len++] = hist[k];
        buf[len++] = '\t';
    }
    const std::size_t room = run.line.size() - len;
    int wrote = std::snprintf(buf + len, room, "%f\n", x);
    if (wrote > 0) len += static_cast<std::size_t>(wrote) < room ? wrote : static_cast<int>(room) - 1;
    std::fwrite(buf, 1, len, run.ctx.fp2);
    run.ctx.nout++;
}

// One listing line of the recursion, merged at once: the count is what the
// line would show, read back as the merge of a written listing reads it.
void merge_line(StagRun &run, std::int64_t code, double x) {
    char text[kCountRoom];
    const int len = format_count(text, sizeof text, x);
    double shown = 0;
    std::from_chars(text, text + len, shown);
    Merge &m = *run.merge;
    auto [it, fresh] = m.index.try_emplace(code, m.codes.size());
    if (fresh) {
        m.codes.push_back(code);
        m.sums.push_back(shown);
    } else {
        m.sums[it->second] += shown;
    }
    run.ctx.nout++;
    if (run.progress) {
        m.done += x;
        run.progress->update(m.done / run.sites);
    }
}

void list_code(StagRun &run, std::int64_t code, double x) {
    if (!(x > kListThreshold)) return;
    if (run.merge) {
        merge_line(run, code, x);
        return;
    }
    binrep(run.ctx, code, run.T, run.text);
    prntcap(run, run.text, x);
}

// The history file from the merged listing of the recursion, in the layout
// rewrite_stag_listing gives a written one.
void write_merged(StagRun &run, int L) {
    Context &ctx = run.ctx;
    const Merge &m = *run.merge;
    int distinct = 0;
    for (double s : m.sums)
        if (s > 0) distinct++;
    std::fprintf(ctx.fp2, "%d\t%d\n", distinct, run.T);
    if (ctx.sink) ctx.sink->begin(HistoryShape{false, run.T, 0, 0});
    char *buf = run.line.data();
    for (std::size_t j = 0; j < m.codes.size(); j++) {
        if (!(m.sums[j] > 0)) continue;
        binrep(ctx, m.codes[j], run.T, run.text);
        int len = 0;
        for (int k = 0; k < run.T; k++) {
            buf[len++] = run.text[k];
            buf[len++] = '\t';
        }
        if (ctx.sink) ctx.sink->history(std::string_view(buf, static_cast<std::size_t>(len)), m.sums[j]);
        buf[len++] = '\t';
        len += format_count(buf + len, run.line.size() - len - 1, m.sums[j]);
        buf[len++] = '\n';
        std::fwrite(buf, 1, static_cast<std::size_t>(len), ctx.fp2);
    }
    std::fprintf(ctx.fp2, "0\n0\n%d\n", L);
    std::fprintf(ctx.fp2, "simulated data from occusim6-stag-entry\n");
    ctx.history_written = true;
    ctx.close(ctx.fp2);
}

void stag_cap(StagRun &run, int k, std::int64_t code, int entered, int departed, int occupied, double x);

// Entry step at survey k: an occupying unit that has not yet entered enters
// with probability e[k]. A group of exactly 0 sites is not followed: every
// count below it is 0 (or undefined, when a probability is infinite), and
// neither is ever listed, so the listing is the same; with probabilities of 0
// or 1 such empty groups would otherwise double the work at every survey.
void stag_ent(StagRun &run, int k, std::int64_t code, int entered, int departed, int occupied, double x) {
    if (x == 0) return;
    if (occupied && entered) {
        stag_cap(run, k, code, 1, departed, 1, x);
    } else if (occupied) {
        double n = run.e[k] * x;
        stag_cap(run, k, code, 1, 0, 1, n);
        stag_cap(run, k, code, 0, 0, 1, x - n);
    } else {
        stag_cap(run, k, code, 0, 0, 0, x);
    }
}

// Change of occupancy between surveys k and k+1. Without extinction and
// colonisation nothing changes and the entry and departure state carries over;
// otherwise the season restarts.
void stag_col_ext(StagRun &run, int k, std::int64_t code, int entered, int departed, int occupied, double x) {
    const Context &ctx = run.ctx;
    if (ctx.eps[k] == 0 && ctx.gam[k + 1] == 0) {
        stag_ent(run, k + 1, code, entered, departed, occupied, x);
        return;
    }
    double l = occupied ? 1 - ctx.eps[k] : ctx.gam[k + 1];
    stag_ent(run, k + 1, code, 0, 0, 1, x * l);
    stag_ent(run, k + 1, code, 0, 0, 0, x - x * l);
}

// Departure right after survey k of the x units that were available there.
void stag_depart(StagRun &run, int k, std::int64_t code, int occupied, double x) {
    double n = run.d[k] * x;
    stag_col_ext(run, k, code, 1, 0, occupied, x - n);
    stag_col_ext(run, k, code, 1, 1, occupied, n);
}

// Detection step at survey k; at the last survey the histories are listed.
void stag_cap(StagRun &run, int k, std::int64_t code, int entered, int departed, int occupied, double x) {
    const bool last = k >= run.T - 1;
    if (entered && !departed) {
        double det = run.ctx.pa[k] * x;
        double miss = x - det;
        std::int64_t bit = std::int64_t{1} << (run.T - 1 - k);
        if (!last) {
            stag_depart(run, k, code | bit, occupied, det);
            stag_depart(run, k, code, occupied, miss);
        } else {
            list_code(run, code | bit, det);
            list_code(run, code, miss);
        }
    } else if (!last) {
        stag_col_ext(run, k, code, entered, departed, occupied, x);
    } else {
        list_code(run, code, x);
    }
}

// Site-by-site simulation; returns the number of sites never detected. The
// history text is kept per survey, so designs of any length are handled.
double simulate_sites(StagRun &run, int nsites) {
    Context &ctx = run.ctx;
    const int T = run.T;
    std::vector<char> blank(T), hist(T);
    for (int k = 0; k < T; k++) blank[k] = (ctx.pa[k] <= 0 && ctx.P0MISS > 0) ? '.' : '0';
    double never = 0;
    for (int i = 0; i < nsites; i++) {
        int occupied = ctx.Random() < ctx.psi;
        int entered = 0, departed = 0;
        bool detected = false;
        hist = blank;
        for (int k = 0; k < T; k++) {
            if (occupied) {
                if (!entered) entered = ctx.Random() < run.e[k];
                if (entered && !departed) {
                    if (ctx.Random() < ctx.pa[k]) {
                        hist[k] = '1';
                        detected = true;
                    }
                    departed = ctx.Random() < run.d[k];
                }
                occupied = ctx.Random() > ctx.eps[k];
            } else {
                occupied = ctx.Random() < ctx.gam[k + 1];
            }
            if (ctx.eps[k] > 0 || ctx.gam[k + 1] > 0) entered = departed = 0;
        }
        if (detected)
            prntcap(run, hist.data(), 1);
        else
            never += 1;
    }
    return never;
}

void print_values(Context &ctx, const char *label, const Vec &v, int count) {
    std::fprintf(ctx.out, "%s", label);
    for (int k = 0; k < count; k++) std::fprintf(ctx.out, " %4.2f", v[k]);
}

// Reads one line, newline excluded; false at end of file. A line is cut after
// `limit` characters (the rest starts the next line), so a file that is not a
// listing cannot make the reader grow without bound.
bool read_line(std::FILE *f, std::string &line, std::size_t limit) {
    line.clear();
    int c;
    while (line.size() < limit && (c = std::getc(f)) != EOF) {
        if (c == '\n') return true;
        line.push_back(static_cast<char>(c));
    }
    return !line.empty();
}

struct Merged {
    std::vector<std::string> keys; // in order of first appearance
    std::vector<double> sums;
};

// Reads the listing back and sums the counts of equal histories (the first 2T
// characters of a line) in listing order.
Merged merge_listing(std::FILE *f, int lines, int T) {
    Merged m;
    std::unordered_map<std::string, std::size_t> index;
    const std::size_t keylen = 2 * static_cast<std::size_t>(T);
    const std::size_t limit = keylen + kCountRoom;
    std::string line;
    for (int j = 0; j < lines && read_line(f, line, limit); j++) {
        double count = line.size() >= keylen ? std::strtod(line.c_str() + keylen, nullptr) : 0;
        std::string key = line.substr(0, keylen);
        auto [it, fresh] = index.try_emplace(key, m.keys.size());
        if (fresh) {
            m.keys.push_back(std::move(key));
            m.sums.push_back(count);
        } else {
            m.sums[it->second] += count;
        }
    }
    return m;
}

} // namespace

void rewrite_stag_listing(Context &ctx, const std::string &outfile, int T, int L) {
    ctx.fp2 = ctx.open(outfile, "r");
    if (!ctx.fp2) {
        ctx.write_error_file("error reopening %s for reading\n", outfile.c_str());
        finish(1);
    }
    Merged m = merge_listing(ctx.fp2, ctx.nout, T);
    ctx.close(ctx.fp2);
    ctx.fp2 = ctx.open(outfile, "w");
    if (!ctx.fp2) {
        ctx.write_error_file("error reopening %s for rewriting\n", outfile.c_str());
        finish(1);
    }
    int distinct = 0;
    for (double s : m.sums)
        if (s > 0) distinct++;
    std::fprintf(ctx.fp2, "%d\t%d\n", distinct, T);
    if (ctx.sink) ctx.sink->begin(HistoryShape{false, T, 0, 0});
    for (std::size_t j = 0; j < m.keys.size(); j++) {
        if (!(m.sums[j] > 0)) continue;
        if (ctx.sink) ctx.sink->history(m.keys[j], m.sums[j]);
        std::fprintf(ctx.fp2, "%s\t%f\n", m.keys[j].c_str(), m.sums[j]);
    }
    std::fprintf(ctx.fp2, "0\n0\n%d\n", L);
    std::fprintf(ctx.fp2, "simulated data from occusim6-stag-entry\n");
    ctx.history_written = true;
    ctx.close(ctx.fp2);
}

void do_stag_entry_model_sim(Context &ctx, const Args &, const std::string &outfile) {
    const int T = ctx.num_srvys;
    if (T < 1) input_error("the staggered-entry model needs at least one survey (T=%d)", T);
    if (!(ctx.ns > -2147483649.0 && ctx.ns < 2147483648.0))
        input_error("N=%g: the number of sites does not fit a 32-bit count", ctx.ns);
    const int nsites = static_cast<int>(ctx.ns);
    int L = ctx.SRVYPERSEASN[0];

    std::fprintf(ctx.out, "nsites=%d, num_srvys=%d SIMTYPE=%d SRVYPERSEASN=%d\n", nsites, T, ctx.SIMTYPE, L);
    std::fprintf(ctx.out, "psi: %4.2f\n", ctx.psi);
    Vec &e = ctx.thA[0];
    Vec &d = ctx.thA[1];
    print_values(ctx, "p:", ctx.pa, T);
    std::fprintf(ctx.out, "\n");

    // Seasons are blocks of L surveys; a unit that has not entered by the last
    // survey of a season enters there.
    if (L <= 1 || L > T) L = T;
    for (int j = 1; j <= T; j++)
        if (j % L == 0) e[j - 1] = 1;
    print_values(ctx, "e:", e, T);
    std::fprintf(ctx.out, "\n");
    d[T - 1] = 1;
    print_values(ctx, "d:", d, T);
    std::fprintf(ctx.out, "\n\n");
    if (L < T) {
        print_values(ctx, "gam:", ctx.gam, T - 1);
        std::fprintf(ctx.out, "\n");
        print_values(ctx, "eps:", ctx.eps, T - 1);
        std::fprintf(ctx.out, "\n\n");
    }

    const bool by_site = ctx.SIMTYPE == 2;
    if (!by_site && T > kMaxRecursiveSurveys)
        input_error("the staggered-entry recursion handles at most %d surveys (T=%d); use SIMTYPE=2",
                    kMaxRecursiveSurveys, T);

    std::fprintf(ctx.out, "opening %s...\n", outfile.c_str());
    ctx.fp2 = ctx.open(outfile, "w");
    if (!ctx.fp2) {
        std::fprintf(ctx.out, "error opening occusim.inp\n");
        finish(1);
    }
    ctx.history_opened = true;

    StagRun run{ctx, T, e, d, std::vector<char>(2 * static_cast<std::size_t>(T) + kCountRoom), {}};
    ctx.nout = 0;
    if (by_site) {
        std::fprintf(ctx.err, "simulating by individual...\n");
        const double never = simulate_sites(run, nsites);
        std::string zeros(T, '0');
        for (int k = 0; k < T; k++)
            if (ctx.pa[k] <= 0 && ctx.P0MISS > 0) zeros[k] = '.';
        prntcap(run, zeros.c_str(), never);
        ctx.close(ctx.fp2);
        std::fprintf(ctx.out, "==============\nOUTFILE=%s\n", outfile.c_str());
        std::fprintf(ctx.out, "NSITES=%d NSRVYS=%d\n", ctx.nout, T);
        rewrite_stag_listing(ctx, outfile, T, L);
    } else {
        std::fprintf(ctx.err, "simulating by binary tree...\n");
        Merge merge;
        Progress progress(ctx.err, "expected histories");
        run.merge = &merge;
        run.progress = &progress;
        run.sites = nsites;
        double occ = nsites * ctx.psi;
        double unocc = nsites - occ;
        std::fprintf(ctx.out, "num_occ=%f\n", occ);
        stag_ent(run, 0, 0, 0, 0, 1, occ);
        stag_ent(run, 0, 0, 0, 0, 0, unocc);
        std::fprintf(ctx.out, "==============\nOUTFILE=%s\n", outfile.c_str());
        std::fprintf(ctx.out, "NSITES=%d NSRVYS=%d\n", ctx.nout, T);
        write_merged(run, L);
    }
    std::fprintf(ctx.out, "end of program(occusim5)\n");
    finish(0);
}

} // namespace occusim
