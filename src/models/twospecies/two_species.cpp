// Placeholder until this model family is built: refuses the run clearly.
#include "models/twospecies/two_species.hpp"

#include "driver/finish.hpp"

namespace occusim {

void do_two_species(Context &) { input_error("%s is not available in this build", "the two-species models"); }

} // namespace occusim
