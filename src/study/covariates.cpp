// The single-species likelihood with covariates, site by site, and its
// maximisation.
#include "study/covariates.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <unordered_map>

#include <Eigen/Dense>

#include "core/errors.hpp"
#include "study/design.hpp"

namespace occusim {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kZ975 = 1.959963984540054;
// Search range on the estimation scale (as for fits without covariates) and
// the distance from either end that counts as the boundary.
constexpr double kRange = 12;
constexpr double kEdge = 1e-3;
// Step of the central differences of the gradient that give the Hessian.
constexpr double kHessianStep = 1e-5;
// A site probability below this is carried scaled (long designs).
constexpr double kTiny = 1e-250;
constexpr int kMaxIterations = 200;

double logistic(double eta) {
    return 1 / (1 + std::exp(-eta));
}

bool is_probability_inside(double v) {
    return v > 0 && v < 1;
}

} // namespace

// ---- the sites of a replicate ----

void SiteRecords::shape(int surveys, int ncovs, int npcovs) {
    surveys_ = surveys;
    ncovs_ = ncovs;
    npcovs_ = npcovs;
    clear();
}

void SiteRecords::begin(const HistoryShape &s) {
    // Writers of cohort data tell no shape; the one set beforehand stays.
    if (s.surveys > 0) shape(s.surveys, s.site_covs, s.survey_covs);
}

void SiteRecords::clear() {
    y_.clear();
    x_.clear();
    w_.clear();
    weight_.clear();
    pending_x_.assign(static_cast<std::size_t>(ncovs_), 0.0);
    pending_w_.assign(static_cast<std::size_t>(npcovs_) * static_cast<std::size_t>(surveys_), 0.0);
}

void SiteRecords::site(std::span<const double> covs, std::span<const double> pcovs) {
    std::copy_n(covs.begin(), std::min(covs.size(), pending_x_.size()), pending_x_.begin());
    std::copy_n(pcovs.begin(), std::min(pcovs.size(), pending_w_.size()), pending_w_.begin());
}

void SiteRecords::history(std::string_view fields, double count) {
    if (!(count > 0)) return;
    // One symbol per survey, separated by tabs.
    std::size_t at = 0;
    for (int j = 0; j < surveys_; j++) {
        const char ch = at < fields.size() ? fields[at] : '.';
        y_.push_back(ch == '1' || ch == '2' ? Detected : ch == '0' ? Miss : Unsurveyed);
        const std::size_t tab = fields.find('\t', at);
        at = tab == std::string_view::npos ? fields.size() : tab + 1;
    }
    x_.insert(x_.end(), pending_x_.begin(), pending_x_.end());
    w_.insert(w_.end(), pending_w_.begin(), pending_w_.end());
    weight_.push_back(count);
}

void SiteRecords::add(std::span<const unsigned char> y, std::span<const double> covs,
                      std::span<const double> pcovs, double weight) {
    y_.insert(y_.end(), y.begin(), y.end());
    x_.insert(x_.end(), covs.begin(), covs.end());
    w_.insert(w_.end(), pcovs.begin(), pcovs.end());
    weight_.push_back(weight);
}

// ---- which model quantities the parameters set ----

bool has_covariates(const Context &ctx) {
    return ctx.ncovs > 0 || ctx.NPCOVS > 0;
}

std::string covariate_fit_refusal(const Context &ctx) {
    if (!has_covariates(ctx)) return "";
    if (family_of(ctx) != Family::Occupancy || ctx.FALSEPOS > 0)
        return std::string("FIT with covariates fits the single-species model only, not the ") +
               (ctx.FALSEPOS > 0 ? "false-positive" : family_name(ctx)) + " model";
    if (!(ctx.SIMTYPE > 1 || ctx.nper > 16))
        return "FIT with covariates needs site-by-site simulation (SIMTYPE=2)";
    for (int j = 0; j < ctx.nper && j < static_cast<int>(ctx.b.size()); j++)
        if (ctx.b[static_cast<std::size_t>(j)] > 0)
            return "FIT with covariates cannot fit certain detections (b)";
    return "";
}

