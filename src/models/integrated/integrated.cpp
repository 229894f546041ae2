// Placeholder until this model family is built: refuses the run clearly.
#include "models/integrated/integrated.hpp"

#include "driver/finish.hpp"

namespace occusim {

void do_integrated_model_sim(Context &, const Args &, int) { input_error("%s is not available in this build", "the integrated model"); }

} // namespace occusim
