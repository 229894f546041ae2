// Whole runs of the multistate psi/R, integrated and staggered-entry models at
// their largest designs, history file included, and the psi/R model's exact
// expected counts over the tree of history prefixes. Each run writes into a
// scratch directory under /tmp.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cli/run.hpp"
#include "core/context.hpp"
#ifndef OCCUSIM_BENCH_BEFORE
#include "models/multistate/multistate.hpp"
#endif

namespace {

using occusim::Args;

std::string scratch() {
    char dir[] = "/tmp/occusim-bench-XXXXXX";
    const char *made = mkdtemp(dir);
    return made ? made : "/tmp";
}

void run_program(benchmark::State &state, Args args) {
    args.insert(args.begin(), "occusim8");
    const std::string dir = scratch();
    std::FILE *null = std::fopen("/dev/null", "w");
    for (auto _ : state) {
        occusim::Context ctx;
        ctx.workdir = dir;
        ctx.out = ctx.err = null;
        const int status = occusim::execute(ctx, args);
        if (status != 0) state.SkipWithError("run failed");
    }
    std::fclose(null);
    std::system(("rm -rf " + dir).c_str());
}

// Nine surveys, each its own season: every branch of states and codes live.
const Args kPsiR = {"T=9",    "N=1000", "SPS=1",  "psi0=.6", "R0=.5", "Cpsi0=.3", "Cpsi1=.8", "Cpsi2=.9",
                    "cR0=.3", "cR1=.3", "cR2=.7", "p1=.5",   "p2=.8", "dlta=.5",  "QUIET"};

void BM_MultistatePsiR_T9_File(benchmark::State &state) {
    run_program(state, kPsiR);
}
BENCHMARK(BM_MultistatePsiR_T9_File)->Unit(benchmark::kSecond)->Iterations(1);

#ifndef OCCUSIM_BENCH_BEFORE
void BM_MultistatePsiR_T9_ExpectedCounts(benchmark::State &state) {
    struct Sum : occusim::HistorySink {
        double total = 0;
        void history(std::string_view, double count) override { total += count; }
    };
    for (auto _ : state) {
        occusim::Context ctx;
        ctx.set_vector_defaults();
        ctx.nper = 9;
        ctx.SRVYPERSEASN[0] = 1;
        for (int k = 0; k < 9; k++) {
            ctx.psiMS[0][0][k] = k == 0 ? .6 : .3;
            ctx.psiMS[0][1][k] = .8;
            ctx.psiMS[0][2][k] = .9;
            ctx.psiMS[1][0][k] = k == 0 ? .5 : .3;
            ctx.psiMS[1][1][k] = .3;
            ctx.psiMS[1][2][k] = .7;
            ctx.pMS[0][1][k] = .5;
            ctx.pMS[0][2][k] = .8;
            ctx.dlta[k] = .5;
        }
        Sum sum;
        occusim::ms_expected_histories(ctx, 1000, sum);
        benchmark::DoNotOptimize(sum.total);
    }
}
BENCHMARK(BM_MultistatePsiR_T9_ExpectedCounts)->Unit(benchmark::kMillisecond);
#endif

void BM_Integrated_T9_File(benchmark::State &state) {
    run_program(state,
                {"T=9",       "N=1000",    "pi=.5",     "psiA=.8",   "psiB=.6",  "pA=.7",    "pB=.6",
                 "eta0AA=.8", "eta1AA=.6", "eta0BA=.3", "eta1BA=.4", "gamAA=.2", "gamAB=.3", "gamBA=.4",
                 "gamBB=.1",  "epsAA=.1",  "epsAB=.2",  "epsBA=.3",  "epsBB=.4", "QUIET",    "INTEGRATED"});
}
BENCHMARK(BM_Integrated_T9_File)->Unit(benchmark::kSecond)->Iterations(1);

// Twenty surveys in seasons of five: entry, departure and detection all
// uncertain (four million paths, a million histories).
void BM_StagEntry_T20_File(benchmark::State &state) {
    run_program(state, {"T=20", "N=1000", "psi=.7", "p=.6", "SPS=5", "Ent=.5", "Dep=.3", "QUIET", "STAG"});
}
BENCHMARK(BM_StagEntry_T20_File)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

