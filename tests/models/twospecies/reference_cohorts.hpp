// The path-by-path cohort recursions of the two-species family, kept as the
// reference for the walk over history prefixes: every sequence of hidden
// states is its own call and adds its sites into the count table at the last
// survey. The correlated-detection recursions follow every branch, empty ones
// included, as random cohorts once did. Each *_cohorts function is the cohort
// form of a model from the occupancy split on: console lines, recursions and
// the history writer, which ends the run by throwing.
#pragma once

#include <array>
#include <cstdio>

#include "core/context.hpp"
#include "history/writers.hpp"
#include "models/twospecies/multiseason.hpp"
#include "models/twospecies/two_species.hpp"

namespace occusim::testing::reference {

// ---- single season ----

inline void path_caphis2(Context &ctx, int code, int d, int state, double n) {
    const SurveyDetections x = split_detections(ctx, state, d - 1, n);
    const int T = ctx.nper;
    if (d < T) {
        const int s = 2 * (T - d);
        if (x.a > 0) path_caphis2(ctx, code | (1 << s), d + 1, state, x.a);
        if (x.b > 0) path_caphis2(ctx, code | (2 << s), d + 1, state, x.b);
        if (x.both > 0) path_caphis2(ctx, code | (3 << s), d + 1, state, x.both);
        if (x.none > 0) path_caphis2(ctx, code, d + 1, state, x.none);
    } else if (d == T) {
        add_last_survey(ctx, code, x);
    }
}

[[noreturn]] inline void two_species_cohorts(Context &ctx) {
    TwoSpeciesOccupancy o = split_occupancy(ctx);
    ctx.nx.set(0, o.neither);
    print_occupancy_counts(ctx.out, o);
    path_caphis2(ctx, 0, 1, 1, o.nAonly);
    path_caphis2(ctx, 0, 1, 2, o.nBonly);
    path_caphis2(ctx, 0, 1, 3, o.nAB);
    prnt_caphis2(ctx, ctx.nper, 1);
}

// ---- correlated detections ----

inline void path_corrdet_single(Context &ctx, int code, int d, int prev, double n,
                                const std::array<Vec, 2> &th, const Vec &p, int digit) {
    const int j = d - 1;
    double avail = ctx.binoml(n, th[prev][j]);
    double away = n - avail;
    double det = ctx.binoml(avail, p[j]);
    double undet = avail - det;
    const int T = ctx.nper;
    if (d < T) {
        const int s = 2 * (T - d);
        path_corrdet_single(ctx, code | (digit << s), d + 1, 1, det, th, p, digit);
        path_corrdet_single(ctx, code, d + 1, 1, undet, th, p, digit);
        path_corrdet_single(ctx, code, d + 1, 0, away, th, p, digit);
    } else if (d == T) {
        ctx.nx.add(code, away + undet);
        ctx.nx.add(code | digit, det);
    }
}

inline void path_corrdetBA(Context &ctx, int code, int d, int prevA, int prevB, double n) {
    const int j = d - 1;
    double Aav = ctx.binoml(n, ctx.thA[prevA][j]);
    double Anot = n - Aav;
    double both = ctx.binoml(Aav, ctx.thB[1][prevB][j]);
    double Aonly = Aav - both;
    double Bonly = ctx.binoml(Anot, ctx.thB[0][prevB][j]);
    double none = Anot - Bonly;
    double xA = ctx.binoml(both, ctx.rA[j]);
    double xAnot = both - xA;
    double x3 = ctx.binoml(xA, ctx.rBA[j]);
    double x1 = xA - x3;
    double x2 = ctx.binoml(xAnot, ctx.rBa[j]);
    double x0 = xAnot - x2;
    double y1 = ctx.binoml(Aonly, ctx.pA[j]);
    double y0 = Aonly - y1;
    double z2 = ctx.binoml(Bonly, ctx.pB[j]);
    double z0 = Bonly - z2;
    const int T = ctx.nper;
    if (d < T) {
        const int s = 2 * (T - d);
        path_corrdetBA(ctx, code | (3 << s), d + 1, 1, 1, x3);
        path_corrdetBA(ctx, code | (1 << s), d + 1, 1, 1, x1);
        path_corrdetBA(ctx, code | (2 << s), d + 1, 1, 1, x2);
        path_corrdetBA(ctx, code, d + 1, 1, 1, x0);
        path_corrdetBA(ctx, code | (1 << s), d + 1, 1, 0, y1);
        path_corrdetBA(ctx, code, d + 1, 1, 0, y0);
        path_corrdetBA(ctx, code | (2 << s), d + 1, 0, 1, z2);
        path_corrdetBA(ctx, code, d + 1, 0, 1, z0);
        path_corrdetBA(ctx, code, d + 1, 0, 0, none);
    } else if (d == T) {
        ctx.nx.add(code, x0 + y0 + z0 + none);
        ctx.nx.add(code | 1, x1 + y1);
        ctx.nx.add(code | 2, x2 + z2);
        ctx.nx.add(code | 3, x3);
    }
}

[[noreturn]] inline void corr_det_cohorts(Context &ctx) {
    TwoSpeciesOccupancy o = split_occupancy(ctx);
    ctx.nx.set(0, o.neither);
    print_occupancy_counts(ctx.out, o);
    path_corrdet_single(ctx, 0, 1, 0, o.nAonly, ctx.thA, ctx.pA, 1);
    std::fprintf(ctx.out, "---------------");
    path_corrdet_single(ctx, 0, 1, 0, o.nBonly, ctx.thB[0], ctx.pB, 2);
    std::fprintf(ctx.out, "---------------");
    path_corrdetBA(ctx, 0, 1, 0, 0, o.nAB);
    prnt_caphis2(ctx, ctx.nper, 1);
}

// ---- several seasons ----

inline void path_ms2srv(Context &ctx, int state, int code, int d, double n);

inline void path_ms2caphis(Context &ctx, int state, int code, int d, double n) {
    if (!(n > 0)) return;
    const SurveyDetections x = split_detections(ctx, state, d - 1, n);
    const int T = ctx.nper;
    if (d < T) {
        const int s = 2 * (T - d);
        path_ms2srv(ctx, state, code | (3 << s), d, x.both);
        path_ms2srv(ctx, state, code | (1 << s), d, x.a);
        path_ms2srv(ctx, state, code | (2 << s), d, x.b);
        path_ms2srv(ctx, state, code, d, x.none);
    } else if (d == T) {
        add_last_survey(ctx, code, x);
    }
}

inline void path_ms2srv(Context &ctx, int state, int code, int d, double n) {
    if (!(n > 0)) return;
    const StateChange ch = state_change(ctx, state, d - 1);
    double withA = ctx.binoml(n, ch.pA_after);
    double bothAfter = ctx.binoml(withA, ch.pB_with);
    double Bonly = ctx.binoml(n - withA, ch.pB_without);
    double Aonly = withA - bothAfter;
    double none = n - withA - Bonly;
    path_ms2caphis(ctx, 3, code, d + 1, bothAfter);
    path_ms2caphis(ctx, 1, code, d + 1, Aonly);
    path_ms2caphis(ctx, 2, code, d + 1, Bonly);
    path_ms2caphis(ctx, 0, code, d + 1, none);
}

[[noreturn]] inline void seasons_cohorts(Context &ctx) {
    TwoSpeciesOccupancy o = split_occupancy(ctx);
    print_occupancy_counts(ctx.out, o);
    path_ms2caphis(ctx, 3, 0, 1, o.nAB);
    std::fprintf(ctx.out, "---------\n");
    path_ms2caphis(ctx, 1, 0, 1, o.nAonly);
    std::fprintf(ctx.out, "---------\n");
    path_ms2caphis(ctx, 2, 0, 1, o.nBonly);
    std::fprintf(ctx.out, "---------\n");
    path_ms2caphis(ctx, 0, 0, 1, o.neither);
    std::fprintf(ctx.out, "---------\n");
    prnt_caphis2(ctx, ctx.nper, 1);
}

} // namespace occusim::testing::reference