CovariateLayout covariate_layout(const Preparer &prepare, const Args &args) {
    auto quiet = std::make_unique<QuietContext>();
    prepare(quiet->ctx, args);
    Context &c = quiet->ctx;
    const std::vector<Parameter> given = study_parameters(prepare, args);
    ContextSlots slots(c, slot_prefix(c));
    std::unordered_map<const double *, int> owner; // model quantity -> given parameter
    for (std::size_t g = 0; g < given.size(); g++)
        for (int s : given[g].slots) owner[&slots.real(s)] = static_cast<int>(g);
    auto owner_of = [&](const double *q) {
        auto it = owner.find(q);
        return it == owner.end() ? -1 : it->second;
    };

    CovariateLayout L;
    L.surveys = c.nper;
    L.ncovs = c.ncovs > 0 ? c.ncovs : 0;
    L.npcovs = c.NPCOVS > 0 ? c.NPCOVS : 0;
    const std::size_t T = static_cast<std::size_t>(L.surveys);
    std::vector<int> placed(given.size(), -1); // given parameter -> index in L.params
    auto place = [&](int g) {
        if (g < 0 || placed[static_cast<std::size_t>(g)] >= 0) return;
        placed[static_cast<std::size_t>(g)] = static_cast<int>(L.params.size());
        L.params.push_back(given[static_cast<std::size_t>(g)]);
    };
    auto coefficient = [&](std::string name, double value) {
        Parameter p;
        p.name = std::move(name);
        p.value = value;
        p.scale = Scale::Linear;
        L.params.push_back(std::move(p));
    };

    const int psi_owner = owner_of(&c.gam[0]);
    if (L.ncovs > 0) {
        coefficient("psi(Int)", c.coef[0]);
        for (int m = 1; m <= L.ncovs; m++) coefficient("psi(cov" + std::to_string(m) + ")", c.coef[m]);
        // psi itself plays no part when occupancy follows the covariates.
        if (psi_owner >= 0) placed[static_cast<std::size_t>(psi_owner)] = -2;
    } else {
        place(psi_owner);
    }
    for (std::size_t j = 0; j < T; j++) place(owner_of(&c.pa[j]));
    const std::size_t first_pcoef = L.params.size();
    for (int k = 0; k < L.npcovs; k++)
        coefficient("p(pcov" + std::to_string(k + 1) + ")", c.pcoef[static_cast<std::size_t>(k)]);
    for (std::size_t g = 0; g < given.size(); g++) {
        bool dynamic = false;
        for (std::size_t j = 0; j + 1 < T; j++)
            dynamic = dynamic || owner_of(&c.eps[j]) == static_cast<int>(g) ||
                      owner_of(&c.gam[j + 1]) == static_cast<int>(g);
        if (dynamic) place(static_cast<int>(g));
    }
    for (std::size_t g = 0; g < given.size(); g++)
        if (placed[g] == -1 && !given[g].fixed)
            input_error("FIT with covariates: %s is not a parameter of the single-species model",
                        given[g].name.c_str());

    std::vector<int> est_of(L.params.size(), -1);
    for (std::size_t i = 0; i < L.params.size(); i++)
        if (!L.params[i].fixed) {
            est_of[i] = static_cast<int>(L.estimated.size());
            L.estimated.push_back(static_cast<int>(i));
        }
    auto estimated = [&](const double *q) {
        const int g = owner_of(q);
        if (g < 0 || placed[static_cast<std::size_t>(g)] < 0) return -1;
        return est_of[static_cast<std::size_t>(placed[static_cast<std::size_t>(g)])];
    };
    if (L.ncovs > 0) L.psi_coef = est_of[0];
    L.psi = L.ncovs > 0 ? -1 : estimated(&c.gam[0]);
    L.psi_value = c.gam[0];
    if (L.npcovs > 0) L.pcoef = est_of[first_pcoef];
    for (std::size_t j = 0; j < T; j++) {
        L.p.push_back(estimated(&c.pa[j]));
        L.p_value.push_back(c.pa[j]);
        const bool last = j + 1 == T;
        L.eps.push_back(last ? -1 : estimated(&c.eps[j]));
        L.gam.push_back(last ? -1 : estimated(&c.gam[j + 1]));
        L.eps_value.push_back(last ? 0 : c.eps[j]);
        L.gam_value.push_back(last ? 0 : c.gam[j + 1]);
        L.moves.push_back(!last && (L.eps.back() >= 0 || L.gam.back() >= 0 || L.eps_value.back() != 0 ||
                                    L.gam_value.back() != 0));
    }
    return L;
}

