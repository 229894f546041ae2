// Integrated occupancy-movement model with two areas, A and B. Every sampled
// unit is in one of the two areas at each survey and its area is always
// recorded; within its area the species is present (the unit is occupied) or
// not, and an occupied unit is detected with the detection probability of its
// current area (pA, pB). Between surveys a unit moves: eta[occupied][X] is the
// probability that a unit in area X is in area A at the next survey. Its
// occupancy then changes with colonisation (gamB) and extinction (epsB)
// probabilities that depend on the previous and the new area.
//
// The history digit of a survey is 2 * area + detected (0 A missed, 1 A
// detected, 2 B missed, 3 B detected). The cohort form follows every branch
// (initial occupancy, detection, area, occupancy) with binoml and writes the
// histories as multistate lines, one per branch that holds units; the
// site-by-site form (SIMTYPE=2) draws each unit in turn and writes one line
// per unit. The lines go to "occusim.tmp", which is then copied unchanged
// into the history file behind its header.
#include "models/integrated/integrated.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/errors.hpp"
#include "core/progress.hpp"
#include "models/multistate/ms_lines.hpp"

namespace occusim {

namespace {

constexpr int kAreaA = 0;
constexpr int kAreaB = 1;
// The multistate line writer formats nine decimal digits.
constexpr int kMaxCohortSurveys = 9;

struct IntRun {
    Context &ctx;
    int T;
    std::uint64_t place[kMaxCohortSurveys + 1]; // place[k] = 10^(T-k)
    Progress *progress = nullptr;
    double units = 0, done = 0; // all units and those written so far
};

[[noreturn]] void subscript_error(Context &ctx, int k) {
    ctx.write_error_file("\n*** subscript error, i=%d\n\n", k);
    finish(1);
}

double initial_occupancy(const Context &ctx, int area) {
    return area == kAreaA ? ctx.psiA : ctx.psiB[0];
}

double detection(const Context &ctx, int area, int j) {
    return area == kAreaA ? ctx.pA[j] : ctx.pB[j];
}

// Entry j of the (previous area, new area) block of gamB or epsB.
double block(const Vec &v, int from, int to, int j) {
    return v[kVecLen * (from * 2 + to) + j];
}

void imcap(IntRun &run, int k, std::uint64_t code, int occupied, int area, double n);

// Every step below returns at once for a group of no units: each of its
// branches would hold no units either (or an undefined count, with an
// infinite probability), none of which is ever written, and a stochastic
// split of no units draws no uniforms, so a seeded data set is unchanged.
// Unoccupied units are never detected, so without this every unoccupied
// branch would drag an empty detected twin through the remaining surveys.

// Occupancy change into survey k of n units that moved from area X to area Y.
void imocc(IntRun &run, int k, std::uint64_t code, int occupied, int X, int Y, double n) {
    if (k < 2 || k > run.T) subscript_error(run.ctx, k);
    if (n == 0) return;
    Context &ctx = run.ctx;
    double o = occupied ? ctx.binoml(n, 1 - block(ctx.epsB, X, Y, k - 2))
                        : ctx.binoml(n, block(ctx.gamB, X, Y, k - 2));
    imcap(run, k, code, 1, Y, o);
    imcap(run, k, code, 0, Y, n - o);
}

// Movement from survey k-1 to survey k of n units that were in area X.
void immov(IntRun &run, int k, std::uint64_t code, int occupied, int X, double n) {
    if (k < 2 || k > run.T) subscript_error(run.ctx, k);
    if (n == 0) return;
    double a = run.ctx.binoml(n, run.ctx.eta(occupied, X)[k - 2]);
    imocc(run, k, code, occupied, X, kAreaA, a);
    imocc(run, k, code, occupied, X, kAreaB, n - a);
}

// Detection at survey k; the area is recorded whether or not the unit is seen.
void imcap(IntRun &run, int k, std::uint64_t code, int occupied, int area, double n) {
    if (k < 1 || k > run.T) subscript_error(run.ctx, k);
    if (n == 0) return;
    Context &ctx = run.ctx;
    double d = occupied ? ctx.binoml(n, detection(ctx, area, k - 1)) : 0;
    std::uint64_t missed = code + run.place[k] * (2 * area);
    std::uint64_t seen = code + run.place[k] * (2 * area + 1);
    if (k == run.T) {
        print_mscaphis(ctx, static_cast<std::int64_t>(missed), n - d);
        print_mscaphis(ctx, static_cast<std::int64_t>(seen), d);
        if (run.progress && run.units > 0) {
            run.done += n;
            run.progress->update(run.done / run.units);
        }
    } else {
        immov(run, k + 1, missed, occupied, area, n - d);
        immov(run, k + 1, seen, occupied, area, d);
    }
}

// A cohort of n units starting in the given area at survey k, split by their
// initial occupancy.
void int_mod(IntRun &run, int k, std::uint64_t code, int area, double n) {
    double o = run.ctx.binoml(n, initial_occupancy(run.ctx, area));
    imcap(run, k, code, 1, area, o);
    imcap(run, k, code, 0, area, n - o);
}

// One line per unit: each survey's digit followed by a tab.
void simulate_units(Context &ctx, int T, int units) {
    std::fprintf(ctx.err, "simulating by individual...\n");
    std::vector<char> line(2 * static_cast<std::size_t>(T) + 1);
    for (int i = 0; i < units; i++) {
        int area = ctx.Random() > ctx.pi[0] ? kAreaB : kAreaA;
        int occupied = ctx.Random() < initial_occupancy(ctx, area);
        std::size_t len = 0;
        for (int j = 0; j < T; j++) {
            const int X = area;
            int digit = 2 * X;
            if (occupied && ctx.Random() < detection(ctx, X, j)) digit++;
            line[len++] = static_cast<char>('0' + digit);
            line[len++] = '\t';
            const int Y = ctx.Random() > ctx.eta(occupied, X)[j] ? kAreaB : kAreaA;
            const double u = ctx.Random();
            occupied = occupied ? u < 1 - block(ctx.epsB, X, Y, j) : u < block(ctx.gamB, X, Y, j);
            area = Y;
        }
        line[len++] = '\n';
        std::fwrite(line.data(), 1, len, ctx.fp2);
        ctx.nout++;
    }
}

void print_values(Context &ctx, const char *label, const Vec &v, int offset, int count) {
    std::fprintf(ctx.out, "%s", label);
    for (int j = 0; j < count; j++) std::fprintf(ctx.out, " %4.2f", v[offset + j]);
}

void echo_parameters(Context &ctx, int T) {
    std::fprintf(ctx.out, "num_srvys,N=%d,%f\n", T, ctx.ns);
    std::fprintf(ctx.out, "pi: %4.2f  psiA,psiB: %4.2f %4.2f\n", ctx.pi[0], ctx.psiA, ctx.psiB[0]);
    print_values(ctx, "eta0AA:", ctx.eta(0, kAreaA), 0, T);
    print_values(ctx, "\neta1AA:", ctx.eta(1, kAreaA), 0, T);
    print_values(ctx, "\neta0BA:", ctx.eta(0, kAreaB), 0, T);
    print_values(ctx, "\neta1BA:", ctx.eta(1, kAreaB), 0, T);
    const char *gam_labels[4] = {"\ngamAA:", "\ngamAB:", "\ngamBA:", "\ngamBB:"};
    const char *eps_labels[4] = {"\nepsAA:", "\nepsAB:", "\nepsBA:", "\nepsBB:"};
    for (int b = 0; b < 4; b++) print_values(ctx, gam_labels[b], ctx.gamB, kVecLen * b, T);
    for (int b = 0; b < 4; b++) print_values(ctx, eps_labels[b], ctx.epsB, kVecLen * b, T);
    print_values(ctx, "\np1    :", ctx.pA, 0, T);
    print_values(ctx, "\np2    :", ctx.pB, 0, T);
    std::fprintf(ctx.out, "\n\nSIMTYPE=%d\n", ctx.SIMTYPE);
}

bool same_file(const Context &ctx, const std::string &a, const std::string &b) {
    std::error_code ea, eb;
    auto pa = std::filesystem::weakly_canonical(ctx.path(a), ea);
    auto pb = std::filesystem::weakly_canonical(ctx.path(b), eb);
    return !ea && !eb && pa == pb;
}

// The temporary file's lines to the run's history sink: expected-value lines
// end with a tab and their frequency, every other line stands for one unit.
void report_lines(Context &ctx, std::FILE *tmp, int T) {
    HistoryShape shape;
    shape.per_site = ctx.determ == 0;
    shape.surveys = T;
    ctx.sink->begin(shape);
    std::rewind(tmp);
    std::string text;
    char chunk[4096];
    std::size_t got;
    auto report = [&](std::string_view l) {
        if (ctx.determ == 0) {
            ctx.sink->history(l, 1);
            return;
        }
        std::size_t tab = l.rfind('\t');
        std::string count(l.substr(tab == std::string_view::npos ? 0 : tab + 1));
        ctx.sink->history(l.substr(0, tab == std::string_view::npos ? 0 : tab),
                          std::strtod(count.c_str(), nullptr));
    };
    while ((got = std::fread(chunk, 1, sizeof chunk, tmp)) > 0) {
        text.append(chunk, got);
        std::size_t start = 0, nl;
        while ((nl = text.find('\n', start)) != std::string::npos) {
            report(std::string_view(text).substr(start, nl - start));
            start = nl + 1;
        }
        text.erase(0, start);
    }
    if (!text.empty()) report(text);
}

// Header, the temporary file's lines unchanged, and the season trailer.
[[noreturn]] void copy_into_history_file(Context &ctx, int T) {
    ctx.close(ctx.fp);
    ctx.close(ctx.fp2);
    std::FILE *tmp = ctx.open("occusim.tmp", "r");
    if (!tmp) {
        ctx.write_error_file("error reopening occusim.tmp\n");
        finish(1);
    }
    ctx.fp = tmp; // closed by the run boundary should the history file fail
    ctx.fp2 = ctx.open(ctx.outfile, "w");
    if (!ctx.fp2) {
        ctx.write_error_file("error opening %s\n", ctx.outfile.c_str());
        finish(1);
    }
    ctx.history_opened = true;
    std::fprintf(ctx.fp2, "%d%c%d\n", ctx.nout, '\t', T);
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, tmp)) > 0) std::fwrite(chunk, 1, got, ctx.fp2);
    if (ctx.sink) report_lines(ctx, tmp, T);
    std::fprintf(ctx.fp2, "0\n0\n%d", ctx.SRVYPERSEASN[0]);
    for (int s = 1; s < ctx.nseasns; s++) std::fprintf(ctx.fp2, ",%d", ctx.SRVYPERSEASN[s]);
    std::fprintf(ctx.fp2, "\nsimulated data from occusim8\n");
    ctx.history_written = true;
    ctx.close_streams();
    std::fprintf(ctx.out, "end of program(occusim8.exe)\n");
    finish(0);
}

} // namespace

