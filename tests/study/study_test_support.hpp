// Shared by the study tests: the command-line reader the study layer is given,
// argument lists, and an information matrix worked out independently of the
// program from history probabilities written out by hand for a model.
#pragma once

#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <Eigen/Dense>

#include "cli/run.hpp"
#include "study/parameters.hpp"

namespace occusim::testing {

inline const Preparer kPrepare = [](Context &ctx, const Args &args) { read_command_line(ctx, args); };

// Program name first, then the options.
inline Args command(std::vector<std::string> options) {
    Args a{"occusim8"};
    a.insert(a.end(), options.begin(), options.end());
    return a;
}

// History text -> probability, for parameter values on the natural scale.
using HandModel = std::function<std::map<std::string, double>(const std::vector<double> &)>;

// Standard errors (natural scale) from the expected information of `sites`
// sites: derivatives by central differences on the natural scale, the
// inverse by Eigen's LU decomposition.
inline std::vector<double> hand_se(const HandModel &model, const std::vector<double> &theta, double sites) {
    const std::size_t k = theta.size();
    const auto centre = model(theta);
    std::vector<std::map<std::string, double>> grad(k);
    for (std::size_t a = 0; a < k; a++) {
        const double h = 1e-6;
        auto up = theta, down = theta;
        up[a] += h;
        down[a] -= h;
        const auto pu = model(up), pd = model(down);
        for (const auto &[key, p] : centre) grad[a][key] = (pu.at(key) - pd.at(key)) / (2 * h);
    }
    Eigen::MatrixXd info = Eigen::MatrixXd::Zero(static_cast<Eigen::Index>(k), static_cast<Eigen::Index>(k));
    for (const auto &[key, p] : centre) {
        if (!(p > 0)) continue;
        for (std::size_t a = 0; a < k; a++)
            for (std::size_t b = 0; b < k; b++)
                info(static_cast<Eigen::Index>(a), static_cast<Eigen::Index>(b)) +=
                    grad[a][key] * grad[b][key] / p;
    }
    Eigen::MatrixXd cov = (sites * info).inverse();
    std::vector<double> se(k);
    for (std::size_t a = 0; a < k; a++)
        se[a] = std::sqrt(cov(static_cast<Eigen::Index>(a), static_cast<Eigen::Index>(a)));
    return se;
}

// Every history of T surveys with symbols 0 .. levels-1, as the writers show
// them (symbols separated by tabs).
inline std::vector<std::string> all_histories(int T, int levels) {
    std::vector<std::string> out{""};
    for (int t = 0; t < T; t++) {
        std::vector<std::string> next;
        for (const auto &h : out)
            for (int s = 0; s < levels; s++) next.push_back(h + (t ? "\t" : "") + std::to_string(s));
        out = next;
    }
    return out;
}

inline double binom_pmf(int k, int n, double p) {
    if (k < 0 || k > n) return 0;
    return std::exp(std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0) + k * std::log(p) +
                    (n - k) * std::log1p(-p));
}

} // namespace occusim::testing
