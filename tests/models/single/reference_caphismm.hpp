// The multi-method cohort recursion as it was before zero groups were
// skipped: every branch is followed whether it holds sites or not. Seeded
// runs of the model must draw exactly as this does.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/context.hpp"

namespace occusim::testing {

inline void reference_caphismm(Context &ctx, std::int64_t code, int k, int occupied, int available,
                               double n) {
    double o =
        ctx.newSeason[k - 1] >= 1 ? ctx.binoml(n, ctx.gameps[occupied][ctx.Season[k - 1]]) : occupied * n;
    double a = ctx.newSurvey[k - 1] >= 1 ? ctx.binoml(o, ctx.theta[0][ctx.Survey[k - 1]]) : available * o;
    double d = ctx.binoml(a, ctx.pa[k - 1]);

    if (k < ctx.nper) {
        reference_caphismm(ctx, code | (std::int64_t{1} << (ctx.nper - k)), k + 1, 1, 1, d);
        reference_caphismm(ctx, code, k + 1, 1, 1, a - d);
        reference_caphismm(ctx, code, k + 1, 1, 0, o - a);
        reference_caphismm(ctx, code, k + 1, 0, 0, n - o);
    } else if (k == ctx.nper) {
        if ((code | 1) >= ctx.nx.size()) return;
        ctx.nx.add(code, (a - d) + (o - a) + (n - o));
        ctx.nx.add(code | 1, d);
    }
}

} // namespace occusim::testing
