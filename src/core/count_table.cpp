#include "core/count_table.hpp"

namespace occusim {

bool CountTable::reset(std::int64_t entries) {
    pages_.clear();
    size_ = 0;
    if (entries < 0) return false;
    size_ = entries;
    pages_.resize(static_cast<std::size_t>((entries + PAGE - 1) / PAGE));
    return true;
}

} // namespace occusim
