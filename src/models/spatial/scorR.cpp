// Placeholder until this model family is built: refuses the run clearly.
#include "models/spatial/scorR.hpp"

#include "driver/finish.hpp"

namespace occusim {

void caphis_scorR(Context &, const Args &, int) { input_error("%s is not available in this build", "the spatial model (SPADMS)"); }

} // namespace occusim
