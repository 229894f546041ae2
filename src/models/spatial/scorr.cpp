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
//
// Expected values of both forms come from a forward pass over the history
// prefixes (at each prefix the sites by occupancy and local presence);
// stochastic runs walk the cohorts one by one.
#include "models/spatial/scorr.hpp"

#include <cmath>
#include <cstdio>
#include <string>

#include "core/errors.hpp"
#include "core/prefix_tree.hpp"
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

std::int64_t child_code(const Context &ctx, std::int64_t code, int k, int bit) {
    return bit ? code | survey_bit(ctx, k) : code;
}

bool sites_ok(double n) {
    return n >= 0 && std::isfinite(n);
}

// One season. Every site that enters the first survey occupied stays so; the
// states before a survey are locally absent (0) and present (1) at the
// survey before. The first survey draws local presence from th0pi.
struct OneSeasonPass {
    static constexpr int kStates = 2;
    static constexpr int kSymbols = 2;
    Context &ctx;

    bool last(int k) const { return k == ctx.nper; }
    std::int64_t child(std::int64_t code, int k, int bit) const { return child_code(ctx, code, k, bit); }

    struct Split {
        double d, ld, ol;
    };
    Split outcomes(int k, const double *in) const {
        double o = 0, l = 0;
        for (int s = 0; s < kStates; s++) {
            if (!(in[s] > 0)) continue;
            o += in[s];
            l += in[s] * ctx.theta[s][k - 1];
        }
        const double d = l * ctx.pa[k - 1];
        return {d, l - d, o - l};
    }
    // The occupied sites at survey 1, o of them, before local presence.
    Split first(double o) const {
        const double l = o * ((1 - ctx.th0pi[0]) * ctx.theta[0][0] + ctx.th0pi[0] * ctx.theta[1][0]);
        const double d = l * ctx.pa[0];
        return {d, l - d, o - l};
    }
    static void fill(const Split &r, double (*out)[kStates]) {
        out[0][0] = r.ol;
        out[0][1] = r.ld;
        out[1][0] = 0;
        out[1][1] = r.d;
    }
    void split(int k, const double *in, double (*out)[kStates]) { fill(outcomes(k, in), out); }
    void store(std::int64_t code, const Split &r) {
        add_count(ctx, code, r.ol + r.ld);
        add_count(ctx, code | 1, r.d);
    }
    void leaf(std::int64_t code, int k, const double *in) { store(code, outcomes(k, in)); }
};

// Several seasons. States before a survey, as the walk's (occupied, present)
// pairs: (0,0), (1,1), (1,0).
struct SeasonsPass {
    static constexpr int kStates = 3;
    static constexpr int kSymbols = 2;
    static constexpr int kOccupied[kStates] = {0, 1, 1};
    static constexpr int kPresent[kStates] = {0, 1, 0};
    Context &ctx;

    bool last(int k) const { return k == ctx.nper; }
    std::int64_t child(std::int64_t code, int k, int bit) const { return child_code(ctx, code, k, bit); }

    // Per local-presence state before the survey (x1 present, x0 absent):
    // detected, present but missed, absent; and the unoccupied sites.
    struct Split {
        double d1, ld1, xl1, d0, ld0, xl0, unoccupied;
    };
    Split outcomes(int k, const double *in) const {
        double x1 = 0, x0 = 0, un = 0;
        for (int s = 0; s < kStates; s++) {
            const double n = in[s];
            if (!(n > 0)) continue;
            const double o = kOccupied[s] == 0 ? n * ctx.gam[k - 1] : n * (1 - ctx.eps[k - 2]);
            const double m = ctx.newSeason[k - 1] != 0 ? o * ctx.th0pi[k - 1] : kPresent[s] * o;
            x1 += m;
            x0 += o - m;
            un += n - o;
        }
        Split r;
        const double l1 = x1 * ctx.theta[1][k - 1], l0 = x0 * ctx.theta[0][k - 1];
        r.d1 = l1 * ctx.pa[k - 1];
        r.ld1 = l1 - r.d1;
        r.xl1 = x1 - l1;
        r.d0 = l0 * ctx.pa[k - 1];
        r.ld0 = l0 - r.d0;
        r.xl0 = x0 - l0;
        r.unoccupied = un;
        return r;
    }
    void split(int k, const double *in, double (*out)[kStates]) {
        const Split r = outcomes(k, in);
        out[0][0] = r.unoccupied;
        out[0][1] = r.ld1 + r.ld0;
        out[0][2] = r.xl1 + r.xl0;
        out[1][0] = out[1][2] = 0;
        out[1][1] = r.d1 + r.d0;
    }
    void leaf(std::int64_t code, int k, const double *in) {
        const Split r = outcomes(k, in);
        add_count(ctx, code, r.xl1 + r.ld1);
        add_count(ctx, code, r.xl0 + r.ld0);
        add_count(ctx, code, r.unoccupied);
        add_count(ctx, code | 1, r.d1);
        add_count(ctx, code | 1, r.d0);
    }
};

bool table_ok(const Context &ctx) {
    return ctx.nper >= 1 && ctx.nper <= 30 && ctx.nx.size() >= (std::int64_t{1} << ctx.nper);
}

