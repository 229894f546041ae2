// The count table nx: for each history code, the expected or simulated number
// of sites with that history. Codes can range over 2^30 entries while a run
// reaches only a few of them, so the table is kept in pages of 4096 entries
// that come into being (zeroed) on the first write; unwritten entries read 0
// and writers skip pages that were never touched.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace occusim {

class CountTable {
  public:
    static constexpr int PAGE_BITS = 12;
    static constexpr std::int64_t PAGE = std::int64_t{1} << PAGE_BITS;

    // Sizes the table to `entries` codes, all 0. Returns false when the size
    // cannot be represented (negative).
    bool reset(std::int64_t entries);
    // Sets every entry to 0 and keeps the pages written so far, so that a
    // table filled again and again with the same codes is not rebuilt.
    void zero() {
        for (auto &page : pages_)
            if (page) std::fill_n(page.get(), PAGE, 0.0);
    }
    std::int64_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    double get(std::int64_t code) const {
        const auto &page = pages_[static_cast<std::size_t>(code >> PAGE_BITS)];
        return page ? page[code & (PAGE - 1)] : 0.0;
    }
    double &at(std::int64_t code) {
        auto &page = pages_[static_cast<std::size_t>(code >> PAGE_BITS)];
        if (!page) page = std::make_unique<double[]>(PAGE); // value-initialised: zeros
        return page[code & (PAGE - 1)];
    }
    void add(std::int64_t code, double v) { at(code) += v; }
    void set(std::int64_t code, double v) { at(code) = v; }

    // Calls f(code, value) for every code below size() in increasing order,
    // skipping pages that were never written (all their values are 0).
    template <class F> void for_each(F &&f) const {
        for (std::size_t pg = 0; pg < pages_.size(); pg++) {
            if (!pages_[pg]) continue;
            std::int64_t base = static_cast<std::int64_t>(pg) << PAGE_BITS;
            std::int64_t end = std::min<std::int64_t>(PAGE, size_ - base);
            for (std::int64_t i = 0; i < end; i++) f(base + i, pages_[pg][i]);
        }
    }

  private:
    std::int64_t size_ = 0;
    std::vector<std::unique_ptr<double[]>> pages_;
};

} // namespace occusim
