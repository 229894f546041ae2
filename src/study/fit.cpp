// Replicate fits by maximum likelihood (NLopt, derivative-free bounded
// search on the estimation scale) and the running study summary.
#include "study/fit.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <nlopt.hpp>

#include "study/design.hpp"

namespace occusim {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kZ975 = 1.959963984540054;
// Search range on the estimation scale: a probability within logit +-12
// (6e-6 .. 1 - 6e-6), a rate within a factor e^10 of its true value. An
// estimate closer than kEdge to either end lies on the boundary.
constexpr double kLogitRange = 12;
constexpr double kLogRange = 10;
constexpr double kEdge = 1e-3;
// The value of the objective where the model gives an observed history no
// probability or refuses the parameter values.
constexpr double kImpossible = 1e300;

} // namespace

const char *fit_status_text(FitStatus s) {
    switch (s) {
    case FitStatus::Converged: return "yes";
    case FitStatus::Boundary: return "boundary";
    case FitStatus::Singular: return "singular";
    case FitStatus::Failed: break;
    }
    return "no";
}

void HistoryTally::history(std::string_view fields, double count) {
    std::string key(history_key(fields));
    auto it = index_.find(key);
    if (it != index_.end()) {
        entries_[it->second].second += count;
        return;
    }
    index_.emplace(key, entries_.size());
    entries_.emplace_back(std::move(key), count);
}

void HistoryTally::clear() {
    index_.clear();
    entries_.clear();
}

ReplicateFitter::ReplicateFitter(const Preparer &prepare, const Args &args, const std::vector<Parameter> &params)
    : model_(prepare, args, params), truth_(given_values(params)) {
    for (std::size_t j = 0; j < params.size(); j++)
        if (!params[j].fixed) est_.push_back(j);
    values_ = truth_;
    // Every history the model can give shows up at the true values.
    model_.evaluate(truth_.data(), probs_);
}

double ReplicateFitter::negative_loglik(const double *x) {
    const auto &params = model_.parameters();
    for (std::size_t a = 0; a < est_.size(); a++) values_[est_[a]] = params[est_[a]].from_free(x[a]);
    if (!model_.evaluate(values_.data(), probs_)) return kImpossible;
    double ll = 0;
    for (const auto &[h, n] : observed_) {
        const double p = static_cast<std::size_t>(h) < probs_.size() ? probs_[static_cast<std::size_t>(h)] : 0.0;
        if (!(p > 0)) return kImpossible;
        ll += n * std::log(p);
    }
    return -ll;
}

double ReplicateFitter::objective(unsigned, const double *x, double *, void *data) {
    return static_cast<ReplicateFitter *>(data)->negative_loglik(x);
}

