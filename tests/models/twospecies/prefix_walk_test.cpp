// The walk over history prefixes with a model that records what it is asked:
// order of the histories, the code of each, and which branches are left out.
#include "models/twospecies/prefix_walk.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

// Two hidden states; survey j sends share w[j][digit] of each state's sites
// to each digit, and state 0's sites to state 1 on digit 3.
struct Recorder {
    static constexpr int K = 2;
    std::vector<std::array<double, 4>> w;
    int extended = 0;
    std::vector<std::int64_t> last_codes;
    std::vector<double> last_sites;

    void extend(int j, const double *m, double (*child)[K]) {
        extended++;
        for (int c = 0; c < 4; c++) {
            child[c][1] += m[1] * w[j][c];
            (c == 3 ? child[c][1] : child[c][0]) += m[0] * w[j][c];
        }
    }
    bool live(const double *m) const { return m[0] != 0 || m[1] != 0; }
    void last(int, std::int64_t code, const double *m) {
        last_codes.push_back(code);
        last_sites.push_back(m[0] + m[1]);
    }
};

TEST(PrefixWalk, VisitsEveryLiveHistoryOnceInAscendingCodeOrder) {
    Recorder r;
    r.w.assign(3, {.1, .2, .3, .4});
    const double root[2] = {60, 40};
    occusim::walk_history_tree(r, nullptr, 3, root);
    // Surveys 1 and 2 split the sites (1 + 4 nodes); the 16 nodes of the
    // last survey carry the two-digit prefixes in the top digits of the code.
    EXPECT_EQ(r.extended, 5);
    ASSERT_EQ(r.last_codes.size(), 16u);
    for (std::int64_t i = 0; i < 16; i++) EXPECT_EQ(r.last_codes[i], i << 2);
    // Prefix "31": 100 sites * .4 * .2.
    EXPECT_DOUBLE_EQ(r.last_sites[13], 8);
}

TEST(PrefixWalk, EmptyBranchesAreLeftOut) {
    // Digits 1 and 2 never get sites at the first three surveys: of the 4^3
    // prefixes only the 8 made of 0 and 3 reach the last survey, and the
    // nodes in between are 1 + 2 + 4.
    Recorder r;
    r.w.assign(4, {.5, 0, 0, .5});
    const double root[2] = {1, 0};
    occusim::walk_history_tree(r, nullptr, 4, root);
    EXPECT_EQ(r.extended, 7);
    const std::vector<std::int64_t> codes = {0,
                                             3 << 2,
                                             3 << 4,
                                             (3 << 4) | (3 << 2),
                                             3 << 6,
                                             (3 << 6) | (3 << 2),
                                             (3 << 6) | (3 << 4),
                                             (3 << 6) | (3 << 4) | (3 << 2)};
    EXPECT_EQ(r.last_codes, codes);
}

TEST(PrefixWalk, SitesInOneStateKeepABranchAlive) {
    // State 0 goes to state 1 on digit 3 only; the branch lives on state 1.
    Recorder r;
    r.w.assign(2, {0, 0, 0, 1});
    const double root[2] = {5, 0};
    occusim::walk_history_tree(r, nullptr, 2, root);
    ASSERT_EQ(r.last_codes.size(), 1u);
    EXPECT_EQ(r.last_codes[0], 3 << 2);
    EXPECT_EQ(r.last_sites[0], 5);
}

TEST(PrefixWalk, OneSurveyIsTheRootAloneAndNoSurveyNothing) {
    Recorder one;
    const double root[2] = {2, 3};
    occusim::walk_history_tree(one, nullptr, 1, root);
    EXPECT_EQ(one.extended, 0);
    EXPECT_EQ(one.last_codes, std::vector<std::int64_t>{0});
    Recorder none;
    occusim::walk_history_tree(none, nullptr, 0, root);
    EXPECT_EQ(none.extended, 0);
    EXPECT_TRUE(none.last_codes.empty());
}

} // namespace
