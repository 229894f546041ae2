// Cost of fitting one replicate data set (T=5, 100 sites, psi=.6, p=.3) by
// maximum likelihood, with the number of likelihood evaluations per fit; the
// data sets are drawn beforehand from the model's history probabilities. Also
// the cost of one evaluation of those probabilities, for the single-season
// model and for the Royle-Nichols counts.
#include <benchmark/benchmark.h>

#include <random>

#include "cli/run.hpp"
#include "study/fit.hpp"

namespace {

const occusim::Preparer kPrepare = [](occusim::Context &ctx, const occusim::Args &args) {
    occusim::read_command_line(ctx, args);
};

using Tallies = std::vector<std::pair<std::string, double>>;

std::vector<Tallies> draw(occusim::HistoryProbabilities &model, int reps, int sites) {
    std::vector<double> probs;
    auto values = occusim::given_values(model.parameters());
    model.evaluate(values.data(), probs);
    std::mt19937_64 rng(1);
    std::discrete_distribution<std::size_t> pick(probs.begin(), probs.end());
    std::vector<Tallies> out;
    for (int r = 0; r < reps; r++) {
        std::vector<double> counts(probs.size(), 0.0);
        for (int s = 0; s < sites; s++) counts[pick(rng)] += 1;
        Tallies t;
        for (std::size_t h = 0; h < counts.size(); h++)
            if (counts[h] > 0) t.emplace_back(model.history(h), counts[h]);
        out.push_back(std::move(t));
    }
    return out;
}

void BM_FitReplicate(benchmark::State &state) {
    const occusim::Args args = {"occusim8", "T=5", "N=100", "psi=.6", "p=.3", "STOCH"};
    auto params = occusim::study_parameters(kPrepare, args);
    occusim::ReplicateFitter fitter(kPrepare, args, params);
    const auto data = draw(fitter.model(), 1000, 100);
    occusim::StudySummary summary(params);
    std::size_t r = 0;
    long searches = 0, fits = 0;
    const long before = fitter.model().evaluations();
    for (auto _ : state) {
        auto f = fitter.fit(data[r++ % data.size()]);
        searches += f.evaluations;
        fits++;
        summary.add(f);
    }
    state.counters["search_evals_per_fit"] = static_cast<double>(searches) / static_cast<double>(fits);
    state.counters["evals_per_fit"] =
        static_cast<double>(fitter.model().evaluations() - before) / static_cast<double>(fits);
    if (std::getenv("FIT_BENCH_TABLE")) summary.print(stdout);
}
BENCHMARK(BM_FitReplicate)->Unit(benchmark::kMicrosecond);

// Evaluates the history probabilities of `args` at the given values, over and over.
void time_evaluations(benchmark::State &state, const occusim::Args &args) {
    occusim::HistoryProbabilities model(kPrepare, args, occusim::study_parameters(kPrepare, args));
    auto values = occusim::given_values(model.parameters());
    std::vector<double> probs;
    for (auto _ : state) {
        model.evaluate(values.data(), probs);
        benchmark::DoNotOptimize(probs.data());
    }
}

void BM_HistoryProbabilities(benchmark::State &state) {
    time_evaluations(state, {"occusim8", "T=5", "N=100", "psi=.6", "p=.3", "STOCH"});
}
BENCHMARK(BM_HistoryProbabilities)->Unit(benchmark::kMicrosecond);

// One evaluation of the Royle-Nichols count probabilities (two surveys), as a
// fit or a design evaluation makes them: a light-tailed Poisson abundance and
// a heavy-tailed negative binomial one (mean 3, dispersion 1.5).
void BM_RoyleHistoryProbabilities(benchmark::State &state) {
    const occusim::Args poisson = {"occusim8", "T=2", "N=200", "psi=.8", "Lambda=2", "r=.4,.5"};
    const occusim::Args negbin = {"occusim8", "T=2", "N=200", "psi=.8", "u=3", "a=1.5", "r=.4,.5"};
    time_evaluations(state, state.range(0) == 0 ? poisson : negbin);
}
BENCHMARK(BM_RoyleHistoryProbabilities)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