void do_integrated_model_sim(Context &ctx, const Args &, int simtype) {
    const int T = ctx.num_srvys;
    echo_parameters(ctx, T);
    const bool by_unit = simtype == 2;
    // A design without surveys is left to the recursion, whose survey guard
    // reports it in the error file.
    if (!by_unit && T > kMaxCohortSurveys)
        input_error("the integrated model by cohort handles at most %d surveys (T=%d); use SIMTYPE=2 for "
                    "longer designs",
                    kMaxCohortSurveys, T);
    // In a random data set by cohort the areas' shares become numbers of
    // units: a share outside 0..1 would ask for more units than N (a
    // binomial split of them never ends) and less than none.
    if (!by_unit && ctx.determ == 0 && !(ctx.pi[0] >= 0 && ctx.pi[0] <= 1))
        input_error("pi=%g: the share of units starting in area A must lie in 0..1 for a random data set",
                    ctx.pi[0]);
    // Site by site the number of units is N rounded to the nearest whole number.
    const double rounded = ctx.ns + 0.5;
    if (by_unit && !(rounded > -2147483648.0 && rounded < 2147483648.0))
        input_error("N=%g: the number of units does not fit a 32-bit count", ctx.ns);

    // The history file is written while the temporary file is read back.
    if (same_file(ctx, ctx.outfile, "occusim.tmp"))
        input_error("outfile=%s would overwrite the temporary history file occusim.tmp", ctx.outfile.c_str());

    ctx.fp = ctx.open("occusim.inp", "w");
    if (!ctx.fp) {
        ctx.write_error_file("error opening occusim.inp\n");
        finish(1);
    }
    ctx.fp2 = ctx.open("occusim.tmp", "w");
    if (!ctx.fp2) {
        ctx.write_error_file("error opening occusim.tmp\n");
        finish(1);
    }
    ctx.nout = 0;
    if (by_unit) {
        simulate_units(ctx, T, static_cast<int>(rounded));
    } else {
        Progress progress(ctx.err, "expected histories");
        IntRun run{ctx, T, {}};
        run.progress = &progress;
        run.units = ctx.ns;
        std::uint64_t p = 1;
        for (int k = T; k >= 1; k--) {
            run.place[k] = p;
            p *= 10;
        }
        int_mod(run, 1, 0, kAreaA, ctx.pi[0] * ctx.ns);
        int_mod(run, 1, 0, kAreaB, (1 - ctx.pi[0]) * ctx.ns);
    }
    copy_into_history_file(ctx, T);
}

} // namespace occusim
