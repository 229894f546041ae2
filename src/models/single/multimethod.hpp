#pragma once

#include <cstdint>
#include <string>

#include "core/context.hpp"

namespace occusim {

// Re-lays the design so that every visit becomes METH consecutive surveys.
void multi_method_layout(Context &ctx);
// Sizes the multi-method count table (2 * 4^nper entries).
void size_multi_method_table(Context &ctx);
// Multi-method model by cohort (base-2 codes). The call for survey 1 echoes
// the parameters and turns the extinction row of gameps into persistence.
// Expected values come from the forward pass over history prefixes,
// stochastic runs walk the cohorts.
void caphismm(Context &ctx, std::int64_t code, int k, int occupied, int available, double n);
// The same after the echo, walking every cohort on its own (the reference
// for the pass).
void caphismm_walk(Context &ctx, std::int64_t code, int k, int occupied, int available, double n);

} // namespace occusim
