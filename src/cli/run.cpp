#include "cli/run.hpp"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>

#include "batch/grid.hpp"
#include "batch/replicates.hpp"
#include "batch/run_batch.hpp"
#include "batch/verify.hpp"
#include "cli/diagnostics.hpp"
#include "cli/dispatch.hpp"
#include "cli/help.hpp"
#include "core/count_setup.hpp"
#include "core/errors.hpp"
#include "core/output_file.hpp"
#include "core/seasons.hpp"
#include "cli/metadata.hpp"
#include "cli/options.hpp"
#include "history/csv.hpp"
#include "study/design.hpp"
#include "study/optimal.hpp"

namespace occusim {

namespace {


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

} // namespace

void prepare_run(Context &ctx, const Args &args) {
    read_command_line(ctx, args);
    if (ctx.SIMTYPE > 1) ctx.determ = 0;
    if (!ctx.GRID.empty()) check_grid(ctx);
    if (ctx.DESIGN || ctx.FIT) refuse_study(ctx);
    if (const std::string why = optimal_refusal(ctx); !why.empty()) input_error("%s", why.c_str());
    if (!ctx.GRID.empty() && !ctx.OPTIMIZE.empty())
        input_error("GRID with OPTIMIZE: a search already runs over sites and visits; give one of them");
    check_batch(ctx, args);
}

namespace {

[[noreturn]] void run(Context &ctx, const Args &args, CsvRun &csv, std::optional<OptimalSearch> &search) {
    prepare_run(ctx, args);
    // The design search runs ahead of the run, so that whatever it refuses
    // leaves no file behind; its report follows the run's usual output.
    if (!ctx.OPTIMIZE.empty()) {
        search.emplace(search_designs(read_command_line, args, optimal_request(ctx)));
        if (ctx.VERIFY > 0) refuse_verify(ctx, args, *search, command_line_program());
    }
    // A replicate of a batch has its generator seeded by the batch.
    if (ctx.determ == 0 && ctx.replicate == 0) {
        ctx.rng.SelectStream(0);
        ctx.rng.PlantSeeds(ctx.seed_value);
        if (!ctx.QUIET) std::fprintf(ctx.err, "seed=%ld\n", ctx.seed_value);
        if (!ctx.QUIET && ctx.seed_value < 0 && draws_random_numbers(ctx))
            std::fprintf(ctx.err, "occusim8: seed %ld (give SEED=%ld to repeat this run)\n", ctx.rng.planted_seed(),
                         ctx.rng.planted_seed());
    }
    echo_parameters(ctx);
    ctx.ilmt = shifted_size(1, ctx.nper).value32;
    if (!ctx.GRID.empty() && ctx.replicate == 0) finish(run_grid(ctx, args, command_line_program()));
    if (ctx.REPS > 0 && ctx.replicate == 0) finish(run_batch(ctx, args, command_line_program()));
    // A replicate's rows go to its batch's CSV, through the sink the batch attached.
    if (ctx.FORMAT == "csv" && ctx.replicate == 0) csv.start(ctx);
    dispatch(ctx, args);
}

// Closes the streams a successful run left open; 1 when one of them fails.
int commit_streams(Context &ctx) {
    try {
        ctx.close_streams();
    } catch (const FileError &e) {
        std::fflush(ctx.out);
        std::fprintf(ctx.err, "occusim8: %s\n", e.what());
        return 1;
    }
    return 0;
}

} // namespace

int execute(Context &ctx, const Args &args) {
    ctx.rng.prompt_in = ctx.in;
    ctx.rng.prompt_out = ctx.out;
    int status;
    bool write_failed = false;
    CsvRun csv;
    std::optional<OptimalSearch> search;
    try {
        run(ctx, args, csv, search);
    } catch (const RunFinished &f) {
        status = f.status;
    } catch (const FileError &e) {
        std::fflush(ctx.out);
        std::fprintf(ctx.err, "occusim8: %s\n", e.what());
        status = 1;
        write_failed = true;
    } catch (const InputError &e) {
        std::fflush(ctx.out);
        std::fprintf(ctx.err, "occusim8: error: %s\n", e.what());
        status = 1;
    } catch (const std::bad_alloc &) {
        std::fflush(ctx.out);
        std::fprintf(ctx.err, "occusim8: error: out of memory\n");
        status = 1;
    } catch (const std::exception &e) {
        // Anything else a library throws ends the run as a failure, never
        // as an abort that leaves half-written files.
        std::fflush(ctx.out);
        std::fprintf(ctx.err, "occusim8: error: %s\n", e.what());
        status = 1;
    }
    // Files still open are whole only when the run succeeded: they are
    // committed then, and removed otherwise.
    if (status == 0 && commit_streams(ctx) != 0) {
        status = 1;
        write_failed = true;
    }
    if (csv.active()) {
        status = csv.end(ctx, status);
        if (status == 0) status = write_csv_metadata(ctx, args, csv);
    }
    if (status != 0) {
        ctx.discard_streams();
        // A history file the failed run had begun is never left half-made:
        // after a failed write none remains under its name, after any other
        // failure it is left empty.
        if (ctx.history_opened && !ctx.history_written) {
            if (write_failed) {
                if (ctx.memory)
                    ctx.memory->files.erase(ctx.outfile);
                else
                    remove_regular_file(ctx.path(ctx.outfile));
            } else {
                try {
                    std::FILE *f = ctx.create(ctx.outfile);
                    ctx.close(f);
                } catch (const FileError &) {
                    // nothing can be left there at all
                }
            }
        }
    }
    // The design evaluation follows the run's usual output.
    if (status == 0 && ctx.DESIGN && ctx.GRID.empty()) status = report_design(ctx, args, read_command_line);
    if (status == 0 && search) status = report_optimal(ctx, args, *search, command_line_program());
    std::fflush(ctx.out);
    std::fflush(ctx.err);
    return status;
}

Program command_line_program() {
    return Program{.execute = execute,
                   .read_command_line = read_command_line,
                   .run_metadata = run_metadata,
                   .prepare_run = prepare_run,
                   .same_option = same_option};
}

} // namespace occusim
