// Power analysis of the tutorial design (8 visits, p = .5, logit psi =
// 0 - 0.4 elev): FIT with REPS=1000 at each of 200 x {50,100,200,300,400}
// sites = 5,000 fits through the command line on two worker threads
// (simulate, fit, write the tables); one fit of 200 sites with the
// likelihood evaluations it takes; and DESIGN with one site and one
// detection covariate over the same numbers of sites.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "cli/run.hpp"
#include "core/context.hpp"
#include "study/covariates.hpp"

namespace {

const char *const kSites[] = {"N=50", "N=100", "N=200", "N=300", "N=400"};

int run_in_temp(const occusim::Args &args) {
    std::string dir = (std::filesystem::temp_directory_path() / "occusim-bench-XXXXXX").string();
    if (!mkdtemp(dir.data())) return -1;
    occusim::Context ctx;
    ctx.workdir = dir;
    ctx.out = occusim::open_null_stream();
    ctx.err = occusim::open_null_stream();
    const int status = occusim::execute(ctx, args);
    std::fclose(ctx.out);
    std::fclose(ctx.err);
    std::filesystem::remove_all(dir);
    return status;
}

void BM_TutorialPowerStudy(benchmark::State &state) {
    for (auto _ : state) {
        for (const char *sites : kSites) {
            const occusim::Args args = {"occusim8",   "T=8",       sites,       "p=.5",  "NCOVS=1",
                                        "coef=0,-.4", "SIMTYPE=2", "SEED=1",    "QUIET", "THREADS=2",
                                        "REPS=1000",  "FIT",       "FORMAT=csv"};
            if (run_in_temp(args) != 0) state.SkipWithError("the study failed");
        }
    }
    state.counters["fits/s"] = benchmark::Counter(5000.0 * state.iterations(), benchmark::Counter::kIsRate);
}

// One replicate of 200 sites as the simulator draws it, fitted again and again.
void BM_CovariateFit(benchmark::State &state) {
    const occusim::Args args = {"occusim8", "T=8", "N=200", "p=.5", "NCOVS=1", "coef=0,-.4", "SIMTYPE=2"};
    occusim::CovariateFitter fitter(occusim::covariate_layout(occusim::read_command_line, args));
    occusim::SiteRecords sites;
    sites.shape(8, 1, 0);
    std::mt19937_64 gen(7);
    std::uniform_real_distribution<double> u;
    for (int i = 0; i < 200; i++) {
        double x = -6;
        for (int k = 0; k < 12; k++) x += u(gen);
        const bool z = u(gen) < 1 / (1 + std::exp(0.4 * x));
        unsigned char y[8];
        for (auto &v : y) v = z && u(gen) < 0.5;
        sites.add(y, std::span<const double>(&x, 1), {});
    }
    long evaluations = 0;
    for (auto _ : state) {
        const occusim::FitResult f = fitter.fit(sites);
        evaluations += f.evaluations;
        benchmark::DoNotOptimize(f.loglik);
    }
    state.counters["evaluations/fit"] =
        static_cast<double>(evaluations) / static_cast<double>(state.iterations());
}

void BM_CovariateDesignGrid(benchmark::State &state) {
    for (auto _ : state) {
        for (const char *sites : kSites) {
            const occusim::Args args = {"occusim8",   "T=8",      sites,      "p=.5",     "NCOVS=1",
                                        "coef=0,-.4", "NPCOVS=1", "pcoef=.5", "SIMTYPE=2"};
            benchmark::DoNotOptimize(occusim::covariate_design(occusim::read_command_line, args));
        }
    }
}

// The same five studies as one grid in one process (GRID=N:...), and the
// covariate design grid through the command line.
void BM_TutorialPowerGrid(benchmark::State &state) {
    for (auto _ : state) {
        const occusim::Args args = {"occusim8",
                                    "T=8",
                                    "N=200",
                                    "p=.5",
                                    "NCOVS=1",
                                    "coef=0,-.4",
                                    "SIMTYPE=2",
                                    "SEED=1",
                                    "QUIET",
                                    "THREADS=2",
                                    "REPS=1000",
                                    "FIT",
                                    "GRID=N:50,100,200,300,400"};
        if (run_in_temp(args) != 0) state.SkipWithError("the grid failed");
    }
    state.counters["fits/s"] = benchmark::Counter(5000.0 * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_CovariateDesignGridCommandLine(benchmark::State &state) {
    for (auto _ : state) {
        const occusim::Args args = {"occusim8",
                                    "T=8",
                                    "N=200",
                                    "p=.5",
                                    "NCOVS=1",
                                    "coef=0,-.4",
                                    "NPCOVS=1",
                                    "pcoef=.5",
                                    "SIMTYPE=2",
                                    "SEED=1",
                                    "DESIGN",
                                    "QUIET",
                                    "GRID=N:50,100,200,300,400"};
        if (run_in_temp(args) != 0) state.SkipWithError("the grid failed");
    }
}

BENCHMARK(BM_TutorialPowerGrid)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_CovariateDesignGridCommandLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TutorialPowerStudy)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_CovariateFit)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CovariateDesignGrid)->Unit(benchmark::kMillisecond);

} // namespace
