// Design evaluation: the asymptotic precision a study design gives each
// parameter. The expected Fisher information of N sites is
//   I = N * sum over histories h with pi_h > 0 of (d pi_h)(d pi_h)' / pi_h,
// with the derivatives of the exact history probabilities taken by central
// differences of the model's expected-value computation. Its inverse gives
// the asymptotic variances; parameters caught in a singular part of the
// information are reported as not estimable while the others keep theirs.
#pragma once

#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <Eigen/Dense>

#include "study/power.hpp"
#include "study/probabilities.hpp"

namespace occusim {

// Step of the central differences on the estimation (logit or log) scale.
inline constexpr double kDifferenceStep = 1e-5;

// Expected information of `sites` sites on the estimation scale of the
// estimated (non-fixed) parameters, in parameter order, at `values`
// (natural scale, one per parameter). Returns false when the model refuses
// the values at the centre or on both sides of a parameter.
bool expected_information(HistoryProbabilities &model, const std::vector<double> &values, double sites,
                          Eigen::MatrixXd &info, double step = kDifferenceStep);

// Variances on the information's scale, from its (generalised) inverse;
// NaN for a parameter in a singular part of the information.
std::vector<double> information_variances(const Eigen::MatrixXd &info);

struct DesignRow {
    std::string name;
    double value = 0;
    double se = 0; // NaN when not estimated
    std::string note; // "", "fixed" or "not estimable"
    bool slope = false; // a slope of a logistic regression (null 0 unless given)
    double power = std::numeric_limits<double>::quiet_NaN(); // of the Wald test, NaN without a null
};

// One row per parameter from the expected information of the free ones: the
// SE on the parameter's own scale, or why there is none.
std::vector<DesignRow> design_rows(const std::vector<Parameter> &params, const Eigen::MatrixXd &info);

// The null of every row, in row order (see parameter_nulls). Throws
// InputError for a null named after no estimated parameter.
std::vector<std::optional<double>> design_nulls(const std::vector<DesignRow> &rows, const WaldTests &tests);

// Sets the power of the Wald test of every row with a null (see
// parameter_nulls): from the row's standard error. Throws InputError for a
// null named after no estimated parameter.
void add_design_power(std::vector<DesignRow> &rows, const WaldTests &tests);

// The design evaluation of the command line `args` (an expected-value run of
// a supported family). Throws InputError when the model cannot be evaluated.
std::vector<DesignRow> evaluate_design(const Preparer &prepare, const Args &args);

// The console table headed "design evaluation:".
void print_design(std::FILE *out, const std::vector<DesignRow> &rows);
// The CSV table (header parameter,value,se,cv,ci95,note,power).
std::string design_csv(const std::vector<DesignRow> &rows);

// The shortest decimal text that reads back to the same double ("" for NaN).
std::string csv_number(double v);
// outfile without its extension: "<stem>.<ext>" gives "<stem>".
std::string output_stem(const std::string &outfile);

// Runs the design evaluation after a completed run of ctx: the console table
// on ctx.out and <stem>_design.csv. Returns the exit status (1 with one line
// on ctx.err when the evaluation or the file fails).
int report_design(Context &ctx, const Args &args, const Preparer &prepare);

// Refuses (InputError) a DESIGN or FIT run this prepared context cannot
// serve, before anything is simulated or written.
void refuse_study(const Context &ctx);

} // namespace occusim
