// Simulation studies in one command: FIT with a replicate batch fits every
// replicate by maximum likelihood as soon as it is simulated, from its
// histories tallied in memory, and reports how the estimator behaves.
//
//   <stem>_fits.csv   one row per replicate and estimated parameter
//                     (rep,parameter,true,estimate,se,lcl,ucl,converged), in
//                     replicate order, the same bytes for every thread count;
//   <stem>_study.csv  one row per parameter: true value, mean estimate, bias,
//                     relative bias, RMSE, SD of the estimates, mean SE,
//                     coverage of the 95% intervals, fits used out of n;
//   and the same summary as a table on standard output at the end.
//
// A shard i of k writes <stem>_fits_<i>of<k>.csv and <stem>_study_<i>of<k>.csv,
// its summary covering its own replicates. Both files are written under
// hidden names and renamed when complete.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "batch/replicates.hpp"
#include "study/covariates.hpp"
#include "study/fit.hpp"

namespace occusim {

// The fits file and the study file of a plan ("_fits", "_study").
std::string study_file_name(const BatchPlan &plan, const char *table);

class FitHook final : public BatchHook {
  public:
    // Reads the study's parameters from the command line; throws InputError
    // when they cannot be had (before any replicate runs).
    FitHook(Context &ctx, const Args &args, const Program &program);
    ~FitHook() override;

    void begin(const BatchPlan &plan) override;
    std::unique_ptr<ReplicateTask> before(long r, Context &ctx) override;
    void commit(long r, std::string chunk) override;
    void end(const BatchReport &report) override;

    // False when a table could not be written (named by failed_name()).
    bool ok() const { return error_.empty(); }
    // Why a table could not be written (as a FileError says it).
    const std::string &error() const { return error_; }
    // Likelihood evaluations of every committed fit.
    long evaluations() const { return evaluations_; }
    // The summary of the fits committed so far.
    const StudySummary &summary() const { return summary_; }

  private:
    class Task;
    friend class Task;
    std::unique_ptr<ReplicateFitter> take_fitter();
    void give_back(std::unique_ptr<ReplicateFitter> fitter);
    std::unique_ptr<CovariateFitter> take_site_fitter();
    void give_back(std::unique_ptr<CovariateFitter> fitter);
    void finished(long r, FitResult fit);
    bool write_study(const std::string &text);

    Context &ctx_;
    const Args &args_;
    const Program &program_;
    // With covariates the replicates are fitted site by site.
    std::unique_ptr<CovariateLayout> layout_;
    std::vector<Parameter> params_;
    StudySummary summary_;
    bool swap_two_surveys_ = false; // abundance lines list survey 1 first, the model survey 2

    std::mutex m_;
    std::vector<std::unique_ptr<ReplicateFitter>> idle_; // one per worker once warm
    std::vector<std::unique_ptr<CovariateFitter>> idle_sites_;
    std::map<long, FitResult> pending_;                  // fitted, not yet committed

    const BatchPlan *plan_ = nullptr;
    OutputFile fits_;
    std::string fits_name_, study_name_;
    std::string error_;
    long evaluations_ = 0;
};

} // namespace occusim
