// Two-species co-occurrence, single season.
//
// Species A is dominant: it occupies a site with probability psiA. Species B
// occupies a site with probability psiBA where A is present and psiBa where A
// is absent. At each survey a species that is present on its own is detected
// with pA or pB; where both are present A is detected with rA, and B with rBA
// when A was detected at that survey and rBa when it was not. Each survey adds
// one base-4 digit, 2 * (B detected) + (A detected), to the history.
//
// In the phi parameterisation the user gives B's overall occupancy psiB and the
// interaction factor phi (psiBA = phi * psiB), and for detection rB and dlta
// (rBA = dlta * rB); the conditional probabilities for the other branch follow
// from the total probability of B.
//
// do_two_species is the entry of the whole family: a design of several seasons
// goes to the multi-season model, the availability options (TWOSP = 2) to the
// model with correlated detections, everything else is simulated here, by
// cohort (expected values or one random data set) or site by site.
//
// History files: the cohort forms of the family write each history once with
// its number of sites, in random runs too. The site-by-site form here writes
// one line per site, its digits each followed by a tab and then the frequency
// 1; the surveys-per-season list is written as given (no clamping to T).
#include "models/twospecies/two_species.hpp"

#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

#include "core/count_setup.hpp"
#include "core/errors.hpp"
#include "history/writers.hpp"
#include "models/twospecies/corr_det.hpp"
#include "models/twospecies/multiseason.hpp"
#include "models/twospecies/prefix_walk.hpp"

