// Placeholder until this model family is built: refuses the run clearly.
#include "models/single/by_indiv.hpp"

#include "driver/finish.hpp"

namespace occusim {

void caphis_by_indiv(Context &, double) { input_error("%s is not available in this build", "site-by-site simulation (SIMTYPE=2 or more than 16 surveys)"); }
double get_occ_with_covs(Context &ctx, int) { return ctx.gam[0]; }

} // namespace occusim
