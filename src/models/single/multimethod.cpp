// Placeholder until this model family is built: refuses the run clearly.
#include "models/single/multimethod.hpp"

#include "driver/finish.hpp"

namespace occusim {

void multi_method_layout(Context &) { input_error("%s is not available in this build", "the multi-method model (METH)"); }
void size_multi_method_table(Context &) { input_error("%s is not available in this build", "the multi-method model (METH)"); }
void caphismm(Context &, std::int64_t, int, int, int, double) { input_error("%s is not available in this build", "the multi-method model (METH)"); }

} // namespace occusim
