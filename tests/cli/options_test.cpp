// The option table: where each row stores its values, which switches it
// raises and what it echoes, grouped by list syntax; then the refusals of
// malformed or oversized arguments and the covariate coefficients.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/context.hpp"
#include "core/errors.hpp"
#include "cli/options.hpp"
#include "support/cli.hpp"
#include "support/history.hpp"

using occusim::Context;
using occusim::Vec;
using occusim::testing::run_cli;

namespace {

// A context with the vector defaults of a run, its console captured.
class Options : public ::testing::Test {
  protected:
    Options() {
        ctx.out = out_;
        ctx.err = err_;
        ctx.set_vector_defaults();
    }
    ~Options() override {
        ctx.out = stdout;
        ctx.err = stderr;
        std::fclose(out_);
        std::fclose(err_);
    }

    // Applies the arguments in order and returns what they echoed.
    std::string apply(const std::vector<std::string> &args) {
        for (const auto &a : args) occusim::apply_argument(ctx, a);
        return take(out_, out_seen_);
    }
    // What was written on standard error since the last call.
    std::string errors() { return take(err_, err_seen_); }

    Context ctx;

  private:
    // The text written to f since the last call.
    static std::string take(std::FILE *f, long &seen) {
        std::fflush(f);
        std::fseek(f, seen, SEEK_SET);
        std::string s;
        char buf[4096];
        std::size_t got;
        while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, got);
        seen = std::ftell(f);
        return s;
    }
    std::FILE *out_ = std::tmpfile();
    std::FILE *err_ = std::tmpfile();
    long out_seen_ = 0;
    long err_seen_ = 0;
};

std::string list_of(int count, const char *value) {
    std::string s;
    for (int i = 0; i < count; i++) s += (i ? "," : "") + std::string(value);
    return s;
}

// ---- syntax A: replication over the surveys known at that moment ----

TEST_F(Options, SingleValueAfterTIsReplicatedOverEverySurvey) {
    EXPECT_EQ(apply({"T=4", "p=.3"}), "T=4\np=[ 0.30 0.30 0.30 0.30]\n");
    for (int k = 0; k < 4; k++) EXPECT_EQ(ctx.pa[k], 0.3);
    EXPECT_EQ(ctx.pa[4], -1); // the first survey nobody set
}

TEST_F(Options, SingleValueBeforeTFillsOnlyTheFirstSurvey) {
    EXPECT_EQ(apply({"p=.3", "T=4"}), "p=[ 0.30]\nT=4\n");
    EXPECT_EQ(ctx.pa[0], 0.3);
    EXPECT_EQ(ctx.pa[1], -1);
}

TEST_F(Options, ShortListLeavesLaterSurveysUnset) {
    EXPECT_EQ(apply({"T=4", "p=.2,.3,.4"}), "T=4\np=[ 0.20 0.30 0.40]\n");
    EXPECT_EQ(ctx.pa[2], 0.4);
    EXPECT_EQ(ctx.pa[3], -1);
}

TEST_F(Options, NegativeTReplicatesNothing) {
    EXPECT_EQ(apply({"T=-5", "p=.3"}), "T=-5\np=[ 0.30]\n");
    EXPECT_EQ(ctx.pa[1], -1);
}

TEST_F(Options, ColonisationListStartsAtEntryOne) {
    EXPECT_EQ(apply({"T=3", "gam=.1", "Psi=.2,.3"}), "T=3\ngam=[ 0.10 0.10 0.10]\nPsi=[ 0.20 0.30]\n");
    EXPECT_EQ(ctx.gam[0], 0); // psi goes there after the arguments
    EXPECT_EQ(ctx.gam[1], 0.2);
    EXPECT_EQ(ctx.gam[2], 0.3);
    EXPECT_EQ(ctx.gam[3], 0.1);
}

