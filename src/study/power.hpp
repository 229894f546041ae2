// Power of the Wald test of a parameter against a null value: how often a
// study of this design finds the effect (with the right sign), how often a
// significant result has the wrong sign (type S error) and how much a
// significant estimate exaggerates the effect (type M error); and the power
// the asymptotic standard error of a design promises.
//
// The test runs on the scale the parameter is reported on: the logit scale
// for the coefficients of a logistic regression, the probability scale for
// probabilities, the natural scale for rates; z = (estimate - null) / se is
// significant when |z| exceeds the two-sided critical value of level alpha.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "study/parameters.hpp"

namespace occusim {

// Standard normal distribution function and its inverse.
double normal_cdf(double z);
double normal_quantile(double p);

// Power of the two-sided level-alpha Wald test when the estimate is normal
// with standard error `se` about a value `effect` away from the null:
// Phi(|effect|/se - z) + Phi(-|effect|/se - z).
double wald_power(double effect, double se, double alpha);

// What the command line asks to test: null values by parameter name and the
// level.
struct WaldTests {
    std::vector<std::pair<std::string, double>> nulls;
    double alpha = 0.05;
};

// The null of every parameter, in parameter order: the value given by name,
// else 0 for a slope of a logistic regression (psi(cov1), p(pcov1), ...),
// else none. Throws InputError for a name that is no estimated parameter.
std::vector<std::optional<double>> parameter_nulls(const std::vector<Parameter> &params,
                                                   const WaldTests &tests);

// Running counts of the Wald tests of one parameter's replicate estimates.
class WaldTally {
  public:
    WaldTally() = default;
    WaldTally(double truth, double null, double alpha);
    // One fit used in the summary; a missing standard error is no rejection.
    void add(double estimate, double se);

    double power() const;  // share of the fits used that reject on the true side
    double type_s() const; // share of the rejections on the wrong side
    double type_m() const; // mean |estimate - null| of the rejections over |true - null|

  private:
    // The null is true, or the true value unknown: no right or wrong side.
    bool no_side() const { return truth_ == null_ || truth_ != truth_; }
    double truth_ = 0, null_ = 0, z_ = 0;
    long used_ = 0, rejected_ = 0, right_ = 0, wrong_ = 0;
    double distance_ = 0; // sum of |estimate - null| over the rejections
};

} // namespace occusim
