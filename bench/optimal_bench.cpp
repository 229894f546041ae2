// Cost of a full design search with KMAX=16: the single-season model (15
// visit counts, one expected-information evaluation of one site each), two
// seasons with false positives (visits per season 2..8, up to 16 surveys), and
// a site covariate (each evaluation averages over the covariate sample).
#include <benchmark/benchmark.h>

#include "cli/run.hpp"
#include "study/optimal.hpp"

namespace {

const occusim::Preparer kPrepare = [](occusim::Context &ctx, const occusim::Args &args) {
    occusim::read_command_line(ctx, args);
};

void search(benchmark::State &state, const occusim::Args &args, const std::string &parameter) {
    occusim::OptimalRequest request;
    request.parameter = parameter;
    request.limit = 2000;
    request.costs = occusim::DesignCosts{2, 3, 1};
    long evaluations = 0;
    for (auto _ : state) {
        const occusim::OptimalSearch s = occusim::search_designs(kPrepare, args, request);
        evaluations = s.evaluations;
        benchmark::DoNotOptimize(s.designs.data());
    }
    state.counters["designs"] = static_cast<double>(evaluations);
}

void BM_SearchSingleSeason(benchmark::State &state) {
    search(state, {"occusim8", "T=5", "N=100", "psi=.6", "p=.3"}, "psi");
}
BENCHMARK(BM_SearchSingleSeason)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SearchTwoSeasonsFalsePositives(benchmark::State &state) {
    search(state,
           {"occusim8", "T=4", "N=100", "SRVYPERSEASN=2", "psi=.6", "p=.4", "p10=.05", "gam=.2", "eps=.3"},
           "eps");
}
BENCHMARK(BM_SearchTwoSeasonsFalsePositives)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_SearchSiteCovariate(benchmark::State &state) {
    search(state, {"occusim8", "T=8", "N=200", "p=.5", "NCOVS=1", "coef=0,-.4", "SIMTYPE=2", "SEED=1"},
           "psi(cov1)");
}
BENCHMARK(BM_SearchSiteCovariate)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
