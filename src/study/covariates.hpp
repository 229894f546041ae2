// Fits of the single-species model with site and detection covariates.
//
// Site i is occupied at its first survey with probability
//   psi_i = logistic(b0 + b1 x_i1 + ... + bk x_ik)
// (or the plain psi without site covariates), survey j detects an occupied
// site with
//   p_ij = logistic(logit(p_j) + a1 w_1ij + ... + aK w_Kij)
// (a p_j of exactly 0 or 1 stays), and between survey j and j+1 an occupied
// site goes extinct with eps_j, an empty one is colonised with gam_(j+1),
// exactly as the site-by-site simulation draws them. A '-' (removed) or '.'
// (missing) survey tells nothing. The likelihood is the product over sites
// of the forward sum over the site's two occupancy states, each site with
// its own covariates.
//
// Parameters are named psi(Int), psi(cov1), ..., then p or p[j] as the
// command line gives them, p(pcov1), ..., then gam and eps; the intercept
// and the slopes are estimated and reported on the logit scale. The search is
// a damped Newton iteration on the estimation scale, from the true values,
// with the analytic gradient (forward differentiation along the surveys) and
// the Hessian by central differences of the gradient; standard errors come
// from the observed information at the estimate.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include <Eigen/Dense>

#include "study/design.hpp"
#include "study/fit.hpp"

namespace occusim {

// One replicate's sites as the site-by-site writer reports them: the
// survey symbols coded (0 miss, 1 detection, 2 not surveyed), the site
// covariates, the detection covariates (covariate by covariate, survey by
// survey) and the number of copies of the site.
class SiteRecords final : public HistorySink {
  public:
    enum : unsigned char { Miss = 0, Detected = 1, Unsurveyed = 2 };

    void begin(const HistoryShape &shape) override;
    void site(std::span<const double> covs, std::span<const double> pcovs) override;
    void history(std::string_view fields, double count) override;
    void clear();

    std::size_t sites() const { return weight_.size(); }
    int surveys() const { return surveys_; }
    const unsigned char *symbols(std::size_t i) const { return y_.data() + i * static_cast<std::size_t>(surveys_); }
    const double *covs(std::size_t i) const { return x_.data() + i * static_cast<std::size_t>(ncovs_); }
    const double *pcovs(std::size_t i) const {
        return w_.data() + i * static_cast<std::size_t>(npcovs_) * static_cast<std::size_t>(surveys_);
    }
    double weight(std::size_t i) const { return weight_[i]; }
    // Appends a site directly (tests, benchmarks).
    void add(std::span<const unsigned char> y, std::span<const double> covs, std::span<const double> pcovs,
             double weight = 1);
    void shape(int surveys, int ncovs, int npcovs);

  private:
    int surveys_ = 0, ncovs_ = 0, npcovs_ = 0;
    std::vector<unsigned char> y_;
    std::vector<double> x_, w_, weight_;
    std::vector<double> pending_x_, pending_w_;
};

// Where each quantity of the model comes from: an estimated parameter
// (index into the estimated vector) or a constant.
struct CovariateLayout {
    int surveys = 0, ncovs = 0, npcovs = 0;
    std::vector<Parameter> params;                     // in reported order
    std::vector<int> estimated;                        // indices into params of the estimated ones
    int psi_coef = -1;                                 // estimated index of psi(Int) (slopes follow)
    int psi = -1;                                      // estimated index of psi without site covariates
    double psi_value = 0;                              // its constant otherwise
    int pcoef = -1;                                    // estimated index of p(pcov1) (the others follow)
    std::vector<int> p, eps, gam;                      // per survey: estimated index or -1
    std::vector<double> p_value, eps_value, gam_value; // per survey: constant (gam: into the next survey)
    std::vector<bool> moves;                           // per survey: a transition may follow it
};

// The layout of the command line `args` (a single-species site-by-site run
// with covariates). Throws InputError for a model the fit cannot take.
CovariateLayout covariate_layout(const Preparer &prepare, const Args &args);

// True when a prepared run has site or detection covariates.
bool has_covariates(const Context &ctx);
// Why FIT cannot take this prepared run with covariates ("" when it can).
std::string covariate_fit_refusal(const Context &ctx);

// FITMODEL=standard: the standard single-species model fitted to the data of
// another single-species family whose histories hold one detection symbol
// per survey (false positives, the detection mixture, the spatial
// generators, the abundance model's detection/non-detection form). Its
// parameters are psi, p (or p[1..T] with FITP=survey) and per season
// boundary eps and gam (indexed when there are several boundaries). A true
// value is the generating value where the data's model has one (psi, for the
// abundance model 1 - exp(-lambda); p where detection is the data's own
// single probability) and NaN otherwise; the search then starts at 0.5.
std::string standard_fit_refusal(const Context &ctx);
CovariateLayout standard_layout(const Context &ctx);

// Why DESIGN cannot take this prepared run with covariates ("" when it can):
// the single-season single-species model without removal.
std::string covariate_design_refusal(const Context &ctx);

// Covariate draws of the design evaluation: a fixed sample of this many
// pairs of sites (each value a sum of twelve uniforms less six, as the
// simulator draws it, and its mirror image).
inline constexpr int kCovariatePairs = 1 << 16;

// Expected information of one site on the estimation scale of the estimated
// parameters, averaged over the covariate sample. The information of a
// site with given covariates is in closed form: the histories with a
// detection contribute psi times the Bernoulli information of the surveys
// plus the occupancy term, less the history without a detection, which is
// added back with its own probability.
Eigen::MatrixXd covariate_site_information(const CovariateLayout &layout, int pairs = kCovariatePairs);

// The design evaluation of a command line with covariates.
std::vector<DesignRow> covariate_design(const Preparer &prepare, const Args &args);

class CovariateFitter {
  public:
    explicit CovariateFitter(CovariateLayout layout);
    FitResult fit(const SiteRecords &sites);

    // Log-likelihood at x (estimation scale, one per estimated parameter)
    // and, when grad is not null, its gradient.
    double loglik(const SiteRecords &sites, const double *x, double *grad);
    const CovariateLayout &layout() const { return layout_; }
    const std::vector<Parameter> &parameters() const { return layout_.params; }
    // The sites of the replicate being collected, kept with the fitter so
    // that a warm fitter reuses their storage from replicate to replicate.
    SiteRecords &records() { return records_; }

  private:
    CovariateLayout layout_;
    SiteRecords records_;
    std::size_t k_ = 0;
    std::vector<double> lower_, upper_, start_;
    // work of one evaluation
    std::vector<double> value_, deriv_; // per estimated parameter: natural value, d value / d free
    std::vector<double> d0_, d1_, dp_, site_grad_;
    std::vector<double> logit_p_;
};

} // namespace occusim
