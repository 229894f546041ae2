// The report of a design search and its check by simulation. The asymptotic
// standard error a design search ranks by can mislead when the chosen design
// has few sites; VERIFY=n fits a study of n replicates simulated at the best
// design (a FIT batch seeded as any batch, its fits and study tables written
// as <stem>_verify_fits.csv and <stem>_verify_study.csv, no history files
// kept) and sets its bias, coverage and simulated power beside the
// asymptotic figures, with a warning when they differ beyond Monte Carlo
// error.
#pragma once

#include <string>
#include <vector>

#include "batch/program.hpp"
#include "study/fit.hpp"
#include "study/optimal.hpp"

namespace occusim {

// The command line of the check: the best design's sites and visits, a random
// data set (site by site with covariates), n replicates fitted, the tables
// under "<stem>_verify".
Args verify_arguments(const Context &ctx, const Args &args, const OptimalSearch &search);

// Reads the check's command line into vctx (a fresh context) and refuses
// (InputError, "VERIFY: ...") a design the fits cannot take; nothing is
// written.
void prepare_verify(Context &vctx, const Args &vargs, const Program &program);

// The same, on a context of its own, before the run writes anything.
void refuse_verify(const Context &ctx, const Args &args, const OptimalSearch &search, const Program &program);

struct DesignCheck {
    StudySummary::Row simulated;
    double se = 0, power = 0; // asymptotic (power NaN without a null)
    long seed = 0;
    // What differs beyond Monte Carlo error, as the warning says it.
    std::vector<std::string> disagreements;
};

// Compares a simulated study row with the asymptotic se and power (three
// Monte Carlo standard errors each way): failed fits, the SD of the
// estimates against the se, the bias against 0, the coverage against 95%,
// the simulated power against the asymptotic one.
std::vector<std::string> check_disagreements(const StudySummary::Row &simulated, double se, double power);

// Runs the check of the search's best design.
DesignCheck verify_design(Context &ctx, const Args &args, const OptimalSearch &search, const Program &program);

// After a completed run of ctx with OPTIMIZE: the report on ctx.out,
// <stem>_optimal.csv, and the check when VERIFY asks for it (its warning on
// ctx.err). Returns the exit status (1 with one line on ctx.err when a file
// or the check fails).
int report_optimal(Context &ctx, const Args &args, const OptimalSearch &search, const Program &program);

} // namespace occusim
