// Two-species co-occurrence with detections correlated between surveys.
//
// Occupancy follows the single-season model (psiA, psiBA, psiBa). A species
// present at a site can only be detected at a survey where it is available
// there. A's availability at survey j depends on whether A was available at
// survey j-1 (thA when it was not or j is the first survey, thA' when it was);
// B's depends on whether A is available at the same survey and on B's own
// availability at j-1 (thBA/thBA' with A available, thBa/thBa' without). A
// species absent from the site is never available. Given availability, the
// detection probabilities of the single-season model apply: rA with rBA or rBa
// where both are available, pA or pB where one is. The history digit is
// 2 * (B detected) + (A detected).
//
// Expected values are computed over the tree of history prefixes, with the
// sites of each history prefix counted by occupancy state and availability at
// the last survey (eight numbers), so that the many availability sequences
// behind a history are summed as they go rather than followed one by one.
// Random cohorts follow the depth-first cohort recursions, whose order of
// binomial splits fixes the order of the random draws; a group without sites
// draws nothing and is not followed.
//
// The site-by-site form writes the history file afresh with each distinct
// history once, in ascending order, followed by a tab, a space and its number
// of sites; the header and the place of the surveys-per-season list hold the
// number of surveys.
#include "models/twospecies/corr_det.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "core/errors.hpp"
#include "history/writers.hpp"
#include "models/twospecies/prefix_walk.hpp"
#include "models/twospecies/two_species.hpp"

namespace occusim {

namespace {

// One species on its own: th[prev] is its availability given its availability
// at the previous survey, p its detection when available, digit its history
// digit.
void caphis2corrdet_single(Context &ctx, int code, int d, int prev, double n, const std::array<Vec, 2> &th,
                           const Vec &p, int digit) {
    if (n == 0 && ctx.determ == 0) return;
    const int j = d - 1;
    double avail = ctx.binoml(n, th[prev][j]);
    double away = n - avail;
    double det = ctx.binoml(avail, p[j]);
    double undet = avail - det;
    const int T = ctx.nper;
    if (d < T) {
        const int s = 2 * (T - d);
        caphis2corrdet_single(ctx, code | (digit << s), d + 1, 1, det, th, p, digit);
        caphis2corrdet_single(ctx, code, d + 1, 1, undet, th, p, digit);
        caphis2corrdet_single(ctx, code, d + 1, 0, away, th, p, digit);
    } else if (d == T) {
        ctx.nx.add(code, away + undet);
        ctx.nx.add(code | digit, det);
    }
}

} // namespace

void caphis2corrdetA(Context &ctx, int code, int d, int prevA, double n) {
    caphis2corrdet_single(ctx, code, d, prevA, n, ctx.thA, ctx.pA, 1);
}

void caphis2corrdetBa(Context &ctx, int code, int d, int prevB, double n) {
    caphis2corrdet_single(ctx, code, d, prevB, n, ctx.thB[0], ctx.pB, 2);
}

void caphis2corrdetBA(Context &ctx, int code, int d, int prevA, int prevB, double n) {
    if (n == 0 && ctx.determ == 0) return;
    const int j = d - 1;
    double Aav = ctx.binoml(n, ctx.thA[prevA][j]);
    double Anot = n - Aav;
    double both = ctx.binoml(Aav, ctx.thB[1][prevB][j]);
    double Aonly = Aav - both;
    double Bonly = ctx.binoml(Anot, ctx.thB[0][prevB][j]);
    double none = Anot - Bonly;
    double xA = ctx.binoml(both, ctx.rA[j]);
    double xAnot = both - xA;
    double x3 = ctx.binoml(xA, ctx.rBA[j]);
    double x1 = xA - x3;
    double x2 = ctx.binoml(xAnot, ctx.rBa[j]);
    double x0 = xAnot - x2;
    double y1 = ctx.binoml(Aonly, ctx.pA[j]);
    double y0 = Aonly - y1;
    double z2 = ctx.binoml(Bonly, ctx.pB[j]);
    double z0 = Bonly - z2;
    const int T = ctx.nper;
    if (d < T) {
        const int s = 2 * (T - d);
        caphis2corrdetBA(ctx, code | (3 << s), d + 1, 1, 1, x3);
        caphis2corrdetBA(ctx, code | (1 << s), d + 1, 1, 1, x1);
        caphis2corrdetBA(ctx, code | (2 << s), d + 1, 1, 1, x2);
        caphis2corrdetBA(ctx, code, d + 1, 1, 1, x0);
        caphis2corrdetBA(ctx, code | (1 << s), d + 1, 1, 0, y1);
        caphis2corrdetBA(ctx, code, d + 1, 1, 0, y0);
        caphis2corrdetBA(ctx, code | (2 << s), d + 1, 0, 1, z2);
        caphis2corrdetBA(ctx, code, d + 1, 0, 1, z0);
        caphis2corrdetBA(ctx, code, d + 1, 0, 0, none);
    } else if (d == T) {
        ctx.nx.add(code, x0 + y0 + z0 + none);
        ctx.nx.add(code | 1, x1 + y1);
        ctx.nx.add(code | 2, x2 + z2);
        ctx.nx.add(code | 3, x3);
    }
}

namespace {

// Hidden states of a history prefix: where only A is present, A available at
// the previous survey or not (1, 0); where only B is, the same for B (3, 2);
// where both are, 4 + 2 * (A available) + (B available). Before the first
// survey no species counts as available. Expected values multiply as binoml
// does in that mode, with the same expressions as the cohort recursions.
struct CorrDetPrefix {
    static constexpr int K = 8;
    Context &ctx;
    bool finite = true; // every count added to the table was a finite number

