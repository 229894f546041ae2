// Multi-method occupancy, by cohort. Every visit is made with METH detection
// methods at once, so the design is re-laid as METH consecutive surveys per
// visit (method m of visit v is survey v*METH + m). Occupancy changes only
// between seasons: an unoccupied site is occupied in season s with gam[s]
// (gam[0] being psi), an occupied one stays with 1 - eps[s]. At every visit an
// occupied site is locally available with theta row 0 of that visit, and each
// method then detects an available site with its own probability (p1, p2,
// p3). Histories are base-2 codes over the re-laid surveys, first survey most
// significant.
#include "models/single/multimethod.hpp"

#include <climits>
#include <cstdio>

#include "core/count_setup.hpp"
#include "core/errors.hpp"
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

void caphismm(Context &ctx, std::int64_t code, int k, int occupied, int available, double n) {
    if (k <= 1) echo_and_flip(ctx);
    if (ctx.nper > kMaxPer) {
        std::fprintf(ctx.out, "\n ERROR per > MXPER - switching to 'simulate by individual'");
        caphis_by_indiv(ctx, n);
    }
    // Occupancy is drawn at the first survey of a season and holds for the
    // season; availability at the first survey of a visit holds for the visit.
    double o =
        ctx.newSeason[k - 1] >= 1 ? ctx.binoml(n, ctx.gameps[occupied][ctx.Season[k - 1]]) : occupied * n;
    double a = ctx.newSurvey[k - 1] >= 1 ? ctx.binoml(o, ctx.theta[0][ctx.Survey[k - 1]]) : available * o;
    double d = ctx.binoml(a, ctx.pa[k - 1]);

    if (k < ctx.nper) {
        caphismm(ctx, code | (std::int64_t{1} << (ctx.nper - k)), k + 1, 1, 1, d);
        caphismm(ctx, code, k + 1, 1, 1, a - d);
        caphismm(ctx, code, k + 1, 1, 0, o - a);
        caphismm(ctx, code, k + 1, 0, 0, n - o);
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
