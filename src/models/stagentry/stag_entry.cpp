// Placeholder until this model family is built: refuses the run clearly.
#include "models/stagentry/stag_entry.hpp"

#include "driver/finish.hpp"

namespace occusim {

void do_stag_entry_model_sim(Context &, const Args &, const std::string &) { input_error("%s is not available in this build", "the staggered-entry model (STAG)"); }

} // namespace occusim