bool one_season_pass_applies(const Context &ctx, int k, double n) {
    if (ctx.determ == 0 || k != 1 || !sites_ok(n) || !table_ok(ctx)) return false;
    if (!is_probability(ctx.gam[0]) || !is_probability(ctx.th0pi[0])) return false;
    for (int i = 0; i < ctx.nper; i++)
        if (!is_probability(ctx.theta[0][i]) || !is_probability(ctx.theta[1][i]) ||
            !is_probability(ctx.pa[i]))
            return false;
    // The walk follows all three outcomes of every call, empty or not.
    return !walk_chosen(ctx, [&] { return full_tree_calls(3, 1, ctx.nper); });
}

bool seasons_pass_applies(const Context &ctx, std::int64_t code, int k, int occupied, int present, double n) {
    if (ctx.determ == 0 || k < 1 || k > ctx.nper || code < 0 || !sites_ok(n)) return false;
    if (!table_ok(ctx) || occupied < 0 || occupied > 1 || present < 0 || present > occupied) return false;
    for (int j = k; j <= ctx.nper; j++) {
        const int i = j - 1;
        if (!is_probability(ctx.gam[i]) || !is_probability(ctx.th0pi[i]) ||
            !is_probability(ctx.theta[0][i]) || !is_probability(ctx.theta[1][i]) ||
            !is_probability(ctx.pa[i]))
            return false;
        if ((j > k || occupied != 0) && (i < 1 || !is_probability(ctx.eps[i - 1]))) return false;
    }
    // A walk call leads to at most seven more (three outcomes for each local
    // presence, and the unoccupied sites), besides its two calls for local
    // presence.
    return !walk_chosen(ctx, [&] { return 3 * full_tree_calls(7, k, ctx.nper); });
}

Progress *shown(Progress &line) {
    return line.active() ? &line : nullptr;
}

} // namespace

void caphis_scorr(Context &ctx, std::int64_t code, int k, int occupied, int present, double n) {
    if (!one_season_pass_applies(ctx, k, n)) {
        caphis_scorr_walk(ctx, code, k, occupied, present, n);
        return;
    }
    OneSeasonPass model{ctx};
    const double o = n * ctx.gam[0];
    ctx.nx.set(0, n - o); // the unoccupied sites: all-zero history
    const OneSeasonPass::Split r = model.first(o);
    if (ctx.nper == 1) {
        model.store(code, r);
        return;
    }
    Progress line(ctx.nper >= 18 ? ctx.err : nullptr, "expected histories");
    ForwardPass<OneSeasonPass> pass(model, shown(line));
    double out[2][2];
    OneSeasonPass::fill(r, out);
    for (int bit = 1; bit >= 0; bit--)
        if (out[bit][0] > 0 || out[bit][1] > 0) pass.run(2, model.child(code, 1, bit), out[bit]);
}

void caphis_scorr_walk(Context &ctx, std::int64_t code, int k, int occupied, int present, double n) {
    // A stochastic group of no sites draws nothing and adds nothing.
    if (n == 0 && ctx.determ == 0 && k > 1) return;
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
        caphis_scorr_walk(ctx, code | survey_bit(ctx, k), k + 1, 1, 1, d);
        caphis_scorr_walk(ctx, code, k + 1, 1, 1, l - d);
        caphis_scorr_walk(ctx, code, k + 1, 1, 0, o - l);
    } else {
        add_count(ctx, code, (o - l) + (l - d));
        add_count(ctx, code | 1, d);
    }
}

void caphis_multi_season_scorr(Context &ctx, std::int64_t code, int k, int occupied, int present, double n) {
    if (ctx.SIMTYPE > 1) caphis_multi_season_scorr_by_ind(ctx, whole_sites(n));
    if (!seasons_pass_applies(ctx, code, k, occupied, present, n)) {
        caphis_multi_season_scorr_walk(ctx, code, k, occupied, present, n);
        return;
    }
    SeasonsPass model{ctx};
    Progress line(ctx.nper >= 18 ? ctx.err : nullptr, "expected histories");
    ForwardPass<SeasonsPass> pass(model, shown(line));
    double in[3] = {0, 0, 0};
    in[occupied == 0 ? 0 : (present != 0 ? 1 : 2)] = n;
    pass.run(k, code, in);
}

void caphis_multi_season_scorr_walk(Context &ctx, std::int64_t code, int k, int occupied, int present,
                                    double n) {
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
            caphis_multi_season_scorr_walk(ctx, code, k + 1, 0, 0, n - o);
        else
            add_count(ctx, code, n - o);
    }
}

void caphis_multi_season_scorr_lococc(Context &ctx, std::int64_t code, int k, int present, double x) {
    double l = ctx.binoml(x, ctx.theta[present][k - 1]);
    double d = ctx.binoml(l, ctx.pa[k - 1]);
    if (k < ctx.nper) {
        if (d > 0) caphis_multi_season_scorr_walk(ctx, code | survey_bit(ctx, k), k + 1, 1, 1, d);
        if (l - d > 0) caphis_multi_season_scorr_walk(ctx, code, k + 1, 1, 1, l - d);
        if (x - l > 0) caphis_multi_season_scorr_walk(ctx, code, k + 1, 1, 0, x - l);
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

    ctx.close(ctx.fp2);
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
    ctx.close(ctx.fp2);
    ctx.close(ctx.fp);
    smrz_pao(ctx, 0);
    finish(0);
}

} // namespace occusim
