// Single-species occupancy by cohort. A cohort of sites sharing a history so
// far is split at each survey into occupied and unoccupied sites, the occupied
// ones into detected (certain or uncertain) and missed, the unoccupied ones
// into false positives and true non-detections. Each non-empty sub-cohort
// continues with its history extended by one base-4 digit (0 not detected,
// 1 detected uncertain or false positive, 2 detected and certain). Between
// surveys occupancy follows colonisation (gam) and extinction (eps); with a
// removal design detected sites continue as unoccupied.
#include "models/single/caphis.hpp"

#include <cstdio>

#include "models/single/by_indiv.hpp"

namespace occusim {

void caphis(Context &ctx, std::int64_t code, double n, int k, int occ) {
    if (ctx.SIMTYPE > 1) caphis_by_indiv(ctx, n);
    if (ctx.nper > 16) {
        std::fprintf(ctx.out, "\n ERROR per > MXPER - switching to 'simulate by individual'\n");
        caphis_by_indiv(ctx, n);
    }
    double occupied;
    if (ctx.METH > 1) {
        if (ctx.newSurvey[k - 1] > 0)
            occupied = ctx.binoml(n, ctx.theta[0][ctx.Survey[k - 1]]);
        else
            occupied = occ * n;
    } else if (occ == 0) {
        occupied = ctx.binoml(n, ctx.gam[k - 1]);
    } else {
        occupied = ctx.binoml(n, 1 - ctx.eps[k - 2]);
    }
    double unoccupied = n - occupied;
    double detected = ctx.binoml(occupied, ctx.pa[k - 1]);
    double certain = ctx.binoml(detected, ctx.b[k - 1]);
    double falsepos = ctx.binoml(unoccupied, ctx.p10[k - 1]);
    double missed = occupied - detected;
    double uncertain = detected - certain;
    double empty = unoccupied - falsepos;

    if (k < ctx.nper) {
        int s = 2 * (ctx.nper - k);
        int next_occ = 1 - ctx.REMOVAL;
        if (certain > 0) caphis(ctx, code | (std::int64_t{2} << s), certain, k + 1, next_occ);
        if (uncertain > 0) caphis(ctx, code | (std::int64_t{1} << s), uncertain, k + 1, next_occ);
        if (falsepos > 0) caphis(ctx, code | (std::int64_t{1} << s), falsepos, k + 1, 0);
        if (missed > 0) caphis(ctx, code, missed, k + 1, 1);
        if (empty > 0) caphis(ctx, code, empty, k + 1, 0);
    } else {
        ctx.nx.add(code, missed + empty);
        ctx.nx.add(code | 1, uncertain + falsepos);
        ctx.nx.add(code | 2, certain);
    }
}

} // namespace occusim
