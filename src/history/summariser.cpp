// Placeholder until this model family is built: refuses the run clearly.
#include "history/summariser.hpp"

#include "driver/finish.hpp"

namespace occusim {

void smrz_pao(Context &, int) {
    input_error("%s is not available in this build", "the summariser");
}

} // namespace occusim
