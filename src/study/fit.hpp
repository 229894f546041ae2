// Maximum-likelihood fits of replicate data sets and the summary of a whole
// simulation study.
//
// A replicate's data are its histories with the number of sites showing each
// (collected through the run's HistorySink). The log-likelihood is
// sum_h n_h log pi_h(theta), with pi_h the exact history probabilities of the
// model; the estimated parameters are those of the design evaluation, on the
// logit (probabilities) or log (rates) scale, started at their true values.
// Standard errors come from the expected information at the estimate (delta
// method to the natural scale); 95% intervals are formed on the estimation
// scale and transformed back.
//
// Use in a batch: one ReplicateFitter per worker thread (each owns its own
// prepared context), a HistoryTally attached as the sink of each replicate's
// run, fit_rows() for the replicate's lines of <stem>_fits.csv, and one
// StudySummary fed with every FitResult in replicate order (so that the
// summary is the same for every thread count).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "study/power.hpp"
#include "study/probabilities.hpp"

namespace occusim {

// How a fit ended: converged inside the parameter space; converged with an
// estimate at the edge of the search range (a probability at 0 or 1, a rate at
// 0 or very large); converged but the information at the estimate is
// singular (no standard errors); or no convergence.
enum class FitStatus { Converged, Boundary, Singular, Failed };
// The converged column: "yes", "boundary", "singular" or "no".
const char *fit_status_text(FitStatus s);

struct ParameterEstimate {
    double estimate = 0; // natural scale
    double se = 0;       // NaN when not available
    double lcl = 0, ucl = 0;
};

struct FitResult {
    FitStatus status = FitStatus::Failed;
    std::vector<ParameterEstimate> estimates; // one per estimated parameter
    double loglik = 0;
    long evaluations = 0; // likelihood evaluations of the search
};

// Collects the histories of one replicate: fields -> number of sites.
class HistoryTally : public HistorySink {
  public:
    void history(std::string_view fields, double count) override;
    void clear();
    const std::vector<std::pair<std::string, double>> &entries() const { return entries_; }

  private:
    std::unordered_map<std::string, std::size_t> index_;
    std::vector<std::pair<std::string, double>> entries_;
};

class ReplicateFitter {
  public:
    // `params` as study_parameters() gives them for the same command line.
    ReplicateFitter(const Preparer &prepare, const Args &args, const std::vector<Parameter> &params);
    FitResult fit(const std::vector<std::pair<std::string, double>> &tallies);
    FitResult fit(const HistoryTally &tally) { return fit(tally.entries()); }

    const std::vector<Parameter> &parameters() const { return model_.parameters(); }
    // The model of the fits (history probabilities, evaluation counter).
    HistoryProbabilities &model() { return model_; }

  private:
    double negative_loglik(const double *x);
    static double objective(unsigned n, const double *x, double *grad, void *data);

    HistoryProbabilities model_;
    std::vector<std::size_t> est_;  // indices of the estimated parameters
    std::vector<double> truth_;     // given values of every parameter
    std::vector<double> values_;    // work: values of every parameter
    std::vector<double> probs_;     // work: history probabilities
    std::vector<std::pair<int, double>> observed_; // history index, sites
};

inline constexpr const char *kFitsHeader = "rep,parameter,true,estimate,se,lcl,ucl,converged\n";
// The lines of <stem>_fits.csv for replicate `rep` (numbers as the shortest
// decimal that reads back to the same double; "" where a value is missing).
std::string fit_rows(long rep, const std::vector<Parameter> &params, const FitResult &fit);

// Per estimated parameter, running summaries of the fits (memory does not
// grow with the number of replicates), with the Wald tests of the parameters
// that have a null value (see parameter_nulls).
class StudySummary {
  public:
    // Throws InputError for a null named after no estimated parameter.
    explicit StudySummary(const std::vector<Parameter> &params, const WaldTests &tests = {});
    // Adds one replicate's fit; call in replicate order.
    void add(const FitResult &fit);

    struct Row {
        std::string name;
        double truth, mean, bias, relbias, rmse, sd, mean_se, coverage;
        long used, n;
        // NaN without a null (null) or without a rejection (type_s, type_m).
        double null, power, type_s, type_m;
    };
    std::vector<Row> rows() const;
    // <stem>_study.csv and the console table headed "simulation study:".
    std::string csv() const;
    void print(std::FILE *out) const;

  private:
    struct Acc {
        std::string name;
        double truth = 0;
        long n = 0, used = 0, se_n = 0, cover = 0;
        double mean = 0, m2 = 0, sse = 0, se_sum = 0;
        std::optional<double> null;
        WaldTally wald;
    };
    std::vector<Acc> acc_;
};

} // namespace occusim
