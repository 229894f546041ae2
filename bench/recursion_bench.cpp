// Benchmarks of the two hot paths of the cohort recursion: an expected-value
// run with every branch live, and a stochastic run over a million sites.
#include <benchmark/benchmark.h>

#include "core/context.hpp"
#include "models/single/caphis.hpp"

namespace {

void setup(occusim::Context &ctx, int T) {
    ctx.set_vector_defaults();
    ctx.nper = T;
    for (int k = 0; k < T; k++) {
        ctx.pa[k] = 0.4;
        ctx.b[k] = 0.3;
        ctx.p10[k] = 0.1;
        ctx.gam[k + 1] = 0.2;
        ctx.eps[k] = 0.15;
    }
    ctx.gam[0] = 0.5;
    ctx.nx.reset(std::int64_t{3} << (2 * T));
}

void BM_ExpectedValueAllBranches(benchmark::State &state) {
    for (auto _ : state) {
        occusim::Context ctx;
        setup(ctx, 10);
        ctx.determ = 1;
        occusim::caphis(ctx, 0, 1000, 1, 0);
        benchmark::DoNotOptimize(ctx.nx.get(0));
    }
}
BENCHMARK(BM_ExpectedValueAllBranches)->Unit(benchmark::kMillisecond);

void BM_StochasticMillionSites(benchmark::State &state) {
    for (auto _ : state) {
        occusim::Context ctx;
        setup(ctx, 10);
        ctx.determ = 0;
        ctx.rng.PlantSeeds(7);
        occusim::caphis(ctx, 0, 1000000, 1, 0);
        benchmark::DoNotOptimize(ctx.nx.get(0));
    }
}
BENCHMARK(BM_StochasticMillionSites)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
