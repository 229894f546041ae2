// A run context set up from a command line the way the run driver sets it up
// before it hands the run to a model (options applied, seasons laid out,
// generator seeded), its console going nowhere: for reference computations
// that replay a model's recursion outside a run.
#pragma once

#include <cstdio>

#include "cli/options.hpp"
#include "core/context.hpp"
#include "core/seasons.hpp"

namespace occusim::testing {

struct Prepared {
    Context ctx;
    std::FILE *null = std::fopen("/dev/null", "w");

    explicit Prepared(const Args &args) {
        ctx.out = ctx.err = null;
        ctx.set_vector_defaults();
        ctx.QUIET = 1;
        for (const auto &a : args) apply_argument(ctx, a);
        lay_out_seasons(ctx);
        setup_coefficients(ctx);
        if (ctx.SIMTYPE > 1) ctx.determ = 0;
        if (ctx.determ == 0) {
            ctx.rng.SelectStream(0);
            ctx.rng.PlantSeeds(ctx.seed_value);
        }
    }
    ~Prepared() { std::fclose(null); }
    Prepared(const Prepared &) = delete;
    Prepared &operator=(const Prepared &) = delete;
};

} // namespace occusim::testing
