// The single-season spatial cohort recursion as it was before zero groups
// were skipped: all three branches are followed at every survey. Seeded runs
// of the model must draw exactly as this does.
#pragma once

#include <cstdint>

#include "core/context.hpp"

namespace occusim::testing {

inline void reference_caphis_scorr(Context &ctx, std::int64_t code, int k, int occupied, int present,
                                   double n) {
    double o, l;
    if (k == 1) {
        o = ctx.binoml(n, ctx.gam[0]);
        ctx.nx.set(0, n - o);
        l = ctx.binoml(o, (1 - ctx.th0pi[0]) * ctx.theta[0][0] + ctx.th0pi[0] * ctx.theta[1][0]);
    } else {
        o = occupied * n;
        l = ctx.binoml(o, ctx.theta[present][k - 1]);
    }
    double d = ctx.binoml(l, ctx.pa[k - 1]);
    const std::int64_t bit = std::int64_t{1} << (ctx.nper - k);
    if (k < ctx.nper) {
        reference_caphis_scorr(ctx, code | bit, k + 1, 1, 1, d);
        reference_caphis_scorr(ctx, code, k + 1, 1, 1, l - d);
        reference_caphis_scorr(ctx, code, k + 1, 1, 0, o - l);
    } else {
        if ((o - l) + (l - d) != 0) ctx.nx.add(code, (o - l) + (l - d));
        if (d != 0) ctx.nx.add(code | 1, d);
    }
}

} // namespace occusim::testing