// Every list row of syntax A: the vector and first entry it fills.
TEST_F(Options, EveryListRowFillsItsOwnVector) {
    struct Row {
        const char *name;
        Vec *v;
        int first;
    };
    const Row rows[] = {
        {"pi", &ctx.pi, 0},
        {"eps", &ctx.eps, 0},
        {"p10", &ctx.p10, 0},
        {"b", &ctx.b, 0},
        {"Lambda", &ctx.b, 0},
        {"thA", &ctx.thA[0], 0},
        {"Ent", &ctx.thA[0], 0},
        {"thA'", &ctx.thA[1], 0},
        {"Dep", &ctx.thA[1], 0},
        {"thBA", &ctx.thB[1][0], 0},
        {"thBA'", &ctx.thB[1][1], 0},
        {"thBa", &ctx.thB[0][0], 0},
        {"thBa'", &ctx.thB[0][1], 0},
        {"epsAb", &ctx.epsAb, 0},
        {"gamAb", &ctx.gamAb, 0},
        {"th0", &ctx.theta[0], 0},
        {"th1", &ctx.theta[1], 0},
        {"th0pi", &ctx.th0pi, 0},
        {"pA", &ctx.pA, 0},
        {"pB", &ctx.pB, 0},
        {"rA", &ctx.rA, 0},
        {"rBA", &ctx.rBA, 0},
        {"rBa", &ctx.rBa, 0},
        {"rB", &ctx.rB, 0},
        {"psiB", &ctx.psiB, 0},
        {"dlta", &ctx.dlta, 0},
        {"p3", &ctx.pMS[0][3], 0},
        {"Cpsi0", &ctx.psiMS[0][0], 1},
        {"Cpsi1", &ctx.psiMS[0][1], 1},
        {"Cpsi2", &ctx.psiMS[0][2], 1},
        {"psi1", &ctx.psiMS[0][0], 0},
        {"psi0", &ctx.psiMS[0][0], 0},
        {"psi2", &ctx.psiMS[1][0], 0},
        {"R0", &ctx.psiMS[1][0], 0},
        {"cR0", &ctx.psiMS[1][0], 1},
        {"cR1", &ctx.psiMS[1][1], 1},
        {"CR1", &ctx.psiMS[1][1], 1},
        {"cR2", &ctx.psiMS[1][2], 1},
        {"CR2", &ctx.psiMS[1][2], 1},
        {"eta0AA", &ctx.psiMS[0][0], 0},
        {"eta1AA", &ctx.psiMS[1][0], 0},
        {"eta0BA", &ctx.psiMS[0][1], 0},
        {"eta1BA", &ctx.psiMS[1][1], 0},
    };
    apply({"T=2"});
    double value = 0.01;
    for (const Row &r : rows) {
        value += 0.01;
        apply({occusim::testing::stringf("%s=%.17g,%.17g", r.name, value, value + 0.5)});
        EXPECT_EQ((*r.v)[r.first], value) << r.name;
        EXPECT_EQ((*r.v)[r.first + 1], value + 0.5) << r.name;
    }
}

TEST_F(Options, ListRowsRaiseTheirModelSwitches) {
    apply({"T=2", "pi=.5"});
    EXPECT_EQ(ctx.HET, 1);
    apply({"th1=.5"});
    EXPECT_EQ(ctx.SPADEP, 1);
    apply({"p10=.1"});
    EXPECT_EQ(ctx.FALSEPOS, 1);
    apply({"Lambda=2"});
    EXPECT_EQ(ctx.ROYLE, 1);
    EXPECT_EQ(ctx.NEGBIN, 0);
    apply({"Cpsi1=.2"});
    EXPECT_EQ(ctx.MULTISTATE, 1);
    EXPECT_EQ(ctx.INTEGRATED, 0);
    apply({"eta0BA=.2"});
    EXPECT_EQ(ctx.INTEGRATED, 1);
    EXPECT_EQ(ctx.TWOSP, 0);
    EXPECT_EQ(ctx.MS2, 0);
}

