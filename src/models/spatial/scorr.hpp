#pragma once

#include <cstdint>
#include <string>

#include "core/context.hpp"

namespace occusim {

// Spatially correlated detections: single-season and multi-season recursions.
void caphis_scorr(Context &ctx, std::int64_t code, int k, int occupied, int present, double n);
void caphis_multi_season_scorr(Context &ctx, std::int64_t code, int k, int occupied, int present, double n);
void caphis_multi_season_scorr_lococc(Context &ctx, std::int64_t code, int k, int present, double n);
[[noreturn]] void caphis_multi_season_scorr_by_ind(Context &ctx, int n);

} // namespace occusim
