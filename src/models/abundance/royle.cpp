// Placeholder until this model family is built: refuses the run clearly.
#include "models/abundance/royle.hpp"

#include "driver/finish.hpp"

namespace occusim {

void do_royle(Context &, int, long, int, int, double) { input_error("%s is not available in this build", "the Royle-Nichols model"); }

} // namespace occusim