TEST_F(Options, EchoesOfTheListRows) {
    EXPECT_EQ(apply({"T=2", "Lambda=3"}), "T=2\n[ 3.00 3.00]\n");
    EXPECT_EQ(apply({"thA=.5"}), "thA:\n[ 0.50 0.50]\n");
    EXPECT_EQ(apply({"pB=.5,.25"}), "pB=[ 0.50 0.25]\n");
}

TEST_F(Options, MethodListsAlsoFillTheMultistateDetectionAndPa) {
    apply({"T=3", "p1=.4,.5", "p2=.6"});
    EXPECT_EQ(ctx.pA[1], 0.5);
    EXPECT_EQ(ctx.pMS[0][1][1], 0.5);
    EXPECT_EQ(ctx.pa[1], 0.5);
    EXPECT_EQ(ctx.pa[2], 0); // pA's unset third survey
    EXPECT_EQ(ctx.pB[2], 0.6);
    EXPECT_EQ(ctx.pMS[0][2][2], 0.6);
}

TEST_F(Options, MethodListWithMoreSurveysThanStorageStaysInside) {
    // T far beyond every vector, refused later by the run; the copy into
    // pa and pMS must not run past their storage meanwhile.
    apply({"T=50000", "p1=.4,.5", "p2=.3,.2"});
    EXPECT_EQ(ctx.pa[0], 0.4);
    EXPECT_EQ(ctx.pMS[0][2][1], 0.2);
}

// ---- r and c: one name, several rows ----

TEST_F(Options, RoyleNameFillsDetectionAndIndividualDetection) {
    EXPECT_EQ(apply({"r=.5,.6"}), "r=[ 0.50 0.60]\nr=[ 0.50 0.60]\n");
    EXPECT_EQ(ctx.pa[0], 0.5);
    EXPECT_EQ(ctx.pa[1], 0.6);
    EXPECT_EQ(ctx.rA[0], 0.5);
    EXPECT_EQ(ctx.rA[1], 0.6);
    EXPECT_EQ(ctx.ROYLE, 1);
    EXPECT_EQ(ctx.NICHOLS, 0);
}

TEST_F(Options, NicholsNameFillsBothVectorsAndRaisesOnlyItsSwitch) {
    EXPECT_EQ(apply({"T=2", "c=.3"}), "T=2\nc=[ 0.30 0.30]\nc=[ 0.30 0.30]\n");
    EXPECT_EQ(ctx.pa[1], 0.3);
    EXPECT_EQ(ctx.rA[1], 0.3);
    EXPECT_EQ(ctx.NICHOLS, 1);
    EXPECT_EQ(ctx.ROYLE, 0);
}

TEST_F(Options, NegativeBinomialScalarsGoIntoTheFirstTwoEntriesOfB) {
    EXPECT_EQ(apply({"u=2.5", "a=.75"}), "");
    EXPECT_EQ(ctx.b[0], 2.5);
    EXPECT_EQ(ctx.b[1], 0.75);
    EXPECT_EQ(ctx.NEGBIN, 1);
    EXPECT_EQ(ctx.ROYLE, 1);
}

// ---- the four blocks of gamB and epsB ----

TEST_F(Options, BlockNamesFillTheirBlockOnly) {
    struct Row {
        const char *name;
        Vec *v;
        int block;
    };
    const Row rows[] = {
        {"gamBaa", &ctx.gamB, 0}, {"gamAA", &ctx.gamB, 0},  {"gamBaA", &ctx.gamB, 1},
        {"gamBAa", &ctx.gamB, 2}, {"gamBA", &ctx.gamB, 2},  {"gamBAA", &ctx.gamB, 3},
        {"gamBB", &ctx.gamB, 3},  {"epsBaa", &ctx.epsB, 0}, {"epsAA", &ctx.epsB, 0},
        {"epsBaA", &ctx.epsB, 1}, {"epsBAa", &ctx.epsB, 2}, {"epsBA", &ctx.epsB, 2},
        {"epsBAA", &ctx.epsB, 3}, {"epsBB", &ctx.epsB, 3},
    };
    for (const Row &r : rows) {
        Context fresh;
        fresh.out = ctx.out;
        fresh.set_vector_defaults();
        occusim::apply_argument(fresh, "T=2");
        occusim::apply_argument(fresh, std::string(r.name) + "=.25");
        const Vec &v = r.v == &ctx.gamB ? fresh.gamB : fresh.epsB;
        for (int b = 0; b < 4; b++) {
            double want = b == r.block ? 0.25 : 0.0;
            EXPECT_EQ(v[1000 * b], want) << r.name << " block " << b;
            EXPECT_EQ(v[1000 * b + 1], want) << r.name << " block " << b;
        }
    }
}

