// The history writers on the largest expected-value files: whole runs of the
// default model with every branch live (T=14, about 4.8 million lines) and of
// correlated two-species detections (T=11 and 12), file included; the
// frequency text alone, by printf and by the writers' formatter; and the
// construction of a run context, paid once per replicate of a batch.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "cli/run.hpp"
#include "core/context.hpp"
#include "history/writers.hpp"

namespace {

using occusim::Args;

// A scratch directory of this benchmark, removed afterwards.
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

void run_program(benchmark::State &state, Args model) {
    Scratch scratch;
    model.insert(model.begin(), {"occusim8", "T=" + std::to_string(state.range(0))});
    for (auto _ : state) {
        std::FILE *null = std::fopen("/dev/null", "w");
        occusim::Context ctx;
        ctx.out = ctx.err = null;
        ctx.workdir = scratch.dir;
        if (occusim::execute(ctx, model) != 0) state.SkipWithError("run failed");
        std::fclose(null);
    }
    std::error_code ec;
    state.counters["file MB"] =
        static_cast<double>(std::filesystem::file_size(scratch.dir + "/occusim.pao", ec)) / (1 << 20);
}

void BM_DefaultModelEveryBranch(benchmark::State &state) {
    run_program(state, {"N=100", "psi=.5", "p=.4", "b=.3", "p10=.1", "gam=.2", "eps=.3", "SPS=7,7", "QUIET"});
}
BENCHMARK(BM_DefaultModelEveryBranch)
    ->Arg(12)
    ->Arg(14)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void BM_CorrelatedDetections(benchmark::State &state) {
    run_program(state, {"N=100", "psiA=.6", "psiBA=.5", "psiBa=.25", "pA=.5", "pB=.4", "rA=.8", "rBA=.5",
                        "rBa=.25", "thA=.5", "thA'=.8", "thBA=.6", "thBA'=.9", "thBa=.4", "thBa'=.7", "QUIET"});
}
BENCHMARK(BM_CorrelatedDetections)
    ->Arg(11)
    ->Arg(12)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// Expected counts as the writers see them: a few sites down to tiny shares.
std::vector<double> counts() {
    std::mt19937_64 gen(3);
    std::vector<double> v(1 << 16);
    for (double &x : v) x = 100.0 * std::ldexp(static_cast<double>(gen() >> 11), -53 - static_cast<int>(gen() % 30));
    return v;
}

void BM_FrequencyPrintf(benchmark::State &state) {
    const std::vector<double> v = counts();
    const char *fmt = state.range(0) ? "%20.10f" : "%f";
    char buf[occusim::kFixedMax];
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::snprintf(buf, sizeof buf, fmt, v[i++ & 0xffff]));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FrequencyPrintf)->Arg(0)->Arg(1);

void BM_FrequencyFormatFixed(benchmark::State &state) {
    const std::vector<double> v = counts();
    const int width = state.range(0) ? 20 : 0;
    const int precision = state.range(0) ? 10 : 6;
    char buf[occusim::kFixedMax];
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(occusim::format_fixed(buf, v[i++ & 0xffff], width, precision));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FrequencyFormatFixed)->Arg(0)->Arg(1);

void BM_ContextConstruction(benchmark::State &state) {
    for (auto _ : state) {
        occusim::Context ctx;
        benchmark::DoNotOptimize(ctx.pa.data());
    }
}
BENCHMARK(BM_ContextConstruction)->Unit(benchmark::kMicrosecond);

} // namespace
