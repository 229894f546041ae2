// The rows of the option table, in the order in which they apply, and the
// small store-and-echo actions they share.
#include "cli/option_table.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cli/options.hpp"
#include "core/errors.hpp"

namespace occusim {

namespace {


// Surveys whose entries a per-survey copy may touch: T can be set larger than
// the storage before the run refuses it, and a short list does not stop it.
int surveys_in_storage(const Context &ctx) {
    return ctx.nper < kStorage ? ctx.nper : kStorage;
}

// Season count after an SRVYPERSEASN list: `given` is the count the list
// filled (a single value replicated over the surveys counts as nper), then
// the number of leading seasons needed to reach nper surveys.
void count_seasons(Context &ctx, int given) {
    std::fprintf(ctx.out, "nseasns=%d nper=%d\n", given, ctx.nper);
    ctx.nseasns = 1;
    long total = ctx.SRVYPERSEASN[0];
    while (total < ctx.nper) {
        if (ctx.nseasns >= kVecLen)
            input_error("argument 'SRVYPERSEASN': more than %d seasons needed to reach T=%d", kVecLen,
                        ctx.nper);
        int len = ctx.SRVYPERSEASN[ctx.nseasns];
        std::fprintf(ctx.out, "season %d  surveys=%d\n", ctx.nseasns, len);
        if (len <= 0) {
            std::fprintf(ctx.out, "\n*** error: surveys per season(%d) = 0 ***\n\n", ctx.nseasns);
            finish(1);
        }
        total += len;
        ctx.nseasns++;
    }
}

// "name=" and the list (syntax A). Returns the count filled.
int echo_vec(Context &ctx, const Argument &a, Vec &v, int offset = 0, int cap = kVecLen) {
    std::fprintf(ctx.out, "%s=", a.name.c_str());
    return get_arg_vec(ctx, a, v, offset, cap);
}

// "name:" on its own line and the list.
void echo_block(Context &ctx, const Argument &a, Vec &v) {
    std::fprintf(ctx.out, "%s:\n", a.name.c_str());
    get_arg_vec(ctx, a, v, 0, kVecLen);
}

// One of the four blocks of gamB / epsB. Each block is its own parameter (the
// transition for one combination of the other species' states), so a list
// must fit its block of 1000 entries and never runs on into the next block.
void echo_in_block(Context &ctx, const Argument &a, Vec &v, int block) {
    echo_vec(ctx, a, v, block * kVecLen, (block + 1) * kVecLen);
}

// "phi(i,j)=" / "p(i,j)=" and the indexed list (syntax M).
void echo_indexed(Context &ctx, const Argument &a, std::size_t prefix,
                  std::array<std::array<Vec, kMaxStates>, kMaxStates> &table) {
    std::fprintf(ctx.out, "%s=", a.name.c_str());
    get_arg_phi(ctx, a, a.name.substr(prefix), table);
}

// NULLS=name:x,name:x,...: a parameter name (it may hold brackets or
// parentheses) and its null value, read once into the context.
std::vector<std::pair<std::string, double>> read_nulls(const std::string &value) {
    std::vector<std::pair<std::string, double>> nulls;
    std::size_t at = 0;
    while (at <= value.size()) {
        std::size_t comma = value.find(',', at);
        if (comma == std::string::npos) comma = value.size();
        const std::string item = value.substr(at, comma - at);
        const std::size_t colon = item.rfind(':');
        const char *number = colon == std::string::npos ? "" : item.c_str() + colon + 1;
        char *end = nullptr;
        const double v = std::strtod(number, &end);
        if (colon == std::string::npos || colon == 0 || end == number || *end != '\0' || !std::isfinite(v))
            input_error("NULLS: '%s' is not name:value", item.c_str());
        nulls.emplace_back(item.substr(0, colon), v);
        at = comma + 1;
    }
    return nulls;
}

constexpr auto V = ValueKind::None;
constexpr auto I = ValueKind::Integer;
constexpr auto L = ValueKind::Long;
constexpr auto R = ValueKind::Real;
constexpr auto A = ValueKind::List;
constexpr auto E = Echo::None;
constexpr auto F = Family::Design;

const OptionRow kRows[] = {
    // ---- study design and run ----
    {{"T"}, false, I, Echo::Scalar, F, false, "n",
     "number of surveys (negative: a stochastic run with that many surveys)",
     [](Context &c, const Argument &a) {
         c.nper = static_cast<int>(a.whole);
         c.SRVYPERSEASN[0] = c.nper;
         std::fprintf(c.out, "T=%d\n", c.nper);
     }},
    {{"N"}, false, R, Echo::Scalar, F, false, "x", "number of sites",
     [](Context &c, const Argument &a) {
         c.ns = a.number;
         std::fprintf(c.out, "N=%f\n", c.ns);
     }},
    {{"psi"}, false, R, Echo::Scalar, Family::Single, true, "x", "occupancy probability at the first survey",
     [](Context &c, const Argument &a) {
         c.psi = a.number;
         std::fprintf(c.out, "psi=%4.2f\n", c.psi);
     }},
    {{"psiA", "PsiA"}, false, R, Echo::Scalar, Family::TwoSpecies, true, "x",
     "probability that species A is present",
     [](Context &c, const Argument &a) {
         c.psiA = a.number;
         std::fprintf(c.out, "psiA=%4.2f\n", c.psiA);
     }},
    {{"psiBA"}, false, R, Echo::Scalar, Family::TwoSpecies, true, "x",
     "probability that B is present where A is present",
     [](Context &c, const Argument &a) {
         c.psiBA = a.number;
         std::fprintf(c.out, "psiBA=%4.2f\n", c.psiBA);
     }},
    {{"psiBa"}, false, R, Echo::Scalar, Family::TwoSpecies, true, "x",
     "probability that B is present where A is absent",
     [](Context &c, const Argument &a) {
         c.psiBa = a.number;
         std::fprintf(c.out, "psiBa=%4.2f\n", c.psiBa);
     }},
    {{"phi"}, false, R, Echo::Scalar, Family::TwoSpecies, false, "x",
     "species interaction factor (co-occurrence ratio; with psiA and psiB)",
     [](Context &c, const Argument &a) {
         c.phi = a.number;
         c.TWOSP = 1;
         std::fprintf(c.out, "phi=%4.2f\n", c.phi);
     }},
    {{"r"}, false, V, E, Family::Abundance, false, "",
     "Royle-Nichols abundance model (r=a,b,... also sets the individual detection probability)",
     [](Context &c, const Argument &) { c.ROYLE = 1; }},
    {{"c"}, false, V, E, Family::Abundance, false, "",
     "detection/non-detection counts of the abundance model (c=a,b,... as r; needs ROYLE, r, u, a or Lambda)",
     [](Context &c, const Argument &) { c.NICHOLS = 1; }},
    {{"SIMTYPE"}, false, I, Echo::Scalar, Family::Run, false, "n",
     "1: recursion by cohort; 2 or more: simulate site by site (a random data set)",
     [](Context &c, const Argument &a) {
         c.SIMTYPE = static_cast<int>(a.whole);
         std::fprintf(c.out, "SIMTYPE=%d\n", c.SIMTYPE);
     }},
    {{"STOCH"}, true, V, Echo::Marker, Family::Run, false, "",
     "a random data set instead of expected values (any name beginning STOCH)",
     [](Context &c, const Argument &) {
         c.determ = 0;
         std::fprintf(c.out, "asdf\n");
     }},
    {{"QUIET"}, false, V, E, Family::Run, false, "",
     "no ARG[i] or seed lines; the echo stays (any argument containing QUIET or quiet)",
     [](Context &c, const Argument &) { c.QUIET = 1; }},
    {{"REMOVAL"}, false, V, E, Family::Single, false, "", "removal design: surveys after the first detection show - (not surveyed)",
     [](Context &c, const Argument &) { c.REMOVAL = 1; }},
    {{"HET"}, false, V, E, Family::Heterogeneity, false, "", "two-group mixture of detection probabilities (p in the first group, pB in the second)",
     [](Context &c, const Argument &) { c.HET = 1; }},
    {{"LIST"}, false, V, E, Family::Run, false, "", "list the histories on the console",
     [](Context &c, const Argument &) { c.LIST = 1; }},
    {{"P0MISS"}, false, V, E, Family::Run, false, "", "'.' (missing) instead of 0 for surveys with p=0",
     [](Context &c, const Argument &) { c.P0MISS = 1; }},
    {{"METH"}, false, I, Echo::Scalar, Family::MultiMethod, false, "n",
     "detection methods per survey (p1, p2, p3 by method; th0 availability)",
     [](Context &c, const Argument &a) {
         c.METH = static_cast<int>(a.whole);
         std::fprintf(c.out, "METH=%d\n", c.METH);
     }},
    {{"SPADEP"}, false, V, E, Family::Spatial, false, "", "spatially correlated detections (th0, th1)",
     [](Context &c, const Argument &) { c.SPADEP = 1; }},
    {{"SPADMS"}, false, V, E, Family::Spatial, false, "",
     "spatial correlation with site records; parameters as plain numbers at the front: "
     "T N psi p[T] th0[T] th1[T] pi[T] eps[T-1] gam[T-1]",
     [](Context &c, const Argument &) { c.SPADEP = 2; }},
    {{"NOBS"}, false, I, E, Family::Run, false, "n", "copies of each simulated history (site by site)",
     [](Context &c, const Argument &a) { c.NOBS = static_cast<int>(a.whole); }},
    {{"NSTATES"}, false, I, E, Family::Multistate, false, "n",
     "occupancy states of the phi-parameterised multistate model (with Psi, phi(i,j), p(i,j))",
     [](Context &c, const Argument &a) {
         c.NSTATES = static_cast<int>(a.whole);
         c.MS2 = 1;
     }},
    {{"MULTISTATE"}, false, V, E, Family::Multistate, false, "",
     "multistate (breeding) occupancy model with psi0, R0, p1, p2, dlta",
     [](Context &c, const Argument &) { c.MULTISTATE = 1; }},
    {{"MSCD"}, false, V, E, Family::Multistate, false, "",
     "multistate model with correlated detection; 40 plain numbers at the front: T N psi1..psi3, "
     "detection by code and level (9), level moves (20), initial levels (6)",
     [](Context &c, const Argument &) { c.MSCD = 1; }},
    {{"STAG"}, false, V, E, Family::StaggeredEntry, false, "", "staggered entry and departure model (Ent, Dep)",
     [](Context &c, const Argument &) { c.STAG = 1; }},
    {{"INTEGRATED"}, false, V, E, Family::Integrated, false, "",
     "integrated occupancy and movement model between two areas A and B",
     [](Context &c, const Argument &) { c.INTEGRATED = 1; }},
    {{"PAOF"}, false, V, E, Family::Multistate, false, "",
     "site-by-site multistate run: simulate one site and write it with the count N",
     [](Context &c, const Argument &) { c.new_pao_opt = 1; }},
    {{"ROYLE"}, false, V, E, Family::Abundance, false, "", "Royle-Nichols abundance model",
     [](Context &c, const Argument &) { c.ROYLE = 1; }},
    {{"SEED", "seed"}, false, L, E, Family::Run, false, "n",
     "seed of a random run (default: from the clock; 0 asks for one)",
     [](Context &c, const Argument &a) { c.seed_value = a.whole; }},
    {{"outfile"}, false, ValueKind::Text, E, Family::Run, false, "name",
     "name of the history file (default occusim.pao)",
     [](Context &c, const Argument &a) {
         if (a.value.size() >= static_cast<std::size_t>(kOutfileLen))
             input_error("argument 'outfile': a file name of %zu characters is longer than %d", a.value.size(),
                         kOutfileLen - 1);
         c.outfile = a.value;
     }},
    {{"NCOVS"}, false, I, E, Family::Single, false, "n",
     "number of site covariates of a site-by-site run (default: slopes given by coef)",
     [](Context &c, const Argument &a) {
         c.ncovs = static_cast<int>(a.whole);
         c.ncovs_seen = true;
     }},
    {{"p", "r", "c"}, false, A, Echo::List, Family::Single, true, "a,b,...",
     "detection probability per survey (r, c: of an individual in the abundance model)",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.pa, 0, kPaLen); }},
    {{"pi"}, false, A, Echo::List, Family::Heterogeneity, true, "a,b,...",
     "mixture proportion of the first detection group (raises HET)",
     [](Context &c, const Argument &a) {
         echo_vec(c, a, c.pi);
         c.HET = 1;
     }},
    {{"eps"}, false, A, Echo::List, Family::Dynamic, true, "a,b,...",
     "extinction probability between surveys (seasons)",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.eps); }},
    {{"gam"}, false, A, Echo::List, Family::Dynamic, true, "a,b,...",
     "colonisation probability between surveys (seasons), from the second survey",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.gam, 1); }},
    {{"p10"}, false, A, Echo::List, Family::FalsePositive, true, "a,b,...",
     "false-positive detection probability at unoccupied sites",
     [](Context &c, const Argument &a) {
         echo_vec(c, a, c.p10);
         c.FALSEPOS = 1;
     }},
    {{"b"}, false, A, Echo::List, Family::FalsePositive, false, "a,b,...",
     "probability that a detection is certain (abundance model: mean abundance, as Lambda)",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.b); }},
    {{"u"}, false, R, E, Family::Abundance, false, "x", "mean abundance of the negative binomial abundance model",
     [](Context &c, const Argument &a) {
         c.b[0] = a.number;
         c.NEGBIN = 1;
         c.ROYLE = 1;
     }},
    {{"a"}, false, R, E, Family::Abundance, false, "x",
     "dispersion of the negative binomial abundance model (give it after Lambda or b)",
     [](Context &c, const Argument &a) {
         c.b[1] = a.number;
         c.NEGBIN = 1;
         c.ROYLE = 1;
     }},
    {{"Lambda"}, false, A, Echo::Bare, Family::Abundance, false, "x", "mean abundance per site (Poisson)",
     [](Context &c, const Argument &a) {
         get_arg_vec(c, a, c.b, 0, kVecLen);
         c.ROYLE = 1;
     }},
    {{"theta"}, false, ValueKind::TwoRows, Echo::After, Family::Spatial, true, "a,b,...",
     "local availability, not available before (T values) then available before (T values)",
     [](Context &c, const Argument &a) {
         get_arg_vec2(c, a, c.theta);
         std::fprintf(c.out, "%s:\n", a.name.c_str());
     }},
    {{"thA", "Ent"}, false, A, Echo::Block, Family::TwoSpecies, true, "a,b,...",
     "A available at a survey when not before (staggered entry: entry probability)",
     [](Context &c, const Argument &a) { echo_block(c, a, c.thA[0]); }},
    {{"thA'", "Dep"}, false, A, Echo::Block, Family::TwoSpecies, true, "a,b,...",
     "A available at a survey when available before (staggered entry: departure probability)",
     [](Context &c, const Argument &a) { echo_block(c, a, c.thA[1]); }},
    {{"thBA"}, false, A, Echo::Block, Family::TwoSpecies, true, "a,b,...",
     "B available, A available, B not before (correlated detections)",
     [](Context &c, const Argument &a) {
         echo_block(c, a, c.thB[1][0]);
         c.TWOSP = 2;
     }},
    {{"thBA'"}, false, A, Echo::Block, Family::TwoSpecies, true, "a,b,...", "B available, A available, B before",
     [](Context &c, const Argument &a) { echo_block(c, a, c.thB[1][1]); }},
    {{"thBa"}, false, A, Echo::Block, Family::TwoSpecies, true, "a,b,...",
     "B available, A not available, B not before",
     [](Context &c, const Argument &a) { echo_block(c, a, c.thB[0][0]); }},
    {{"thBa'"}, false, A, Echo::Block, Family::TwoSpecies, true, "a,b,...",
     "B available, A not available, B before",
     [](Context &c, const Argument &a) { echo_block(c, a, c.thB[0][1]); }},
    {{"epsAb"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...", "extinction of A where B is absent",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.epsAb); }},
    {{"epsAB"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...",
     "extinction of A where B is present (integrated model: of an A unit moving to B)",
     [](Context &c, const Argument &a) {
         int count = echo_vec(c, a, c.epsAB);
         for (int k = 0; k < count; k++) c.epsB[kVecLen + k] = c.epsAB[k];
     }},
    {{"epsBaA"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...", "extinction of B: A now, B alone before",
     [](Context &c, const Argument &a) { echo_in_block(c, a, c.epsB, 1); }},
    {{"epsBaa"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...", "extinction of B: A absent throughout",
     [](Context &c, const Argument &a) { echo_in_block(c, a, c.epsB, 0); }},
    {{"epsBAA"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...", "extinction of B: A present throughout",
     [](Context &c, const Argument &a) { echo_in_block(c, a, c.epsB, 3); }},
    {{"epsBAa"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...", "extinction of B: A before, not now",
     [](Context &c, const Argument &a) { echo_in_block(c, a, c.epsB, 2); }},
    {{"gamAb"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...", "colonisation by A where B is absent",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.gamAb); }},
    {{"gamAB"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...",
     "colonisation by A where B is present (integrated model: of an A unit moving to B)",
     [](Context &c, const Argument &a) {
         int count = echo_vec(c, a, c.gamAB);
         for (int k = 0; k < count; k++) c.gamB[kVecLen + k] = c.gamAB[k];
     }},
    {{"gamBaA"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...", "colonisation by B: A now, not before",
     [](Context &c, const Argument &a) { echo_in_block(c, a, c.gamB, 1); }},
    {{"gamBaa"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...", "colonisation by B: A absent throughout",
     [](Context &c, const Argument &a) { echo_in_block(c, a, c.gamB, 0); }},
    {{"gamBAA"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...",
     "colonisation by B: A present throughout",
     [](Context &c, const Argument &a) { echo_in_block(c, a, c.gamB, 3); }},
    {{"gamBAa"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...", "colonisation by B: A before, not now",
     [](Context &c, const Argument &a) { echo_in_block(c, a, c.gamB, 2); }},
    {{"th0"}, false, A, Echo::Block, Family::Spatial, true, "a,b,...",
     "local presence when not present at the survey before (multi-method: availability)",
     [](Context &c, const Argument &a) { echo_block(c, a, c.theta[0]); }},
    {{"th1"}, false, A, Echo::Block, Family::Spatial, true, "a,b,...",
     "local presence when present at the survey before (raises SPADEP)",
     [](Context &c, const Argument &a) {
         echo_block(c, a, c.theta[1]);
         c.SPADEP = 1;
     }},
    {{"th0pi"}, false, A, Echo::List, Family::Spatial, true, "a,b,...",
     "local presence just before the first survey of a season",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.th0pi); }},
    {{"SRVYPERSEASN", "SPS"}, false, ValueKind::IntList, Echo::Seasons, F, false, "n,m,...",
     "surveys per season (a single value: every season that long)",
     [](Context &c, const Argument &a) {
         std::fprintf(c.out, "%s=", a.name.c_str());
         count_seasons(c, get_arg_ivec(c, a, c.SRVYPERSEASN, kVecLen));
     }},
    {{"coef"}, false, A, Echo::List, Family::Single, false, "b0,b1,...",
     "logistic coefficients of occupancy: intercept, then one slope per site covariate",
     [](Context &c, const Argument &a) {
         // The values are kept for the covariate set-up after all arguments.
         Vec shown(kStorage, 0.0);
         echo_vec(c, a, shown);
         c.coef_given.clear();
         c.coef_given = a.numbers;
         c.coef_seen = true;
     }},
    {{"pA"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...",
     "detection of A where A alone is present (integrated model: in area A)",
     [](Context &c, const Argument &a) {
         echo_vec(c, a, c.pA);
         if (c.TWOSP <= 0) c.TWOSP = 1;
     }},
    {{"pB"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...",
     "detection of B where B alone is present (integrated model: in area B; mixture: of the second group)",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.pB); }},
    {{"rA", "r", "c"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...",
     "detection of A where both species are present",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.rA); }},
    {{"rBA"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...", "detection of B, both present, A detected",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.rBA); }},
    {{"rBa"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...",
     "detection of B, both present, A not detected",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.rBa); }},
    {{"rB"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...",
     "detection of B where both are present (phi parameterisation)",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.rB); }},
    {{"psiB"}, false, A, Echo::List, Family::TwoSpecies, true, "a,b,...",
     "probability that B is present (phi parameterisation; integrated model: occupancy in area B)",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.psiB); }},
    {{"dlta"}, false, A, Echo::List, Family::Multistate, false, "a,b,...",
     "detection of young at a detected breeding site (two species, phi parameterisation: detection ratio)",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.dlta); }},
    {{"p1"}, false, A, Echo::List, Family::Multistate, true, "a,b,...",
     "detection in state 1 (multi-method: by method 1)",
     [](Context &c, const Argument &a) {
         echo_vec(c, a, c.pA);
         for (int k = 0; k < surveys_in_storage(c); k++) c.pMS[0][1][k] = c.pa[k] = c.pA[k];
     }},
    {{"p2"}, false, A, Echo::List, Family::Multistate, true, "a,b,...",
     "detection in state 2 (multi-method: by method 2)",
     [](Context &c, const Argument &a) {
         echo_vec(c, a, c.pB);
         for (int k = 0; k < surveys_in_storage(c); k++) c.pMS[0][2][k] = c.pB[k];
     }},
    {{"p3"}, false, A, Echo::List, Family::MultiMethod, true, "a,b,...", "detection by method 3",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.pMS[0][3]); }},
    {{"Cpsi0"}, false, A, Echo::List, Family::Multistate, true, "a,b,...",
     "occupancy after a season unoccupied (from the second season; raises MULTISTATE)",
     [](Context &c, const Argument &a) {
         echo_vec(c, a, c.psiMS[0][0], 1);
         c.MULTISTATE = 1;
     }},
    {{"Cpsi1"}, false, A, Echo::List, Family::Multistate, true, "a,b,...",
     "occupancy after a season with adults (from the second season)",
     [](Context &c, const Argument &a) {
         echo_vec(c, a, c.psiMS[0][1], 1);
         c.MULTISTATE = 1;
     }},
    {{"Cpsi2"}, false, A, Echo::List, Family::Multistate, true, "a,b,...",
     "occupancy after a season with breeders (from the second season)",
     [](Context &c, const Argument &a) {
         echo_vec(c, a, c.psiMS[0][2], 1);
         c.MULTISTATE = 1;
     }},
    {{"psi1", "psi0"}, false, A, Echo::List, Family::Multistate, true, "a,b,...",
     "initial occupancy of the multistate model (raises MULTISTATE)",
     [](Context &c, const Argument &a) {
         echo_vec(c, a, c.psiMS[0][0]);
         c.MULTISTATE = 1;
     }},
    {{"psi2"}, false, A, Echo::List, Family::Multistate, true, "a,b,...", "as R0",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.psiMS[1][0]); }},
    {{"R0"}, false, A, Echo::List, Family::Multistate, true, "a,b,...",
     "probability that an occupied site is breeding (first season)",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.psiMS[1][0]); }},
    {{"cR0"}, false, A, Echo::List, Family::Multistate, true, "a,b,...",
     "breeding after a season unoccupied (from the second season)",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.psiMS[1][0], 1); }},
    {{"cR1", "CR1"}, false, A, Echo::List, Family::Multistate, true, "a,b,...",
     "breeding after a season with adults (from the second season)",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.psiMS[1][1], 1); }},
    {{"cR2", "CR2"}, false, A, Echo::List, Family::Multistate, true, "a,b,...",
     "breeding after a season with breeders (from the second season)",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.psiMS[1][2], 1); }},
    {{"phi("}, true, ValueKind::Indexed, Echo::Indexed, Family::Multistate, true, "a,b,...",
     "phi(i,j): transition from state i to state j (phi(i;j): from the second survey)",
     [](Context &c, const Argument &a) { echo_indexed(c, a, 4, c.psiMS); }},
    {{"p("}, true, ValueKind::Indexed, Echo::Indexed, Family::Multistate, true, "a,b,...",
     "p(i,j): observing state i when the true state is j (p(i;j): from the second survey)",
     [](Context &c, const Argument &a) { echo_indexed(c, a, 2, c.pMS); }},
    {{"Psi"}, false, A, Echo::List, Family::Multistate, true, "a,b,...",
     "initial state probabilities of the phi-parameterised model (states 1, 2, ...)",
     [](Context &c, const Argument &a) { echo_vec(c, a, c.gam, 1); }},
    {{"eta0AA"}, false, A, Echo::List, Family::Integrated, true, "a,b,...",
     "unoccupied unit in A moves to (stays in) A; raises INTEGRATED",
     [](Context &c, const Argument &a) {
         echo_vec(c, a, c.eta(0, 0));
         c.INTEGRATED = 1;
     }},
    {{"eta1AA"}, false, A, Echo::List, Family::Integrated, true, "a,b,...", "occupied unit in A stays in A",
     [](Context &c, const Argument &a) {
         echo_vec(c, a, c.eta(1, 0));
         c.INTEGRATED = 1;
     }},
    {{"eta0BA"}, false, A, Echo::List, Family::Integrated, true, "a,b,...", "unoccupied unit in B moves to A",
     [](Context &c, const Argument &a) {
         echo_vec(c, a, c.eta(0, 1));
         c.INTEGRATED = 1;
     }},
    {{"eta1BA"}, false, A, Echo::List, Family::Integrated, true, "a,b,...", "occupied unit in B moves to A",
     [](Context &c, const Argument &a) {
         echo_vec(c, a, c.eta(1, 1));
         c.INTEGRATED = 1;
     }},
    {{"gamAA"}, false, A, Echo::List, Family::Integrated, true, "a,b,...", "colonisation, A to A",
     [](Context &c, const Argument &a) { echo_in_block(c, a, c.gamB, 0); }},
    {{"gamBA"}, false, A, Echo::List, Family::Integrated, true, "a,b,...", "colonisation, B to A",
     [](Context &c, const Argument &a) { echo_in_block(c, a, c.gamB, 2); }},
    {{"gamBB"}, false, A, Echo::List, Family::Integrated, true, "a,b,...", "colonisation, B to B",
     [](Context &c, const Argument &a) { echo_in_block(c, a, c.gamB, 3); }},
    {{"epsAA"}, false, A, Echo::List, Family::Integrated, true, "a,b,...", "extinction, A to A",
     [](Context &c, const Argument &a) { echo_in_block(c, a, c.epsB, 0); }},
    {{"epsBA"}, false, A, Echo::List, Family::Integrated, true, "a,b,...", "extinction, B to A",
     [](Context &c, const Argument &a) { echo_in_block(c, a, c.epsB, 2); }},
    {{"epsBB"}, false, A, Echo::List, Family::Integrated, true, "a,b,...", "extinction, B to B",
     [](Context &c, const Argument &a) { echo_in_block(c, a, c.epsB, 3); }},

    // ---- simulation studies (no console echo) ----
    {{"STRICT"}, false, V, E, Family::Run, false, "", "warnings are errors: stop before any file is written",
     [](Context &c, const Argument &) { c.STRICT = true; }},
    {{"REPS"}, false, L, E, Family::Study, false, "n", "replicate data sets",
     [](Context &c, const Argument &a) { c.REPS = a.whole; }},
    {{"THREADS"}, false, I, E, Family::Study, false, "k", "worker threads",
     [](Context &c, const Argument &a) { c.THREADS = static_cast<int>(a.whole); }},
    {{"SHARD"}, false, ValueKind::Fraction, E, Family::Study, false, "i/k", "block i of k of the replicates",
     [](Context &c, const Argument &a) {
         c.shard_i = a.whole;
         std::size_t slash = a.value.find('/');
         c.shard_k = slash == std::string::npos ? 0 : to_long(a.value.substr(slash + 1));
     }},
    {{"RNG"}, false, ValueKind::Text, E, Family::Study, false, "philox", "counter-based generator",
     [](Context &c, const Argument &a) { c.RNG = a.value; }},
    {{"FORMAT"}, false, ValueKind::Text, E, Family::Study, false, "pao|csv", "layout of the data written",
     [](Context &c, const Argument &a) { c.FORMAT = a.value; }},
    {{"NPCOVS"}, false, I, E, Family::Study, false, "K", "detection covariates",
     [](Context &c, const Argument &a) { c.NPCOVS = static_cast<int>(a.whole); }},
    {{"pcoef"}, false, A, E, Family::Study, false, "a1,..,aK", "their coefficients",
     [](Context &c, const Argument &a) {
         c.pcoef.clear();
         c.pcoef = a.numbers;
     }},
    {{"DESIGN"}, false, V, E, Family::Study, false, "", "asymptotic precision of an expected-value design",
     [](Context &c, const Argument &) { c.DESIGN = true; }},
    {{"FIT"}, false, V, E, Family::Study, false, "", "fit every replicate",
     [](Context &c, const Argument &) { c.FIT = true; }},
    {{"NULLS"}, false, ValueKind::Text, E, Family::Study, false, "name:x,...",
     "null values of the Wald tests of FIT and DESIGN (every slope: 0)",
     [](Context &c, const Argument &a) { c.NULLS = read_nulls(a.value); }},
    {{"ALPHA"}, false, R, E, Family::Study, false, "a", "level of the Wald tests (default .05)",
     [](Context &c, const Argument &a) {
         c.ALPHA = a.number;
         if (!(c.ALPHA > 0 && c.ALPHA < 1)) input_error("ALPHA=%s: the level lies strictly between 0 and 1", a.value.c_str());
     }},
    {{"FITMODEL"}, false, ValueKind::Text, E, Family::Study, false, "standard",
     "fit the standard single-species model to the data of another single-species family",
     [](Context &c, const Argument &a) {
         if (a.value != "standard") input_error("FITMODEL=%s: the model fitted is standard", a.value.c_str());
         c.FITMODEL = a.value;
     }},
    {{"FITP"}, false, ValueKind::Text, E, Family::Study, false, "shared|survey",
     "detection of FITMODEL=standard: one p, or one per survey",
     [](Context &c, const Argument &a) {
         if (a.value != "shared" && a.value != "survey") input_error("FITP=%s: detection is shared or survey", a.value.c_str());
         c.FITP = a.value == "survey" ? a.value : "";
     }},
};

} // namespace

