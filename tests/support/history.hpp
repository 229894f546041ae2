// Reading history files back into counts per history, comparing a random data
// set with the expected values by chi-square, and printf into a string: the
// helpers the end-to-end model tests share.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace occusim::testing {

// History text (the survey symbols without separators, "0312") -> number of
// sites.
using Counts = std::map<std::string, double>;

// The lines of a text, without their line ends.
std::vector<std::string> lines_of(const std::string &text);

// The history lines of a history file: the lines after the header up to the
// first line without a tab (the trailer, or a covariate block).
std::vector<std::string> history_lines(const std::string &pao);

// Counts by history of a history file, T read from its header. A line holds T
// symbols, each followed by a tab; what comes after them is the line's
// frequency ("%f", " %d", "\t%f"), or nothing when the line stands for one
// site. A header announcing another number of lines than the file holds
// fails the test.
Counts history_counts(const std::string &pao);

// Counts by history of a site list without header (a temporary history file):
// the first T tab-separated symbols of each line form its history.
Counts site_counts(const std::string &lines, int T);

// The sum of the counts.
double total(const Counts &counts);

// Every count multiplied by factor.
Counts scaled(Counts counts, double factor);

// What to do with histories whose expected count is below 5.
enum class Small {
    keep, // a class of their own like every other
    pool, // one class together, with the observed histories nobody expects
    drop, // left out of the sum
};

struct ChiSquare {
    double statistic = 0;
    int classes = 0;                     // the classes summed over
    std::vector<std::string> unexpected; // observed histories without an expected count
    double df() const { return classes - 1; }
    // The 0.999 quantile of the chi-square law with df() degrees of freedom
    // (Wilson-Hilferty), z the normal quantile it stands for.
    double critical(double z = 3.090232) const;
};

// Pearson chi-square of observed against expected counts, one class per
// expected history. With Small::pool and a positive expected_total, the
// expected mass missing from the list (expected_total less the listed counts)
// joins the pooled class too.
ChiSquare chi_square(const Counts &observed, const Counts &expected, Small small = Small::keep,
                     double expected_total = 0);

// printf into a string.
std::string stringf(const char *format, ...) __attribute__((format(printf, 1, 2)));

} // namespace occusim::testing
