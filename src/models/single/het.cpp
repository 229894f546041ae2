// Occupancy with a two-class detection mixture, by cohort. Occupied sites fall
// into class A (detected with probability pa) or class B (detected with pB).
// A site draws its class, A with probability pi, when it enters the occupied
// state and again at the first survey of every season, and keeps it in
// between. Between surveys occupancy follows colonisation (gam, entry 0 being
// the first-season psi) and extinction (eps), survey by survey. Histories are
// base-2 codes, one bit per survey with the first survey most significant.
#include "models/single/het.hpp"

#include <cstdio>

#include "core/errors.hpp"

namespace occusim {

namespace {

// Deepest survey the mixture recursion follows.
constexpr int kMaxPer = 16;

} // namespace

void caphis_het(Context &ctx, std::int64_t code, int k, int occupied, int cls, double n) {
    if (k > kMaxPer) {
        std::fprintf(ctx.out, "\n ERROR per > MXPER");
        finish(1);
    }
    // Draws of one call, in this order: occupancy, class, class-A detection,
    // class-B detection.
    double o = occupied == 0 ? ctx.binoml(n, ctx.gam[k - 1]) : ctx.binoml(n, 1 - ctx.eps[k - 2]);
    double u = n - o;
    if (ctx.newSeason[k - 1] != 0) cls = 0;
    double A, B;
    if (cls == 0) {
        A = ctx.binoml(o, ctx.pi[k - 1]);
        B = o - A;
    } else if (cls == 1) {
        A = o;
        B = 0;
    } else {
        A = 0;
        B = o;
    }
    double dA = ctx.binoml(A, ctx.pa[k - 1]);
    double mA = A - dA;
    double dB = ctx.binoml(B, ctx.pB[k - 1]);
    double mB = B - dB;

    if (k < ctx.nper) {
        std::int64_t seen = code | (std::int64_t{1} << (ctx.nper - k));
        if (dA > 0) caphis_het(ctx, seen, k + 1, 1, 1, dA);
        if (dB > 0) caphis_het(ctx, seen, k + 1, 1, 2, dB);
        if (mA > 0) caphis_het(ctx, code, k + 1, 1, 1, mA);
        if (mB > 0) caphis_het(ctx, code, k + 1, 1, 2, mB);
        if (u > 0) caphis_het(ctx, code, k + 1, 0, 0, u);
    } else if (k == ctx.nper) {
        ctx.nx.add(code, mA + mB + u);
        ctx.nx.add(code | 1, dA + dB);
    }
}

} // namespace occusim
