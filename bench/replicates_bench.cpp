// Benchmarks of replicate batches and the counter-based generator: one
// uniform from each generator, a site-by-site run of a million sites with
// each generator (file included, reported per site-survey), a batch of a
// thousand small replicates in one process beside a thousand separate runs of
// the program, and a batch on one and two threads.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli/run.hpp"
#include "core/rngs.hpp"

namespace {

// A scratch directory for one benchmark, removed afterwards.
struct Scratch {
    std::string path;
    Scratch() {
        std::string t = (std::filesystem::temp_directory_path() / "occusim-bench-XXXXXX").string();
        path = mkdtemp(t.data());
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

int run_quietly(const Scratch &dir, occusim::Args args) {
    std::FILE *null_out = std::fopen("/dev/null", "w");
    occusim::Context ctx;
    ctx.out = null_out;
    ctx.err = null_out;
    ctx.workdir = dir.path;
    args.insert(args.begin(), "occusim8");
    int status = occusim::execute(ctx, args);
    std::fclose(null_out);
    return status;
}

void BM_UniformLehmer(benchmark::State &state) {
    occusim::Rngs r;
    r.PlantSeeds(7);
    for (auto _ : state) benchmark::DoNotOptimize(r.Random());
}
BENCHMARK(BM_UniformLehmer);

void BM_UniformPhilox(benchmark::State &state) {
    occusim::Rngs r;
    r.UsePhilox(1);
    r.PlantSeeds(7);
    for (auto _ : state) benchmark::DoNotOptimize(r.Random());
}
BENCHMARK(BM_UniformPhilox);

// 10^6 sites x 10 surveys, one replicate, history file written.
void BM_SiteBySite(benchmark::State &state) {
    Scratch dir;
    const bool philox = state.range(0) != 0;
    for (auto _ : state) {
        occusim::Args args = {"T=10", "N=1000000", "psi=.6", "p=.4", "gam=.1", "eps=.2", "SIMTYPE=2", "SEED=5",
                              "QUIET"};
        if (philox) args.push_back("RNG=philox");
        if (run_quietly(dir, args) != 0) state.SkipWithError("run failed");
    }
    state.SetLabel(philox ? "philox" : "lehmer");
    state.counters["ns_per_site_survey"] = benchmark::Counter(
        1e7 * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SiteBySite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

const occusim::Args kSmall = {"T=5", "N=200", "psi=.5", "p=.3", "SIMTYPE=2", "QUIET"};

// REPS=1000 of T=5 N=200 SIMTYPE=2 in one process.
void BM_Batch1000Small(benchmark::State &state) {
    Scratch dir;
    for (auto _ : state) {
        occusim::Args args = kSmall;
        for (std::string a : {"SEED=5", "REPS=1000"}) args.push_back(a);
        args.push_back("THREADS=" + std::to_string(state.range(0)));
        if (run_quietly(dir, args) != 0) state.SkipWithError("batch failed");
    }
}
BENCHMARK(BM_Batch1000Small)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The same thousand data sets as a thousand separate runs of the program
// (one process each, one after the other), as a user would script them.
void BM_Separate1000Small(benchmark::State &state) {
    Scratch dir;
    for (auto _ : state) {
        for (int r = 1; r <= 1000; r++) {
            std::vector<std::string> words = {OCCUSIM_PROGRAM};
            words.insert(words.end(), kSmall.begin(), kSmall.end());
            words.push_back("SEED=" + std::to_string(r));
            words.push_back("outfile=" + dir.path + "/rep_" + std::to_string(r) + ".pao");
            std::vector<char *> argv;
            for (auto &w : words) argv.push_back(w.data());
            argv.push_back(nullptr);
            posix_spawn_file_actions_t fa;
            posix_spawn_file_actions_init(&fa);
            posix_spawn_file_actions_addchdir_np(&fa, dir.path.c_str());
            posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
            posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
            pid_t pid = 0;
            int status = 1;
            if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0 ||
                waitpid(pid, &status, 0) != pid || status != 0)
                state.SkipWithError("a run failed");
            posix_spawn_file_actions_destroy(&fa);
        }
    }
}
BENCHMARK(BM_Separate1000Small)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// REPS=200 of 10^4 sites x 10 surveys on one and two threads.
void BM_Batch200Medium(benchmark::State &state) {
    Scratch dir;
    for (auto _ : state) {
        occusim::Args args = {"T=10", "N=10000", "psi=.6", "p=.4", "gam=.1", "eps=.2", "SIMTYPE=2", "SEED=5",
                              "QUIET", "REPS=200", "THREADS=" + std::to_string(state.range(0))};
        if (run_quietly(dir, args) != 0) state.SkipWithError("batch failed");
    }
}
BENCHMARK(BM_Batch200Medium)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

