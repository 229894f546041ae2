// Single-species occupancy by cohort. A cohort of sites sharing a history so
// far is split at each survey into occupied and unoccupied sites, the occupied
// ones into detected (certain or uncertain) and missed, the unoccupied ones
// into false positives and true non-detections. Each non-empty sub-cohort
// continues with its history extended by one base-4 digit (0 not detected,
// 1 detected uncertain or false positive, 2 detected and certain). Between
// surveys occupancy follows colonisation (gam) and extinction (eps); with a
// removal design detected sites continue as unoccupied.
//
// Expected values come cohort by cohort where that walk is cheap, otherwise
// from a forward pass over the history prefixes: at each prefix the expected
// numbers of sites that enter the next survey unoccupied and occupied.
// Stochastic runs (and expected runs whose parameters are not
// probabilities, where a cohort can turn negative and is dropped on its own)
// walk the cohorts one by one, drawing in the order of that walk.
#include "models/single/caphis.hpp"

#include <cmath>
#include <cstdio>

#include "core/prefix_tree.hpp"
#include "models/single/by_indiv.hpp"

namespace occusim {

namespace {

// Counts before a survey: sites unoccupied (0) and occupied (1) at the survey
// before. Symbols are the base-4 digits 0, 1, 2.
struct CaphisPass {
    static constexpr int kStates = 2;
    static constexpr int kSymbols = 3;
    Context &ctx;

    bool last(int k) const { return k == ctx.nper; }
    std::int64_t child(std::int64_t code, int k, int digit) const {
        return code | (std::int64_t{digit} << (2 * (ctx.nper - k)));
    }

