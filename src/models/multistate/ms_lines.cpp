// Placeholder until this model family is built: refuses the run clearly.
#include "models/multistate/ms_lines.hpp"

#include "driver/finish.hpp"

namespace occusim {

void print_mscaphis(Context &, std::int64_t, double) {
    input_error("%s is not available in this build", "the multistate history writer");
}

} // namespace occusim