TEST_F(Options, TwoSpeciesSecondListsAreCopiedIntoBlockOne) {
    EXPECT_EQ(apply({"T=3", "epsAB=.1,.2", "gamAB=.4"}),
              "T=3\nepsAB=[ 0.10 0.20]\ngamAB=[ 0.40 0.40 0.40]\n");
    EXPECT_EQ(ctx.epsAB[1], 0.2);
    EXPECT_EQ(ctx.epsB[1000], 0.1);
    EXPECT_EQ(ctx.epsB[1001], 0.2);
    EXPECT_EQ(ctx.epsB[1002], 0); // only the two entries the list filled
    EXPECT_EQ(ctx.epsB[0], 0);
    EXPECT_EQ(ctx.gamAB[2], 0.4);
    EXPECT_EQ(ctx.gamB[1002], 0.4);
    EXPECT_EQ(ctx.gamB[2000], 0);
}

TEST_F(Options, FullBlockListStopsAtTheNextBlock) {
    apply({"gamBaA=" + list_of(1000, ".5")});
    EXPECT_EQ(ctx.gamB[1999], 0.5);
    EXPECT_EQ(ctx.gamB[2000], 0);
}

// ---- syntax T: theta's two rows ----

TEST_F(Options, ThetaListFillsRowZeroThenRowOne) {
    EXPECT_EQ(apply({"T=3", "theta=.1,.2,.3,.4"}), "T=3\ntheta:\n");
    EXPECT_EQ(ctx.theta[0][0], 0.1);
    EXPECT_EQ(ctx.theta[0][2], 0.3);
    for (int j = 0; j < 3; j++) EXPECT_EQ(ctx.theta[1][j], 0.4);
}

TEST_F(Options, ThetaEntryZeroKeepsItsValueOnceTheListRanOut) {
    apply({"T=3", "theta=.1,.2,.3,.4,.5,.6", "theta=.9"});
    for (int j = 0; j < 3; j++) EXPECT_EQ(ctx.theta[0][j], 0.9);
    for (int j = 0; j < 3; j++) EXPECT_EQ(ctx.theta[1][j], 0.4) << j; // entry 0 kept, then copied
}

TEST_F(Options, ThetaBeforeTStoresNothing) {
    EXPECT_EQ(apply({"theta=.7", "T=2"}), "theta:\nT=2\n");
    EXPECT_EQ(ctx.theta[0][0], 0);
}

// ---- syntax M: phi(i,j) and p(i,j) ----

TEST_F(Options, IndexedListWithCommaStartsAtEntryZero) {
    EXPECT_EQ(apply({"T=3", "phi(0,2)=.1,.2"}), "T=3\nphi(0,2)=(0,2) [ 0.10 0.20]\n");
    EXPECT_EQ(ctx.psiMS[0][2][0], 0.1);
    EXPECT_EQ(ctx.psiMS[0][2][1], 0.2);
    EXPECT_EQ(ctx.NSTATES, 3);
    EXPECT_EQ(ctx.MS2, 0);
}

