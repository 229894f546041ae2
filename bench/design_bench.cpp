// Cost of a design evaluation (2k+1 expected-value computations for k
// parameters) on a ten-survey, two-season design with false positives and a
// detection probability per survey, and on the same design with one shared
// detection probability.
#include <benchmark/benchmark.h>

#include "cli/run.hpp"
#include "study/design.hpp"

namespace {

const occusim::Preparer kPrepare = [](occusim::Context &ctx, const occusim::Args &args) {
    occusim::read_command_line(ctx, args);
};

void evaluate(benchmark::State &state, const occusim::Args &args) {
    std::size_t rows = 0;
    for (auto _ : state) {
        auto r = occusim::evaluate_design(kPrepare, args);
        rows = r.size();
        benchmark::DoNotOptimize(r.data());
    }
    state.counters["parameters"] = static_cast<double>(rows);
}

void BM_DesignTenSurveysPerSurveyDetection(benchmark::State &state) {
    evaluate(state, {"occusim8", "T=10", "N=100", "SRVYPERSEASN=5,5", "psi=.6",
                     "p=.4,.4,.4,.4,.4,.5,.5,.5,.5,.5", "p10=.05", "b=.3", "gam=0,0,0,0,.2,0,0,0,0",
                     "eps=0,0,0,0,.3,0,0,0,0"});
}
BENCHMARK(BM_DesignTenSurveysPerSurveyDetection)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_DesignTenSurveysSharedDetection(benchmark::State &state) {
    evaluate(state, {"occusim8", "T=10", "N=100", "SRVYPERSEASN=5,5", "psi=.6", "p=.4", "p10=.05", "b=.3",
                     "gam=0,0,0,0,.2,0,0,0,0", "eps=0,0,0,0,.3,0,0,0,0"});
}
BENCHMARK(BM_DesignTenSurveysSharedDetection)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_DesignFiveSurveys(benchmark::State &state) {
    evaluate(state, {"occusim8", "T=5", "N=100", "psi=.6", "p=.3"});
}
BENCHMARK(BM_DesignFiveSurveys)->Unit(benchmark::kMillisecond);

} // namespace

