#include "driver/run.hpp"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>

#include "driver/count_setup.hpp"
#include "driver/finish.hpp"
#include "driver/options.hpp"
#include "history/writers.hpp"
#include "models/abundance/royle.hpp"
#include "models/integrated/integrated.hpp"
#include "models/multistate/ms_corr.hpp"
#include "models/multistate/multistate.hpp"
#include "models/single/caphis.hpp"
#include "models/single/het.hpp"
#include "models/single/multimethod.hpp"
#include "models/spatial/scorR.hpp"
#include "models/spatial/scorr.hpp"
#include "models/stagentry/stag_entry.hpp"
#include "models/twospecies/two_species.hpp"

namespace occusim {

namespace {

constexpr const char *kBuildStamp = "180607.2051";
// Longest survey count any model handles (the vectors hold that many entries).
constexpr int kMaxSurveys = 4000;

void print_vec(Context &ctx, const char *label, const Vec &v) {
    std::fprintf(ctx.out, "%s", label);
    for (int k = 0; k < ctx.nper; k++) std::fprintf(ctx.out, " %4.2f", v[k]);
    std::fprintf(ctx.out, "\n");
}

void print_ivec(Context &ctx, const char *label, const IVec &v, int count) {
    std::fprintf(ctx.out, "%s", label);
    for (int k = 0; k < count; k++) std::fprintf(ctx.out, " %d", v[k]);
    std::fprintf(ctx.out, "\n");
}

// Season layout: Season[k] is the season of survey k, newSeason marks the
// first survey of every season.
void lay_out_seasons(Context &ctx) {
    ctx.gam[0] = ctx.psi;
    ctx.newSeason[0] = 1;
    // The most negative int has no positive counterpart to stand for.
    if (ctx.nper == INT_MIN) input_error("T=%d: at most %d surveys are supported", ctx.nper, kMaxSurveys);
    if (ctx.nper < 0) {
        ctx.SRVYPERSEASN[0] = -ctx.nper;
        ctx.nper = -ctx.nper;
        ctx.determ = 0;
    }
    // The survey count as T gave it, made positive: a negative T only asks for
    // a stochastic run, and the history file must show the real survey count.
    ctx.num_srvys = ctx.nper;
    // A design longer than the vectors is refused after the survey-count
    // check (so a recursive run still gets its own message); it is not laid out.
    if (ctx.nper > kMaxSurveys) return;
    int s = 0;
    long c = 0;
    for (int k = 0; k < ctx.nper; k++) {
        ctx.Season[k] = s;
        if (k + 1 == c + ctx.SRVYPERSEASN[s]) {
            ctx.newSeason[k + 1] = 1;
            c += ctx.SRVYPERSEASN[s];
            s++;
        }
    }
    ctx.iseasn = s;
}

void echo_parameters(Context &ctx) {
    std::fprintf(ctx.out, "determ=%d het=%d MS=%d MS2=%d\n", ctx.determ, ctx.HET, ctx.MULTISTATE, ctx.MS2);
    ctx.npresnt = ctx.ns;
    std::fprintf(ctx.out, "psi=%f npresnt=%f\n", ctx.psi, ctx.npresnt);
    print_vec(ctx, "gam=", ctx.gam);
    print_vec(ctx, "eps=", ctx.eps);
    print_vec(ctx, "p  =", ctx.pa);
    print_vec(ctx, "th0=", ctx.theta[0]);
    print_vec(ctx, "th1=", ctx.theta[1]);
    print_vec(ctx, "b  =", ctx.b);
    print_vec(ctx, "p10=", ctx.p10);
    std::fprintf(ctx.out, "nseasns=%d\n", ctx.nseasns);
    print_ivec(ctx, "SPS=", ctx.SRVYPERSEASN, ctx.nseasns);
    print_ivec(ctx, "Season=", ctx.Season, ctx.nper);
    print_ivec(ctx, "newSeason=", ctx.newSeason, ctx.nper);
}

void open_history_file(Context &ctx) {
    ctx.fp2 = ctx.open(ctx.outfile, "w");
    if (!ctx.fp2) {
        ctx.write_error_file("1)error opening occusim.pao\n");
        finish(1);
    }
    ctx.history_opened = true;
}

void open_second_stream(Context &ctx) {
    ctx.fp = ctx.open("occusim.pao", "w");
    if (!ctx.fp) {
        ctx.write_error_file("2)error opening %s\n", "occusim.pao");
        finish(1);
    }
}

// Base-4 count table of the default and false-positive paths (3 * 4^nper
// entries). From 17 surveys the recursion hands over to site-by-site
// simulation before it touches the table, so none is sized for such runs;
// 15 and 16 surveys do not fit a 32-bit size and are refused as a failed
// allocation.
void size_base4_table(Context &ctx, const char *fail_fmt) {
    if (ctx.nper > 16) return;
    TableSize size = shifted_size(3, 2 * ctx.nper);
    size_count_table(ctx, size, size, fail_fmt);
}

[[noreturn]] void dispatch(Context &ctx, const Args &args) {
    if (ctx.MSCD > 0) do_multistate_sim_corr(ctx, args);
    if (ctx.STAG > 0) do_stag_entry_model_sim(ctx, args, ctx.outfile);
    if (ctx.INTEGRATED) do_integrated_model_sim(ctx, args, ctx.SIMTYPE);
    if (ctx.MULTISTATE > 0 || ctx.MS2 > 0) do_multistate_sim(ctx, ctx.ns);
    if (ctx.FALSEPOS > 0) ctx.P0MISS = 0;
    open_history_file(ctx);
    if (ctx.ROYLE > 0) do_royle(ctx, ctx.nper, ctx.seed_value, ctx.NICHOLS, ctx.NEGBIN, ctx.ns);
    open_second_stream(ctx);
    if (ctx.HET > 0) {
        TableSize size = shifted_size(1, ctx.nper);
        size_count_table(ctx, size, size, "error allocating nx (size=%d)\n");
        caphis_het(ctx, 0, 1, 0, 0, ctx.ns);
        prnt_caphis(ctx, ctx.nper, ctx.determ);
    }
    if (ctx.FALSEPOS > 0) {
        size_base4_table(ctx, "3)error allocating nx (size=%d)\n");
        caphis(ctx, 0, ctx.ns, 1, 0);
        prnt_caphis2(ctx, ctx.nper, 1);
    }
    if (ctx.TWOSP > 0) {
        for (int k = 0; k < ctx.nper; k++) ctx.pa[k] = ctx.pA[k];
        do_two_species(ctx);
        ctx.history_written = true;
        ctx.close_streams();
        finish(0);
    }
    if (ctx.METH > 1) multi_method_layout(ctx);
    if (ctx.SPADEP != 0) {
        // One bit per survey the recursion walks (after any multi-method
        // expansion, so that every code it writes lies inside the table).
        // Beyond 30 surveys the table does not fit: a run that goes site by
        // site never uses it and gets none; any other run is refused.
        const TableSize base2 = shifted_size(1, ctx.nper);
        const bool by_site = ctx.SIMTYPE > 1 && (ctx.SPADEP != 1 || ctx.nseasns > 1);
        if (base2.fits || !by_site) size_count_table(ctx, base2, base2, "6)error allocating nx (size=%d)\n");
        if (ctx.SPADEP == 1) {
            if (ctx.nseasns > 1)
                caphis_multi_season_scorr(ctx, 0, 1, 0, 0, ctx.npresnt);
            else
                caphis_scorr(ctx, 0, 1, 0, 0, ctx.npresnt);
        } else {
            caphis_scorR(ctx, args, ctx.SIMTYPE);
        }
        prnt_caphis(ctx, ctx.nper, ctx.determ);
    }
    if (ctx.METH > 1) {
        size_multi_method_table(ctx);
        caphismm(ctx, 0, 1, 0, 0, ctx.ns);
        prnt_caphis(ctx, ctx.nper, ctx.determ);
    }
    size_base4_table(ctx, "5)error allocating nx (size=%d)\n");
    std::fprintf(ctx.out, "caphis(0,npresent,1,0)\n");
    caphis(ctx, 0, ctx.npresnt, 1, 0);
    std::fprintf(ctx.out, "prnt_caphis2(nper,determ)\n");
    prnt_caphis2(ctx, ctx.nper, ctx.determ);
}

[[noreturn]] void run(Context &ctx, const Args &args) {
    ctx.determ = 1;
    ctx.nseasns = 1;
    ctx.outfile = "occusim.pao";
    std::fprintf(ctx.out, "OCCUSIM ver8 %s\n", kBuildStamp);
    int argc = static_cast<int>(args.size());
    if (argc <= 4) {
        std::fputs(kUsageText, ctx.err);
        finish(1);
    }
    for (int i = 1; i < argc; i++)
        if (args[i].size() >= static_cast<std::size_t>(kArgBufLen))
            input_error("argument %d (\"%.20s...\") is longer than %d characters", i, args[i].c_str(),
                        kArgBufLen - 1);
    ctx.set_vector_defaults();
    for (int i = 1; i < argc; i++)
        if (args[i].find("quiet") != std::string::npos || args[i].find("QUIET") != std::string::npos)
            ctx.QUIET = 1;
    for (int i = 1; i < argc; i++) {
        if (!ctx.QUIET) std::fprintf(ctx.out, "\nARG[%d]:%s\n", i, args[i].c_str());
        apply_argument(ctx, args[i]);
    }
    lay_out_seasons(ctx);
    setup_coefficients(ctx);
    if (ctx.nper > 30 && ctx.SIMTYPE <= 1) {
        std::fprintf(ctx.err, "\nT must be < 30\n");
        finish(1);
    }
    if (ctx.nper > kMaxSurveys) input_error("T=%d: at most %d surveys are supported", ctx.nper, kMaxSurveys);
    // An infinite or undefined number of sites cannot be split into cohorts
    // (a stochastic split of it would never finish).
    if (!std::isfinite(ctx.ns)) input_error("N=%f: the number of sites must be a finite number", ctx.ns);
    if (ctx.SIMTYPE > 1) ctx.determ = 0;
    if (ctx.determ == 0) {
        ctx.rng.SelectStream(0);
        ctx.rng.PlantSeeds(ctx.seed_value);
        if (!ctx.QUIET) std::fprintf(ctx.err, "seed=%ld\n", ctx.seed_value);
    }
    echo_parameters(ctx);
    ctx.ilmt = shifted_size(1, ctx.nper).value32;
    dispatch(ctx, args);
}

} // namespace

int execute(Context &ctx, const Args &args) {
    ctx.rng.prompt_in = ctx.in;
    ctx.rng.prompt_out = ctx.out;
    int status;
    try {
        run(ctx, args);
    } catch (const RunFinished &f) {
        status = f.status;
    } catch (const InputError &e) {
        std::fflush(ctx.out);
        std::fprintf(ctx.err, "occusim8: %s\n", e.what());
        status = 1;
    } catch (const std::bad_alloc &) {
        std::fflush(ctx.out);
        std::fprintf(ctx.err, "occusim8: out of memory\n");
        status = 1;
    }
    ctx.close_streams();
    // A run that failed after opening its history file leaves it empty rather
    // than half-written.
    if (status != 0 && ctx.history_opened && !ctx.history_written) {
        if (std::FILE *f = ctx.open(ctx.outfile, "w")) std::fclose(f);
    }
    std::fflush(ctx.out);
    std::fflush(ctx.err);
    return status;
}

} // namespace occusim
