// Placeholder until this model family is built: refuses the run clearly.
#include "models/multistate/multistate.hpp"

#include "driver/finish.hpp"

namespace occusim {

void do_multistate_sim(Context &, double) { input_error("%s is not available in this build", "the multistate models"); }

} // namespace occusim
