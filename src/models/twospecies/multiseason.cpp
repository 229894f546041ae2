// Two-species co-occurrence over several seasons.
//
// The joint state of a site (neither species, A only, B only, both) starts from
// the single-season occupancy probabilities and changes after every survey,
// within seasons too: entry j of each transition vector governs the change
// between survey j and survey j+1. A colonises empty sites with gamAb and sites
// holding only B with gamAB, and goes extinct with epsAb (alone) or epsAB (with
// B). B's colonisation and extinction depend on what A does across the same
// change: gamB and epsB hold four blocks of 1000 entries, block
// 2 * (A present before) + (A present after). Detection at each survey follows
// the single-season model; the history digit is 2 * (B detected) + (A detected).
// The season layout only selects this model and fills the history file's
// surveys-per-season list. The site-by-site form writes one line per site
// without a frequency field: each digit followed by a tab.
#include "models/twospecies/multiseason.hpp"

#include <cstdio>
#include <string>

#include "driver/finish.hpp"
#include "history/writers.hpp"
#include "models/twospecies/two_species.hpp"

namespace occusim {

namespace {

// Offsets of the four blocks of gamB and epsB.
constexpr int kaa = 0 * kVecLen; // A absent before and after
constexpr int kaA = 1 * kVecLen; // A arrives
constexpr int kAa = 2 * kVecLen; // A leaves
constexpr int kAA = 3 * kVecLen; // A stays

} // namespace

void ms2caphis(Context &ctx, int state, int code, int d, double n) {
    if (!(n > 0)) return;
    const int j = d - 1;
    double a = 0, b = 0, both = 0, none = 0;
    switch (state) {
    case 1:
        a = ctx.binoml(n, ctx.pA[j]);
        none = n - a;
        break;
    case 2:
        b = ctx.binoml(n, ctx.pB[j]);
        none = n - b;
        break;
    case 3: {
        double A = ctx.binoml(n, ctx.rA[j]);
        both = ctx.binoml(A, ctx.rBA[j]);
        b = ctx.binoml(n - A, ctx.rBa[j]);
        none = n - A - b;
        a = A - both;
        break;
    }
    default:
        none = n;
        break;
    }
    const int T = ctx.nper;
    if (d < T) {
        const int s = 2 * (T - d);
        ms2srv(ctx, state, code | (3 << s), d, both);
        ms2srv(ctx, state, code | (1 << s), d, a);
        ms2srv(ctx, state, code | (2 << s), d, b);
        ms2srv(ctx, state, code, d, none);
    } else if (d == T) {
        ctx.nx.add(code, none);
        ctx.nx.add(code | 1, a);
        ctx.nx.add(code | 2, b);
        ctx.nx.add(code | 3, both);
    }
}

void ms2srv(Context &ctx, int state, int code, int d, double n) {
    if (!(n > 0)) return;
    const int j = d - 1;
    double pA_after, pB_with, pB_without; // A after the change; B among sites with / without A
    switch (state) {
    case 0:
        pA_after = ctx.gamAb[j];
        pB_with = ctx.gamB[kaA + j];
        pB_without = ctx.gamB[kaa + j];
        break;
    case 1:
        pA_after = 1 - ctx.epsAb[j];
        pB_with = ctx.gamB[kAA + j];
        pB_without = ctx.gamB[kAa + j];
        break;
    case 2:
        pA_after = ctx.gamAB[j];
        pB_with = 1 - ctx.epsB[kaA + j];
        pB_without = 1 - ctx.epsB[kaa + j];
        break;
    default:
        pA_after = 1 - ctx.epsAB[j];
        pB_with = 1 - ctx.epsB[kAA + j];
        pB_without = 1 - ctx.epsB[kAa + j];
        break;
    }
    double withA = ctx.binoml(n, pA_after);
    double bothAfter = ctx.binoml(withA, pB_with);
    double Bonly = ctx.binoml(n - withA, pB_without);
    double Aonly = withA - bothAfter;
    double none = n - withA - Bonly;
    ms2caphis(ctx, 3, code, d + 1, bothAfter);
    ms2caphis(ctx, 1, code, d + 1, Aonly);
    ms2caphis(ctx, 2, code, d + 1, Bonly);
    ms2caphis(ctx, 0, code, d + 1, none);
}

namespace {

// Site by site: one line per site, the survey digits each followed by a tab
// and no frequency. The state changes after every survey, the last included,
// with one draw for A and one for B whatever the state.
void simulate_sites(Context &ctx) {
    const int T = ctx.nper;
    const int nsites = site_count(ctx.ns);
    std::fprintf(ctx.out, "simulating 2sp-ms by individual...\n");
    std::fprintf(ctx.out, "%d\t%d\n", nsites, T);
    std::fprintf(ctx.fp2, "%d\t%d\n", nsites, T);
    std::string line;
    line.reserve(2 * static_cast<std::size_t>(T) + 1);
    for (int i = 0; i < nsites; i++) {
        bool A, B;
        draw_site_occupancy(ctx, A, B);
        line.clear();
        for (int j = 0; j < T; j++) {
            bool detA = false, detB = false;
            if (A && B) {
                double u1 = ctx.Random();
                double u2 = ctx.Random();
                detA = u2 < ctx.rA[j];
                detB = detA ? u1 < ctx.rBA[j] : u1 < ctx.rBa[j];
            } else if (A) {
                detA = ctx.Random() < ctx.pA[j];
            } else if (B) {
                detB = ctx.Random() < ctx.pB[j];
            }
            line.push_back(static_cast<char>('0' + 2 * detB + detA));
            line.push_back('\t');

            double u = ctx.Random();
            double u2 = ctx.Random();
            bool A_after, B_after;
            if (A && B) {
                A_after = u < 1 - ctx.epsAB[j];
                B_after = A_after ? u2 < 1 - ctx.epsB[kAA + j] : u2 < 1 - ctx.epsB[kAa + j];
            } else if (A) {
                A_after = u < 1 - ctx.epsAb[j];
                B_after = A_after ? u2 < ctx.gamB[kAA + j] : u2 < ctx.gamB[kAa + j];
            } else if (B) {
                A_after = u < ctx.gamAB[j];
                B_after = A_after ? u2 < 1 - ctx.epsB[kaA + j] : u2 < 1 - ctx.epsB[kaa + j];
            } else {
                A_after = u < ctx.gamAb[j];
                B_after = A_after ? u2 < ctx.gamB[kaA + j] : u2 < ctx.gamB[kaa + j];
            }
            A = A_after;
            B = B_after;
        }
        line.push_back('\n');
        std::fwrite(line.data(), 1, line.size(), ctx.fp2);
    }
    write_site_trailer(ctx, ctx.fp2);
    if (ctx.fp) std::fclose(ctx.fp);
    ctx.fp = nullptr;
    std::fprintf(ctx.out, "nchk=%d %d\n", 0, 0);
}

[[noreturn]] void simulate_cohorts(Context &ctx) {
    std::fprintf(ctx.out, "\nsimulating by cohort...\n");
    TwoSpeciesOccupancy o = split_occupancy(ctx);
    std::fprintf(ctx.out, "nAonly,nBonly,nAB,neither: %f %f %f %f\n", o.nAonly, o.nBonly, o.nAB, o.neither);
    ms2caphis(ctx, 3, 0, 1, o.nAB);
    std::fprintf(ctx.out, "---------\n");
    ms2caphis(ctx, 1, 0, 1, o.nAonly);
    std::fprintf(ctx.out, "---------\n");
    ms2caphis(ctx, 2, 0, 1, o.nBonly);
    std::fprintf(ctx.out, "---------\n");
    ms2caphis(ctx, 0, 0, 1, o.neither);
    std::fprintf(ctx.out, "---------\n");
    prnt_caphis2(ctx, ctx.nper, 1);
}

} // namespace

void do_two_species_multiseason(Context &ctx) {
    const int T = ctx.nper;
    std::fprintf(ctx.out, "2-species multiseason simulation:\n");
    bool detection_error = false;
    if (ctx.phi >= 0) detection_error = apply_phi_parameterisation(ctx, ctx.out);
    std::fprintf(ctx.out, "nsites:%d nsurveys:%d psiA=%f psiBA=%f psiBa=%f\n", site_count(ctx.ns), T,
                 ctx.psiA, ctx.psiBA, ctx.psiBa);
    if (ctx.psiBA < 0 || ctx.psiBA > 1 || ctx.psiBa < 0 || ctx.psiBa > 1) {
        ctx.write_error_file("error: impossible combination of psiA,psiB,phi.\n");
        finish(1);
    }
    if (detection_error) {
        ctx.write_error_file("error: impossible combination of rA,rB,dlta.\n");
        finish(1);
    }
    std::fprintf(ctx.out, "srvys/season  =");
    for (int s = 0; s < ctx.nseasns; s++) std::fprintf(ctx.out, " %d", ctx.SRVYPERSEASN[s]);
    std::fprintf(ctx.out, "\n");
    print_survey_line(ctx.out, "pA  =", ctx.pA, T);
    print_survey_line(ctx.out, "pB  =", ctx.pB, T);
    print_survey_line(ctx.out, "rA  =", ctx.rA, T);
    print_survey_line(ctx.out, "rBA =", ctx.rBA, T);
    print_survey_line(ctx.out, "rBa =", ctx.rBa, T);
    print_survey_values(ctx.out, "\ngamAB  =", ctx.gamAB, T);
    print_survey_values(ctx.out, "\ngamAb  =", ctx.gamAb, T);
    print_survey_values(ctx.out, "\ngamBAA =", ctx.gamB, T, kAA);
    print_survey_values(ctx.out, "\ngamBAa =", ctx.gamB, T, kAa);
    print_survey_values(ctx.out, "\ngamBaA =", ctx.gamB, T, kaA);
    print_survey_values(ctx.out, "\ngamBaa =", ctx.gamB, T, kaa);
    print_survey_values(ctx.out, "\nepsAB  =", ctx.epsAB, T);
    print_survey_values(ctx.out, "\nepsAb  =", ctx.epsAb, T);
    print_survey_values(ctx.out, "\nepsBAA =", ctx.epsB, T, kAA);
    print_survey_values(ctx.out, "\nepsBAa =", ctx.epsB, T, kAa);
    print_survey_values(ctx.out, "\nepsBaA =", ctx.epsB, T, kaA);
    print_survey_values(ctx.out, "\nepsBaa =", ctx.epsB, T, kaa);
    std::fprintf(ctx.out, "\n");
    if (ctx.SIMTYPE == 2)
        simulate_sites(ctx);
    else
        simulate_cohorts(ctx);
}

} // namespace occusim