TEST_F(Options, IndexedListWithSemicolonStartsAtEntryOne) {
    EXPECT_EQ(apply({"T=3", "phi(0;2)=.1,.2"}), "T=3\nphi(0;2)=(0,2) [ 0.10 0.20]\n");
    EXPECT_EQ(ctx.psiMS[0][2][0], 0);
    EXPECT_EQ(ctx.psiMS[0][2][1], 0.1);
    EXPECT_EQ(ctx.psiMS[0][2][2], 0.2);
}

TEST_F(Options, IndexedSingleValueIsReplicatedAndRaisesTheStateCount) {
    EXPECT_EQ(apply({"T=3", "p(2;4)=.7"}), "T=3\np(2;4)=(2,4) [ 0.70 0.70 0.70]\n");
    for (int k = 1; k <= 3; k++) EXPECT_EQ(ctx.pMS[2][4][k], 0.7);
    EXPECT_EQ(ctx.pMS[2][4][0], 0);
    EXPECT_EQ(ctx.NSTATES, 5);
    apply({"phi(5,1)=.2"});
    EXPECT_EQ(ctx.NSTATES, 5); // never lowered
    EXPECT_EQ(ctx.psiMS[5][1][0], 0.2);
}

// ---- switches and scalars ----

TEST_F(Options, ScalarRowsAndTheirEchoes) {
    EXPECT_EQ(apply({"psiA=.25", "PsiA=.3", "psiBA=.4", "psiBa=.5", "METH=2", "SIMTYPE=2", "N=7"}),
              "psiA=0.25\npsiA=0.30\npsiBA=0.40\npsiBa=0.50\nMETH=2\nSIMTYPE=2\nN=7.000000\n");
    EXPECT_EQ(ctx.psiA, 0.3);
    EXPECT_EQ(ctx.METH, 2);
    EXPECT_EQ(apply({"STOCHASTIC", "NOBS=3", "NSTATES=4", "NCOVS=2", "SEED=77", "outfile=x.pao"}), "asdf\n");
    EXPECT_EQ(ctx.determ, 0);
    EXPECT_EQ(ctx.NOBS, 3);
    EXPECT_EQ(ctx.NSTATES, 4);
    EXPECT_EQ(ctx.MS2, 1);
    EXPECT_EQ(ctx.ncovs, 2);
    EXPECT_EQ(ctx.seed_value, 77);
    EXPECT_EQ(ctx.outfile, "x.pao");
}

TEST_F(Options, BareSwitches) {
    EXPECT_EQ(apply({"HET", "SPADMS", "MULTISTATE", "MSCD", "STAG", "INTEGRATED", "PAOF", "ROYLE", "REMOVAL",
                     "LIST", "P0MISS", "Stoch", "seed", "quiet"}),
              "");
    EXPECT_EQ(ctx.HET, 1);
    EXPECT_EQ(ctx.SPADEP, 2);
    EXPECT_EQ(ctx.MULTISTATE + ctx.MSCD + ctx.STAG + ctx.INTEGRATED + ctx.new_pao_opt + ctx.ROYLE, 6);
    EXPECT_EQ(ctx.REMOVAL + ctx.LIST + ctx.P0MISS, 3);
    EXPECT_EQ(ctx.determ, 1); // names compare case-sensitively
    EXPECT_EQ(ctx.QUIET, 0);
}

TEST_F(Options, TwoSpeciesSwitchTakesTheLaterArgument) {
    apply({"T=2", "thBA=.5", "phi=.3"});
    EXPECT_EQ(ctx.TWOSP, 1);
    EXPECT_EQ(ctx.phi, 0.3);

    Context b;
    b.out = ctx.out;
    b.set_vector_defaults();
    for (const char *a : {"pA=.4", "thBA=.5"}) occusim::apply_argument(b, a);
    EXPECT_EQ(b.TWOSP, 2);
    occusim::apply_argument(b, "pA=.6"); // pA only raises a switch that is still off
    EXPECT_EQ(b.TWOSP, 2);
    occusim::apply_argument(b, "phi=.1");
    EXPECT_EQ(b.TWOSP, 1);
}