    // The nine groups of sites where both species are present, by
    // availability and then detection.
    struct BothSplit {
        double x3, x1, x2, x0; // both available: detections of A and B
        double y1, y0;         // only A available
        double z2, z0;         // only B available
        double none;           // neither available
    };
    BothSplit split_both(int j, int prevA, int prevB, double n) const {
        const double Aav = n * ctx.thA[prevA][j];
        const double Anot = n - Aav;
        const double both = Aav * ctx.thB[1][prevB][j];
        const double Aonly = Aav - both;
        const double Bonly = Anot * ctx.thB[0][prevB][j];
        const double none = Anot - Bonly;
        const double xA = both * ctx.rA[j];
        const double xAnot = both - xA;
        const double x3 = xA * ctx.rBA[j];
        const double x2 = xAnot * ctx.rBa[j];
        const double y1 = Aonly * ctx.pA[j];
        const double z2 = Bonly * ctx.pB[j];
        return {x3, xA - x3, x2, xAnot - x2, y1, Aonly - y1, z2, Bonly - z2, none};
    }
    // One species on its own: detected, available but missed, away.
    struct SingleSplit {
        double det, undet, away;
    };
    static SingleSplit split_single(double n, double th, double p) {
        const double avail = n * th;
        const double det = avail * p;
        return {det, avail - det, n - avail};
    }
    SingleSplit split_A(int j, int prev, double n) const {
        return split_single(n, ctx.thA[prev][j], ctx.pA[j]);
    }
    SingleSplit split_B(int j, int prev, double n) const {
        return split_single(n, ctx.thB[0][prev][j], ctx.pB[j]);
    }

