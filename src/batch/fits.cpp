// Fits of a replicate batch: a tally of each replicate's histories (through
// the run's history sink), one fitter per worker thread kept warm between
// replicates, and the tables written in replicate order.
#include "batch/fits.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/errors.hpp"

namespace occusim {

namespace {

// Hands a replicate's histories to its tally in the form the model's
// probabilities are keyed by: the site lines of the abundance model list
// survey 1 first, its probabilities survey 2 first; site-by-site lines show
// a survey that was never made (p = 0 with P0MISS) as a miss, the model as
// '.'.
class TallySink final : public HistorySink {
  public:
    TallySink(HistoryTally &tally, bool swap, std::vector<bool> unsurveyed)
        : tally_(tally), swap_(swap), unsurveyed_(std::move(unsurveyed)) {}

    void begin(const HistoryShape &shape) override { per_site_ = shape.per_site; }

    void history(std::string_view fields, double count) override {
        if (!per_site_ || (!swap_ && unsurveyed_.empty())) return tally_.history(fields, count);
        fields = history_key(fields);
        key_.assign(fields);
        if (swap_) {
            const std::size_t tab = fields.find('\t');
            if (tab != std::string_view::npos) {
                key_.assign(fields.substr(tab + 1));
                key_ += '\t';
                key_.append(fields.substr(0, tab));
            }
        } else {
            std::size_t at = 0;
            for (std::size_t k = 0; k < unsurveyed_.size() && at < key_.size(); k++) {
                const std::size_t tab = std::min(key_.find('\t', at), key_.size());
                if (unsurveyed_[k] && tab == at + 1) key_[at] = '.';
                at = tab + 1;
            }
        }
        tally_.history(key_, count);
    }

  private:
    HistoryTally &tally_;
    bool swap_;
    std::vector<bool> unsurveyed_;
    bool per_site_ = false;
    std::string key_;
};

} // namespace

std::string study_file_name(const BatchPlan &plan, const char *table) {
    std::string name = plan.stem + table;
    if (plan.shard_k > 0) name += "_" + std::to_string(plan.shard_i) + "of" + std::to_string(plan.shard_k);
    return name + ".csv";
}

// A replicate's fit: a warm fitter borrowed for the replicate, its tally fed
// by the run, the fit made on the worker once the run has succeeded.
class FitHook::Task final : public ReplicateTask {
  public:
    Task(FitHook &hook, long r, Context &ctx, std::vector<bool> unsurveyed)
        : hook_(hook), r_(r), sink_(tally_, hook.swap_two_surveys_, std::move(unsurveyed)) {
        if (hook.layout_) {
            site_fitter_ = hook.take_site_fitter();
            site_fitter_->records().shape(hook.layout_->surveys, 0, 0);
            ctx.attach_sink(&site_fitter_->records());
        } else {
            fitter_ = hook.take_fitter();
            ctx.attach_sink(&sink_);
        }
    }
    ~Task() override {
        hook_.give_back(std::move(fitter_));
        hook_.give_back(std::move(site_fitter_));
    }

    std::string after(Context &, const std::string &) override {
        FitResult f = site_fitter_ ? site_fitter_->fit(site_fitter_->records()) : fitter_->fit(tally_);
        std::string rows = fit_rows(r_, hook_.params_, f);
        hook_.finished(r_, std::move(f));
        return rows;
    }

