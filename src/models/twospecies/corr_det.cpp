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
// The cohort recursions follow every branch (no test for empty cohorts), so
// the order of the binomial splits, and hence of the random draws, is fixed by
// the depth-first order alone.
//
// The site-by-site form writes the history file afresh with each distinct
// history once, in ascending order, followed by a tab, a space and its number
// of sites; the header and the place of the surveys-per-season list hold the
// number of surveys.
#include "models/twospecies/corr_det.hpp"

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "core/errors.hpp"
#include "history/writers.hpp"
#include "models/twospecies/two_species.hpp"

namespace occusim {

namespace {

// One species on its own: th[prev] is its availability given its availability
// at the previous survey, p its detection when available, digit its history
// digit.
void caphis2corrdet_single(Context &ctx, int code, int d, int prev, double n, const std::array<Vec, 2> &th,
                           const Vec &p, int digit) {
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
    if (ctx.fp) std::fclose(ctx.fp);
    ctx.fp = nullptr;
    if (ctx.fp2) std::fclose(ctx.fp2);
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
    std::fclose(ctx.fp2);
    ctx.fp2 = nullptr;
    print_occupancy_counts(ctx.out, o);
    std::fprintf(ctx.out, "end of program\n");
}

[[noreturn]] void simulate_cohorts(Context &ctx) {
    TwoSpeciesOccupancy o = split_occupancy(ctx);
    ctx.nx.set(0, o.neither);
    print_occupancy_counts(ctx.out, o);
    caphis2corrdetA(ctx, 0, 1, 0, o.nAonly);
    std::fprintf(ctx.out, "---------------");
    caphis2corrdetBa(ctx, 0, 1, 0, o.nBonly);
    std::fprintf(ctx.out, "---------------");
    caphis2corrdetBA(ctx, 0, 1, 0, 0, o.nAB);
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
