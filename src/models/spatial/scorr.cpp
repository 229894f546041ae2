// Placeholder until this model family is built: refuses the run clearly.
#include "models/spatial/scorr.hpp"

#include "driver/finish.hpp"

namespace occusim {

void caphis_scorr(Context &, std::int64_t, int, int, int, double) { input_error("%s is not available in this build", "the spatial model (SPADEP)"); }
void caphis_multi_season_scorr(Context &, std::int64_t, int, int, int, double) { input_error("%s is not available in this build", "the spatial model (SPADEP)"); }
void caphis_multi_season_scorr_lococc(Context &, std::int64_t, int, int, double) { input_error("%s is not available in this build", "the spatial model (SPADEP)"); }
void caphis_multi_season_scorr_by_ind(Context &, int) { input_error("%s is not available in this build", "the spatial model (SPADEP)"); }

} // namespace occusim
