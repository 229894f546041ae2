#pragma once

#include <cstdint>
#include <string>

#include "core/context.hpp"

namespace occusim {

// Re-lays the design so that every visit becomes METH consecutive surveys.
void multi_method_layout(Context &ctx);
// Sizes the multi-method count table (2 * 4^nper entries).
void size_multi_method_table(Context &ctx);
// Multi-method recursion by cohort (base-2 codes).
void caphismm(Context &ctx, std::int64_t code, int k, int occupied, int available, double n);

} // namespace occusim
