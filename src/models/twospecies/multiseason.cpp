// Two-species co-occurrence over several seasons.
//
// The joint state of a site (neither species, A only, B only, both) starts from
// the single-season occupancy probabilities and changes after every survey,
// within seasons too: entry j of each transition vector governs the change
// between survey j and survey j+1. A colonises empty sites with gamAb and sites
// holding only B with gamAB, and goes extinct with epsAb (alone) or epsAB (with
// B). B's colonisation and extinction depend on what A does across the same
// change: gamB and epsB hold four blocks of 1000 entries, block
// 2 * (A present before) + (A present after). Detection at each survey follows
// the single-season model; the history digit is 2 * (B detected) + (A detected).
// The season layout only selects this model and fills the history file's
// surveys-per-season list. Expected values are computed over the tree of
// history prefixes with the sites of each prefix counted by joint state (four
// numbers); random cohorts follow the depth-first recursion, whose order fixes
// the order of the random draws. The site-by-site form writes one line per site
// without a frequency field: each digit followed by a tab.
#include "models/twospecies/multiseason.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "history/writers.hpp"
#include "models/twospecies/prefix_walk.hpp"
#include "models/twospecies/two_species.hpp"

namespace occusim {

namespace {

// Offsets of the four blocks of gamB and epsB.
constexpr int kaa = 0 * kVecLen; // A absent before and after
constexpr int kaA = 1 * kVecLen; // A arrives
constexpr int kAa = 2 * kVecLen; // A leaves
constexpr int kAA = 3 * kVecLen; // A stays

} // namespace

StateChange state_change(const Context &ctx, int state, int j) {
    switch (state) {
    case 0:
        return {ctx.gamAb[j], ctx.gamB[kaA + j], ctx.gamB[kaa + j]};
    case 1:
        return {1 - ctx.epsAb[j], ctx.gamB[kAA + j], ctx.gamB[kAa + j]};
    case 2:
        return {ctx.gamAB[j], 1 - ctx.epsB[kaA + j], 1 - ctx.epsB[kaa + j]};
    default:
        return {1 - ctx.epsAB[j], 1 - ctx.epsB[kAA + j], 1 - ctx.epsB[kAa + j]};
    }
}

void ms2caphis(Context &ctx, int state, int code, int d, double n) {
    if (!(n > 0)) return;
    const SurveyDetections x = split_detections(ctx, state, d - 1, n);
    const int T = ctx.nper;
    if (d < T) {
        const int s = 2 * (T - d);
        ms2srv(ctx, state, code | (3 << s), d, x.both);
        ms2srv(ctx, state, code | (1 << s), d, x.a);
        ms2srv(ctx, state, code | (2 << s), d, x.b);
        ms2srv(ctx, state, code, d, x.none);
    } else if (d == T) {
        add_last_survey(ctx, code, x);
    }
}

void ms2srv(Context &ctx, int state, int code, int d, double n) {
    if (!(n > 0)) return;
    const StateChange ch = state_change(ctx, state, d - 1);
    double withA = ctx.binoml(n, ch.pA_after);
    double bothAfter = ctx.binoml(withA, ch.pB_with);
    double Bonly = ctx.binoml(n - withA, ch.pB_without);
    double Aonly = withA - bothAfter;
    double none = n - withA - Bonly;
    ms2caphis(ctx, 3, code, d + 1, bothAfter);
    ms2caphis(ctx, 1, code, d + 1, Aonly);
    ms2caphis(ctx, 2, code, d + 1, Bonly);
    ms2caphis(ctx, 0, code, d + 1, none);
}

namespace {

// The joint states over the tree of history prefixes: the sites of a history
// prefix by joint state at the next survey (index = state). As in the cohort
// recursion, only groups with sites go on, after the detections and after the
// change of state alike, so the counts are those of the recursion up to the
// rounding of their sums. States are taken in the recursion's order of
// cohorts: both, A only, B only, neither.
struct SeasonsPrefix {
    static constexpr int K = 4;
    static constexpr int kOrder[K] = {3, 1, 2, 0};
    Context &ctx;
    bool finite = true; // every count added to the table was a finite number