std::string covariate_design_refusal(const Context &ctx) {
    std::string why = covariate_fit_refusal(ctx);
    if (why.rfind("FIT with covariates needs", 0) == 0) why.clear(); // the design needs no data
    if (!why.empty()) return "DESIGN" + why.substr(3);
    if (ctx.REMOVAL) return "DESIGN with covariates: removal designs are not evaluated";
    for (int j = 0; j + 1 < ctx.nper; j++)
        if (ctx.eps[static_cast<std::size_t>(j)] != 0 || ctx.gam[static_cast<std::size_t>(j + 1)] != 0)
            return "DESIGN with covariates evaluates single-season designs only";
    return "";
}

std::string standard_fit_refusal(const Context &ctx) {
    if (has_covariates(ctx)) return "FITMODEL=standard: data with covariates are fitted by FIT itself";
    const Family f = family_of(ctx);
    const bool spatial = f == Family::Other && ctx.SPADEP == 1 && ctx.MSCD == 0 && ctx.STAG == 0 &&
                         !ctx.INTEGRATED && ctx.MULTISTATE == 0 && ctx.MS2 == 0 && ctx.TWOSP == 0;
    if (f == Family::Abundance && ctx.NICHOLS == 0)
        return "FITMODEL=standard: the abundance model's counts are not detections; give its "
               "detection/non-detection form (c)";
    if (!(f == Family::Occupancy || f == Family::Mixture || f == Family::Abundance || spatial))
        return std::string(
                   "FITMODEL=standard fits single-species data with one detection per survey, not the ") +
               family_name(ctx) + " model";
    if (ctx.nper > 499) return "FITMODEL=standard: at most 499 surveys";
    return "";
}

CovariateLayout standard_layout(const Context &ctx) {
    CovariateLayout L;
    const int T = ctx.nper;
    L.surveys = T;
    const Family f = family_of(ctx);
    const double nan = kNaN;
    auto add = [&](std::string name, double truth) {
        Parameter p;
        p.name = std::move(name);
        p.value = truth;
        L.estimated.push_back(static_cast<int>(L.params.size()));
        L.params.push_back(std::move(p));
        return static_cast<int>(L.params.size()) - 1;
    };
    double psi = nan;
    if (f == Family::Abundance)
        psi = ctx.NEGBIN ? nan : 1 - std::exp(-ctx.b[0]);
    else
        psi = ctx.gam[0];
    L.psi = add("psi", is_probability_inside(psi) ? psi : nan);
    // Detection is the data's own probability in the default model only.
    const bool own_p = f == Family::Occupancy;
    if (ctx.FITP == "survey") {
        for (int j = 0; j < T; j++) {
            const double pj = ctx.pa[static_cast<std::size_t>(j)];
            L.p.push_back(
                add("p[" + std::to_string(j + 1) + "]", own_p && is_probability_inside(pj) ? pj : nan));
        }
    } else {
        const double p0 = ctx.pa[0];
        bool shared = own_p && is_probability_inside(p0);
        for (int j = 1; j < T; j++) shared = shared && ctx.pa[static_cast<std::size_t>(j)] == p0;
        L.p.assign(static_cast<std::size_t>(T), add("p", shared ? p0 : nan));
    }
    L.p_value.assign(static_cast<std::size_t>(T), 0.5);
    L.eps.assign(static_cast<std::size_t>(T), -1);
    L.gam.assign(static_cast<std::size_t>(T), -1);
    L.eps_value.assign(static_cast<std::size_t>(T), 0.0);
    L.gam_value.assign(static_cast<std::size_t>(T), 0.0);
    L.moves.assign(static_cast<std::size_t>(T), false);
    std::vector<int> ends;
    for (int j = 0; j + 1 < T; j++)
        if (ctx.newSeason[static_cast<std::size_t>(j + 1)] == 1) ends.push_back(j);
    for (std::size_t s = 0; s < ends.size(); s++) {
        const std::string tag = ends.size() == 1 ? "" : "[" + std::to_string(s + 1) + "]";
        const std::size_t j = static_cast<std::size_t>(ends[s]);
        L.eps[j] = add("eps" + tag, nan);
        L.gam[j] = add("gam" + tag, nan);
        L.moves[j] = true;
    }
    return L;
}

