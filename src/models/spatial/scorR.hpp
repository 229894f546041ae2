#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/context.hpp"

namespace occusim {

// Second spatial generator with its positional parameter block: reads and
// echoes the block, lays out the seasons, then either simulates site by site
// (simtype > 1; writes the history file and ends the run) or runs the cohort
// recursion into the count table and returns.
void caphis_scorR(Context &ctx, const Args &argv, int simtype);
// Local presence and detection at survey j (from 0) for a cohort of n sites.
void caphis_scorR1(Context &ctx, std::int64_t code, int j, int occupied, int present, double n);
// Occupancy change from survey j to j+1, then caphis_scorR1 at j+1.
void caphis_scorR2(Context &ctx, std::int64_t code, int j, int occupied, int present, double n);
// Collapses equal site records (count records of T values, stored one after
// the other): the first record of each kind gets the number of its copies in
// freq, every later copy -999. Returns the number of distinct records.
int smrzCaphis(int count, int T, std::span<const std::uint8_t> records, std::span<int> freq);

} // namespace occusim
