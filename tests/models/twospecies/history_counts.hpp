// Helpers shared by the two-species tests: read the history lines of a history
// file back into counts per history, and compare two sets of counts.
#pragma once

#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace twospecies_testing {

using Args = std::vector<std::string>;

// The arguments of base followed by those of more.
inline Args with(Args base, const Args &more) {
    base.insert(base.end(), more.begin(), more.end());
    return base;
}

// History text without tabs ("0312") -> number of sites. The frequency after
// the survey columns is read when present ("%f" or " %d"), 1 otherwise (one
// line per site).
inline std::map<std::string, double> history_counts(const std::string &pao, int T) {
    std::map<std::string, double> counts;
    std::istringstream in(pao);
    std::string line;
    std::getline(in, line);
    int lines = std::atoi(line.c_str());
    for (int i = 0; i < lines && std::getline(in, line); i++) {
        std::string h;
        for (int j = 0; j < T; j++) h.push_back(line[2 * static_cast<std::size_t>(j)]);
        std::string rest = line.substr(2 * static_cast<std::size_t>(T));
        counts[h] += rest.empty() ? 1.0 : std::strtod(rest.c_str(), nullptr);
    }
    return counts;
}

// Pearson chi-square of observed against expected counts over the histories
// whose expected count is at least 5 (the others pooled into one class), and
// the 0.999 quantile of the chi-square law with the matching degrees of
// freedom (Wilson-Hilferty).
struct ChiSquare {
    double statistic = 0;
    double critical = 0;
};
inline ChiSquare chi_square(const std::map<std::string, double> &observed,
                            const std::map<std::string, double> &expected) {
    ChiSquare c;
    double pooled_o = 0, pooled_e = 0;
    int classes = 0;
    for (const auto &[h, e] : expected) {
        auto it = observed.find(h);
        double o = it == observed.end() ? 0 : it->second;
        if (e >= 5) {
            c.statistic += (o - e) * (o - e) / e;
            classes++;
        } else {
            pooled_o += o;
            pooled_e += e;
        }
    }
    for (const auto &[h, o] : observed)
        if (!expected.count(h)) pooled_o += o;
    if (pooled_e > 0) {
        c.statistic += (pooled_o - pooled_e) * (pooled_o - pooled_e) / pooled_e;
        classes++;
    }
    double df = classes - 1, z = 3.090232;
    double a = 2.0 / (9.0 * df);
    c.critical = df * std::pow(1 - a + z * std::sqrt(a), 3);
    return c;
}

// What the run printed from the first occurrence of `marker` on.
inline std::string from_marker(const std::string &text, const std::string &marker) {
    std::size_t at = text.find(marker);
    return at == std::string::npos ? std::string() : text.substr(at);
}

} // namespace twospecies_testing