// ---- expected information over the covariate distribution ----

namespace {

// Uniforms of the covariate sample: 53-bit fractions of a fixed 64-bit
// Mersenne Twister stream, the same on every platform.
struct SampleUniforms {
    std::mt19937_64 gen{20261209};
    double next() { return static_cast<double>(gen() >> 11) * 0x1.0p-53; }
    double twelve() {
        double s = -6;
        for (int i = 0; i < 12; i++) s += next();
        return s;
    }
};

} // namespace

Eigen::MatrixXd covariate_site_information(const CovariateLayout &L, int pairs) {
    const std::size_t k = L.estimated.size();
    const auto K = static_cast<Eigen::Index>(k);
    const int T = L.surveys;
    Eigen::MatrixXd total = Eigen::MatrixXd::Zero(K, K);
    std::vector<double> x(static_cast<std::size_t>(L.ncovs)), w(static_cast<std::size_t>(L.npcovs * T));
    std::vector<double> logit_p(static_cast<std::size_t>(T), 0.0);
    std::vector<bool> stays(static_cast<std::size_t>(T), false);
    for (int j = 0; j < T; j++) {
        const double v = L.p_value[static_cast<std::size_t>(j)];
        stays[static_cast<std::size_t>(j)] =
            L.p[static_cast<std::size_t>(j)] < 0 && !is_probability_inside(v);
        if (!stays[static_cast<std::size_t>(j)]) logit_p[static_cast<std::size_t>(j)] = std::log(v / (1 - v));
    }
    Eigen::VectorXd gpsi(K), u(K), g(K), v0(K), d0(K);
    Eigen::MatrixXd A(K, K);
    SampleUniforms draw;
    auto add_site = [&](double sign) {
        gpsi.setZero();
        double eta = 0;
        if (L.ncovs > 0) {
            const Parameter &b0 =
                L.params[static_cast<std::size_t>(L.estimated[static_cast<std::size_t>(L.psi_coef)])];
            eta = b0.value;
            gpsi(L.psi_coef) = 1;
            for (int m = 0; m < L.ncovs; m++) {
                const double xm = sign * x[static_cast<std::size_t>(m)];
                eta += L.params[static_cast<std::size_t>(
                                    L.estimated[static_cast<std::size_t>(L.psi_coef + 1 + m)])]
                           .value *
                       xm;
                gpsi(L.psi_coef + 1 + m) = xm;
            }
        } else {
            eta = std::log(L.psi_value / (1 - L.psi_value));
            if (L.psi >= 0) gpsi(L.psi) = 1;
        }
        const double psi = logistic(eta);
        u = (1 - psi) * gpsi;
        A = u * u.transpose();
        double P0 = 1;
        v0.setZero();
        for (int j = 0; j < T; j++) {
            const std::size_t js = static_cast<std::size_t>(j);
            if (stays[js]) {
                P0 *= 1 - L.p_value[js];
                continue;
            }
            g.setZero();
            double e = logit_p[js];
            if (L.p[js] >= 0) g(L.p[js]) = 1;
            for (int c = 0; c < L.npcovs; c++) {
                const double wc = sign * w[static_cast<std::size_t>(c * T + j)];
                e += L.params[static_cast<std::size_t>(L.estimated[static_cast<std::size_t>(L.pcoef + c)])]
                         .value *
                     wc;
                g(L.pcoef + c) = wc;
            }
            const double p = logistic(e);
            A.noalias() += p * (1 - p) * g * g.transpose();
            P0 *= 1 - p;
            v0 -= p * g;
        }
        const Eigen::VectorXd uv = u + v0;
        total.noalias() += psi * (A - P0 * uv * uv.transpose());
        const double pi0 = psi * P0 + 1 - psi;
        if (pi0 > 0) {
            d0 = psi * (1 - psi) * (P0 - 1) * gpsi + psi * P0 * v0;
            total.noalias() += d0 * d0.transpose() / pi0;
        }
    };
    for (int n = 0; n < pairs; n++) {
        for (double &v : x) v = draw.twelve();
        for (double &v : w) v = draw.twelve();
        add_site(1);
        add_site(-1);
    }
    return total / (2.0 * pairs);
}

