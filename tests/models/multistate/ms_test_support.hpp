// What the multistate tests share: the closing lines of their history files,
// and the check that a simulated data set agrees with the expected counts of
// the same design.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/cli.hpp"
#include "support/history.hpp"

namespace occusim::testing {

// The end of every summarised multistate history file after the season list.
inline const std::string kTrailer = ";1\nsimulated multistate-corr-detection data from occusim8\n";

// Pearson chi-square of a simulated data set against the expected counts
// (every simulated history must be possible); checked against a bound far in
// the upper tail for its degrees of freedom.
inline void expect_agrees(const Counts &sim, const Counts &exp) {
    auto c = chi_square(sim, exp);
    for (const auto &h : c.unexpected) ADD_FAILURE() << "impossible history " << h;
    EXPECT_LT(c.statistic, c.df() + 5 * std::sqrt(2 * c.df()))
        << "chi-square " << c.statistic << " on " << c.df() << " df";
}

} // namespace occusim::testing