namespace occusim {

int site_count(double ns) {
    if (std::isnan(ns)) return 0;
    if (ns >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (ns <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(ns);
}

TwoSpeciesOccupancy split_occupancy(Context &ctx) {
    TwoSpeciesOccupancy o;
    double nA = ctx.binoml(ctx.ns, ctx.psiA);
    double na = ctx.ns - nA;
    o.nAB = ctx.binoml(nA, ctx.psiBA);
    o.nAonly = nA - o.nAB;
    o.nBonly = ctx.binoml(na, ctx.psiBa);
    o.neither = na - o.nBonly;
    return o;
}

void draw_site_occupancy(Context &ctx, bool &A, bool &B) {
    A = ctx.Random() < ctx.psiA;
    double u = ctx.Random();
    B = A ? u < ctx.psiBA : u < ctx.psiBa;
}

void TwoSpeciesOccupancy::add_site(bool A, bool B) {
    if (A && B)
        nAB++;
    else if (A)
        nAonly++;
    else if (B)
        nBonly++;
    else
        neither++;
}

void print_occupancy_counts(std::FILE *f, const TwoSpeciesOccupancy &o) {
    std::fprintf(f, "nAonly,nBonly,nAB,neither: %f %f %f %f\n", o.nAonly, o.nBonly, o.nAB, o.neither);
}

int survey_digit(Context &ctx, bool A, bool B, int j, UniformForA a_uses) {
    if (A && B) {
        const double u1 = ctx.Random();
        const double u2 = ctx.Random();
        const double uA = a_uses == UniformForA::First ? u1 : u2;
        const double uB = a_uses == UniformForA::First ? u2 : u1;
        const bool detA = uA < ctx.rA[j];
        const bool detB = detA ? uB < ctx.rBA[j] : uB < ctx.rBa[j];
        return 2 * detB + detA;
    }
    if (A) return ctx.Random() < ctx.pA[j] ? 1 : 0;
    if (B) return ctx.Random() < ctx.pB[j] ? 2 : 0;
    return 0;
}

SurveyDetections split_detections(Context &ctx, int state, int j, double n) {
    SurveyDetections x;
    switch (state) {
    case 1:
        x.a = ctx.binoml(n, ctx.pA[j]);
        x.none = n - x.a;
        break;
    case 2:
        x.b = ctx.binoml(n, ctx.pB[j]);
        x.none = n - x.b;
        break;
    case 3: {
        double A = ctx.binoml(n, ctx.rA[j]);
        x.both = ctx.binoml(A, ctx.rBA[j]);
        double notA = n - A;
        x.b = ctx.binoml(notA, ctx.rBa[j]);
        x.none = notA - x.b;
        x.a = A - x.both;
        break;
    }
    default:
        x.none = n;
        break;
    }
    return x;
}

void add_last_survey(Context &ctx, int code, const SurveyDetections &x) {
    ctx.nx.add(code, x.none);
    ctx.nx.add(code | 1, x.a);
    ctx.nx.add(code | 2, x.b);
    ctx.nx.add(code | 3, x.both);
}

namespace {

// The probability of B on the branch that the total probability leaves over:
// num / den. When that branch cannot occur (den = 0) and the total is
// consistent with it (num = 0), the value is never used for a draw; it is set
// to 0 rather than the 0/0 of the division, which in expected-value runs would
// turn the empty cohort into a NaN count and wipe out the histories it is
// added to.
double remaining_branch(double num, double den) {
    if (den == 0 && num == 0) return 0;
    return num / den;
}

bool outside_unit(double v) {
    return v < 0 || v > 1;
}

} // namespace

void require_possible_occupancy(Context &ctx) {
    if (outside_unit(ctx.psiBA) || outside_unit(ctx.psiBa)) {
        ctx.write_error_file("error: impossible combination of psiA,psiB,phi.\n");
        finish(1);
    }
}

void require_possible_detection(Context &ctx, bool detection_error) {
    if (detection_error) {
        ctx.write_error_file("error: impossible combination of rA,rB,dlta.\n");
        finish(1);
    }
}

bool apply_phi_parameterisation(Context &ctx, std::FILE *echo) {
    const int T = ctx.nper;
    std::fprintf(echo, "nsites:%d nsurveys:%d psiA=%f psiB=%f phi=%f\n", site_count(ctx.ns), T, ctx.psiA,
                 ctx.psiB[0], ctx.phi);
    ctx.psiBa = remaining_branch(ctx.psiB[0] - ctx.psiA * ctx.psiB[0] * ctx.phi, 1 - ctx.psiA);
    ctx.psiBA = ctx.phi * ctx.psiB[0];
    bool detection_error = false;
    for (int j = 0; j < T; j++) {
        ctx.rBa[j] = remaining_branch(ctx.rB[j] - ctx.rA[j] * ctx.rB[j] * ctx.dlta[j], 1 - ctx.rA[j]);
        ctx.rBA[j] = ctx.dlta[j] * ctx.rB[j];
        if (outside_unit(ctx.rBa[j]) || outside_unit(ctx.rBA[j])) detection_error = true;
    }
    return detection_error;
}

void print_survey_values(std::FILE *f, const char *label, const Vec &v, int T, int offset) {
    std::fprintf(f, "%s", label);
    for (int j = 0; j < T; j++) std::fprintf(f, " %lf", v[offset + j]);
}

void print_survey_line(std::FILE *f, const char *label, const Vec &v, int T) {
    print_survey_values(f, label, v, T);
    std::fprintf(f, "\n");
}

void print_detection_lines(Context &ctx) {
    const int T = ctx.nper;
    print_survey_line(ctx.out, "pA  =", ctx.pA, T);
    print_survey_line(ctx.out, "pB  =", ctx.pB, T);
    print_survey_line(ctx.out, "rA  =", ctx.rA, T);
    print_survey_line(ctx.out, "rBA =", ctx.rBA, T);
    print_survey_line(ctx.out, "rBa =", ctx.rBa, T);
}

void write_site_trailer(Context &ctx, std::FILE *f) {
    std::fprintf(f, "0\n0\n%d", ctx.SRVYPERSEASN[0]);
    for (int s = 1; s < ctx.nseasns; s++) std::fprintf(f, ",%d", ctx.SRVYPERSEASN[s]);
    std::fprintf(f, "\nsimulated data from occusim8\n");
}

void caphis2(Context &ctx, int code, int d, int state, double n) {
    const SurveyDetections x = split_detections(ctx, state, d - 1, n);
    const int T = ctx.nper;
    if (d < T) {
        const int s = 2 * (T - d);
        if (x.a > 0) caphis2(ctx, code | (1 << s), d + 1, state, x.a);
        if (x.b > 0) caphis2(ctx, code | (2 << s), d + 1, state, x.b);
        if (x.both > 0) caphis2(ctx, code | (3 << s), d + 1, state, x.both);
        if (x.none > 0) caphis2(ctx, code, d + 1, state, x.none);
    } else if (d == T) {
        add_last_survey(ctx, code, x);
    }
}

namespace {

// The single-season expected values over the tree of history prefixes. The
// occupancy state of a site never changes, so each state reaches a history
// prefix by one sequence of outcomes only: the three states are carried side
// by side, each with the very numbers its own cohort recursion forms, and the
// last survey adds them into the table state by state in the order of the
// recursion (A only, B only, both). The counts are therefore those of caphis2
// to the last bit. As there, every state enters the first survey whatever its
// number of sites, and after it only outcomes with sites go on.
struct SingleSeasonPrefix {
    static constexpr int K = 3; // states 1, 2, 3 at 0, 1, 2
    Context &ctx;

    static bool walked(int j, double n) { return j == 0 || n > 0; }

    void extend(int j, const double *m, double (*child)[K]) {
        for (int s = 0; s < K; s++) {
            if (!walked(j, m[s])) continue;
            const SurveyDetections x = expected_detections(ctx, s + 1, j, m[s]);
            if (x.none > 0) child[0][s] = x.none;
            if (x.a > 0) child[1][s] = x.a;
            if (x.b > 0) child[2][s] = x.b;
            if (x.both > 0) child[3][s] = x.both;
        }
    }
    bool live(const double *m) const { return m[0] > 0 || m[1] > 0 || m[2] > 0; }
    // Each history of the last survey gets the states' numbers added one
    // after the other onto what its entry holds (the `neither` sites for the
    // empty history), as the recursions add them.
    void last(int j, std::int64_t code, const double *m) {
        double v[4] = {ctx.nx.get(code), ctx.nx.get(code | 1), ctx.nx.get(code | 2), ctx.nx.get(code | 3)};
        bool any = false;
        for (int s = 0; s < K; s++) {
            if (!walked(j, m[s])) continue;
            const SurveyDetections x = expected_detections(ctx, s + 1, j, m[s]);
            v[0] += x.none;
            v[1] += x.a;
            v[2] += x.b;
            v[3] += x.both;
            any = true;
        }
        if (!any) return;
        for (int digit = 0; digit < 4; digit++) ctx.nx.set(code | digit, v[digit]);
    }
};

} // namespace

void two_species_expected(Context &ctx, const TwoSpeciesOccupancy &o) {
    ctx.nx.set(0, o.neither);
    SingleSeasonPrefix walk{ctx};
    const double root[3] = {o.nAonly, o.nBonly, o.nAB};
    walk_history_tree(walk, ctx.err, ctx.nper, root);
}

namespace {

// The cohort forms keep their counts in a table of 2 * 4^T entries; from 15
// surveys on that size no longer fits in 32 bits and the run is refused as a
// failed allocation. Site-by-site runs need no table; their lines hold at most
// kMaxSiteSurveys surveys.
void prepare_count_table(Context &ctx) {
    if (ctx.SIMTYPE == 2) {
        if (ctx.nper > kMaxSiteSurveys)
            input_error("T=%d: two-species simulation site by site handles at most %d surveys", ctx.nper,
                        kMaxSiteSurveys);
        return;
    }
    TableSize size = shifted_size(2, 2 * ctx.nper);
    if (!size.fits || !ctx.nx.reset(size.entries)) {
        std::fprintf(ctx.out, "error allocating nx\n");
        finish(1);
    }
    ctx.ilmt = size.value32;
}

// One line per site: the survey digits, each followed by a tab, and the
// frequency 1.
void simulate_sites(Context &ctx) {
    const int T = ctx.nper;
    const int nsites = site_count(ctx.ns);
    std::fprintf(ctx.err, "simulating by individual...\n");
    std::fprintf(ctx.fp2, "%d\t%d\n", nsites, T);
    if (ctx.sink) ctx.sink->begin(HistoryShape{true, T, 0, 0});
    TwoSpeciesOccupancy o;
    std::string line;
    line.reserve(2 * static_cast<std::size_t>(T) + 2);
    for (int i = 0; i < nsites; i++) {
        bool A, B;
        draw_site_occupancy(ctx, A, B);
        o.add_site(A, B);
        line.clear();
        for (int j = 0; j < T; j++) {
            line.push_back(static_cast<char>('0' + survey_digit(ctx, A, B, j)));
            line.push_back('\t');
        }
        if (ctx.sink) ctx.sink->history(line, 1);
        line += "1\n";
        std::fwrite(line.data(), 1, line.size(), ctx.fp2);
        ctx.nout++;
    }
    write_site_trailer(ctx, ctx.fp2);
    print_occupancy_counts(ctx.out, o);
}

[[noreturn]] void simulate_cohorts(Context &ctx) {
    TwoSpeciesOccupancy o = split_occupancy(ctx);
    print_occupancy_counts(ctx.out, o);
    if (ctx.determ != 0) {
        two_species_expected(ctx, o);
    } else {
        // Random cohorts draw state by state, depth first.
        ctx.nx.set(0, o.neither);
        caphis2(ctx, 0, 1, 1, o.nAonly);
        caphis2(ctx, 0, 1, 2, o.nBonly);
        caphis2(ctx, 0, 1, 3, o.nAB);
    }
    prnt_caphis2(ctx, ctx.nper, 1);
}

// A model that wrote and closed its history file itself ends the run here.
[[noreturn]] void end_after_site_file(Context &ctx) {
    ctx.history_written = true;
    ctx.close_streams();
    finish(0);
}

} // namespace

void do_two_species(Context &ctx) {
    const int T = ctx.nper;
    std::fprintf(ctx.out, "2-species simulation:\n");
    prepare_count_table(ctx);
    if (ctx.nseasns > 1) {
        do_two_species_multiseason(ctx);
        end_after_site_file(ctx);
    }
    if (ctx.TWOSP > 1) {
        do_two_sp_corr_det(ctx);
        end_after_site_file(ctx);
    }
    bool detection_error = false;
    if (ctx.phi >= 0) detection_error = apply_phi_parameterisation(ctx, ctx.err);
    std::fprintf(ctx.err, "nsites:%d nsurveys:%d psiA=%f psiBA=%f psiBa=%f\n", site_count(ctx.ns), T,
                 ctx.psiA, ctx.psiBA, ctx.psiBa);
    require_possible_occupancy(ctx);
    for (int j = 0; j < T; j++) ctx.pa[j] = ctx.pA[j];
    print_detection_lines(ctx);
    require_possible_detection(ctx, detection_error);
    if (ctx.SIMTYPE == 2)
        simulate_sites(ctx);
    else
        simulate_cohorts(ctx);
}

} // namespace occusim
