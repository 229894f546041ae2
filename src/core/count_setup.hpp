// Sizing of the count table nx. Table sizes are powers of two and four whose
// 32-bit values are what the console and the error messages show; a size that
// does not fit in 32 bits is refused as a failed allocation would be.
#pragma once

#include <cstdint>

#include "core/context.hpp"

namespace occusim {

struct TableSize {
    bool fits;            // the size is a positive 32-bit value
    std::int64_t entries; // the size, when it fits
    int value32;          // the value a 32-bit computation gives
};

// base shifted left by bits, as a table size.
TableSize shifted_size(std::int64_t base, int bits);

// Prints "allocating memory for double precision vector of length %d\n" with
// alloc.value32, then sizes nx with alloc.entries zeroed entries and sets ilmt
// to ilmt_size.value32. When alloc does not fit, prints fail_fmt with
// ilmt_size.value32 and ends the run with status 1.
void size_count_table(Context &ctx, TableSize alloc, TableSize ilmt_size, const char *fail_fmt);

} // namespace occusim
