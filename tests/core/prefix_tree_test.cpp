// The choice between the cohort walk and the forward pass for expected
// values: designs whose walk stays within its call budget get the walk's
// files and exact counts bit for bit, larger ones the pass's, in every family
// that has both ways; and the decimal ties that the order of addition decides
// print as the walk adds them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "models/single/forward_sweep.hpp"

using namespace occusim::testing;
using occusim::Context;

namespace {

bool same_counts(const CountLog &a, const CountLog &b) {
    if (a.lines.size() != b.lines.size()) return false;
    for (std::size_t i = 0; i < a.lines.size(); i++)
        if (a.lines[i].first != b.lines[i].first ||
            std::memcmp(&a.lines[i].second, &b.lines[i].second, sizeof(double)) != 0)
            return false;
    return true;
}

// Every case adds some count in another order by the two ways, so that the
// exact counts tell which way ran.
TEST(ExpectedBy, CheapDesignsTakeTheWalkAndLargerOnesThePass) {
    const Args spatial_block{"4",  "200", ".7", ".5", ".6", ".7", ".8", ".3", ".2", ".3", ".4", ".8", ".9",
                             ".6", ".7",  ".6", ".5", ".4", ".3", "0",  ".1", "0",  "0",  ".2", "0",
                             "T=4", "SPADMS"};
    struct Case {
        const char *name;
        Args args;
        bool walk;
    };
    const std::vector<Case> cases = {
        {"seasons",
         {"T=10", "N=100", "psi=.5", "p=.5", "SRVYPERSEASN=2,3,5", "gam=0,0,.3,0,0,.3,0,0,0,0",
          "eps=0,.2,0,0,.2,0,0,0,0,0"},
         true},
        {"false positives, 10 surveys",
         {"T=10", "N=1000", "psi=.6", "p=.35", "b=.7", "p10=.05", "SPS=5,5", "gam=0,0,0,0,0,.2,0,0,0,0",
          "eps=0,0,0,0,.3,0,0,0,0,0"},
         true},
        {"false positives, 11 surveys",
         {"T=11", "N=1000", "psi=.6", "p=.35", "b=.7", "p10=.05", "SPS=5,6", "gam=0,0,0,0,0,.2,0,0,0,0,0",
          "eps=0,0,0,0,.3,0,0,0,0,0,0"},
         false},
        {"mixture",
         {"T=6", "N=300", "psi=.6", "pi=.4", "p=.7", "pB=.3", "SPS=3,3", "gam=0,0,0,.2,0,0", "eps=0,0,.3,0,0,0"},
         true},
        {"multi-method, 8 surveys", {"T=4", "METH=2", "N=500", "psi=.7", "th0=.8", "p1=.6", "p2=.4"}, true},
        {"multi-method, 10 surveys", {"T=5", "METH=2", "N=500", "psi=.7", "th0=.8", "p1=.6", "p2=.4"}, false},
        {"spatial", {"T=6", "N=400", "psi=.6", "p=.5", "th0=.3", "th1=.7", "th0pi=.4"}, true},
        {"spatial seasons",
         {"T=6", "N=400", "psi=.6", "p=.5", "th0=.3", "th1=.7", "th0pi=.4", "SPS=3,3", "gam=0,0,0,.2,0,0",
          "eps=0,0,.3,0,0,0"},
         true},
        {"spatial records", spatial_block, true},
    };
    RunPlace place;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Args args = with(c.args, {"QUIET"});
        const SweepRun walk = run_by(place, args, Context::ExpectedBy::Walk);
        const SweepRun pass = run_by(place, args, Context::ExpectedBy::Pass);
        const SweepRun chosen = run_by(place, args, Context::ExpectedBy::Cheapest);
        ASSERT_EQ(chosen.status, 0) << chosen.err;
        ASSERT_FALSE(same_counts(walk.counts, pass.counts));
        const SweepRun &want = c.walk ? walk : pass;
        EXPECT_EQ(chosen.out, want.out);
        EXPECT_EQ(chosen.files, want.files);
        EXPECT_TRUE(same_counts(chosen.counts, want.counts));
    }
}

// Exact decimal ties in the last printed digit, rounded as the walk's sum
// falls: 3.5921025 for history 000101, and 0.0359375 for every history whose
// count is that value.
TEST(ExpectedBy, DecimalTiesPrintAsTheWalkAddsThem) {
    RunPlace place;
    const SweepRun seasons = run_by(place,
                                    {"T=6", "N=250", "psi=.7", "p=.3", "SPS=3,3", "gam=0,0,.2,0,0,0",
                                     "eps=0,0,.3,0,0,0", "QUIET"},
                                    Context::ExpectedBy::Cheapest);
    ASSERT_EQ(seasons.status, 0);
    EXPECT_NE(seasons.files.at("occusim.pao").find("\n0\t0\t0\t1\t0\t1\t3.592103\n"), std::string::npos);

    const SweepRun three = run_by(place,
                                  {"T=10", "N=100", "psi=.5", "p=.5", "SRVYPERSEASN=2,3,5",
                                   "gam=0,0,.3,0,0,.3,0,0,0,0", "eps=0,.2,0,0,.2,0,0,0,0,0", "QUIET"},
                                  Context::ExpectedBy::Cheapest);
    ASSERT_EQ(three.status, 0);
    const std::string &pao = three.files.at("occusim.pao");
    EXPECT_NE(pao.find("\t0.035937\n"), std::string::npos);
    EXPECT_EQ(pao.find("\t0.035938\n"), std::string::npos);
}

} // namespace
