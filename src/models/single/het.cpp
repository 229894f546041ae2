// Placeholder until this model family is built: refuses the run clearly.
#include "models/single/het.hpp"

#include "driver/finish.hpp"

namespace occusim {

void caphis_het(Context &, std::int64_t, int, int, int, double) { input_error("%s is not available in this build", "the detection mixture (HET)"); }

} // namespace occusim
