// Dispatch: exactly one model family takes the run, chosen by the switches
// and parameters the options raised, in a fixed order of precedence.
#include "cli/dispatch.hpp"

#include "core/count_setup.hpp"
#include "core/errors.hpp"
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

void open_history_file(Context &ctx) {
    ctx.fp2 = ctx.open(ctx.outfile, "w");
    if (!ctx.fp2) {
        ctx.write_error_file("1)error opening occusim.pao\n");
        finish(1);
    }
    ctx.history_opened = true;
}

// The second stream never receives a line: "occusim.pao" is created (or
// emptied) here, at once, and the stream keeps nothing. When it is also the
// history file, the history takes the name later, when it is complete.
void open_second_stream(Context &ctx) {
    ctx.fp = ctx.open("occusim.pao", "w");
    if (!ctx.fp) {
        ctx.write_error_file("2)error opening %s\n", "occusim.pao");
        finish(1);
    }
    ctx.close(ctx.fp);
    ctx.fp = open_null_stream();
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

} // namespace

bool single_species_by_site(const Context &ctx) {
    // The families dispatch() hands the run to before the single-species
    // cohort recursion (multi-method designs included: their own recursion
    // takes the run).
    if (ctx.MSCD > 0 || ctx.STAG > 0 || ctx.INTEGRATED || ctx.MULTISTATE > 0 || ctx.MS2 > 0 ||
        ctx.ROYLE > 0 || ctx.HET > 0 || ctx.TWOSP > 0 || ctx.METH > 1 || ctx.SPADEP != 0)
        return false;
    return ctx.SIMTYPE > 1 || ctx.nper > 16;
}

void check_data_options(const Context &ctx) {
    if (ctx.FORMAT != "pao" && ctx.FORMAT != "csv")
        input_error("FORMAT=%s: the data layout is pao or csv", ctx.FORMAT.c_str());
    if (ctx.NPCOVS < 0)
        input_error("NPCOVS=%d: the number of detection covariates cannot be negative", ctx.NPCOVS);
    if (ctx.NPCOVS > kVecLen)
        input_error("NPCOVS=%d: at most %d detection covariates are supported", ctx.NPCOVS, kVecLen);
    if (ctx.NPCOVS == 0 && !ctx.pcoef.empty())
        input_error("pcoef: %zu detection coefficient(s) given without NPCOVS", ctx.pcoef.size());
    if (static_cast<int>(ctx.pcoef.size()) != ctx.NPCOVS)
        input_error("NPCOVS=%d needs pcoef with one coefficient per detection covariate (%zu given)",
                    ctx.NPCOVS, ctx.pcoef.size());
    if (ctx.NPCOVS > 0 && !single_species_by_site(ctx))
        input_error("NPCOVS=%d: detection covariates need single-species site-by-site simulation (SIMTYPE=2)",
                    ctx.NPCOVS);
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

} // namespace occusim