std::vector<DesignRow> covariate_design(const Preparer &prepare, const Args &args) {
    const CovariateLayout L = covariate_layout(prepare, args);
    auto quiet = std::make_unique<QuietContext>();
    prepare(quiet->ctx, args);
    const double sites = quiet->ctx.ns;
    const Eigen::MatrixXd info = sites * covariate_site_information(L);
    std::vector<DesignRow> rows = design_rows(L.params, info);
    for (std::size_t i = 0; i < rows.size(); i++) {
        const Parameter &p = L.params[i];
        rows[i].slope = p.scale == Scale::Linear && p.name.find("(Int)") == std::string::npos;
    }
    return rows;
}

// ---- likelihood and search ----

CovariateFitter::CovariateFitter(CovariateLayout layout) : layout_(std::move(layout)) {
    k_ = layout_.estimated.size();
    for (int i : layout_.estimated) {
        const Parameter &p = layout_.params[static_cast<std::size_t>(i)];
        // Without a true value the search starts at the middle of the scale.
        const double x0 = std::isnan(p.value) ? 0 : p.to_free(p.value);
        start_.push_back(x0);
        lower_.push_back(std::min(-kRange, x0 - 1));
        upper_.push_back(std::max(kRange, x0 + 1));
    }
    value_.assign(k_, 0.0);
    deriv_.assign(k_, 0.0);
    d0_.assign(k_, 0.0);
    d1_.assign(k_, 0.0);
    site_grad_.assign(k_, 0.0);
    logit_p_.assign(static_cast<std::size_t>(layout_.surveys), 0.0);
}