FitResult ReplicateFitter::fit(const std::vector<std::pair<std::string, double>> &tallies) {
    const auto &params = model_.parameters();
    const std::size_t k = est_.size();
    FitResult result;
    result.estimates.assign(k, ParameterEstimate{kNaN, kNaN, kNaN, kNaN});

    // Each observed history is looked up once; the search then reads its
    // probability by index. Histories the model never gives (below a storage
    // threshold of its expected values) carry no information on the
    // parameters and are left out of the likelihood.
    observed_.clear();
    double sites = 0;
    for (const auto &[fields, n] : tallies) {
        if (!(n > 0)) continue;
        sites += n;
        int h = model_.find(fields);
        if (h >= 0) observed_.emplace_back(h, n);
    }
    const long before = model_.evaluations();
    std::vector<double> x(k), lower(k), upper(k);
    for (std::size_t a = 0; a < k; a++) {
        const Parameter &p = params[est_[a]];
        x[a] = p.to_free(truth_[est_[a]]);
        const double range = p.scale == Scale::Logit ? kLogitRange : kLogRange;
        lower[a] = p.scale == Scale::Logit ? std::min(-range, x[a] - 1) : x[a] - range;
        upper[a] = p.scale == Scale::Logit ? std::max(range, x[a] + 1) : x[a] + range;
    }
    if (k == 0 || !(sites > 0)) return result;

    // BOBYQA needs two or more variables; a single one is searched by the
    // subplex method.
    nlopt::opt opt(k >= 2 ? nlopt::LN_BOBYQA : nlopt::LN_SBPLX, static_cast<unsigned>(k));
    opt.set_lower_bounds(lower);
    opt.set_upper_bounds(upper);
    opt.set_min_objective(&ReplicateFitter::objective, this);
    opt.set_xtol_abs(1e-8);
    opt.set_ftol_abs(1e-11);
    opt.set_maxeval(static_cast<int>(400 * (k + 1)));
    opt.set_initial_step(std::vector<double>(k, 0.5));
    double fval = kImpossible;
    nlopt::result res = nlopt::FAILURE;
    try {
        res = opt.optimize(x, fval);
    } catch (const nlopt::roundoff_limited &) {
        res = nlopt::SUCCESS; // stopped by rounding at the optimum: x is the best point found
        fval = negative_loglik(x.data());
    } catch (const std::exception &) {
        res = nlopt::FAILURE;
    }
    result.evaluations = model_.evaluations() - before;
    result.loglik = -fval;
    if (res < 0 || res == nlopt::MAXEVAL_REACHED || res == nlopt::MAXTIME_REACHED || !(fval < kImpossible))
        return result; // status Failed, no numbers

    bool boundary = false;
    std::vector<double> hat = truth_;
    for (std::size_t a = 0; a < k; a++) {
        hat[est_[a]] = params[est_[a]].from_free(x[a]);
        result.estimates[a].estimate = hat[est_[a]];
        if (x[a] - lower[a] < kEdge || upper[a] - x[a] < kEdge) boundary = true;
    }
    Eigen::MatrixXd info;
    std::vector<double> var(k, kNaN);
    if (expected_information(model_, hat, sites, info)) var = information_variances(info);
    bool singular = false;
    for (std::size_t a = 0; a < k; a++) {
        const Parameter &p = params[est_[a]];
        if (std::isnan(var[a])) {
            singular = true;
            continue;
        }
        const double se_free = std::sqrt(var[a]);
        ParameterEstimate &e = result.estimates[a];
        e.se = se_free * p.derivative(x[a]);
        e.lcl = p.from_free(x[a] - kZ975 * se_free);
        e.ucl = p.from_free(x[a] + kZ975 * se_free);
    }
    result.status = boundary ? FitStatus::Boundary : singular ? FitStatus::Singular : FitStatus::Converged;
    return result;
}

std::string fit_rows(long rep, const std::vector<Parameter> &params, const FitResult &fit) {
    std::string text;
    std::size_t a = 0;
    const std::string status = fit_status_text(fit.status);
    const std::string r = std::to_string(rep);
    for (const Parameter &p : params) {
        if (p.fixed) continue;
        const ParameterEstimate &e = fit.estimates[a++];
        text += r + "," + p.name + "," + csv_number(p.value) + "," + csv_number(e.estimate) + "," +
                csv_number(e.se) + "," + csv_number(e.lcl) + "," + csv_number(e.ucl) + "," + status + "\n";
    }
    return text;
}

StudySummary::StudySummary(const std::vector<Parameter> &params, const WaldTests &tests) {
    const std::vector<std::optional<double>> nulls = parameter_nulls(params, tests);
    for (std::size_t i = 0; i < params.size(); i++) {
        const Parameter &p = params[i];
        if (p.fixed) continue;
        Acc a;
        a.name = p.name;
        a.truth = p.value;
        a.null = nulls[i];
        if (a.null) a.wald = WaldTally(p.value, *a.null, tests.alpha);
        acc_.push_back(std::move(a));
    }
}