const char *family_title(Family f) {
    switch (f) {
    case Family::Design: return "Study design";
    case Family::Run: return "Run and output";
    case Family::Single: return "Single species, single season";
    case Family::Dynamic: return "Single species, several seasons";
    case Family::Heterogeneity: return "Heterogeneous detection";
    case Family::FalsePositive: return "False positives";
    case Family::MultiMethod: return "Several detection methods";
    case Family::Spatial: return "Spatially correlated detections";
    case Family::TwoSpecies: return "Two species";
    case Family::Abundance: return "Abundance (Royle-Nichols)";
    case Family::Multistate: return "Multistate occupancy";
    case Family::StaggeredEntry: return "Staggered entry and departure";
    case Family::Integrated: return "Occupancy and movement (integrated)";
    case Family::Study: return "Simulation studies";
    }
    return "";
}

bool OptionRow::matches(const std::string &name) const {
    if (prefix) return name.rfind(names[0], 0) == 0;
    for (const char *n : names)
        if (n && name == n) return true;
    return false;
}

std::span<const OptionRow> option_table() {
    return kRows;
}

namespace {

// Row numbers by exact name, and the prefix rows; built once, never changed.
struct NameIndex {
    std::unordered_map<std::string_view, std::vector<std::size_t>> exact;
    std::vector<std::size_t> prefixed;