double CovariateFitter::loglik(const SiteRecords &sites, const double *x, double *grad) {
    const CovariateLayout &L = layout_;
    const int T = L.surveys;
    const std::size_t k = k_;
    for (std::size_t a = 0; a < k; a++) {
        const Parameter &p = L.params[static_cast<std::size_t>(L.estimated[a])];
        value_[a] = p.from_free(x[a]);
        deriv_[a] = p.derivative(x[a]);
    }
    for (int j = 0; j < T; j++) {
        const int e = L.p[static_cast<std::size_t>(j)];
        const double v = L.p_value[static_cast<std::size_t>(j)];
        logit_p_[static_cast<std::size_t>(j)] = e >= 0                     ? x[e]
                                                : is_probability_inside(v) ? std::log(v / (1 - v))
                                                                           : 0;
    }
    if (grad) std::fill(grad, grad + k, 0.0);
    double ll = 0;
    const std::size_t n = sites.sites();
    for (std::size_t i = 0; i < n; i++) {
        std::fill(d0_.begin(), d0_.end(), 0.0);
        std::fill(d1_.begin(), d1_.end(), 0.0);
        double psi;
        if (L.ncovs > 0) {
            const double *cov = sites.covs(i);
            double eta = x[L.psi_coef];
            for (int m = 0; m < L.ncovs; m++) eta += x[L.psi_coef + 1 + m] * cov[m];
            psi = logistic(eta);
            const double s = psi * (1 - psi);
            d1_[static_cast<std::size_t>(L.psi_coef)] = s;
            for (int m = 0; m < L.ncovs; m++) d1_[static_cast<std::size_t>(L.psi_coef + 1 + m)] = s * cov[m];
        } else if (L.psi >= 0) {
            psi = value_[static_cast<std::size_t>(L.psi)];
            d1_[static_cast<std::size_t>(L.psi)] = deriv_[static_cast<std::size_t>(L.psi)];
        } else {
            psi = L.psi_value;
        }
        for (std::size_t a = 0; a < k; a++) d0_[a] = -d1_[a];
        double a0 = 1 - psi, a1 = psi, log_scale = 0;
        const unsigned char *y = sites.symbols(i);
        const double *w = sites.pcovs(i);
        for (int j = 0; j < T; j++) {
            const std::size_t js = static_cast<std::size_t>(j);
            if (y[j] != SiteRecords::Unsurveyed) {
                const int pe = L.p[js];
                const double pv = L.p_value[js];
                const bool stays = pe < 0 && !is_probability_inside(pv);
                double p = pv, s = 0;
                if (!stays) {
                    double eta = logit_p_[js];
                    for (int c = 0; c < L.npcovs; c++)
                        eta += x[L.pcoef + c] * w[static_cast<std::size_t>(c) * T + js];
                    p = logistic(eta);
                    s = p * (1 - p);
                }
                const bool hit = y[j] == SiteRecords::Detected;
                const double e1 = hit ? p : 1 - p;
                const double de = hit ? s : -s; // d e1 / d eta
                for (std::size_t a = 0; a < k; a++) d1_[a] *= e1;
                if (!stays) {
                    if (pe >= 0) d1_[static_cast<std::size_t>(pe)] += a1 * de;
                    for (int c = 0; c < L.npcovs; c++)
                        d1_[static_cast<std::size_t>(L.pcoef + c)] +=
                            a1 * de * w[static_cast<std::size_t>(c) * T + js];
                }
                a1 *= e1;
                if (hit) {
                    a0 = 0;
                    std::fill(d0_.begin(), d0_.end(), 0.0);
                }
            }
            if (L.moves[js]) {
                const int ee = L.eps[js], ge = L.gam[js];
                const double e = ee >= 0 ? value_[static_cast<std::size_t>(ee)] : L.eps_value[js];
                const double g = ge >= 0 ? value_[static_cast<std::size_t>(ge)] : L.gam_value[js];
                for (std::size_t a = 0; a < k; a++) {
                    const double t0 = d0_[a] * (1 - g) + d1_[a] * e;
                    const double t1 = d0_[a] * g + d1_[a] * (1 - e);
                    d0_[a] = t0;
                    d1_[a] = t1;
                }
                if (ee >= 0) {
                    const double de_ = deriv_[static_cast<std::size_t>(ee)] * a1;
                    d0_[static_cast<std::size_t>(ee)] += de_;
                    d1_[static_cast<std::size_t>(ee)] -= de_;
                }
                if (ge >= 0) {
                    const double dg = deriv_[static_cast<std::size_t>(ge)] * a0;
                    d0_[static_cast<std::size_t>(ge)] -= dg;
                    d1_[static_cast<std::size_t>(ge)] += dg;
                }
                const double n0 = a0 * (1 - g) + a1 * e;
                a1 = a0 * g + a1 * (1 - e);
                a0 = n0;
            }
            const double total = a0 + a1;
            if (total > 0 && total < kTiny) {
                a0 /= total;
                a1 /= total;
                for (std::size_t a = 0; a < k; a++) {
                    d0_[a] /= total;
                    d1_[a] /= total;
                }
                log_scale += std::log(total);
            }
        }
        const double site_l = a0 + a1;
        if (!(site_l > 0)) return -std::numeric_limits<double>::infinity();
        const double wt = sites.weight(i);
        ll += wt * (std::log(site_l) + log_scale);
        if (grad)
            for (std::size_t a = 0; a < k; a++) grad[a] += wt * (d0_[a] + d1_[a]) / site_l;
    }
    return ll;
}