TEST_F(Options, ArgumentReading) {
    occusim::Argument a = occusim::read_argument("==T==3=9", 4);
    EXPECT_EQ(a.name, "T");
    EXPECT_EQ(a.value, "3");
    EXPECT_EQ(a.position, 4);
    EXPECT_TRUE(a.has_value);
    a = occusim::read_argument("REMOVAL");
    EXPECT_EQ(a.name, "REMOVAL");
    EXPECT_EQ(a.value, "");
    EXPECT_FALSE(a.has_value);
    // Entries as the C library reads them, empty ones skipped; the whole value
    // is read once more as a single number.
    a = occusim::read_argument("p=.5,,2x,3e1");
    EXPECT_EQ(a.tokens, (std::vector<std::string>{".5", "2x", "3e1"}));
    EXPECT_EQ(a.numbers, (std::vector<double>{.5, 2, 30}));
    EXPECT_EQ(a.wholes, (std::vector<long>{0, 2, 3}));
    EXPECT_EQ(a.number, .5);
}

TEST_F(Options, SeasonCountEchoesTheCountFilled) {
    EXPECT_EQ(apply({"T=10", "SPS=5"}),
              "T=10\nSPS=[ 5 5 5 5 5 5 5 5 5 5]\nnseasns=10 nper=10\nseason 1  surveys=5\n");
    EXPECT_EQ(ctx.nseasns, 2);
    EXPECT_EQ(apply({"SRVYPERSEASN=4,3,3,9"}),
              "SRVYPERSEASN=[ 4 3 3 9]\nnseasns=4 nper=10\nseason 1  surveys=3\nseason 2  surveys=3\n");
    EXPECT_EQ(ctx.nseasns, 3);
}

// ---- covariate coefficients ----

TEST_F(Options, WithoutCoefficientsTheInterceptIsOne) {
    occusim::setup_coefficients(ctx);
    EXPECT_EQ(ctx.ncovs, 0);
    EXPECT_EQ(ctx.coef, Vec({1.0}));
    EXPECT_EQ(errors(), "");
}

TEST_F(Options, SingleCoefficientIsTheInterceptAlone) {
    EXPECT_EQ(apply({"T=3", "coef=.5"}), "T=3\ncoef=[ 0.50 0.50 0.50]\n");
    occusim::setup_coefficients(ctx);
    EXPECT_EQ(ctx.ncovs, 0);
    EXPECT_EQ(ctx.coef, Vec({0.5}));
}

TEST_F(Options, CoefficientListGivesTheCovariateCount) {
    apply({"coef=.1,1,-1"});
    occusim::setup_coefficients(ctx);
    EXPECT_EQ(ctx.ncovs, 2);
    EXPECT_EQ(ctx.coef, Vec({0.1, 1.0, -1.0}));
    EXPECT_EQ(errors(), "");
}

TEST_F(Options, CovariateCountBeyondTheSlopesWarnsAndFillsZeros) {
    apply({"NCOVS=3", "coef=.1,2"});
    occusim::setup_coefficients(ctx);
    EXPECT_EQ(ctx.coef, Vec({0.1, 2.0, 0.0, 0.0}));
    EXPECT_EQ(errors(), "occusim8: warning: NCOVS=3 but 1 slopes given; missing slopes are 0\n");

    Context bare;
    bare.err = ctx.err;
    occusim::apply_argument(bare, "NCOVS=2");
    occusim::setup_coefficients(bare);
    EXPECT_EQ(bare.coef, Vec({1.0, 0.0, 0.0}));
    EXPECT_EQ(errors(), "occusim8: warning: NCOVS=2 but 0 slopes given; missing slopes are 0\n");
}

TEST_F(Options, SlopesBeyondTheCovariateCountAreIgnored) {
    apply({"coef=.1,2,3,4", "NCOVS=1"});
    occusim::setup_coefficients(ctx);
    EXPECT_EQ(ctx.ncovs, 1);
    EXPECT_EQ(ctx.coef, Vec({0.1, 2.0}));
    EXPECT_EQ(errors(), "");
}