    NameIndex() {
        for (std::size_t r = 0; r < std::size(kRows); r++) {
            if (kRows[r].prefix) {
                prefixed.push_back(r);
                continue;
            }
            for (const char *n : kRows[r].names) {
                if (!n) continue;
                auto &rows = exact[n];
                if (rows.empty() || rows.back() != r) rows.push_back(r);
            }
        }
        // A name answers to at most its exact rows and every prefix row.
        for (const auto &[n, rows] : exact)
            if (rows.size() + prefixed.size() > RowMatches::kCapacity)
                throw std::logic_error("option table: too many rows answer to " + std::string(n));
    }
};

const NameIndex &name_index() {
    static const NameIndex index;
    return index;
}

} // namespace

RowMatches rows_matching(const std::string &name) {
    const NameIndex &index = name_index();
    static const std::vector<std::size_t> none;
    auto it = index.exact.find(name);
    const std::vector<std::size_t> &exact = it == index.exact.end() ? none : it->second;
    // Merge the exact rows with the prefix rows that match, in table order.
    RowMatches out;
    std::size_t e = 0;
    for (std::size_t p : index.prefixed) {
        if (!kRows[p].matches(name)) continue;
        while (e < exact.size() && exact[e] < p) out.add(&kRows[exact[e++]]);
        out.add(&kRows[p]);
    }
    while (e < exact.size()) out.add(&kRows[exact[e++]]);
    return out;
}

bool known_option(const std::string &name) {
    return !rows_matching(name).empty();
}

CommandLine parse_command_line(const Args &args) {
    CommandLine line;
    line.reserve(args.size());
    for (std::size_t i = 1; i < args.size(); i++) {
        ParsedArgument p;
        p.arg = read_argument(args[i], static_cast<int>(i));
        p.rows = rows_matching(p.arg.name);
        for (const OptionRow *row : p.rows) {
            if (row->kind == ValueKind::None)
                p.switch_row = true;
            else if (!p.value_row)
                p.value_row = row;
        }
        line.push_back(std::move(p));
    }
    return line;
}

} // namespace occusim
