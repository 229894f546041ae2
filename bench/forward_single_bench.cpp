// Expected-value runs of the single-species and spatial families end to end
// (options, forward pass, history file), by the forward pass over history
// prefixes and, for comparison, by the cohort walk; and the pass alone,
// called over and over on one run context as design evaluation does.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli/run.hpp"
#include "core/context.hpp"
#include "models/single/caphis.hpp"

namespace {

using occusim::Args;

// A scratch directory of this process, removed at exit.
struct Scratch {
    std::string dir;
    Scratch() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "occusim-bench-XXXXXX").string();
        if (mkdtemp(tmpl.data())) dir = tmpl;
    }
    ~Scratch() {
        std::error_code ec;
        if (!dir.empty()) std::filesystem::remove_all(dir, ec);
    }
};

// Runs occusim8 in the scratch directory with the console thrown away.
int run(const Args &args, bool walk) {
    static const Scratch scratch;
    std::FILE *sink = std::fopen("/dev/null", "w");
    int status;
    {
        occusim::Context ctx;
        ctx.out = ctx.err = sink;
        ctx.workdir = scratch.dir;
        ctx.expected_by = walk ? occusim::Context::ExpectedBy::Walk : occusim::Context::ExpectedBy::Pass;
        Args full{"occusim8"};
        full.insert(full.end(), args.begin(), args.end());
        status = occusim::execute(ctx, full);
    }
    std::fclose(sink);
    return status;
}

Args default_model(int T) {
    return {
        "T=" + std::to_string(T), "N=1000", "psi=.5", "p=.4", "b=.3", "p10=.1", "gam=.2", "eps=.15", "QUIET"};
}

void BM_DefaultModelAllBranches(benchmark::State &state) {
    const Args args = default_model(static_cast<int>(state.range(0)));
    const bool walk = state.range(1) != 0;
    for (auto _ : state) benchmark::DoNotOptimize(run(args, walk));
}
BENCHMARK(BM_DefaultModelAllBranches)
    ->ArgNames({"T", "walk"})
    ->Args({12, 0})
    ->Args({13, 0})
    ->Args({14, 0})
    ->Args({12, 1})
    ->Args({13, 1})
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void BM_Family(benchmark::State &state, Args args, bool walk) {
    for (auto _ : state) benchmark::DoNotOptimize(run(args, walk));
}

Args with_T(int T, Args rest) {
    rest.insert(rest.begin(), "T=" + std::to_string(T));
    return rest;
}
Args mixture(int T) {
    return with_T(T, {"N=1000", "psi=.5", "pi=.4", "p=.6", "pB=.2", "gam=.2", "eps=.15", "QUIET"});
}
// Two methods per visit, two seasons.
Args methods(int T) {
    return with_T(T, {"METH=2", "N=1000", "psi=.5", "th0=.7", "p1=.5", "p2=.4",
                      "SPS=" + std::to_string(T / 2) + "," + std::to_string(T - T / 2), "gam=.2", "eps=.15",
                      "QUIET"});
}
Args one_season(int T) {
    return with_T(T, {"N=1000", "psi=.5", "p=.6", "th0=.3", "th1=.8", "th0pi=.4", "QUIET"});
}
// Seasons of four surveys.
Args seasons(int T) {
    return with_T(T, {"N=1000", "psi=.5", "p=.6", "th0=.3", "th1=.8", "th0pi=.4", "SPS=4", "gam=.2",
                      "eps=.15", "QUIET"});
}
// The positional block of the second spatial generator: T N psi, then p,
// theta0, theta1, pi (T each), eps and gam (T-1 each; gam opens a season
// every fourth survey).
Args block(int T) {
    Args a{std::to_string(T), "1000", ".5"};
    const char *rows[4] = {".6", ".3", ".8", ".4"};
    for (const char *v : rows)
        for (int t = 0; t < T; t++) a.push_back(v);
    for (int t = 0; t + 1 < T; t++) a.push_back(".15");
    for (int t = 0; t + 1 < T; t++) a.push_back((t + 1) % 4 == 0 ? ".2" : "0");
    a.push_back("T=" + std::to_string(T));
    a.push_back("SPADMS");
    a.push_back("QUIET");
    return a;
}

#define FAMILY(name, args, walk)                                                                             \
    BENCHMARK_CAPTURE(BM_Family, name, args, walk)                                                           \
        ->Unit(benchmark::kSecond)                                                                           \
        ->Iterations(1)                                                                                      \
        ->MeasureProcessCPUTime()                                                                            \
        ->UseRealTime()

// Each family at a T the walk finishes in seconds, both ways, then the pass
// alone at a larger T.
FAMILY(mixture_T14, mixture(14), false);
FAMILY(mixture_T14_walk, mixture(14), true);
FAMILY(mixture_T16, mixture(16), false);
FAMILY(methods_T7x2, methods(7), false);
FAMILY(methods_T7x2_walk, methods(7), true);
FAMILY(spatial_one_season_T16, one_season(16), false);
FAMILY(spatial_one_season_T16_walk, one_season(16), true);
FAMILY(spatial_one_season_T22, one_season(22), false);
FAMILY(spatial_seasons_T14, seasons(14), false);
FAMILY(spatial_seasons_T14_walk, seasons(14), true);
FAMILY(spatial_seasons_T20, seasons(20), false);
FAMILY(spatial_block_T14, block(14), false);
FAMILY(spatial_block_T14_walk, block(14), true);
FAMILY(spatial_block_T20, block(20), false);

// The pass alone on one context, as design evaluation calls it: T=10, every
// branch live, the count table emptied between calls.
void BM_DefaultPassRepeated(benchmark::State &state) {
    occusim::Context ctx;
    ctx.set_vector_defaults();
    const int T = static_cast<int>(state.range(0));
    ctx.nper = T;
    for (int k = 0; k < T; k++) {
        ctx.pa[k] = 0.4;
        ctx.b[k] = 0.3;
        ctx.p10[k] = 0.1;
        ctx.gam[k + 1] = 0.2;
        ctx.eps[k] = 0.15;
    }
    ctx.gam[0] = 0.5;
    ctx.expected_by = state.range(1) != 0 ? occusim::Context::ExpectedBy::Walk : occusim::Context::ExpectedBy::Pass;
    for (auto _ : state) {
        ctx.nx.reset(std::int64_t{3} << (2 * T));
        occusim::caphis(ctx, 0, 1000, 1, 0);
        benchmark::DoNotOptimize(ctx.nx.get(0));
    }
}
BENCHMARK(BM_DefaultPassRepeated)
    ->ArgNames({"T", "walk"})
    ->Args({8, 0})
    ->Args({8, 1})
    ->Args({10, 0})
    ->Args({10, 1})
    ->Unit(benchmark::kMillisecond);

} // namespace