FitResult CovariateFitter::fit(const SiteRecords &sites) {
    const std::size_t k = k_;
    const auto K = static_cast<Eigen::Index>(k);
    FitResult result;
    result.estimates.assign(k, ParameterEstimate{kNaN, kNaN, kNaN, kNaN});
    if (k == 0 || sites.sites() == 0) return result;

    long evals = 0;
    std::vector<double> x = start_, g(k), xn(k), gn(k), xs(k), gp(k), gm(k);
    auto eval = [&](const std::vector<double> &at, std::vector<double> &grad) {
        evals++;
        return loglik(sites, at.data(), grad.data());
    };
    Eigen::MatrixXd H(K, K);
    // Hessian of the log-likelihood at x from central differences of the
    // gradient, made symmetric.
    auto hessian = [&]() {
        for (std::size_t a = 0; a < k; a++) {
            xs = x;
            xs[a] = x[a] + kHessianStep;
            eval(xs, gp);
            xs[a] = x[a] - kHessianStep;
            eval(xs, gm);
            for (std::size_t b = 0; b < k; b++)
                H(static_cast<Eigen::Index>(b), static_cast<Eigen::Index>(a)) =
                    (gp[b] - gm[b]) / (2 * kHessianStep);
        }
        H = (0.5 * (H + H.transpose())).eval();
    };

    double ll = eval(x, g);
    bool converged = false;
    if (std::isfinite(ll)) {
        Eigen::VectorXd step(K);
        for (int it = 0; it < kMaxIterations && !converged; it++) {
            hessian();
            // Parameters held at an end of the range by the gradient stay there.
            std::vector<bool> held(k, false);
            for (std::size_t a = 0; a < k; a++)
                held[a] = (x[a] <= lower_[a] && g[a] < 0) || (x[a] >= upper_[a] && g[a] > 0);
            Eigen::MatrixXd A = -H;
            Eigen::VectorXd rhs(K);
            for (std::size_t a = 0; a < k; a++) {
                const auto ia = static_cast<Eigen::Index>(a);
                rhs(ia) = held[a] ? 0 : g[a];
                if (!held[a]) continue;
                A.row(ia).setZero();
                A.col(ia).setZero();
                A(ia, ia) = 1;
            }
            // Newton's step where the information is positive definite,
            // otherwise a step damped towards the gradient.
            double damping = 0;
            const double scale = std::max(1e-8, A.diagonal().cwiseAbs().maxCoeff());
            for (int tries = 0; tries < 60; tries++) {
                Eigen::MatrixXd Ad = A;
                Ad.diagonal().array() += damping;
                Eigen::LLT<Eigen::MatrixXd> llt(Ad);
                if (llt.info() == Eigen::Success) {
                    step = llt.solve(rhs);
                    break;
                }
                damping = damping == 0 ? 1e-8 * scale : damping * 10;
            }
            const double size = step.cwiseAbs().maxCoeff();
            if (!(size < 1e-8)) {
                bool moved = false;
                for (double t = 1; t > 1e-10; t *= 0.5) {
                    for (std::size_t a = 0; a < k; a++)
                        xn[a] =
                            std::clamp(x[a] + t * step(static_cast<Eigen::Index>(a)), lower_[a], upper_[a]);
                    const double lln = eval(xn, gn);
                    if (lln > ll) {
                        x.swap(xn);
                        g.swap(gn);
                        ll = lln;
                        moved = true;
                        break;
                    }
                }
                if (moved) continue;
                // No ascent left along the step: the optimum to rounding,
                // unless the step was still large.
                if (size > 1e-4) break;
            }
            converged = true;
        }
    }
    result.evaluations = evals;
    result.loglik = ll;
    if (!converged) return result;

    bool boundary = false;
    Eigen::MatrixXd info = -H;
    for (std::size_t a = 0; a < k; a++) {
        if (x[a] - lower_[a] < kEdge || upper_[a] - x[a] < kEdge) boundary = true;
        const Parameter &p = layout_.params[static_cast<std::size_t>(layout_.estimated[a])];
        result.estimates[a].estimate = p.from_free(x[a]);
    }
    const std::vector<double> var = information_variances(info);
    bool singular = false;
    for (std::size_t a = 0; a < k; a++) {
        const Parameter &p = layout_.params[static_cast<std::size_t>(layout_.estimated[a])];
        if (!(var[a] > 0)) {
            singular = true;
            continue;
        }
        const double se = std::sqrt(var[a]);
        ParameterEstimate &e = result.estimates[a];
        e.se = se * p.derivative(x[a]);
        e.lcl = p.from_free(x[a] - kZ975 * se);
        e.ucl = p.from_free(x[a] + kZ975 * se);
    }
    result.status = boundary ? FitStatus::Boundary : singular ? FitStatus::Singular : FitStatus::Converged;
    return result;
}

} // namespace occusim
