// Command lines checked against the model that runs them: values the model
// reads must be set, of the right length and within 0..1 where they are
// probabilities; given options it does not read are pointed out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/model_reads.hpp"
#include "support/cli.hpp"

namespace {

using occusim::Args;
using occusim::testing::run_cli;
using occusim::testing::with;

struct Refusal {
    Args args;
    std::string err; // after "occusim8: error: "
};

TEST(ModelReads, RefusedBeforeAnyFileWithOneLineNamingTheArgument) {
    const std::vector<Refusal> cases = {
        // Unset, whichever way it happens: missing, misspelt, short, before T.
        {{"T=3", "N=100", "psi=.5"}, "p is not set: give p=x or one value per survey"},
        {{"T=3", "N=100", "psi=.5", "pp=.4"}, "p is not set: give p=x or one value per survey"},
        {{"T=5", "N=100", "psi=.5", "p=.3,.4"}, "p has 2 values for T=5 surveys: give one value or 5"},
        {{"p=.4", "T=3", "N=100", "psi=.5"}, "p=.4 came before T=3, so surveys 2-3 were not set: put T first"},
        {{"T=-3", "N=100", "psi=.5", "p=.4"},
         "p=.4 fills survey 1 only: a negative T (T=-3) does not spread one value over the surveys; give 3 "
         "values, or STOCH with T=3"},
        {{"T=3", "N=100", "psi=.5", "pi=.4"}, "p is not set: give p=x or one value per survey"},
        {{"T=3", "N=100", "Lambda=2", "ROYLE"}, "r is not set: give r=x or one value per survey"},
        {{"T=3", "N=100", "psi=.5", "Ent=.5", "STAG"}, "p is not set: give p=x or one value per survey"},
        // Too long, and transitions between surveys.
        {{"T=3", "N=100", "psi=.5", "p=.4,.3,.2,.1"}, "p has 4 values for T=3 surveys: give one value or 3"},
        {{"T=4", "N=100", "psi=.5", "p=.4", "gam=.1,.2"},
         "gam has 2 values for T=4 surveys (one value per change between surveys): give one value, 3 or 4"},
        {{"T=4", "N=100", "psiA=.5", "pA=.4", "pB=.3,.3"}, "pB has 2 values for T=4 surveys: give one value or 4"},
        // Probabilities the model reads.
        {{"T=3", "N=100", "psi=1.5", "p=.4"}, "psi=1.5: 1.5 is not a probability: give a value from 0 to 1"},
        {{"T=3", "N=100", "psi=50", "p=40"}, "psi=50: 50 is not a probability: give a value from 0 to 1"},
        {{"T=2", "N=100", "psiA=.5", "psiBA=1.2", "pA=.5"},
         "psiBA=1.2: 1.2 is not a probability: give a value from 0 to 1"},
        {{"T=2", "N=100", "psi=.5", "p=.5", "eps=.1,nan"},
         "eps=.1,nan: nan is not a probability: give a value from 0 to 1"},
        // The design.
        {{"T=3", "N=-100", "psi=.5", "p=.4"}, "N=-100: the number of sites cannot be negative"},
        {{"T=3", "N=abc", "psi=.5", "p=.4"}, "N=abc: the number of sites must be a number"},
        {{"T=0", "N=100", "psi=.5", "p=.4"}, "T=0: give at least one survey"},
        {{"N=100", "psi=.5", "p=.4", "SPS=2"}, "T is not set: give T=n, the number of surveys"},
        {{"SPS=2", "T=4", "N=100", "psi=.5", "p=.4"}, "SPS=2 came before T=4, which resets the seasons: put T first"},
    };
    for (const Refusal &c : cases) {
        auto r = run_cli(with(c.args, {"QUIET", "outfile=x.pao"}));
        SCOPED_TRACE(c.err);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.substr(r.err.find("occusim8: ", r.err.rfind('\n', r.err.size() - 2) + 1)),
                  "occusim8: error: " + c.err + "\n");
        EXPECT_FALSE(r.exists("x.pao"));
        EXPECT_FALSE(r.exists("occusim.pao"));
    }
}

TEST(ModelReads, ValuesAModelDoesNotReadAreNeverChecked) {
    // No occupied site ever reaches a detection probability; two species read
    // pA, not p; a ratio and an abundance may exceed 1.
    for (const Args &args : {Args{"T=1", "N=100", "psi=0", "p10=.5"},
                             Args{"T=2", "N=100", "psiA=.5", "pA=.4", "psiB=.4", "phi=1.5"},
                             Args{"T=3", "N=100", "Lambda=5", "r=.3", "SEED=1"},
                             Args{"T=2", "N=100", "pi=1", "psiA=.5", "pA=.4", "eta0AA=1", "INTEGRATED"}}) {
        auto r = run_cli(with(args, {"QUIET"}));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("occusim8: "), std::string::npos) << r.err;
    }
}

