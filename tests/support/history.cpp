#include "support/history.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace occusim::testing {

namespace {

// Adds one history line to the counts: the first T tab-separated symbols
// form the history, a number after them its frequency (1 when there is none).
void count_line(Counts &counts, const std::string &line, int T) {
    std::string key;
    std::size_t pos = 0;
    for (int j = 0; j < T && pos < line.size(); j++) {
        std::size_t tab = line.find('\t', pos);
        if (tab == std::string::npos) tab = line.size();
        key += line.substr(pos, tab - pos);
        pos = tab + 1;
    }
    std::string rest = pos < line.size() ? line.substr(pos) : std::string();
    counts[key] += rest.find_first_not_of(" \t") == std::string::npos ? 1.0 : std::stod(rest);
}

} // namespace

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> history_lines(const std::string &pao) {
    std::vector<std::string> lines;
    std::istringstream in(pao);
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line) && line.find('\t') != std::string::npos) lines.push_back(line);
    return lines;
}

Counts history_counts(const std::string &pao) {
    std::string header = pao.substr(0, pao.find('\n'));
    long announced = std::atol(header.c_str());
    std::size_t tab = header.find('\t');
    int T = tab == std::string::npos ? 0 : std::atoi(header.c_str() + tab + 1);
    auto lines = history_lines(pao);
    EXPECT_EQ(static_cast<long>(lines.size()), announced) << "history lines against the header " << header;
    Counts counts;
    for (const auto &line : lines) count_line(counts, line, T);
    return counts;
}

Counts site_counts(const std::string &lines, int T) {
    Counts counts;
    for (const auto &line : lines_of(lines)) count_line(counts, line, T);
    return counts;
}

double total(const Counts &counts) {
    double t = 0;
    for (const auto &[h, n] : counts) t += n;
    return t;
}

Counts scaled(Counts counts, double factor) {
    for (auto &[h, n] : counts) n *= factor;
    return counts;
}

double ChiSquare::critical(double z) const {
    double d = df(), a = 2.0 / (9.0 * d);
    return d * std::pow(1 - a + z * std::sqrt(a), 3);
}

ChiSquare chi_square(const Counts &observed, const Counts &expected, Small small, double expected_total) {
    ChiSquare c;
    double pooled_o = 0, pooled_e = 0;
    for (const auto &[h, e] : expected) {
        auto it = observed.find(h);
        double o = it == observed.end() ? 0 : it->second;
        if (small == Small::keep || e >= 5) {
            c.statistic += (o - e) * (o - e) / e;
            c.classes++;
        } else if (small == Small::pool) {
            pooled_o += o;
            pooled_e += e;
        }
    }
    for (const auto &[h, o] : observed) {
        if (expected.count(h)) continue;
        c.unexpected.push_back(h);
        pooled_o += o;
    }
    if (small != Small::pool) return c;
    if (expected_total > 0) pooled_e += expected_total - total(expected);
    if (pooled_e > 0) {
        c.statistic += (pooled_o - pooled_e) * (pooled_o - pooled_e) / pooled_e;
        c.classes++;
    }
    return c;
}

std::string stringf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string s(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(s.data(), s.size() + 1, format, again);
    va_end(again);
    return s;
}

} // namespace occusim::testing