void StudySummary::add(const FitResult &fit) {
    for (std::size_t i = 0; i < acc_.size(); i++) {
        Acc &a = acc_[i];
        a.n++;
        if (fit.status == FitStatus::Failed || i >= fit.estimates.size()) continue;
        const ParameterEstimate &e = fit.estimates[i];
        a.used++;
        const double d = e.estimate - a.mean;
        a.mean += d / static_cast<double>(a.used);
        a.m2 += d * (e.estimate - a.mean);
        a.sse += (e.estimate - a.truth) * (e.estimate - a.truth);
        if (!std::isnan(e.se)) {
            a.se_sum += e.se;
            a.se_n++;
            if (e.lcl <= a.truth && a.truth <= e.ucl) a.cover++;
        }
        if (a.null) a.wald.add(e.estimate, e.se);
    }
}

std::vector<StudySummary::Row> StudySummary::rows() const {
    std::vector<Row> out;
    for (const Acc &a : acc_) {
        Row r{a.name, a.truth, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, a.used, a.n, kNaN, kNaN, kNaN, kNaN};
        if (a.null) {
            r.null = *a.null;
            r.power = a.wald.power();
            r.type_s = a.wald.type_s();
            r.type_m = a.wald.type_m();
        }
        if (a.used > 0) {
            r.mean = a.mean;
            r.bias = a.mean - a.truth;
            // A coefficient whose true value is 0 has no relative bias.
            if (a.truth != 0) r.relbias = r.bias / a.truth;
            r.rmse = std::sqrt(a.sse / static_cast<double>(a.used));
            // Without a true value there is nothing to cover.
            if (!std::isnan(a.truth)) r.coverage = static_cast<double>(a.cover) / static_cast<double>(a.used);
        }
        if (a.used > 1) r.sd = std::sqrt(a.m2 / static_cast<double>(a.used - 1));
        if (a.se_n > 0) r.mean_se = a.se_sum / static_cast<double>(a.se_n);
        out.push_back(std::move(r));
    }
    return out;
}

std::string StudySummary::csv() const {
    std::string text =
        "parameter,true,mean,bias,relbias,rmse,sd,mean_se,coverage,used,n,null,power,type_s,type_m\n";
    for (const Row &r : rows())
        text += r.name + "," + csv_number(r.truth) + "," + csv_number(r.mean) + "," + csv_number(r.bias) +
                "," + csv_number(r.relbias) + "," + csv_number(r.rmse) + "," + csv_number(r.sd) + "," +
                csv_number(r.mean_se) + "," + csv_number(r.coverage) + "," + std::to_string(r.used) + "," +
                std::to_string(r.n) + "," + csv_number(r.null) + "," + csv_number(r.power) + "," +
                csv_number(r.type_s) + "," + csv_number(r.type_m) + "\n";
    return text;
}

void StudySummary::print(std::FILE *out) const {
    std::fprintf(out, "simulation study:\n");
    std::fprintf(out, "%-12s %10s %10s %10s %10s %10s %10s %10s %10s %11s %10s %10s %10s %10s\n", "parameter",
                 "true", "mean", "bias", "relbias", "rmse", "sd", "mean_se", "coverage", "used/n", "null",
                 "power", "type_s", "type_m");
    for (const Row &r : rows()) {
        std::fprintf(out, "%-12s", r.name.c_str());
        for (double v : {r.truth, r.mean, r.bias, r.relbias, r.rmse, r.sd, r.mean_se, r.coverage}) {
            if (std::isnan(v))
                std::fprintf(out, " %10s", "-");
            else
                std::fprintf(out, " %10.6f", v);
        }
        char used[48];
        std::snprintf(used, sizeof used, "%ld/%ld", r.used, r.n);
        std::fprintf(out, " %11s", used);
        for (double v : {r.null, r.power, r.type_s, r.type_m}) {
            if (std::isnan(v))
                std::fprintf(out, " %10s", "-");
            else
                std::fprintf(out, " %10.6f", v);
        }
        std::fprintf(out, "\n");
    }
}

} // namespace occusim
