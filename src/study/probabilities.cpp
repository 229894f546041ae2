// History probabilities from the expected-value computation of each model
// family. A family that counts its histories in the count table (single
// species, mixture, multi-method) is read from the table; the multistate
// model reports its exact expected counts straight from its forward pass; the
// others are read from the histories their writers report, with their files
// kept in memory and their console on a null stream.
#include "study/probabilities.hpp"

#include <cstdio>

#include "core/count_setup.hpp"
#include "core/errors.hpp"
#include "history/codes.hpp"
#include "models/abundance/royle.hpp"
#include "models/multistate/multistate.hpp"
#include "models/single/caphis.hpp"
#include "models/single/het.hpp"
#include "models/single/multimethod.hpp"
#include "models/twospecies/two_species.hpp"
#include "study/covariates.hpp"

namespace occusim {

namespace {

// The deepest survey the cohort recursions follow; longer designs are
// simulated site by site.
constexpr int kMaxRecursionSurveys = 16;
// Sites the model is evaluated with. Some families pass their expected counts
// through text with six decimals before they are reported; on this many
// sites that rounding lies below the precision of a double.
constexpr double kEvaluationSites = 1e9;

bool stochastic(const Context &ctx) {
    return ctx.determ == 0 || ctx.SIMTYPE > 1;
}

// Surveys the recursion of the family walks (the multi-method design
// re-lays every visit as METH surveys).
long walked_surveys(const Context &ctx, Family f) {
    return f == Family::MultiMethod ? static_cast<long>(ctx.nper) * ctx.METH : ctx.nper;
}

bool too_long(const Context &ctx, Family f) {
    return (f == Family::Occupancy || f == Family::Mixture || f == Family::MultiMethod) &&
           walked_surveys(ctx, f) > kMaxRecursionSurveys;
}

bool uses_table(Family f) {
    return f == Family::Occupancy || f == Family::Mixture || f == Family::MultiMethod;
}

} // namespace

Family family_of(const Context &ctx) {
    if (ctx.MSCD > 0 || ctx.STAG > 0 || ctx.INTEGRATED) return Family::Other;
    if (ctx.MULTISTATE > 0 || ctx.MS2 > 0) return ctx.MS2 > 0 ? Family::Other : Family::Multistate;
    if (ctx.ROYLE > 0) return Family::Abundance;
    if (ctx.HET > 0) return Family::Mixture;
    if (ctx.FALSEPOS > 0) return Family::Occupancy;
    if (ctx.TWOSP > 0) return ctx.nseasns > 1 || ctx.TWOSP > 1 ? Family::Other : Family::TwoSpecies;
    if (ctx.SPADEP != 0) return Family::Other;
    if (ctx.METH > 1) return Family::MultiMethod;
    return Family::Occupancy;
}

const char *family_name(const Context &ctx) {
    switch (family_of(ctx)) {
    case Family::Occupancy: return "single-species occupancy";
    case Family::Mixture: return "detection-mixture";
    case Family::MultiMethod: return "multi-method";
    case Family::Abundance: return "Royle-Nichols";
    case Family::TwoSpecies: return "two-species";
    case Family::Multistate: return "multistate";
    case Family::Other: break;
    }
    if (ctx.MSCD > 0) return "multistate correlated-detection";
    if (ctx.STAG > 0) return "staggered-entry";
    if (ctx.INTEGRATED) return "integrated";
    if (ctx.MS2 > 0) return "multistate (phi parameterisation)";
    if (ctx.TWOSP > 1) return "two-species correlated-detection";
    if (ctx.TWOSP > 0) return "multi-season two-species";
    return "spatial-dependence";
}

std::string design_refusal(const Context &ctx) {
    // With covariates the design is evaluated over their distribution,
    // whatever data the run simulates.
    if (has_covariates(ctx)) return covariate_design_refusal(ctx);
    const Family f = family_of(ctx);
    if (f == Family::Other) return std::string("DESIGN is not available for the ") + family_name(ctx) + " model";
    if (stochastic(ctx) || (f == Family::Abundance && ctx.seed_value >= 0))
        return "DESIGN needs an expected-value run, not a random data set";
    if (f == Family::Abundance && ctx.nper != 2)
        return "DESIGN: the Royle-Nichols model has expected values for two surveys only";
    if (too_long(ctx, f))
        return "DESIGN: at most " + std::to_string(kMaxRecursionSurveys) + " surveys have expected values";
    return "";
}

std::string fit_refusal(const Context &ctx) {
    if (!ctx.FITMODEL.empty()) {
        std::string why = standard_fit_refusal(ctx);
        if (why.empty() && ctx.REPS < 1) why = "FIT fits the replicates of a batch: give REPS=n";
        return why;
    }
    const Family f = family_of(ctx);
    if (f == Family::Other) return std::string("FIT is not available for the ") + family_name(ctx) + " model";
    const bool covariates = has_covariates(ctx);
    if (covariates) {
        std::string why = covariate_fit_refusal(ctx);
        if (!why.empty()) return why;
    }
    // Replicates come from a batch; a single data set has no study to report.
    if (ctx.REPS < 1) return "FIT fits the replicates of a batch: give REPS=n";
    // With covariates the fit runs site by site, whatever the number of surveys.
    if (covariates) return "";
    // The abundance model has history probabilities for two surveys only.
    if (f == Family::Abundance && ctx.nper != 2)
        return "FIT: the Royle-Nichols model can be fitted with two surveys (T=2) only";
    if (too_long(ctx, f))
        return "FIT: at most " + std::to_string(kMaxRecursionSurveys) + " surveys can be fitted";
    return "";
}

std::string_view history_key(std::string_view fields) {
    while (!fields.empty() && (fields.back() == '\t' || fields.back() == ' ')) fields.remove_suffix(1);
    return fields;
}

struct HistoryProbabilities::Sink : HistorySink {
    HistoryProbabilities *owner;
    explicit Sink(HistoryProbabilities *o) : owner(o) {}
    void history(std::string_view fields, double count) override {
        if (!(count > 0)) return;
        int s = owner->slot_of_key(history_key(fields));
        (*owner->out_)[static_cast<std::size_t>(s)] += count / owner->cohort_;
    }
};

HistoryProbabilities::HistoryProbabilities(const Preparer &prepare, const Args &args,
                                           std::vector<Parameter> params)
    : params_(std::move(params)), quiet_(std::make_unique<QuietContext>()),
      sink_(std::make_unique<Sink>(this)) {
    Context &c = quiet_->ctx;
    prepare(c, args);
    // Expected values whatever the command line asked for: the probabilities
    // of a random run are those of its expected-value counterpart.
    c.determ = 1;
    // Evaluated again and again: by the pass, whose sums differ from the
    // walk's only in the order of addition.
    c.expected_by = Context::ExpectedBy::Pass;
    c.SIMTYPE = 1;
    c.seed_value = -1;
    c.LIST = 0;
    c.npresnt = c.ns;
    if (c.FALSEPOS > 0) c.P0MISS = 0;
    family_ = family_of(c);
    sites_ = c.ns;
    c.ns = c.npresnt = cohort_ = kEvaluationSites;
    slots_ = std::make_unique<ContextSlots>(c, slot_prefix(c));
}

HistoryProbabilities::~HistoryProbabilities() = default;

int HistoryProbabilities::slot_of_key(std::string_view key) {
    auto it = key_slot_.find(key);
    if (it != key_slot_.end()) return it->second;
    int s = static_cast<int>(keys_.size());
    keys_.emplace_back(key);
    key_slot_.emplace(keys_.back(), s);
    if (out_) out_->push_back(0.0);
    return s;
}

int HistoryProbabilities::slot_of_code(std::int64_t code) {
    auto it = code_slot_.find(code);
    if (it != code_slot_.end()) return it->second;
    const Context &c = quiet_->ctx;
    const int n = c.nper;
    std::string text;
    if (family_ == Family::Occupancy) {
        std::string digits(2 * static_cast<std::size_t>(n) + 1, '\0');
        base4rep(c, code, n, digits.data());
        text.assign(digits.c_str(), 2 * static_cast<std::size_t>(n));
    } else {
        std::string bits(static_cast<std::size_t>(n) + 1, '\0');
        binrep(c, code, n, bits.data());
        for (int i = 0; i < n; i++) {
            text.push_back(bits[static_cast<std::size_t>(i)]);
            text.push_back('\t');
        }
    }
    int s = slot_of_key(history_key(text));
    code_slot_.emplace(code, s);
    return s;
}

void HistoryProbabilities::run_model() {
    Context &c = quiet_->ctx;
    switch (family_) {
    case Family::Occupancy:
        fresh_table(std::int64_t{3} << (2 * c.nper));
        caphis(c, 0, c.npresnt, 1, 0);
        break;
    case Family::Mixture:
        fresh_table(std::int64_t{1} << c.nper);
        caphis_het(c, 0, 1, 0, 0, c.ns);
        break;
    case Family::MultiMethod:
        multi_method_layout(c);
        size_multi_method_table(c);
        caphismm(c, 0, 1, 0, 0, c.ns);
        break;
    case Family::Abundance:
        // No history file: the counts reach the sink only.
        do_royle(c, c.nper, -1, c.NICHOLS, c.NEGBIN, c.ns);
    case Family::TwoSpecies:
        for (int k = 0; k < c.nper; k++) c.pa[k] = c.pA[k];
        c.fp2 = open_null_stream();
        do_two_species(c);
        break;
    case Family::Multistate:
        // The exact expected counts of the forward pass, no history file.
        ms_expected_histories(c, c.ns, *sink_);
        break;
    case Family::Other:
        input_error("no history probabilities for this model");
    }
}

void HistoryProbabilities::fresh_table(std::int64_t entries) {
    CountTable &nx = quiet_->ctx.nx;
    // The same table evaluation after evaluation: emptied in place.
    if (nx.size() == entries)
        nx.zero();
    else
        nx.reset(entries);
}

void HistoryProbabilities::collect_table(std::vector<double> &probs) {
    // Evaluations of one model meet the same codes in the same order: the
    // slots of the last one are tried before the code index.
    std::size_t at = 0;
    quiet_->ctx.nx.for_each([&](std::int64_t code, double v) {
        if (!(v > 0)) return;
        int s;
        if (at < recent_codes_.size() && recent_codes_[at].first == code) {
            s = recent_codes_[at].second;
        } else {
            s = slot_of_code(code);
            recent_codes_.resize(at);
            recent_codes_.emplace_back(code, s);
        }
        at++;
        probs[static_cast<std::size_t>(s)] += v / cohort_;
    });
}

bool HistoryProbabilities::evaluate(const double *values, std::vector<double> &probs) {
    evaluations_++;
    Context &c = quiet_->ctx;
    slots_->restore();
    for (std::size_t j = 0; j < params_.size(); j++)
        for (int s : params_[j].slots) slots_->real(s) = values[j];
    c.fp = c.fp2 = c.fp3 = nullptr;
    c.history_opened = c.history_written = false;
    c.sink = sink_.get();
    probs.assign(keys_.size(), 0.0);
    out_ = &probs;
    bool ok = true;
    try {
        run_model();
    } catch (const RunFinished &f) {
        ok = f.status == 0;
    } catch (const InputError &) {
        ok = false;
    }
    c.close_streams();
    c.sink = nullptr;
    if (ok && uses_table(family_)) collect_table(probs);
    out_ = nullptr;
    return ok;
}

int HistoryProbabilities::find(std::string_view fields) const {
    auto it = key_slot_.find(history_key(fields));
    return it == key_slot_.end() ? -1 : it->second;
}

} // namespace occusim
