// Placeholder until this model family is built: refuses the run clearly.
#include "models/multistate/ms_corr.hpp"

#include "driver/finish.hpp"

namespace occusim {

void do_multistate_sim_corr(Context &, const Args &) { input_error("%s is not available in this build", "the multistate model with correlated detection (MSCD)"); }

} // namespace occusim
