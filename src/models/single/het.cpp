// Occupancy with a two-class detection mixture, by cohort. Occupied sites fall
// into class A (detected with probability pa) or class B (detected with pB).
// A site draws its class, A with probability pi, when it enters the occupied
// state and again at the first survey of every season, and keeps it in
// between. Between surveys occupancy follows colonisation (gam, entry 0 being
// the first-season psi) and extinction (eps), survey by survey. Histories are
// base-2 codes, one bit per survey with the first survey most significant.
//
// Expected values come cohort by cohort where that walk is cheap, otherwise
// from a forward pass over the history prefixes (at each prefix the sites
// unoccupied, occupied in class A and occupied in class B); stochastic runs
// walk the cohorts one by one.
#include "models/single/het.hpp"

#include <cmath>
#include <cstdio>

#include "core/errors.hpp"
#include "core/prefix_tree.hpp"

namespace occusim {

namespace {

// Deepest survey the mixture recursion follows.
constexpr int kMaxPer = 16;

// States before a survey: unoccupied (class not drawn), occupied in class A,
// occupied in class B; as the walk's (occupied, cls) pairs (0,0), (1,1), (1,2).
struct HetPass {
    static constexpr int kStates = 3;
    static constexpr int kSymbols = 2;
    Context &ctx;

    bool last(int k) const { return k == ctx.nper; }
    std::int64_t child(std::int64_t code, int k, int bit) const {
        return bit ? code | (std::int64_t{1} << (ctx.nper - k)) : code;
    }

    struct Split {
        double dA, dB, mA, mB, u;
    };
    Split outcomes(int k, const double *in) const {
        double A = 0, B = 0, u = 0;
        const bool draw_class = ctx.newSeason[k - 1] != 0;
        for (int s = 0; s < kStates; s++) {
            const double n = in[s];
            if (!(n > 0)) continue;
            const double o = s == 0 ? n * ctx.gam[k - 1] : n * (1 - ctx.eps[k - 2]);
            u += n - o;
            if (s == 0 || draw_class) {
                const double a = o * ctx.pi[k - 1];
                A += a;
                B += o - a;
            } else if (s == 1) {
                A += o;
            } else {
                B += o;
            }
        }
        Split r;
        r.dA = A * ctx.pa[k - 1];
        r.mA = A - r.dA;
        r.dB = B * ctx.pB[k - 1];
        r.mB = B - r.dB;
        r.u = u;
        return r;
    }
    void split(int k, const double *in, double (*out)[kStates]) {
        const Split r = outcomes(k, in);
        out[0][0] = r.u;
        out[0][1] = r.mA;
        out[0][2] = r.mB;
        out[1][0] = 0;
        out[1][1] = r.dA;
        out[1][2] = r.dB;
    }
    void leaf(std::int64_t code, int k, const double *in) {
        const Split r = outcomes(k, in);
        const double missed = r.mA + r.mB + r.u, seen = r.dA + r.dB;
        if (missed != 0) ctx.nx.add(code, missed);
        if (seen != 0) ctx.nx.add(code | 1, seen);
    }
};

// Calls of caphis_het_walk from survey k on, entered in state s (the pass's
// states): per survey, the walk calls in each state, each leading to one call
// for every outcome that can hold sites.
double walk_calls(const Context &ctx, int k, int s0) {
    double in[3] = {0, 0, 0};
    in[s0] = 1;
    double calls = 0;
    for (int j = k; j <= ctx.nper && calls <= kWalkCallBudget; j++) {
        const int i = j - 1;
        double next[3] = {0, 0, 0};
        for (int s = 0; s < 3; s++) {
            if (in[s] == 0) continue;
            calls += in[s];
            const double stay = s == 0 ? ctx.gam[i] : 1 - ctx.eps[i - 1];
            const bool o = stay > 0;
            const int cls = ctx.newSeason[i] != 0 ? 0 : s;
            const bool A = o && (cls == 1 || (cls == 0 && ctx.pi[i] > 0));
            const bool B = o && (cls == 2 || (cls == 0 && ctx.pi[i] < 1));
            next[1] += in[s] * ((A && ctx.pa[i] > 0) + (A && ctx.pa[i] < 1));
            next[2] += in[s] * ((B && ctx.pB[i] > 0) + (B && ctx.pB[i] < 1));
            next[0] += in[s] * (stay < 1);
        }
        for (int s = 0; s < 3; s++) in[s] = next[s];
    }
    return calls;
}

bool pass_applies(const Context &ctx, std::int64_t code, int k, int occupied, int cls, double n) {
    if (ctx.determ == 0 || ctx.nper > kMaxPer || k < 1 || k > ctx.nper) return false;
    if (!(n >= 0) || !std::isfinite(n) || code < 0) return false;
    if (ctx.nx.size() < (std::int64_t{1} << ctx.nper)) return false;
    // The walk starts unoccupied or in a drawn class.
    if (!((occupied == 0 && cls == 0) || (occupied == 1 && (cls == 1 || cls == 2)))) return false;
    for (int j = k; j <= ctx.nper; j++) {
        const int i = j - 1;
        if (!is_probability(ctx.gam[i]) || !is_probability(ctx.pi[i]) || !is_probability(ctx.pa[i]) ||
            !is_probability(ctx.pB[i]))
            return false;
        if ((j > k || occupied != 0) && (i < 1 || !is_probability(ctx.eps[i - 1]))) return false;
    }
    return !walk_chosen(ctx, [&] { return walk_calls(ctx, k, occupied == 0 ? 0 : cls); });
}

} // namespace

void caphis_het(Context &ctx, std::int64_t code, int k, int occupied, int cls, double n) {
    if (!pass_applies(ctx, code, k, occupied, cls, n)) {
        caphis_het_walk(ctx, code, k, occupied, cls, n);
        return;
    }
    HetPass model{ctx};
    Progress line(ctx.nper >= 18 ? ctx.err : nullptr, "expected histories");
    ForwardPass<HetPass> pass(model, line.active() ? &line : nullptr);
    double in[3] = {0, 0, 0};
    in[occupied == 0 ? 0 : cls] = n;
    pass.run(k, code, in);
}

void caphis_het_walk(Context &ctx, std::int64_t code, int k, int occupied, int cls, double n) {
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
        if (dA > 0) caphis_het_walk(ctx, seen, k + 1, 1, 1, dA);
        if (dB > 0) caphis_het_walk(ctx, seen, k + 1, 1, 2, dB);
        if (mA > 0) caphis_het_walk(ctx, code, k + 1, 1, 1, mA);
        if (mB > 0) caphis_het_walk(ctx, code, k + 1, 1, 2, mB);
        if (u > 0) caphis_het_walk(ctx, code, k + 1, 0, 0, u);
    } else if (k == ctx.nper) {
        ctx.nx.add(code, mA + mB + u);
        ctx.nx.add(code | 1, dA + dB);
    }
}

} // namespace occusim
