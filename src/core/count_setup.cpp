#include "core/count_setup.hpp"

#include <cstdio>

#include "core/errors.hpp"

namespace occusim {

TableSize shifted_size(std::int64_t base, int bits) {
    TableSize s{};
    s.value32 = (bits < 0 || bits >= 32)
                    ? 0
                    : static_cast<int>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(base) << bits));
    s.fits = bits >= 0 && bits < 32 && (base << bits) <= INT32_MAX && (base << bits) > 0;
    s.entries = s.fits ? (base << bits) : -1;
    return s;
}

void size_count_table(Context &ctx, TableSize alloc, TableSize ilmt_size, const char *fail_fmt) {
    std::fprintf(ctx.out, "allocating memory for double precision vector of length %d\n", alloc.value32);
    if (!alloc.fits || !ctx.nx.reset(alloc.entries)) {
        std::fprintf(ctx.out, fail_fmt, ilmt_size.value32);
        finish(1);
    }
    ctx.ilmt = ilmt_size.value32;
}

} // namespace occusim