TEST(ModelReads, GivenOptionsTheModelDoesNotReadAreWarnedAndStrictRefusesThem) {
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"T=3", "N=100", "psi=.5", "p=.4", "SEED=3"},
         "SEED is not read by an expected-value run: add STOCH (or give a negative T, or SIMTYPE=2) for a random "
         "data set"},
        {{"T=3", "N=100", "psi=.5", "p=.4", "pB=.3"},
         "option pB is not read by the single-species model (pB is the second group's detection: add HET for the "
         "mixture)"},
        {{"T=3", "N=100", "psi=.5", "p=.4", "NCOVS=1", "coef=0,1"},
         "NCOVS is not read by a cohort run: site covariates need site-by-site simulation (SIMTYPE=2)"},
        {{"T=3", "N=100", "psi=.5", "p=.4", "coef=0,1", "SIMTYPE=2", "SEED=1"},
         "psi is not read: coef sets the occupancy intercept (logit scale) when there are site covariates"},
        {{"T=3", "N=100", "psiA=.5", "pA=.4", "p=.3"}, "option p is not read by the two-species model"},
        {{"T=2", "N=100", "psi=.5", "p=.4", "pi=.3", "p10=.2"},
         "option p10 is not read by the detection-mixture model"},
    };
    for (const auto &[args, warning] : cases) {
        auto r = run_cli(with(args, {"QUIET"}));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), "occusim8: warning: " + warning + "\n");
        auto plain = run_cli(with(args, {"QUIET", "STRICT"}));
        EXPECT_EQ(plain.status, 1) << warning;
        EXPECT_FALSE(plain.exists("occusim.pao"));
    }
}

// One example of every family, as the README shows it: none warns.
TEST(ModelReads, EveryFamilysExampleRunsWithoutAWarning) {
    const std::vector<Args> examples = {
        {"T=3", "N=100", "psi=.5", "p=.4"},
        {"T=3", "N=100", "psi=.5", "p=.4", "STOCH", "SEED=42"},
        {"T=4", "SPS=2", "N=100", "psi=.6", "p=.5", "gam=0,.2,0", "eps=0,.1,0"},
        {"T=3", "N=100", "psi=.6", "p=.3", "pi=.4", "pB=.8"},
        {"T=3", "N=100", "psi=.5", "p=.4", "p10=.05", "b=.5"},
        {"T=2", "N=100", "psi=.7", "METH=2", "th0=.8", "p1=.6", "p2=.4"},
        {"T=3", "N=100", "psi=.6", "p=.8", "th0=.2", "th1=.7", "SPADEP"},
        {"3", "100", ".5", ".4", ".5", ".6", ".2", ".3", ".4", ".7", ".8", ".9", ".1", ".2", ".3", "0", ".2", "0", "0",
         "T=3", "SPADMS"},
        {"T=2", "N=100", "psiA=.6", "psiBA=.5", "psiBa=.25", "pA=.5", "pB=.4", "rA=.8", "rBA=.5", "rBa=.25"},
        {"T=3", "N=100", "psiA=.6", "psiBA=.5", "psiBa=.25", "pA=.5", "pB=.4", "rA=.8", "rBA=.5", "rBa=.25",
         "thA=.5", "thA'=.8", "thBA=.6", "thBA'=.9", "thBa=.4", "thBa'=.7"},
        {"T=2", "SPS=1", "N=100", "psiA=.6", "psiBA=.5", "psiBa=.25", "pA=.5", "pB=.4", "rA=.8", "rBA=.5",
         "rBa=.25", "gamAb=.2", "gamAB=.4", "epsAb=.3", "epsAB=.1", "gamBaa=.2", "gamBaA=.5", "gamBAa=.3",
         "gamBAA=.6", "epsBaa=.25", "epsBaA=.5", "epsBAa=.4", "epsBAA=.2"},
        {"T=3", "N=100", "Lambda=1.5", "r=.3", "SEED=7"}, // it simulates: without SEED it says so
        {"T=2", "N=100", "MULTISTATE", "psi0=.6", "R0=.4", "p1=.5", "p2=.7", "dlta=.6"},
        {"T=2", "N=100", "NSTATES=3", "Psi=.3,.2", "phi(0;1)=.1", "phi(1;1)=.6", "phi(1;2)=.2", "phi(2;1)=.1",
         "phi(2;2)=.7", "p(1,1)=.5", "p(1,2)=.2", "p(2,2)=.6"},
        {"1", "100", ".5", "0", "0", ".6", "0", "0", "0", "0", "0", "0", "0", "0", ".5", ".8", "0", "0", "0", "0",
         "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", ".4", "0", "0", "0", "0", "0", "MSCD"},
        {"T=4", "SPS=2", "N=100", "psi=.7", "p=.6", "Ent=.5", "Dep=.3", "STAG"},
        {"T=2", "N=100", "pi=.5", "psiA=.8", "psiB=.6", "pA=.7", "pB=.6", "INTEGRATED"},
        {"T=5", "N=200", "p=.4", "NCOVS=1", "coef=0,1", "NPCOVS=1", "pcoef=-.8", "SIMTYPE=2", "SEED=1"},
    };
    for (const Args &args : examples) {
        auto r = run_cli(with(args, {"QUIET"}));
        EXPECT_EQ(r.status, 0) << args.back();
        EXPECT_EQ(r.err.find("occusim8: warning"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("occusim8: error"), std::string::npos) << r.err;
    }
}

TEST(ModelReads, FamiliesFollowTheDispatchOrder) {
    occusim::Context ctx;
    EXPECT_STREQ(occusim::model_family_of(ctx).name, "single-species");
    ctx.TWOSP = 1;
    EXPECT_STREQ(occusim::model_family_of(ctx).name, "two-species");
    ctx.HET = 1;
    EXPECT_STREQ(occusim::model_family_of(ctx).name, "heterogeneity");
    ctx.MS2 = 1;
    ctx.MULTISTATE = 1;
    EXPECT_STREQ(occusim::model_family_of(ctx).title, "phi-parameterised multistate");
}

} // namespace