// ---- refusals: one line on standard error, status 1, no file written ----

void expect_refused(const std::vector<std::string> &extra, const std::string &message) {
    auto r = run_cli(occusim::testing::with({"T=3", "N=10", "psi=.5", "p=.4"}, extra));
    EXPECT_EQ(r.status, 1) << message;
    EXPECT_EQ(r.err, "occusim8: error: " + message + "\n");
    EXPECT_FALSE(r.exists("occusim.pao")) << message;
}

TEST(OptionRefusals, IndexedNamesNeedTwoStateDigits) {
    expect_refused({"phi(6,1)=.5"},
                   "argument 'phi(6,1)': indices must be two digits from 0 to 5, as in phi(1,2)");
    expect_refused({"p(a,1)=.5"}, "argument 'p(a,1)': indices must be two digits from 0 to 5, as in p(1,2)");
    expect_refused({"p(1)=.5"}, "argument 'p(1)': indices must be two digits from 0 to 5, as in p(1,2)");
    expect_refused({"phi(1,-)=.5"},
                   "argument 'phi(1,-)': indices must be two digits from 0 to 5, as in phi(1,2)");
}

TEST(OptionRefusals, SurveysBeyondTheVectorCannotTakeAReplicatedValue) {
    expect_refused({"T=1000", "SIMTYPE=2", "gam=.1"},
                   "argument 'gam': 1000 surveys do not fit the 999 entries of its vector");
    expect_refused({"T=1001", "SIMTYPE=2", "gamBaA=.1"},
                   "argument 'gamBaA': 1001 surveys do not fit the 1000 entries of its vector");
}

// A command-line argument holds at most 511 characters, so lists this long
// reach the table only from callers that build arguments themselves.
TEST_F(Options, ListsLongerThanTheirVectorOrBlockAreRefused) {
    auto refused = [&](const std::string &arg, const std::string &message) {
        try {
            occusim::apply_argument(ctx, arg);
            ADD_FAILURE() << "accepted " << arg.substr(0, 20);
        } catch (const occusim::InputError &e) {
            EXPECT_EQ(std::string(e.what()), message);
        }
    };
    refused("p=" + list_of(3201, ".1"),
            "argument 'p': list of 3201 values does not fit the 3200 entries of its vector");
    refused("gam=" + list_of(1000, ".1"),
            "argument 'gam': list of 1000 values does not fit the 999 entries of its vector");
    refused("gamBaA=" + list_of(1001, ".1"),
            "argument 'gamBaA': list of 1001 values does not fit the 1000 entries of its vector");
    refused("phi(0;1)=" + list_of(1000, ".1"),
            "argument 'phi(0;1)': list of 1000 values does not fit the 999 entries of its vector");
    refused("SPS=" + list_of(1001, "1"),
            "argument 'SPS': list of 1001 values does not fit the 1000 entries of its vector");
    EXPECT_EQ(ctx.gamB[1000], 0); // nothing stored from a refused list
}

TEST(OptionRefusals, CovariateWarningPrecedesTheSeedLineAndIgnoresQuiet) {
    std::vector<std::string> args{"T=3",       "N=2",    "psi=.5",  "p=.4",
                                  "SIMTYPE=2", "SEED=3", "NCOVS=2", "coef=1,2"};
    auto r = run_cli(args);
    EXPECT_EQ(r.status, 0);
    const std::string psi_unread = "occusim8: warning: psi is not read: coef sets the occupancy intercept (logit "
                                   "scale) when there are site covariates\n";
    EXPECT_EQ(r.err, "occusim8: warning: NCOVS=2 but 1 slopes given; missing slopes are 0\n" + psi_unread + "seed=3\n");
    args.push_back("QUIET");
    auto q = run_cli(args);
    EXPECT_EQ(q.err, "occusim8: warning: NCOVS=2 but 1 slopes given; missing slopes are 0\n" + psi_unread);
}

} // namespace