  private:
    FitHook &hook_;
    long r_;
    std::unique_ptr<ReplicateFitter> fitter_;
    std::unique_ptr<CovariateFitter> site_fitter_;
    HistoryTally tally_;
    TallySink sink_;
};

namespace {

std::unique_ptr<CovariateLayout> layout_if_covariates(const Context &ctx, const Args &args,
                                                      const Program &program) {
    if (!ctx.FITMODEL.empty()) return std::make_unique<CovariateLayout>(standard_layout(ctx));
    if (!has_covariates(ctx)) return nullptr;
    return std::make_unique<CovariateLayout>(covariate_layout(program.read_command_line, args));
}

} // namespace

FitHook::FitHook(Context &ctx, const Args &args, const Program &program)
    : ctx_(ctx), args_(args), program_(program), layout_(layout_if_covariates(ctx, args, program)),
      params_(layout_ ? layout_->params : study_parameters(program.read_command_line, args)),
      summary_(params_, WaldTests{ctx.NULLS, ctx.ALPHA}),
      swap_two_surveys_(family_of(ctx) == Family::Abundance) {}

FitHook::~FitHook() = default;

std::unique_ptr<ReplicateFitter> FitHook::take_fitter() {
    {
        std::lock_guard lk(m_);
        if (!idle_.empty()) {
            auto f = std::move(idle_.back());
            idle_.pop_back();
            return f;
        }
    }
    // Built outside the lock: the first replicate of each worker prepares
    // its own model while the others run.
    return std::make_unique<ReplicateFitter>(program_.read_command_line, args_, params_);
}

void FitHook::give_back(std::unique_ptr<ReplicateFitter> fitter) {
    if (!fitter) return;
    std::lock_guard lk(m_);
    idle_.push_back(std::move(fitter));
}

std::unique_ptr<CovariateFitter> FitHook::take_site_fitter() {
    {
        std::lock_guard lk(m_);
        if (!idle_sites_.empty()) {
            auto f = std::move(idle_sites_.back());
            idle_sites_.pop_back();
            return f;
        }
    }
    return std::make_unique<CovariateFitter>(*layout_);
}

void FitHook::give_back(std::unique_ptr<CovariateFitter> fitter) {
    if (!fitter) return;
    std::lock_guard lk(m_);
    idle_sites_.push_back(std::move(fitter));
}

void FitHook::finished(long r, FitResult fit) {
    std::lock_guard lk(m_);
    pending_[r] = std::move(fit);
}

void FitHook::begin(const BatchPlan &plan) {
    plan_ = &plan;
    if (gather_) return;
    fits_name_ = plan.dir + study_file_name(plan, "_fits");
    study_name_ = plan.dir + study_file_name(plan, "_study");
    fits_.create_or_throw(ctx_.path(fits_name_), fits_name_);
    std::fputs(kFitsHeader, fits_.stream());
}

std::unique_ptr<ReplicateTask> FitHook::before(long r, Context &ctx) {
    // Surveys a site-by-site run leaves unmade are known only once the
    // replicate's options are read; the batch's own context has the same.
    std::vector<bool> unsurveyed;
    if (ctx_.P0MISS > 0 && ctx_.FALSEPOS == 0 && family_of(ctx_) == Family::Occupancy) {
        unsurveyed.assign(static_cast<std::size_t>(ctx_.nper), false);
        bool any = false;
        for (int k = 0; k < ctx_.nper; k++)
            if (ctx_.pa[k] <= 0) any = unsurveyed[static_cast<std::size_t>(k)] = true;
        if (!any) unsurveyed.clear();
    }
    return std::make_unique<Task>(*this, r, ctx, std::move(unsurveyed));
}

void FitHook::commit(long r, std::string chunk) {
    FitResult fit;
    {
        std::lock_guard lk(m_);
        auto it = pending_.find(r);
        if (it == pending_.end()) input_error("no fit of replicate %ld", r);
        fit = std::move(it->second);
        pending_.erase(it);
    }
    evaluations_ += fit.evaluations;
    summary_.add(fit);
    if (gather_) {
        for (std::size_t at = 0, end; at < chunk.size(); at = end + 1) {
            end = chunk.find('\n', at);
            if (end == std::string::npos) end = chunk.size() - 1;
            std::fputs(lead_.c_str(), gather_);
            std::fwrite(chunk.data() + at, 1, end + 1 - at, gather_);
        }
        return;
    }
    std::fputs(chunk.c_str(), fits_.stream()); // checked when the table is committed
}

void FitHook::end(const BatchReport &report) {
    {
        std::lock_guard lk(m_);
        pending_.clear();
        idle_.clear();
        idle_sites_.clear();
    }
    if (!fits_.open()) return;
    // The tables cover the replicates committed, also when the batch stopped
    // early (as its manifest does).
    try {
        fits_.commit();
        OutputFile study;
        study.create_or_throw(ctx_.path(study_name_), study_name_);
        std::fputs(summary_.csv().c_str(), study.stream());
        study.commit();
    } catch (const FileError &e) {
        error_ = e.what();
        return;
    }
    if (report.failed == 0) summary_.print(ctx_.out);
}

} // namespace occusim
