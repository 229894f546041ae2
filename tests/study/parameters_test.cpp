// Study parameters: which options become parameters, their names, fixed
// values and scales, and the places in a run context each one writes.
#include "study/parameters.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "study_test_support.hpp"

using namespace occusim;
using namespace occusim::testing;

namespace {

// The context of the command line after `param` is set to v where its option
// would have put it.
struct Placed {
    QuietContext q;
    Placed(const Args &args, const Parameter &param, double v) {
        kPrepare(q.ctx, args);
        ContextSlots slots(q.ctx, slot_prefix(q.ctx));
        for (int s : param.slots) slots.real(s) = v;
    }
};

const Parameter &named(const std::vector<Parameter> &ps, const std::string &name) {
    for (const auto &p : ps)
        if (p.name == name) return p;
    throw std::runtime_error("no parameter " + name);
}

TEST(StudyParameters, NamesValuesAndStructuralValues) {
    auto ps = study_parameters(kPrepare, command({"T=4", "N=10", "psi=.6", "p=.3,0,.5,1", "b=1", "SEED=3",
                                                  "SRVYPERSEASN=2,2", "p=.3,0,.5,1"}));
    std::vector<std::string> names;
    std::vector<bool> fixed;
    for (const auto &p : ps) names.push_back(p.name), fixed.push_back(p.fixed);
    // The first p list is overridden entirely by the second one.
    EXPECT_EQ(names, (std::vector<std::string>{"psi", "b", "p[1]", "p[2]", "p[3]", "p[4]"}));
    EXPECT_EQ(fixed, (std::vector<bool>{false, true, false, true, false, true}));
    EXPECT_EQ(named(ps, "p[3]").value, 0.5);
}

TEST(StudyParameters, WrittenWhereTheOptionPutsThem) {
    const Args args = command({"T=4", "N=10", "psi=.6", "p=.3", "gam=.1,.2,.3"});
    auto ps = study_parameters(kPrepare, args);
    // psi also opens the first survey's colonisation entry.
    Placed psi(args, named(ps, "psi"), 0.9);
    EXPECT_EQ(psi.q.ctx.psi, 0.9);
    EXPECT_EQ(psi.q.ctx.gam[0], 0.9);
    // A single value is replicated over the surveys.
    Placed p(args, named(ps, "p"), 0.9);
    for (int k = 0; k < 4; k++) EXPECT_EQ(p.q.ctx.pa[k], 0.9) << k;
    EXPECT_NE(p.q.ctx.pa[4], 0.9);
    // The colonisation list starts at entry 1.
    Placed g(args, named(ps, "gam[2]"), 0.9);
    EXPECT_EQ(g.q.ctx.gam[1], 0.1);
    EXPECT_EQ(g.q.ctx.gam[2], 0.9);
    EXPECT_EQ(g.q.ctx.gam[3], 0.3);
}

TEST(StudyParameters, OptionsFillingSeveralVectors) {
    const Args args = command({"T=3", "N=10", "psi=.6", "METH=2", "p1=.3", "p2=.5", "theta=.7"});
    auto ps = study_parameters(kPrepare, args);
    Placed p1(args, named(ps, "p1"), 0.9);
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(p1.q.ctx.pA[k], 0.9);
        EXPECT_EQ(p1.q.ctx.pa[k], 0.9);
        EXPECT_EQ(p1.q.ctx.pMS[0][1][k], 0.9);
        EXPECT_EQ(p1.q.ctx.pMS[0][2][k], 0.5);
    }
}

TEST(StudyParameters, ScalesAndRestoration) {
    auto ps = study_parameters(kPrepare, command({"T=2", "N=10", "psi=.8", "Lambda=2", "r=.3"}));
    const Parameter &lam = named(ps, "Lambda");
    EXPECT_EQ(lam.scale, Scale::Log);
    EXPECT_NEAR(lam.from_free(lam.to_free(2)), 2, 1e-15);
    EXPECT_NEAR(lam.derivative(lam.to_free(2)), 2, 1e-15);
    const Parameter &r = named(ps, "r");
    EXPECT_EQ(r.scale, Scale::Logit);
    EXPECT_NEAR(r.derivative(r.to_free(.3)), .21, 1e-15);

    QuietContext q;
    kPrepare(q.ctx, command({"T=2", "N=10", "psi=.8", "Lambda=2", "r=.3"}));
    ContextSlots slots(q.ctx, slot_prefix(q.ctx));
    q.ctx.nper = 7;
    q.ctx.b[0] = 5;
    slots.restore();
    EXPECT_EQ(q.ctx.nper, 2);
    EXPECT_EQ(q.ctx.b[0], 2);
    // Multistate tables the command line never reached stay unmade.
    for (int i = 0; i < kMaxStates; i++)
        for (int j = 0; j < kMaxStates; j++)
            EXPECT_FALSE(q.ctx.psiMS.allocated(i, j) || q.ctx.pMS.allocated(i, j));
}

TEST(StudyParameters, MultistateTablesTheCommandLineSetAreParametersAndRestored) {
    const Args args = command({"T=3", "N=100", "psi1=.6", "R0=.4", "p(1,1)=.5", "p(1,2)=.3", "p(2,2)=.4"});
    auto ps = study_parameters(kPrepare, args);
    EXPECT_FALSE(named(ps, "R0").slots.empty());
    QuietContext q;
    kPrepare(q.ctx, args);
    ContextSlots slots(q.ctx, slot_prefix(q.ctx));
    q.ctx.psiMS[1][0][0] = .9;
    slots.restore();
    EXPECT_EQ(q.ctx.psiMS[1][0][0], .4);
}

} // namespace