    struct Split {
        double certain, uncertain, falsepos, missed, empty;
    };
    Split outcomes(int k, const double *in) const {
        double occupied = 0, unoccupied = 0;
        for (int s = 0; s < kStates; s++) {
            const double n = in[s];
            if (!(n > 0)) continue;
            double o;
            if (ctx.METH > 1)
                o = ctx.newSurvey[k - 1] > 0 ? n * ctx.theta[0][ctx.Survey[k - 1]] : s * n;
            else
                o = s == 0 ? n * ctx.gam[k - 1] : n * (1 - ctx.eps[k - 2]);
            occupied += o;
            unoccupied += n - o;
        }
        Split r;
        const double detected = occupied * ctx.pa[k - 1];
        r.certain = detected * ctx.b[k - 1];
        r.falsepos = unoccupied * ctx.p10[k - 1];
        r.missed = occupied - detected;
        r.uncertain = detected - r.certain;
        r.empty = unoccupied - r.falsepos;
        return r;
    }
    void split(int k, const double *in, double (*out)[kStates]) {
        const Split r = outcomes(k, in);
        const int detected_state = 1 - ctx.REMOVAL;
        out[0][0] = r.empty;
        out[0][1] = r.missed;
        out[1][0] = r.falsepos;
        out[1][1] = 0;
        out[1][detected_state] += r.uncertain;
        out[2][0] = out[2][1] = 0;
        out[2][detected_state] = r.certain;
    }
    void leaf(std::int64_t code, int k, const double *in) {
        const Split r = outcomes(k, in);
        const double v[3] = {r.missed + r.empty, r.uncertain + r.falsepos, r.certain};
        for (int d = 0; d < 3; d++)
            if (v[d] != 0) ctx.nx.add(code | d, v[d]);
    }
};

// Calls of caphis_walk from survey k on, entered in occupancy state occ: per
// survey, the walk calls in each state, each leading to one call for every
// outcome that can hold sites (a probability of 0 or 1 empties one).
double walk_calls(const Context &ctx, int k, int occ) {
    double in[2] = {0, 0};
    in[occ != 0 ? 1 : 0] = 1;
    double calls = 0;
    const int detected_state = ctx.REMOVAL != 1 ? 1 : 0;
    for (int j = k; j <= ctx.nper && calls <= kWalkCallBudget; j++) {
        const int i = j - 1;
        double next[2] = {0, 0};
        for (int s = 0; s < 2; s++) {
            if (in[s] == 0) continue;
            calls += in[s];
            bool occupied, unoccupied;
            if (ctx.METH > 1) {
                const bool fresh = ctx.newSurvey[i] > 0;
                const double t = fresh ? ctx.theta[0][ctx.Survey[i]] : 0;
                occupied = fresh ? t > 0 : s == 1;
                unoccupied = fresh ? t < 1 : s == 0;
            } else {
                const double stay = s == 0 ? ctx.gam[i] : 1 - ctx.eps[i - 1];
                occupied = stay > 0;
                unoccupied = stay < 1;
            }
            const double p = ctx.pa[i], b = ctx.b[i], f = ctx.p10[i];
            const bool certain = occupied && p > 0 && b > 0, uncertain = occupied && p > 0 && b < 1;
            next[detected_state] += in[s] * (certain + uncertain);
            next[1] += in[s] * (occupied && p < 1);
            next[0] += in[s] * ((unoccupied && f > 0) + (unoccupied && f < 1));
        }
        in[0] = next[0];
        in[1] = next[1];
    }
    return calls;
}

// The pass needs cohorts that can never turn negative: a size of at least 0
// and probabilities for every survey it reaches.
bool pass_applies(const Context &ctx, double n, int k, int occ) {
    if (ctx.determ == 0 || !(n >= 0) || !std::isfinite(n)) return false;
    // A design without surveys (T not given) is walked as before.
    if (ctx.nper < 1 || k < 1 || k > ctx.nper) return false;
    if (ctx.nx.size() < (std::int64_t{3} << (2 * ctx.nper))) return false;
    for (int j = k; j <= ctx.nper; j++) {
        const int i = j - 1;
        if (!is_probability(ctx.pa[i]) || !is_probability(ctx.b[i]) || !is_probability(ctx.p10[i]))
            return false;
        if (ctx.METH > 1) {
            if (ctx.newSurvey[i] > 0 && (ctx.Survey[i] < 0 || ctx.Survey[i] >= kVecLen ||
                                         !is_probability(ctx.theta[0][ctx.Survey[i]])))
                return false;
        } else {
            if (!is_probability(ctx.gam[i])) return false;
            if ((j > k || occ != 0) && (i < 1 || !is_probability(ctx.eps[i - 1]))) return false;
        }
    }
    return !walk_chosen(ctx, [&] { return walk_calls(ctx, k, occ); });
}

} // namespace

void caphis(Context &ctx, std::int64_t code, double n, int k, int occ) {
    if (ctx.SIMTYPE > 1) caphis_by_indiv(ctx, n);
    if (ctx.nper > 16) {
        std::fprintf(ctx.out, "\n ERROR per > MXPER - switching to 'simulate by individual'\n");
        hand_over_to_sites(ctx);
        caphis_by_indiv(ctx, n);
    }
    if (!pass_applies(ctx, n, k, occ)) {
        caphis_walk(ctx, code, n, k, occ);
        return;
    }
    CaphisPass model{ctx};
    Progress line(ctx.nper >= 11 ? ctx.err : nullptr, "expected histories");
    ForwardPass<CaphisPass> pass(model, line.active() ? &line : nullptr);
    double in[2] = {0, 0};
    in[occ != 0 ? 1 : 0] = n;
    pass.run(k, code, in);
}

void caphis_walk(Context &ctx, std::int64_t code, double n, int k, int occ) {
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
        if (certain > 0) caphis_walk(ctx, code | (std::int64_t{2} << s), certain, k + 1, next_occ);
        if (uncertain > 0) caphis_walk(ctx, code | (std::int64_t{1} << s), uncertain, k + 1, next_occ);
        if (falsepos > 0) caphis_walk(ctx, code | (std::int64_t{1} << s), falsepos, k + 1, 0);
        if (missed > 0) caphis_walk(ctx, code, missed, k + 1, 1);
        if (empty > 0) caphis_walk(ctx, code, empty, k + 1, 0);
    } else {
        ctx.nx.add(code, missed + empty);
        ctx.nx.add(code | 1, uncertain + falsepos);
        ctx.nx.add(code | 2, certain);
    }
}

} // namespace occusim
