// Royle-Nichols abundance model. Each site holds N individuals (Poisson, or
// negative binomial, with extra empty sites when psi < 1) and each individual
// is detected independently with probability r at a survey, so a site with N
// individuals is detected with probability 1 - (1 - r)^N. The data are the
// number of individuals detected per survey, or (Nichols-Hines variant) only
// whether any was detected.
//
// Two forms: for two surveys and no seed, the expected number of sites for
// every pair of per-survey counts (abundance truncated at 100 individuals);
// otherwise one simulated line per site. Both write their own history-file
// layout, close it and end the run.
#include "models/abundance/royle.hpp"

#include <climits>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "random/variates.hpp"

namespace occusim {

namespace {

constexpr int kMaxAbundance = 100; // abundance distribution truncated here
constexpr int kDim = kMaxAbundance + 1;
constexpr double kStoreLimit = 5e-7; // smaller joint probabilities are dropped

// Tells the run's history sink how the histories come.
void announce_histories(Context &ctx, bool per_site, int surveys) {
    if (!ctx.sink) return;
    HistoryShape shape;
    shape.per_site = per_site;
    shape.surveys = surveys;
    ctx.sink->begin(shape);
}

// A site's line (counts each followed by a tab, then the newline) to the sink.
void report_site_line(Context &ctx, const std::string &line) {
    if (ctx.sink) ctx.sink->history(std::string_view(line.data(), line.size() - 1), 1);
}

// Writes the closing lines, closes the history file and ends the run.
[[noreturn]] void close_and_finish(Context &ctx, int T) {
    if (ctx.fp2) {
        std::fprintf(ctx.fp2, "0\n0\n%d\nasdf\n", T);
        ctx.history_written = true;
        ctx.close(ctx.fp2);
    }
    std::fprintf(ctx.out, "occusim8 exiting...\n");
    finish(0);
}

// Sum over the abundances k = from .. kDim - 1 of survey2[k] * survey1[k],
// in that order.
double pair_sum(const double *survey2, const double *survey1, int from) {
    double sum = 0;
    for (int k = from; k < kDim; k++) sum += survey2[k] * survey1[k];
    return sum;
}

// The least count from which the abundance mass left (individuals at that
// count and above) is under half kStoreLimit, or kDim when there is none or
// no bound can be trusted (a detection probability outside 0..1, or an
// abundance probability that is negative or not a number).
int first_count_out_of_reach(const std::vector<double> &w, double r1, double r2) {
    if (!(r1 >= 0 && r1 <= 1 && r2 >= 0 && r2 <= 1)) return kDim;
    for (int k = 1; k < kDim; k++)
        if (!(w[k] >= 0 && std::isfinite(w[k]))) return kDim;
    double tail = 0;
    int reach = kDim;
    for (int k = kDim - 1; k >= 1; k--) {
        tail += w[k];
        if (!(tail < kStoreLimit / 2)) break;
        reach = k;
    }
    return reach;
}

// Expected number of sites for every pair (count at survey 2, count at
// survey 1), from the zero-inflated abundance distribution and independent
// binomial detection of the individuals at each survey.
[[noreturn]] void royle_expected(Context &ctx, int T, long seed, int nichols, int negbin, int n) {
    const double lam = ctx.b[0];
    std::fprintf(ctx.out, "Royle-Nichols model (exp vals): n=%d t=%d lam=%f ix=%ld r=", n, T, lam, seed);
    std::fprintf(ctx.out, "r=%f %f lam=%f psi=%f nicholsHet=%d negBin=%d\n", ctx.pa[0], ctx.pa[1], lam,
                 ctx.psi, nichols, negbin);
    if (negbin > 0) std::fprintf(ctx.out, "a=%f\n", ctx.b[1]);

    std::vector<double> w, m, d2, e1;
    try {
        w.assign(kDim, 0.0);
        m.assign(static_cast<std::size_t>(kDim) * kDim, 0.0);
        d2.assign(static_cast<std::size_t>(kDim) * kDim, 0.0);
        e1.assign(static_cast<std::size_t>(kDim) * kDim, 0.0);
    } catch (const std::bad_alloc &) {
        input_error("cannot allocate the %d x %d count-pair matrix", kDim, kDim);
    }

    // Abundance distribution with the extra empty sites in w[0]; the mass
    // above 100 individuals is dropped, not redistributed.
    for (int k = 0; k < kDim; k++)
        w[k] = ctx.psi * (negbin == 0 ? dpois(k, lam) : dnegbin(k, lam, lam * lam / ctx.b[1]));
    w[0] = 1 + w[0] - ctx.psi;

    // Counts from `reach` up cannot reach kStoreLimit: a pair of counts needs
    // at least that many individuals, and its probability is at most the
    // abundance mass there (detection probabilities are at most 1), far
    // below the limit. Such pairs are left out of the sum, as the limit
    // would drop them anyway.
    const double r1 = ctx.pa[0], r2 = ctx.pa[1];
    const int reach = first_count_out_of_reach(w, r1, r2);

    // Computed once rather than in the sum below, count by count along the
    // abundance k: d2[c * kDim + k], the probability of c detected among k
    // individuals at survey 2, and e1[c * kDim + k], the same at survey 1
    // times the abundance probability w[k].
    const BinomialPmf at1(r1), at2(r2);
    for (int k = 0; k < kDim; k++)
        for (int c = 0; c <= k && c < reach; c++) {
            e1[c * kDim + k] = at1(c, k) * w[k];
            d2[c * kDim + k] = at2(c, k);
        }
    int stored = 0;
    for (int i = 0; i < reach; i++) {
        for (int j = 0; j < reach; j++) {
            // Sites with fewer individuals than either count contribute nothing.
            double sum = pair_sum(&d2[static_cast<std::size_t>(i) * kDim],
                                  &e1[static_cast<std::size_t>(j) * kDim], i > j ? i : j);
            if (sum >= kStoreLimit) {
                m[i * kDim + j] = sum;
                stored++;
            }
        }
    }

    // Every stored pair gets its line, so the count on the first line always
    // matches the lines that follow.
    // Without a history file (the counts computed again and again for a fit
    // or a design evaluation) only the sink hears of them.
    if (ctx.fp2) std::fprintf(ctx.fp2, "%d\t2\n", stored);
    announce_histories(ctx, false, 2);
    for (int i = 0; i < kDim; i++) {
        for (int j = 0; j < kDim; j++) {
            double v = m[i * kDim + j];
            if (!(v >= kStoreLimit)) continue;
            int c2 = i, c1 = j;
            if (nichols) {
                c2 = i > 0;
                c1 = j > 0;
            }
            if (ctx.sink) {
                char fields[32];
                std::snprintf(fields, sizeof fields, "%d\t%d", c2, c1);
                ctx.sink->history(fields, ctx.ns * v);
            }
            if (ctx.fp2) std::fprintf(ctx.fp2, "%d\t%d\t%f\n", c2, c1, ctx.ns * v);
        }
    }
    close_and_finish(ctx, T);
}

// One line per site: the number of individuals detected at each survey (or
// 0/1), each followed by a tab. Draw order per site: occupancy, abundance,
// then detections survey by survey and individual by individual.
[[noreturn]] void royle_simulate(Context &ctx, int T, int nichols, int n) {
    const double lam = ctx.b[0], a = ctx.b[1];
    // A site's abundance draw costs about Lambda uniforms (Poisson) or at
    // least one per unit of a (negative binomial); beyond 10^8 a run would
    // go on for hours.
    if (ctx.NEGBIN == 0 && lam > kMaxPoissonMean)
        input_error("Lambda=%g: a site's Poisson abundance would take about that many uniforms to draw; "
                    "Lambda can be at most %g",
                    lam, kMaxPoissonMean);
    if (ctx.NEGBIN != 0 && a > kMaxNegbinSize)
        input_error("a=%g: a site's negative binomial abundance would take at least that many uniforms to "
                    "draw; the dispersion a can be at most %g",
                    a, kMaxNegbinSize);
    if (ctx.NEGBIN != 0 && a > 0) {
        // The negative binomial is a sum of ceil(a) geometric counts with
        // success probability a / (a + lam); without a positive success
        // probability, or with unboundedly many terms, a draw never ends.
        double s = a / (a + lam);
        if (!(a <= INT_MAX) || s <= 0)
            input_error(
                "negative binomial abundance with lam=%f a=%f cannot be drawn (a/(a+lam) must be above 0)",
                lam, a);
        // Each geometric count averages (1 - s) / s; beyond the range of the
        // count the draw would be refused anyway, after hours of drawing.
        if (!((1 - s) / s <= INT_MAX))
            input_error(
                "negative binomial abundance with lam=%f a=%g cannot be drawn (a geometric count would "
                "average %g, beyond %d)",
                lam, a, (1 - s) / s, INT_MAX);
    }
    if (!ctx.fp2) input_error("the abundance model's site lines need a history file");
    ctx.simulate_instead(false);
    std::fprintf(ctx.out, "Royle-Nichols model (simulation): n=%d t=%d lam=%f psi=%f r=%f %f NEGBIN=%d\n", n,
                 T, lam, ctx.psi, ctx.pa[0], ctx.pa[1], ctx.NEGBIN);
    std::fprintf(ctx.fp2, "%d\t%d\n", n, T);
    announce_histories(ctx, true, T);

    std::string empty;
    for (int j = 0; j < T; j++) empty += "0\t";
    empty += '\n';
    std::string line;
    line.reserve(static_cast<std::size_t>(T) * 4 + 1);

    double total = 0, count = 0;
    for (int s = 0; s < n; s++) {
        double u = ctx.Random();
        if (u > ctx.psi) {
            std::fputs(empty.c_str(), ctx.fp2);
            report_site_line(ctx, empty);
            continue;
        }
        int N = ctx.NEGBIN != 0 ? negbin(ctx.rng, lam, a) : pois(ctx.rng, lam);
        if (s <= 9) std::fprintf(ctx.out, "lam=%f npersite=%d\n", lam, N);
        total += N;
        count += 1;
        line.clear();
        for (int j = 0; j < T; j++) {
            int y = 0;
            for (int ind = 0; ind < N; ind++)
                if (ctx.Random() < ctx.pa[j]) y++;
            if (nichols > 0) y = y > 0;
            char buf[16];
            int len = std::snprintf(buf, sizeof buf, "%d\t", y);
            line.append(buf, static_cast<std::size_t>(len));
        }
        line += '\n';
        std::fputs(line.c_str(), ctx.fp2);
        report_site_line(ctx, line);
    }
    std::fprintf(ctx.out, "avg nperiste(for occ sites)=%f count=%f\n", total / count, count);
    close_and_finish(ctx, T);
}

} // namespace

void do_royle(Context &ctx, int T, long seed, int nichols, int negbin, double ns) {
    // The number of sites is ns rounded to the nearest whole number; it must
    // fit the integer site counter.
    double rounded = ns + 0.4999;
    if (!(rounded > INT_MIN && rounded < 2147483648.0))
        input_error("N=%f: the number of sites must lie between %d and %d", ns, INT_MIN + 1, INT_MAX);
    const int n = static_cast<int>(rounded);
    if (ctx.psi <= 0) ctx.psi = 1; // no psi given: every site can hold individuals

    if (seed < 0 && T == 2) royle_expected(ctx, T, seed, nichols, negbin, n);
    royle_simulate(ctx, T, nichols, n);
}

} // namespace occusim
