// Multi-method occupancy, by cohort. Every visit is made with METH detection
// methods at once, so the design is re-laid as METH consecutive surveys per
// visit (method m of visit v is survey v*METH + m). Occupancy changes only
// between seasons: an unoccupied site is occupied in season s with gam[s]
// (gam[0] being psi), an occupied one stays with 1 - eps[s]. At every visit an
// occupied site is locally available with theta row 0 of that visit, and each
// method then detects an available site with its own probability (p1, p2,
// p3). Histories are base-2 codes over the re-laid surveys, first survey most
// significant.
//
// Expected values come from a forward pass over the history prefixes (at each
// prefix the sites unoccupied, occupied but not available, and available);
// stochastic runs walk the cohorts one by one.
#include "models/single/multimethod.hpp"

#include <climits>
#include <cmath>
#include <cstdio>

#include "core/count_setup.hpp"
#include "core/errors.hpp"
#include "core/prefix_tree.hpp"
#include "models/single/by_indiv.hpp"

namespace occusim {

namespace {

// Deepest survey the cohort recursion follows; longer designs are simulated
// site by site.
constexpr int kMaxPer = 16;
// Methods are read from the method rows 1 .. 5 of the detection table pMS[0].
constexpr int kMaxMethods = kMaxStates - 1;

void print_ivec(Context &ctx, const char *label, const IVec &v, int count) {
    std::fprintf(ctx.out, "%s", label);
    for (int k = 0; k < count; k++) std::fprintf(ctx.out, " %d", v[k]);
    std::fprintf(ctx.out, "\n");
}

// The layout reads method rows that exist, writes no more surveys than the
// detection vector holds, and scales the season lengths without overflow.
void check_layout_fits(const Context &ctx, int M) {
    if (M > kMaxMethods)
        input_error("METH=%d: at most %d detection methods per visit are supported", M, kMaxMethods);
    if (static_cast<long>(ctx.nper) * M > kPaLen)
        input_error("METH=%d with T=%d gives %ld surveys; at most %d are supported", M, ctx.nper,
                    static_cast<long>(ctx.nper) * M, kPaLen);
    for (int s = 0; s < ctx.nseasns; s++) {
        long scaled = static_cast<long>(ctx.SRVYPERSEASN[s]) * M;
        if (scaled > INT_MAX || scaled < INT_MIN)
            input_error("season %d: %d surveys with METH=%d exceed the survey count", s, ctx.SRVYPERSEASN[s],
                        M);
    }
}

// Parameter echo of the first call; it also turns the extinction row of
// gameps into persistence (1 - eps) for the recursion.
void echo_and_flip(Context &ctx) {
    std::fprintf(ctx.out, "theta:");
    for (int v = 0; v < ctx.nper / ctx.METH; v++) std::fprintf(ctx.out, " %3.1f", ctx.theta[0][v]);
    std::fprintf(ctx.out, "\np:");
    for (int j = 0; j < ctx.nper; j++) std::fprintf(ctx.out, " %3.1f", ctx.pa[j]);
    std::fprintf(ctx.out, "\ngam  :");
    for (int s = 0; s < ctx.nseasns; s++) std::fprintf(ctx.out, " %3.1f", ctx.gameps[0][s]);
    std::fprintf(ctx.out, "\neps  :");
    for (int s = 0; s < ctx.nseasns; s++) {
        std::fprintf(ctx.out, " %3.1f", ctx.gameps[1][s]);
        ctx.gameps[1][s] = 1 - ctx.gameps[1][s];
    }
    std::fprintf(ctx.out, "\n");
}

} // namespace

void multi_method_layout(Context &ctx) {
    const int M = ctx.METH;
    check_layout_fits(ctx, M);

    // Survey-major: the M methods of survey k become surveys k*M .. k*M+M-1.
    for (int k = 0; k < ctx.nper; k++)
        for (int m = 0; m < M; m++) ctx.pa[k * M + m] = ctx.pMS[0][m + 1][k];
    ctx.nper *= M;

    ctx.npresnt = ctx.binoml(ctx.ns, ctx.psi);
    if (ctx.SIMTYPE == 2) ctx.npresnt = ctx.ns;

    // Each survey of the design opens a block of M entries; each season opens
    // at the first entry of its first survey. A season list that runs past
    // the design marks nothing beyond it.
    for (int k = 0; k < ctx.nper; k++) ctx.newSurvey[k] = ctx.newSeason[k] = 0;
    int q = 0;
    for (int s = 0; s < ctx.nseasns && q < ctx.nper; s++) {
        ctx.newSeason[q] = 1;
        for (int i = 0; i < ctx.SRVYPERSEASN[s] && q < ctx.nper; i++) {
            ctx.newSurvey[q] = 1;
            q += M;
        }
    }

    std::fprintf(ctx.out, "nseasns=%d\nSPS:", ctx.nseasns);
    for (int s = 0; s < ctx.nseasns; s++) {
        ctx.SRVYPERSEASN[s] *= M;
        std::fprintf(ctx.out, " %d", ctx.SRVYPERSEASN[s]);
    }
    std::fprintf(ctx.out, "\nnpresnt=%f ns=%f nseasns=%d\n", ctx.npresnt, ctx.ns, ctx.nseasns);
    std::fprintf(ctx.out, "iseasn=%d gam(0)=%f\n", ctx.iseasn, ctx.gam[0]);
    print_ivec(ctx, "newSeason:", ctx.newSeason, ctx.nper);
    print_ivec(ctx, "newSurvey:", ctx.newSurvey, ctx.nper);

    // Visit and season of every re-laid survey, counted from 0.
    int visits = 0, seasons = 0;
    for (int k = 0; k < ctx.nper; k++) {
        if (ctx.newSurvey[k] > 0) visits++;
        if (ctx.newSeason[k] > 0) seasons++;
        ctx.Survey[k] = visits - 1;
        ctx.Season[k] = seasons - 1;
    }
    print_ivec(ctx, "Survey:", ctx.Survey, ctx.nper);
    print_ivec(ctx, "Season:", ctx.Season, ctx.nper);

    for (int k = 0; k < ctx.nper; k++) {
        ctx.gameps[0][k] = ctx.gam[k];
        ctx.gameps[1][k] = ctx.eps[k];
    }
}

void size_multi_method_table(Context &ctx) {
    // Longer designs are simulated site by site before the table is touched.
    if (ctx.nper > kMaxPer) return;
    // 4^nper codes, obtained twice over; from 15 re-laid surveys the doubled
    // size no longer fits 32 bits and is refused as a failed allocation.
    TableSize ilmt = shifted_size(1, 2 * ctx.nper);
    TableSize alloc = shifted_size(2, 2 * ctx.nper);
    size_count_table(ctx, alloc, ilmt, "4)error allocating nx (size=%d)\n");
}

namespace {

// States before a survey, as the walk's (occupied, available) pairs:
// (0,0), (1,0), (1,1).
struct MultiMethodPass {
    static constexpr int kStates = 3;
    static constexpr int kSymbols = 2;
    static constexpr int kOccupied[kStates] = {0, 1, 1};
    static constexpr int kAvailable[kStates] = {0, 0, 1};
    Context &ctx;

