// Wald tests of replicate estimates and the power a design promises.
#include "study/power.hpp"

#include <cmath>
#include <limits>

#include "core/errors.hpp"

namespace occusim {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

double normal_cdf(double z) {
    return 0.5 * std::erfc(-z / std::sqrt(2.0));
}

double normal_quantile(double p) {
    if (!(p > 0 && p < 1)) return p == 0 ? -INFINITY : p == 1 ? INFINITY : kNaN;
    // Rational approximation (relative error below 1.2e-9), then two Newton
    // steps on the distribution function bring it to full precision.
    static const double a[] = {-3.969683028665376e+01, 2.209460984245205e+02,  -2.759285104469687e+02,
                               1.383577518672690e+02,  -3.066479806614716e+01, 2.506628277459239e+00};
    static const double b[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                               6.680131188771972e+01, -1.328068155288572e+01};
    static const double c[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                               -2.549732539343734e+00, 4.374664141464968e+00,  2.938163982698783e+00};
    static const double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                               3.754408661907416e+00};
    const double lo = 0.02425;
    double x;
    if (p < lo) {
        const double q = std::sqrt(-2 * std::log(p));
        x = (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
            ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
    } else if (p > 1 - lo) {
        const double q = std::sqrt(-2 * std::log1p(-p));
        x = -(((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
            ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
    } else {
        const double q = p - 0.5, r = q * q;
        x = (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
            (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1);
    }
    for (int i = 0; i < 2; i++) {
        const double density = std::exp(-0.5 * x * x) / std::sqrt(2 * M_PI);
        if (density > 0) x -= (normal_cdf(x) - p) / density;
    }
    return x;
}

double wald_power(double effect, double se, double alpha) {
    if (!(se > 0) || !std::isfinite(se)) return kNaN;
    const double z = normal_quantile(1 - alpha / 2);
    const double d = std::abs(effect) / se;
    return normal_cdf(d - z) + normal_cdf(-d - z);
}

std::vector<std::optional<double>> parameter_nulls(const std::vector<Parameter> &params,
                                                   const WaldTests &tests) {
    std::vector<std::optional<double>> nulls(params.size());
    for (std::size_t i = 0; i < params.size(); i++) {
        const Parameter &p = params[i];
        if (p.scale == Scale::Linear && p.name.find("(Int)") == std::string::npos) nulls[i] = 0.0;
    }
    for (const auto &[name, value] : tests.nulls) {
        bool found = false;
        for (std::size_t i = 0; i < params.size(); i++)
            if (!params[i].fixed && params[i].name == name) {
                nulls[i] = value;
                found = true;
            }
        if (!found) input_error("NULLS: %s is not an estimated parameter of this study", name.c_str());
    }
    return nulls;
}

WaldTally::WaldTally(double truth, double null, double alpha)
    : truth_(truth), null_(null), z_(normal_quantile(1 - alpha / 2)) {}

void WaldTally::add(double estimate, double se) {
    used_++;
    if (!(se > 0) || !std::isfinite(se) || !std::isfinite(estimate)) return;
    const double away = estimate - null_;
    if (!(std::abs(away / se) > z_)) return;
    rejected_++;
    distance_ += std::abs(away);
    if (no_side()) return;
    if ((away > 0) == (truth_ > null_))
        right_++;
    else
        wrong_++;
}

double WaldTally::power() const {
    if (used_ == 0) return kNaN;
    // Where the null is true the share of rejections is the test's size.
    const long hits = no_side() ? rejected_ : right_;
    return static_cast<double>(hits) / static_cast<double>(used_);
}

double WaldTally::type_s() const {
    if (rejected_ == 0 || no_side()) return kNaN;
    return static_cast<double>(wrong_) / static_cast<double>(rejected_);
}

double WaldTally::type_m() const {
    if (rejected_ == 0 || no_side()) return kNaN;
    return distance_ / static_cast<double>(rejected_) / std::abs(truth_ - null_);
}

} // namespace occusim
