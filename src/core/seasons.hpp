// Season layout of a study design: which season every survey belongs to and
// where each season starts, laid out once the surveys-per-season list is read.
#pragma once

#include "core/context.hpp"

namespace occusim {

// Longest survey count any model handles (the vectors hold that many entries).
inline constexpr int kMaxSurveys = 4000;

// Season[k] is the season of survey k, newSeason marks the first survey of
// every season. A negative T turns the run stochastic and counts |T| surveys.
void lay_out_seasons(Context &ctx);

} // namespace occusim
