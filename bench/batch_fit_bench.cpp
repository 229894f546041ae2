// A whole simulation study through the command line: REPS=1000 FIT of
// T=5, 100 sites, psi=.6, p=.3 on two worker threads (simulate, write each
// history file, fit, write the tables), against the same batch without FIT.
// (Likelihood evaluations per fit: bench/fit_bench.)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli/run.hpp"
#include "core/context.hpp"
#include "study/fit.hpp"

namespace {

void run_study(benchmark::State &state, bool fit) {
    const long reps = state.range(0);
    occusim::Args args = {"occusim8", "T=5", "N=100", "psi=.6", "p=.3", "STOCH", "SEED=1", "QUIET", "THREADS=2",
                          "REPS=" + std::to_string(reps)};
    if (fit) args.push_back("FIT");
    for (auto _ : state) {
        std::string dir = (std::filesystem::temp_directory_path() / "occusim-bench-XXXXXX").string();
        if (!mkdtemp(dir.data())) {
            state.SkipWithError("no temporary directory");
            break;
        }
        occusim::Context ctx;
        ctx.workdir = dir;
        ctx.out = occusim::open_null_stream();
        ctx.err = occusim::open_null_stream();
        const int status = occusim::execute(ctx, args);
        std::fclose(ctx.out);
        std::fclose(ctx.err);
        std::filesystem::remove_all(dir);
        if (status != 0) state.SkipWithError("the batch failed");
    }
    state.counters["replicates/s"] = benchmark::Counter(static_cast<double>(reps) * state.iterations(),
                                                        benchmark::Counter::kIsRate);
}

void BM_StudyFit(benchmark::State &state) { run_study(state, true); }
void BM_StudyNoFit(benchmark::State &state) { run_study(state, false); }

// What a fitter costs to build (prepared model, probabilities at the true
// values): the reason each worker keeps one for all its replicates.
void BM_BuildFitter(benchmark::State &state) {
    const occusim::Args args = {"occusim8", "T=5", "N=100", "psi=.6", "p=.3", "STOCH", "SEED=1", "QUIET"};
    const auto params = occusim::study_parameters(occusim::read_command_line, args);
    for (auto _ : state) {
        occusim::ReplicateFitter fitter(occusim::read_command_line, args, params);
        benchmark::DoNotOptimize(fitter.model().histories());
    }
}

BENCHMARK(BM_BuildFitter)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StudyFit)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_StudyNoFit)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
