#pragma once

#include <cstdint>
#include <string>

#include "core/context.hpp"

namespace occusim {

// Spatially correlated detections: single-season and multi-season cohort
// forms. Expected values come from the forward pass over history prefixes
// (for the single season from the call for survey 1), stochastic runs walk
// the cohorts.
void caphis_scorr(Context &ctx, std::int64_t code, int k, int occupied, int present, double n);
void caphis_multi_season_scorr(Context &ctx, std::int64_t code, int k, int occupied, int present, double n);
// The same, walking every cohort on its own (the reference for the pass);
// the multi-season walk goes through caphis_multi_season_scorr_lococc.
void caphis_scorr_walk(Context &ctx, std::int64_t code, int k, int occupied, int present, double n);
void caphis_multi_season_scorr_walk(Context &ctx, std::int64_t code, int k, int occupied, int present,
                                    double n);
void caphis_multi_season_scorr_lococc(Context &ctx, std::int64_t code, int k, int present, double n);
[[noreturn]] void caphis_multi_season_scorr_by_ind(Context &ctx, int n);

} // namespace occusim