    // Adds n sites that showed one digit, moved on by the change ch to their
    // states at the next survey, into `to`.
    static void change(const StateChange &ch, double n, double *to) {
        if (!(n > 0)) return;
        const double withA = n * ch.pA_after;
        const double bothAfter = withA * ch.pB_with;
        const double Bonly = (n - withA) * ch.pB_without;
        const double Aonly = withA - bothAfter;
        const double none = n - withA - Bonly;
        if (bothAfter > 0) to[3] += bothAfter;
        if (Aonly > 0) to[1] += Aonly;
        if (Bonly > 0) to[2] += Bonly;
        if (none > 0) to[0] += none;
    }
    void extend(int j, const double *m, double (*child)[K]) {
        for (int state : kOrder) {
            if (!(m[state] > 0)) continue;
            const SurveyDetections x = expected_detections(ctx, state, j, m[state]);
            const StateChange ch = state_change(ctx, state, j);
            change(ch, x.both, child[3]);
            change(ch, x.a, child[1]);
            change(ch, x.b, child[2]);
            change(ch, x.none, child[0]);
        }
    }
    bool live(const double *m) const { return m[0] > 0 || m[1] > 0 || m[2] > 0 || m[3] > 0; }
    void last(int j, std::int64_t code, const double *m) {
        double add[4] = {};
        bool any = false;
        for (int state : kOrder) {
            if (!(m[state] > 0)) continue;
            const SurveyDetections x = expected_detections(ctx, state, j, m[state]);
            add[0] += x.none;
            add[1] += x.a;
            add[2] += x.b;
            add[3] += x.both;
            any = true;
        }
        if (!any) return;
        for (int digit = 0; digit < 4; digit++) {
            if (!std::isfinite(add[digit])) finite = false;
            ctx.nx.add(code | digit, add[digit]);
        }
    }
};

} // namespace

void seasons_expected(Context &ctx, const TwoSpeciesOccupancy &o) {
    SeasonsPrefix walk{ctx};
    const double root[SeasonsPrefix::K] = {o.neither, o.nAonly, o.nBonly, o.nAB};
    walk_history_tree(walk, ctx.err, ctx.nper, root);
    if (walk.finite) return;
    // Counts beyond the range of a double: infinities and undefined values
    // depend on the order in which they meet, so the table is formed afresh
    // path by path.
    ctx.nx.reset(ctx.nx.size());
    ms2caphis(ctx, 3, 0, 1, o.nAB);
    ms2caphis(ctx, 1, 0, 1, o.nAonly);
    ms2caphis(ctx, 2, 0, 1, o.nBonly);
    ms2caphis(ctx, 0, 0, 1, o.neither);
}

namespace {

// One kind of change (colonisation or extinction) on the console: A's rows
// with and without B, then B's four blocks (A stays, leaves, arrives, absent).
void print_change_rows(std::FILE *f, const std::array<const char *, 6> &labels, const Vec &A_withB,
                       const Vec &A_withoutB, const Vec &B_blocks, int T) {
    print_survey_values(f, labels[0], A_withB, T);
    print_survey_values(f, labels[1], A_withoutB, T);
    print_survey_values(f, labels[2], B_blocks, T, kAA);
    print_survey_values(f, labels[3], B_blocks, T, kAa);
    print_survey_values(f, labels[4], B_blocks, T, kaA);
    print_survey_values(f, labels[5], B_blocks, T, kaa);
}

// Site by site: one line per site, the survey digits each followed by a tab
// and no frequency. The state changes after every survey, the last included,
// with one draw for A and one for B whatever the state.
void simulate_sites(Context &ctx) {
    const int T = ctx.nper;
    const int nsites = site_count(ctx.ns);
    std::fprintf(ctx.out, "simulating 2sp-ms by individual...\n");
    std::fprintf(ctx.out, "%d\t%d\n", nsites, T);
    std::fprintf(ctx.fp2, "%d\t%d\n", nsites, T);
    if (ctx.sink) ctx.sink->begin(HistoryShape{true, T, 0, 0});
    std::string line;
    line.reserve(2 * static_cast<std::size_t>(T) + 1);
    for (int i = 0; i < nsites; i++) {
        bool A, B;
        draw_site_occupancy(ctx, A, B);
        line.clear();
        for (int j = 0; j < T; j++) {
            line.push_back(static_cast<char>('0' + survey_digit(ctx, A, B, j, UniformForA::Second)));
            line.push_back('\t');

            double u = ctx.Random();
            double u2 = ctx.Random();
            const StateChange ch = state_change(ctx, 2 * B + A, j);
            A = u < ch.pA_after;
            B = A ? u2 < ch.pB_with : u2 < ch.pB_without;
        }
        if (ctx.sink) ctx.sink->history(line, 1);
        line.push_back('\n');
        std::fwrite(line.data(), 1, line.size(), ctx.fp2);
    }
    write_site_trailer(ctx, ctx.fp2);
    ctx.close(ctx.fp);
    std::fprintf(ctx.out, "nchk=%d %d\n", 0, 0);
}

[[noreturn]] void simulate_cohorts(Context &ctx) {
    std::fprintf(ctx.out, "\nsimulating by cohort...\n");
    TwoSpeciesOccupancy o = split_occupancy(ctx);
    print_occupancy_counts(ctx.out, o);
    if (ctx.determ != 0) {
        seasons_expected(ctx, o);
        for (int cohort = 0; cohort < 4; cohort++) std::fprintf(ctx.out, "---------\n");
    } else {
        // Random cohorts draw state by state, depth first.
        ms2caphis(ctx, 3, 0, 1, o.nAB);
        std::fprintf(ctx.out, "---------\n");
        ms2caphis(ctx, 1, 0, 1, o.nAonly);
        std::fprintf(ctx.out, "---------\n");
        ms2caphis(ctx, 2, 0, 1, o.nBonly);
        std::fprintf(ctx.out, "---------\n");
        ms2caphis(ctx, 0, 0, 1, o.neither);
        std::fprintf(ctx.out, "---------\n");
    }
    prnt_caphis2(ctx, ctx.nper, 1);
}

} // namespace

void do_two_species_multiseason(Context &ctx) {
    const int T = ctx.nper;
    std::fprintf(ctx.out, "2-species multiseason simulation:\n");
    bool detection_error = false;
    if (ctx.phi >= 0) detection_error = apply_phi_parameterisation(ctx, ctx.out);
    std::fprintf(ctx.out, "nsites:%d nsurveys:%d psiA=%f psiBA=%f psiBa=%f\n", site_count(ctx.ns), T,
                 ctx.psiA, ctx.psiBA, ctx.psiBa);
    require_possible_occupancy(ctx);
    require_possible_detection(ctx, detection_error);
    std::fprintf(ctx.out, "srvys/season  =");
    for (int s = 0; s < ctx.nseasns; s++) std::fprintf(ctx.out, " %d", ctx.SRVYPERSEASN[s]);
    std::fprintf(ctx.out, "\n");
    print_detection_lines(ctx);
    print_change_rows(ctx.out,
                      {"\ngamAB  =", "\ngamAb  =", "\ngamBAA =", "\ngamBAa =", "\ngamBaA =", "\ngamBaa ="},
                      ctx.gamAB, ctx.gamAb, ctx.gamB, T);
    print_change_rows(ctx.out,
                      {"\nepsAB  =", "\nepsAb  =", "\nepsBAA =", "\nepsBAa =", "\nepsBaA =", "\nepsBaa ="},
                      ctx.epsAB, ctx.epsAb, ctx.epsB, T);
    std::fprintf(ctx.out, "\n");
    if (ctx.SIMTYPE == 2)
        simulate_sites(ctx);
    else
        simulate_cohorts(ctx);
}

} // namespace occusim