    void extend(int j, const double *m, double (*child)[K]) {
        for (int prev = 0; prev < 2; prev++) {
            if (m[prev] != 0) {
                const SingleSplit x = split_A(j, prev, m[prev]);
                child[1][1] += x.det;
                child[0][1] += x.undet;
                child[0][0] += x.away;
            }
            if (m[2 + prev] != 0) {
                const SingleSplit x = split_B(j, prev, m[2 + prev]);
                child[2][3] += x.det;
                child[0][3] += x.undet;
                child[0][2] += x.away;
            }
        }
        for (int s = 4; s < 8; s++) {
            if (m[s] == 0) continue;
            const BothSplit x = split_both(j, (s - 4) / 2, s % 2, m[s]);
            child[3][7] += x.x3;
            child[1][7] += x.x1;
            child[2][7] += x.x2;
            child[0][7] += x.x0;
            child[1][6] += x.y1;
            child[0][6] += x.y0;
            child[2][5] += x.z2;
            child[0][5] += x.z0;
            child[0][4] += x.none;
        }
    }
    bool live(const double *m) const {
        for (int s = 0; s < K; s++)
            if (m[s] != 0) return true;
        return false;
    }
    // The last survey: the three occupancy states go into the table one after
    // the other, as their recursions do.
    void last(int j, std::int64_t code, const double *m) {
        double add[3][4] = {};
        for (int prev = 0; prev < 2; prev++) {
            if (m[prev] != 0) {
                const SingleSplit x = split_A(j, prev, m[prev]);
                add[0][0] += x.away + x.undet;
                add[0][1] += x.det;
            }
            if (m[2 + prev] != 0) {
                const SingleSplit x = split_B(j, prev, m[2 + prev]);
                add[1][0] += x.away + x.undet;
                add[1][2] += x.det;
            }
        }
        for (int s = 4; s < 8; s++) {
            if (m[s] == 0) continue;
            const BothSplit x = split_both(j, (s - 4) / 2, s % 2, m[s]);
            add[2][0] += x.x0 + x.y0 + x.z0 + x.none;
            add[2][1] += x.x1 + x.y1;
            add[2][2] += x.x2 + x.z2;
            add[2][3] += x.x3;
        }
        for (const auto &state : add)
            for (int digit = 0; digit < 4; digit++) {
                if (state[digit] == 0) continue;
                if (!std::isfinite(state[digit])) finite = false;
                ctx.nx.add(code | digit, state[digit]);
            }
    }
};

bool all_finite(const Vec &v, int T) {
    for (int j = 0; j < T; j++)
        if (!std::isfinite(v[j])) return false;
    return true;
}

// Whether every probability of the first T surveys and every group of sites
// is a finite number. Only then do groups without sites stay without sites
// (0 times anything finite), so that the walk may leave them out.
bool finite_model(const Context &ctx, const TwoSpeciesOccupancy &o) {
    const int T = ctx.nper;
    for (double n : {o.nAonly, o.nBonly, o.nAB})
        if (!std::isfinite(n)) return false;
    for (const Vec *v : {&ctx.thA[0], &ctx.thA[1], &ctx.thB[0][0], &ctx.thB[0][1], &ctx.thB[1][0],
                         &ctx.thB[1][1], &ctx.pA, &ctx.pB, &ctx.rA, &ctx.rBA, &ctx.rBa})
        if (!all_finite(*v, T)) return false;
    return true;
}

} // namespace

void corr_det_expected(Context &ctx, const TwoSpeciesOccupancy &o) {
    ctx.nx.set(0, o.neither);
    if (finite_model(ctx, o)) {
        CorrDetPrefix walk{ctx};
        const double root[CorrDetPrefix::K] = {o.nAonly, 0, o.nBonly, 0, o.nAB, 0, 0, 0};
        walk_history_tree(walk, ctx.err, ctx.nper, root);
        if (walk.finite) return;
        // Counts beyond the range of a double: infinities and undefined
        // values depend on the order in which they meet, so the table is
        // formed afresh path by path.
        ctx.nx.reset(ctx.nx.size());
        ctx.nx.set(0, o.neither);
    }
    caphis2corrdetA(ctx, 0, 1, 0, o.nAonly);
    caphis2corrdetBa(ctx, 0, 1, 0, o.nBonly);
    caphis2corrdetBA(ctx, 0, 1, 0, 0, o.nAB);
}

namespace {

// Site by site: each site's history is a string of T digit characters; equal
// histories are counted in an ordered map as they arise, which yields them in
// ascending byte order with their numbers of sites (n log n for n sites).
void simulate_sites(Context &ctx) {
    const int T = ctx.nper;
    const int nsites = site_count(ctx.ns);
    std::fprintf(ctx.err, "simulating by individual...\n");
    std::fprintf(ctx.out, "nsites=%d nper=%d\n", nsites, T);
    TwoSpeciesOccupancy o;
    std::map<std::string, int, std::less<>> histories;
    std::string h(static_cast<std::size_t>(T), '0');
    for (int i = 0; i < nsites; i++) {
        bool A, B;
        draw_site_occupancy(ctx, A, B);
        o.add_site(A, B);
        int availA = 0, availB = 0;
        for (int j = 0; j < T; j++) {
            if (A) availA = ctx.Random() < ctx.thA[availA][j] ? 1 : 0;
            if (B) availB = ctx.Random() < ctx.thB[availA][availB][j] ? 1 : 0;
            h[static_cast<std::size_t>(j)] = static_cast<char>('0' + survey_digit(ctx, availA, availB, j));
        }
        auto it = histories.find(std::string_view(h));
        if (it == histories.end())
            histories.emplace(h, 1);
        else
            it->second++;
    }

    // The history file is written afresh under its name; the second stream is
    // not used on this path.
    ctx.close(ctx.fp);
    ctx.close(ctx.fp2);
    ctx.fp2 = ctx.open(ctx.outfile, "w");
    if (!ctx.fp2) {
        ctx.write_error_file("1)error opening occusim.pao\n");
        finish(1);
    }
    std::fprintf(ctx.fp2, "%d%c%d\n", static_cast<int>(histories.size()), 9, ctx.num_srvys);
    if (ctx.sink) ctx.sink->begin(HistoryShape{false, T, 0, 0});
    std::string line;
    line.reserve(2 * static_cast<std::size_t>(T) + 16);
    char count[16];
    for (const auto &[text, sites] : histories) {
        line.clear();
        for (char c : text) {
            line.push_back(c);
            line.push_back('\t');
        }
        if (ctx.sink) ctx.sink->history(line, sites);
        std::snprintf(count, sizeof count, " %d\n", sites);
        line += count;
        std::fwrite(line.data(), 1, line.size(), ctx.fp2);
    }
    std::fprintf(ctx.fp2, "0\n0\n%d", ctx.num_srvys);
    std::fprintf(ctx.fp2, "\nsimulated data from occusim8\n");
    ctx.history_written = true;
    ctx.close(ctx.fp2);
    print_occupancy_counts(ctx.out, o);
    std::fprintf(ctx.out, "end of program\n");
}

[[noreturn]] void simulate_cohorts(Context &ctx) {
    TwoSpeciesOccupancy o = split_occupancy(ctx);
    print_occupancy_counts(ctx.out, o);
    if (ctx.determ != 0) {
        corr_det_expected(ctx, o);
        std::fprintf(ctx.out, "---------------");
        std::fprintf(ctx.out, "---------------");
    } else {
        ctx.nx.set(0, o.neither);
        caphis2corrdetA(ctx, 0, 1, 0, o.nAonly);
        std::fprintf(ctx.out, "---------------");
        caphis2corrdetBa(ctx, 0, 1, 0, o.nBonly);
        std::fprintf(ctx.out, "---------------");
        caphis2corrdetBA(ctx, 0, 1, 0, 0, o.nAB);
    }
    prnt_caphis2(ctx, ctx.nper, 1);
}

} // namespace

void do_two_sp_corr_det(Context &ctx) {
    const int T = ctx.nper;
    std::fprintf(ctx.out, "2-species corr. detections simulation:\n");
    std::fprintf(ctx.err, "nsites:%d nsurveys:%d\npsiA=%f psiBA=%f psiBa=%f\n", site_count(ctx.ns), T,
                 ctx.psiA, ctx.psiBA, ctx.psiBa);
    print_survey_line(ctx.out, "thA  =", ctx.thA[0], T);
    print_survey_line(ctx.out, "thA' =", ctx.thA[1], T);
    print_survey_line(ctx.out, "thBA =", ctx.thB[1][0], T);
    print_survey_line(ctx.out, "thBA'=", ctx.thB[1][1], T);
    print_survey_line(ctx.out, "thBa =", ctx.thB[0][0], T);
    print_survey_line(ctx.out, "thBa'=", ctx.thB[0][1], T);
    print_detection_lines(ctx);
    if (ctx.SIMTYPE == 2)
        simulate_sites(ctx);
    else
        simulate_cohorts(ctx);
}

} // namespace occusim
