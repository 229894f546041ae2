// A replicate batch put together: the replicates, and the outputs that ride on
// them (the batch CSV, the manifest, the fits of a simulation study and the
// run record, in that order), then the batch's one line on the console.
#include "batch/run_batch.hpp"

#include <cstdio>
#include <optional>

#include "batch/fits.hpp"
#include "batch/outputs.hpp"
#include "batch/replicates.hpp"
#include "core/errors.hpp"

namespace occusim {

int run_batch(Context &ctx, const Args &args, const Program &program) {
    // The parse pass planted the seed of a random run (printing it when it
    // came from the clock); a model that is random by nature plants it here.
    if (ctx.determ != 0) ctx.rng.PlantSeeds(ctx.seed_value);
    const BatchPlan plan = plan_batch(ctx, ctx.rng.planted_seed());
    std::fflush(ctx.out);

    Batch batch(ctx, args, plan, program);
    // The batch CSV commits ahead of the manifest: a row it cannot write fails
    // its replicate before the manifest lists it.
    BatchCsv csv(ctx);
    if (plan.csv) {
        batch.add(csv);
        batch.publish_history_files(false);
    }
    Manifest manifest(ctx, ctx.INTEGRATED != 0);
    batch.add(manifest);
    // Further outputs of a batch are added here as hooks.
    std::optional<FitHook> fits;
    if (ctx.FIT) batch.add(fits.emplace(ctx, args, program));
    BatchMetadata metadata(ctx, args, program, plan.csv ? &csv : nullptr);
    batch.add(metadata); // last: it lists what the others wrote
    const BatchReport rep = batch.run();

    const std::string data = plan.csv ? plan.batch_file(".csv")
                                      : plan.file_name(plan.first) + " to " + plan.file_name(plan.last);
    if (rep.failed > 0) {
        const std::string where = csv.written() ? " to " + data : "";
        if (rep.completed > 0)
            input_error("replicate %ld failed: %s (replicates %ld to %ld were written%s)", rep.failed,
                        rep.error.c_str(), plan.first, plan.first + rep.completed - 1, where.c_str());
        input_error("replicate %ld failed: %s", rep.failed, rep.error.c_str());
    }
    const std::string none;
    for (const std::string *error : {&manifest.error(), &csv.error(), fits ? &fits->error() : &none,
                                     &metadata.error()})
        if (!error->empty()) throw FileError(*error);
    std::fprintf(ctx.err, "occusim8: %ld replicate%s written (%s, manifest %s), seed %ld, %d thread%s, %.2f s\n",
                 rep.completed, rep.completed == 1 ? "" : "s", data.c_str(), plan.manifest_name().c_str(),
                 plan.seed, plan.threads, plan.threads == 1 ? "" : "s", rep.elapsed);
    return 0;
}

} // namespace occusim
