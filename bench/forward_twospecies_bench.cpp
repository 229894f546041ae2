// Benchmarks of the two-species expected-value forms (the walk over history
// prefixes) and of random cohorts with correlated detections: whole runs
// that write their history file, and the counts alone as a design evaluation
// asks for them again and again.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli/run.hpp"
#include "core/context.hpp"
#include "models/twospecies/corr_det.hpp"
#include "models/twospecies/two_species.hpp"

namespace {

using occusim::Args;

const Args kDetection = {"psiA=.6", "psiBA=.5", "psiBa=.25", "pA=.5", "pB=.4", "rA=.8", "rBA=.5", "rBa=.25"};
const Args kAvailability = {"thA=.5", "thA'=.8", "thBA=.6", "thBA'=.9", "thBa=.4", "thBa'=.7"};
const Args kSeasons = {"SPS=1",     "gamAb=.2",  "gamAB=.4",  "epsAb=.3",  "epsAB=.1",
                       "gamBaa=.2", "gamBaA=.5", "gamBAa=.3", "gamBAA=.6", "epsBaa=.25",
                       "epsBaA=.5", "epsBAa=.4", "epsBAA=.2"};

// One whole run of the program in a scratch directory, console discarded.
void run_program(benchmark::State &state, const Args &model, const Args &extra) {
    const std::string dir = (std::filesystem::temp_directory_path() / "occusim-bench").string();
    std::filesystem::create_directories(dir);
    Args args{"occusim8", "T=" + std::to_string(state.range(0))};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), model.begin(), model.end());
    for (auto _ : state) {
        std::FILE *null = std::fopen("/dev/null", "w");
        occusim::Context ctx;
        ctx.out = null;
        ctx.err = null;
        ctx.workdir = dir;
        if (occusim::execute(ctx, args) != 0) state.SkipWithError("run failed");
        std::fclose(null);
    }
    state.counters["file MB"] =
        static_cast<double>(std::filesystem::file_size(dir + "/occusim.pao")) / (1 << 20);
    std::filesystem::remove_all(dir);
}

void BM_CorrelatedDetectionsExpectedRun(benchmark::State &state) {
    Args model = kDetection;
    model.insert(model.end(), kAvailability.begin(), kAvailability.end());
    run_program(state, model, {"N=100"});
}
BENCHMARK(BM_CorrelatedDetectionsExpectedRun)->DenseRange(9, 12)->Unit(benchmark::kSecond)->Iterations(1);

void BM_SingleSeasonExpectedRun(benchmark::State &state) {
    run_program(state, kDetection, {"N=100"});
}
BENCHMARK(BM_SingleSeasonExpectedRun)->DenseRange(10, 12)->Unit(benchmark::kSecond)->Iterations(1);

void BM_SeveralSeasonsExpectedRun(benchmark::State &state) {
    Args model = kDetection;
    model.insert(model.end(), kSeasons.begin(), kSeasons.end());
    run_program(state, model, {"N=100"});
}
BENCHMARK(BM_SeveralSeasonsExpectedRun)->DenseRange(8, 12, 2)->Unit(benchmark::kSecond)->Iterations(1);

void BM_CorrelatedDetectionsRandomCohorts(benchmark::State &state) {
    Args model = kDetection;
    model.insert(model.end(), kAvailability.begin(), kAvailability.end());
    run_program(state, model, {"N=" + std::to_string(state.range(1)), "STOCH", "SEED=4"});
}
BENCHMARK(BM_CorrelatedDetectionsRandomCohorts)
    ->Args({9, 10})
    ->Args({12, 100000})
    ->Unit(benchmark::kMillisecond);

// Parameters of a prepared single-season or correlated-detection run.
void prepare(occusim::Context &ctx, int T, bool availability) {
    ctx.set_vector_defaults();
    ctx.nper = T;
    ctx.ns = 100;
    ctx.psiA = .6;
    ctx.psiBA = .5;
    ctx.psiBa = .25;
    for (int j = 0; j < T; j++) {
        ctx.pA[j] = .5;
        ctx.pB[j] = .4;
        ctx.rA[j] = .8;
        ctx.rBA[j] = .5;
        ctx.rBa[j] = .25;
        if (!availability) continue;
        ctx.thA[0][j] = .5;
        ctx.thA[1][j] = .8;
        ctx.thB[1][0][j] = .6;
        ctx.thB[1][1][j] = .9;
        ctx.thB[0][0][j] = .4;
        ctx.thB[0][1][j] = .7;
    }
}

// The counts alone, again and again on one context with a slightly changed
// detection probability each time, as a design evaluation computes them.
void BM_SingleSeasonCountsRepeated(benchmark::State &state) {
    occusim::Context ctx;
    const int T = static_cast<int>(state.range(0));
    prepare(ctx, T, false);
    int k = 0;
    for (auto _ : state) {
        ctx.pA[0] = .5 + 1e-6 * (k++ % 7);
        ctx.nx.reset(std::int64_t{2} << (2 * T));
        occusim::two_species_expected(ctx, occusim::split_occupancy(ctx));
        benchmark::DoNotOptimize(ctx.nx.get(0));
    }
}
BENCHMARK(BM_SingleSeasonCountsRepeated)->Arg(4)->Arg(6)->Arg(8)->Unit(benchmark::kMicrosecond);

// The same counts by the cohort recursion, state after state.
void BM_SingleSeasonCountsByStateRecursion(benchmark::State &state) {
    occusim::Context ctx;
    const int T = static_cast<int>(state.range(0));
    prepare(ctx, T, false);
    int k = 0;
    for (auto _ : state) {
        ctx.pA[0] = .5 + 1e-6 * (k++ % 7);
        ctx.nx.reset(std::int64_t{2} << (2 * T));
        const occusim::TwoSpeciesOccupancy o = occusim::split_occupancy(ctx);
        ctx.nx.set(0, o.neither);
        occusim::caphis2(ctx, 0, 1, 1, o.nAonly);
        occusim::caphis2(ctx, 0, 1, 2, o.nBonly);
        occusim::caphis2(ctx, 0, 1, 3, o.nAB);
        benchmark::DoNotOptimize(ctx.nx.get(0));
    }
}
BENCHMARK(BM_SingleSeasonCountsByStateRecursion)->Arg(4)->Arg(6)->Arg(8)->Unit(benchmark::kMicrosecond);

void BM_CorrelatedDetectionsCounts(benchmark::State &state) {
    occusim::Context ctx;
    const int T = static_cast<int>(state.range(0));
    prepare(ctx, T, true);
    for (auto _ : state) {
        ctx.nx.reset(std::int64_t{2} << (2 * T));
        occusim::corr_det_expected(ctx, occusim::split_occupancy(ctx));
        benchmark::DoNotOptimize(ctx.nx.get(0));
    }
}
BENCHMARK(BM_CorrelatedDetectionsCounts)->DenseRange(6, 12, 2)->Unit(benchmark::kMillisecond);

} // namespace

