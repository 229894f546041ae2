// Spatially correlated detections. The surveys of a site are consecutive
// stretches of habitat (segments of a transect, for instance). At an occupied
// site the species is locally present at a stretch with a probability that
// depends on whether it was present at the stretch before: theta row 0 when it
// was not, theta row 1 when it was, a two-state Markov chain along the surveys.
// th0pi is the chance that the species counts as present just before the first
// survey of the run (one season) or of each season. Only a locally present
// species can be detected, with probability pa. Histories carry one bit per
// survey, the first survey most significant.
//
// One season: caphis_scorr splits every cohort into detected, present but
// missed, and locally absent sites and follows all three branches at every
// survey, empty or not. Several seasons: caphis_multi_season_scorr lets
// occupancy change before every survey (colonisation gam, extinction eps) and
// follows only non-empty cohorts. With SIMTYPE=2 the multi-season model is
// simulated site by site instead: one line per site goes to the temporary
// history file, which the summariser collapses into the history file.
#include "models/spatial/scorr.hpp"

#include <cmath>
#include <cstdio>
#include <string>

#include "core/errors.hpp"
#include "history/summariser.hpp"

namespace occusim {

namespace {

// Longest history the site-by-site form writes (its line buffer holds 1023
// survey characters and a terminator).
constexpr int kMaxSiteSurveys = 1023;

std::int64_t survey_bit(const Context &ctx, int k) {
    return std::int64_t{1} << (ctx.nper - k);
}

// Adds a cohort to the count table. Adding an exact zero changes no entry, so
// it is skipped: a stochastic run then only touches the pages of histories
// that some site actually has.
void add_count(Context &ctx, std::int64_t code, double v) {
    if (v != 0) ctx.nx.add(code, v);
}

// The recursions write codes up to 2^nper - 1; refuse rather than write past a
// table that was sized for fewer surveys.
void require_table(const Context &ctx) {
    if (ctx.nper < 1) input_error("the spatial model needs at least one survey (T=%d)", ctx.nper);
    if (ctx.nper > 30 || ctx.nx.size() < (std::int64_t{1} << ctx.nper))
        input_error("the count table (%lld entries) cannot hold the histories of %d surveys",
                    static_cast<long long>(ctx.nx.size()), ctx.nper);
}

// The cohort size as a number of sites to simulate one by one.
int whole_sites(double n) {
    if (!(std::fabs(n) < 2147483648.0)) input_error("N=%g sites are too many to simulate one by one", n);
    return static_cast<int>(n);
}

} // namespace

void caphis_scorr(Context &ctx, std::int64_t code, int k, int occupied, int present, double n) {
    double o, l;
    if (k == 1) {
        require_table(ctx);
        o = ctx.binoml(n, ctx.gam[0]);
        ctx.nx.set(0, n - o); // the unoccupied sites: all-zero history
        l = ctx.binoml(o, (1 - ctx.th0pi[0]) * ctx.theta[0][0] + ctx.th0pi[0] * ctx.theta[1][0]);
    } else {
        o = occupied * n;
        l = ctx.binoml(o, ctx.theta[present][k - 1]);
    }
    double d = ctx.binoml(l, ctx.pa[k - 1]);
    if (k < ctx.nper) {
        caphis_scorr(ctx, code | survey_bit(ctx, k), k + 1, 1, 1, d);
        caphis_scorr(ctx, code, k + 1, 1, 1, l - d);
        caphis_scorr(ctx, code, k + 1, 1, 0, o - l);
    } else {
        add_count(ctx, code, (o - l) + (l - d));
        add_count(ctx, code | 1, d);
    }
}

void caphis_multi_season_scorr(Context &ctx, std::int64_t code, int k, int occupied, int present, double n) {
    if (ctx.SIMTYPE > 1) caphis_multi_season_scorr_by_ind(ctx, whole_sites(n));
    if (k == 1) require_table(ctx);
    // At k = 1 the cohort is unoccupied and gam[0] is psi.
    double o = occupied == 0 ? ctx.binoml(n, ctx.gam[k - 1]) : ctx.binoml(n, 1 - ctx.eps[k - 2]);
    // Local presence just before survey k: drawn afresh when a season opens,
    // carried over from the previous survey otherwise.
    double m = ctx.newSeason[k - 1] != 0 ? ctx.binoml(o, ctx.th0pi[k - 1]) : present * o;
    if (m > 0) caphis_multi_season_scorr_lococc(ctx, code, k, 1, m);
    if (o - m > 0) caphis_multi_season_scorr_lococc(ctx, code, k, 0, o - m);
    if (n - o > 0) {
        if (k < ctx.nper)
            caphis_multi_season_scorr(ctx, code, k + 1, 0, 0, n - o);
        else
            add_count(ctx, code, n - o);
    }
}

void caphis_multi_season_scorr_lococc(Context &ctx, std::int64_t code, int k, int present, double x) {
    double l = ctx.binoml(x, ctx.theta[present][k - 1]);
    double d = ctx.binoml(l, ctx.pa[k - 1]);
    if (k < ctx.nper) {
        if (d > 0) caphis_multi_season_scorr(ctx, code | survey_bit(ctx, k), k + 1, 1, 1, d);
        if (l - d > 0) caphis_multi_season_scorr(ctx, code, k + 1, 1, 1, l - d);
        if (x - l > 0) caphis_multi_season_scorr(ctx, code, k + 1, 1, 0, x - l);
    } else {
        add_count(ctx, code, (x - l) + (l - d));
        add_count(ctx, code | 1, d);
    }
}

void caphis_multi_season_scorr_by_ind(Context &ctx, int n) {
    const int T = ctx.nper;
    if (T < 1) input_error("the spatial model needs at least one survey (T=%d)", T);
    if (T > kMaxSiteSurveys)
        input_error("site-by-site spatial simulation handles at most %d surveys (T=%d)", kMaxSiteSurveys, T);

    if (ctx.fp2) std::fclose(ctx.fp2);
    ctx.fp2 = ctx.open("occusim.tmp", "w");
    if (!ctx.fp2) input_error("cannot open the temporary history file occusim.tmp for writing");

    // One line per site: each survey's character, tab-separated, no frequency.
    std::string line(2 * static_cast<std::size_t>(T), '\t');
    line.back() = '\n';
    for (int i = 0; i < n; i++) {
        int z = 0; // occupied
        int s = 0; // locally present at the previous survey
        for (int j = 0; j < T; j++) {
            char c = '0';
            if (ctx.newSeason[j] != 0) {
                // Occupancy changes only when a season opens (z is 0 at the
                // first survey, so gam[0] = psi applies there).
                double u = ctx.Random();
                z = u <= (z == 0 ? ctx.gam[j] : 1 - ctx.eps[j - 1]) ? 1 : 0;
                u = ctx.Random();
                s = u <= ctx.th0pi[j] ? z : 0;
            }
            double u = ctx.Random();
            s = u <= ctx.theta[s][j] ? z : 0;
            if (s > 0) c = ctx.Random() < ctx.pa[j] ? '1' : '0';
            line[2 * static_cast<std::size_t>(j)] = c;
        }
        std::fwrite(line.data(), 1, line.size(), ctx.fp2);
    }
    std::fclose(ctx.fp2);
    ctx.fp2 = nullptr;
    if (ctx.fp) std::fclose(ctx.fp);
    ctx.fp = nullptr;
    smrz_pao(ctx, 0);
    finish(0);
}

} // namespace occusim