    bool last(int k) const { return k == ctx.nper; }
    std::int64_t child(std::int64_t code, int k, int bit) const {
        return bit ? code | (std::int64_t{1} << (ctx.nper - k)) : code;
    }

    struct Split {
        double d, ad, oa, no;
    };
    Split outcomes(int k, const double *in) const {
        double a = 0, oa = 0, no = 0;
        for (int s = 0; s < kStates; s++) {
            const double n = in[s];
            if (!(n > 0)) continue;
            const double o = ctx.newSeason[k - 1] >= 1 ? n * ctx.gameps[kOccupied[s]][ctx.Season[k - 1]]
                                                       : kOccupied[s] * n;
            const double av =
                ctx.newSurvey[k - 1] >= 1 ? o * ctx.theta[0][ctx.Survey[k - 1]] : kAvailable[s] * o;
            a += av;
            oa += o - av;
            no += n - o;
        }
        const double d = a * ctx.pa[k - 1];
        return {d, a - d, oa, no};
    }
    void split(int k, const double *in, double (*out)[kStates]) {
        const Split r = outcomes(k, in);
        out[0][0] = r.no;
        out[0][1] = r.oa;
        out[0][2] = r.ad;
        out[1][0] = out[1][1] = 0;
        out[1][2] = r.d;
    }
    void leaf(std::int64_t code, int k, const double *in) {
        const Split r = outcomes(k, in);
        const double missed = r.ad + r.oa + r.no;
        if (missed != 0) ctx.nx.add(code, missed);
        if (r.d != 0) ctx.nx.add(code | 1, r.d);
    }
};

bool index_ok(int i) {
    return i >= 0 && i < kPaLen;
}

bool pass_applies(const Context &ctx, std::int64_t code, int k, int occupied, int available, double n) {
    if (ctx.determ == 0 || k < 1 || k > ctx.nper || code < 0) return false;
    if (!(n >= 0) || !std::isfinite(n)) return false;
    if (occupied < 0 || occupied > 1 || available < 0 || available > occupied) return false;
    // Every code the pass writes must lie inside the table and below ilmt.
    if (ctx.nx.size() < (std::int64_t{1} << ctx.nper) || ctx.ilmt < (std::int64_t{1} << ctx.nper) - 1)
        return false;
    for (int j = k; j <= ctx.nper; j++) {
        const int i = j - 1;
        if (!is_probability(ctx.pa[i])) return false;
        if (ctx.newSeason[i] >= 1) {
            if (!index_ok(ctx.Season[i]) || !is_probability(ctx.gameps[0][ctx.Season[i]]) ||
                !is_probability(ctx.gameps[1][ctx.Season[i]]))
                return false;
        }
        if (ctx.newSurvey[i] >= 1 &&
            (!index_ok(ctx.Survey[i]) || !is_probability(ctx.theta[0][ctx.Survey[i]])))
            return false;
    }
    // The walk follows all four outcomes of every call, empty or not.
    return !walk_chosen(ctx, [&] { return full_tree_calls(4, k, ctx.nper); });
}

} // namespace

void caphismm(Context &ctx, std::int64_t code, int k, int occupied, int available, double n) {
    if (k <= 1) echo_and_flip(ctx);
    if (ctx.nper > kMaxPer) {
        std::fprintf(ctx.out, "\n ERROR per > MXPER - switching to 'simulate by individual'");
        hand_over_to_sites(ctx);
        caphis_by_indiv(ctx, n);
    }
    if (!pass_applies(ctx, code, k, occupied, available, n)) {
        caphismm_walk(ctx, code, k, occupied, available, n);
        return;
    }
    MultiMethodPass model{ctx};
    Progress line(ctx.nper >= 18 ? ctx.err : nullptr, "expected histories");
    ForwardPass<MultiMethodPass> pass(model, line.active() ? &line : nullptr);
    double in[3] = {0, 0, 0};
    in[occupied + available] = n;
    pass.run(k, code, in);
}

void caphismm_walk(Context &ctx, std::int64_t code, int k, int occupied, int available, double n) {
    // A stochastic group of no sites draws nothing and adds nothing.
    if (n == 0 && ctx.determ == 0) return;
    // Occupancy is drawn at the first survey of a season and holds for the
    // season; availability at the first survey of a visit holds for the visit.
    double o =
        ctx.newSeason[k - 1] >= 1 ? ctx.binoml(n, ctx.gameps[occupied][ctx.Season[k - 1]]) : occupied * n;
    double a = ctx.newSurvey[k - 1] >= 1 ? ctx.binoml(o, ctx.theta[0][ctx.Survey[k - 1]]) : available * o;
    double d = ctx.binoml(a, ctx.pa[k - 1]);

    if (k < ctx.nper) {
        caphismm_walk(ctx, code | (std::int64_t{1} << (ctx.nper - k)), k + 1, 1, 1, d);
        caphismm_walk(ctx, code, k + 1, 1, 1, a - d);
        caphismm_walk(ctx, code, k + 1, 1, 0, o - a);
        caphismm_walk(ctx, code, k + 1, 0, 0, n - o);
    } else if (k == ctx.nper) {
        if (code > ctx.ilmt)
            std::fprintf(ctx.out, "**** error nx(%d) dimension=%d\n", static_cast<int>(code), ctx.ilmt);
        // A code outside the table is reported and not stored.
        if ((code | 1) >= ctx.nx.size()) return;
        ctx.nx.add(code, (a - d) + (o - a) + (n - o));
        ctx.nx.add(code | 1, d);
    }
}

} // namespace occusim
