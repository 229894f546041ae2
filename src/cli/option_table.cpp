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

// The row that reads the value of an argument called `name`: the first row
// answering to it that reads one (null when none does).
const OptionRow *first_value_row(const std::string &name) {
    for (const OptionRow *row : rows_matching(name))
        if (row->kind != ValueKind::None) return row;
    return nullptr;
}

// GRID=NAME:v1,v2,...: one axis of a grid of designs. NAME is an option that
// takes one number (not one of the batch's own: the seed, the replicates and
// the threads are the grid's); every value reads as that option would read it.
void read_grid_axis(Context &c, const Argument &a) {
    const std::size_t colon = a.value.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == a.value.size())
        input_error("%s: give GRID=NAME:v1,v2,... (an option and its values)", a.text.c_str());
    Context::GridAxis axis{a.value.substr(0, colon), {}};
    const OptionRow *row = first_value_row(axis.name);
    if (rows_matching(axis.name).empty()) input_error("%s: %s is no option", a.text.c_str(), axis.name.c_str());
    const bool whole = row && (row->kind == ValueKind::Integer || row->kind == ValueKind::Long);
    if (!whole && !(row && row->kind == ValueKind::Real))
        input_error("%s: GRID varies an option that takes one number; %s takes %s", a.text.c_str(),
                    axis.name.c_str(), row ? "a list or a word" : "no value");
    for (const char *own : {"SEED", "REPS", "THREADS"})
        if (row == first_value_row(own))
            input_error("%s: %s is the same for the whole grid", a.text.c_str(), axis.name.c_str());
    for (const Context::GridAxis &other : c.GRID)
        if (first_value_row(other.name) == row)
            input_error("%s: %s is already varied by another GRID", a.text.c_str(), axis.name.c_str());
    if (c.GRID.size() >= 3) input_error("%s: at most three GRID options", a.text.c_str());
    const std::string list = a.value.substr(colon + 1);
    std::size_t at = 0;
    while (at <= list.size()) {
        std::size_t comma = list.find(',', at);
        if (comma == std::string::npos) comma = list.size();
        const std::string v = list.substr(at, comma - at);
        char *end = nullptr;
        const double x = std::strtod(v.c_str(), &end);
        if (v.empty() || *end != '\0' || !std::isfinite(x) || (whole && x != std::floor(x)))
            input_error("%s: '%s' is not %s", a.text.c_str(), v.c_str(), whole ? "a whole number" : "a number");
        axis.values.push_back(v);
        at = comma + 1;
    }
    c.GRID.push_back(std::move(axis));
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
    {.names = {"T"},
     .kind = I, .echo = Echo::Scalar, .family = F, .value_help = "n",
     .help = "number of surveys (negative: a stochastic run with that many surveys)",
     .apply = [](Context &c, const Argument &a) {
         c.nper = static_cast<int>(a.whole);
         c.SRVYPERSEASN[0] = c.nper;
         std::fprintf(c.out, "T=%d\n", c.nper);
     }},
    {.names = {"N"},
     .kind = R, .echo = Echo::Scalar, .family = F, .value_help = "x",
     .help = "number of sites",
     .apply = [](Context &c, const Argument &a) {
         c.ns = a.number;
         std::fprintf(c.out, "N=%f\n", c.ns);
     }},
    {.names = {"psi"},
     .kind = R, .echo = Echo::Scalar, .family = Family::Single, .probability = true, .value_help = "x",
     .help = "occupancy probability at the first survey",
     .apply = [](Context &c, const Argument &a) {
         c.psi = a.number;
         std::fprintf(c.out, "psi=%4.2f\n", c.psi);
     }},
    {.names = {"psiA", "PsiA"},
     .kind = R, .echo = Echo::Scalar, .family = Family::TwoSpecies, .probability = true, .value_help = "x",
     .help = "probability that species A is present",
     .apply = [](Context &c, const Argument &a) {
         c.psiA = a.number;
         std::fprintf(c.out, "psiA=%4.2f\n", c.psiA);
     }},
    {.names = {"psiBA"},
     .kind = R, .echo = Echo::Scalar, .family = Family::TwoSpecies, .probability = true, .value_help = "x",
     .help = "probability that B is present where A is present",
     .apply = [](Context &c, const Argument &a) {
         c.psiBA = a.number;
         std::fprintf(c.out, "psiBA=%4.2f\n", c.psiBA);
     }},
    {.names = {"psiBa"},
     .kind = R, .echo = Echo::Scalar, .family = Family::TwoSpecies, .probability = true, .value_help = "x",
     .help = "probability that B is present where A is absent",
     .apply = [](Context &c, const Argument &a) {
         c.psiBa = a.number;
         std::fprintf(c.out, "psiBa=%4.2f\n", c.psiBa);
     }},
    {.names = {"phi"},
     .kind = R, .echo = Echo::Scalar, .family = Family::TwoSpecies, .value_help = "x",
     .help = "species interaction factor (co-occurrence ratio; with psiA and psiB)",
     .apply = [](Context &c, const Argument &a) {
         c.phi = a.number;
         c.TWOSP = 1;
         std::fprintf(c.out, "phi=%4.2f\n", c.phi);
     }},
    {.names = {"r"},
     .kind = V, .echo = E, .family = Family::Abundance, .value_help = "",
     .help = "Royle-Nichols abundance model (r=a,b,... also sets the individual detection probability)",
     .apply = [](Context &c, const Argument &) { c.ROYLE = 1; }},
    {.names = {"c"},
     .kind = V, .echo = E, .family = Family::Abundance, .value_help = "",
     .help = "detection/non-detection counts of the abundance model (c=a,b,... as r; needs ROYLE, r, u, a or Lambda)",
     .apply = [](Context &c, const Argument &) { c.NICHOLS = 1; }},
    {.names = {"SIMTYPE"},
     .kind = I, .echo = Echo::Scalar, .family = Family::Run, .value_help = "n",
     .help = "1: recursion by cohort; 2 or more: simulate site by site (a random data set)",
     .apply = [](Context &c, const Argument &a) {
         c.SIMTYPE = static_cast<int>(a.whole);
         std::fprintf(c.out, "SIMTYPE=%d\n", c.SIMTYPE);
     }},
    {.names = {"STOCH"},
     .prefix = true, .kind = V, .echo = Echo::Marker, .family = Family::Run, .value_help = "",
     .help = "a random data set instead of expected values (any name beginning STOCH)",
     .apply = [](Context &c, const Argument &) {
         c.determ = 0;
         std::fprintf(c.out, "asdf\n");
     }},
    {.names = {"QUIET"},
     .kind = V, .echo = E, .family = Family::Run, .value_help = "",
     .help = "no ARG[i] or seed lines; the echo stays (any argument containing QUIET or quiet)",
     .apply = [](Context &c, const Argument &) { c.QUIET = 1; }},
    {.names = {"REMOVAL"},
     .kind = V, .echo = E, .family = Family::Single, .value_help = "",
     .help = "removal design: surveys after the first detection show - (not surveyed)",
     .apply = [](Context &c, const Argument &) { c.REMOVAL = 1; }},
    {.names = {"HET"},
     .kind = V, .echo = E, .family = Family::Heterogeneity, .value_help = "",
     .help = "two-group mixture of detection probabilities (p in the first group, pB in the second)",
     .apply = [](Context &c, const Argument &) { c.HET = 1; }},
    {.names = {"LIST"},
     .kind = V, .echo = E, .family = Family::Run, .value_help = "",
     .help = "list the histories on the console",
     .apply = [](Context &c, const Argument &) { c.LIST = 1; }},
    {.names = {"P0MISS"},
     .kind = V, .echo = E, .family = Family::Run, .value_help = "",
     .help = "'.' (missing) instead of 0 for surveys with p=0",
     .apply = [](Context &c, const Argument &) { c.P0MISS = 1; }},
    {.names = {"METH"},
     .kind = I, .echo = Echo::Scalar, .family = Family::MultiMethod, .value_help = "n",
     .help = "detection methods per survey (p1, p2, p3 by method; th0 availability)",
     .apply = [](Context &c, const Argument &a) {
         c.METH = static_cast<int>(a.whole);
         std::fprintf(c.out, "METH=%d\n", c.METH);
     }},
    {.names = {"SPADEP"},
     .kind = V, .echo = E, .family = Family::Spatial, .value_help = "",
     .help = "spatially correlated detections (th0, th1)",
     .apply = [](Context &c, const Argument &) { c.SPADEP = 1; }},
    {.names = {"SPADMS"},
     .kind = V, .echo = E, .family = Family::Spatial, .value_help = "",
     .help = "spatial correlation with site records; parameters as plain numbers at the front: "
             "T N psi p[T] th0[T] th1[T] pi[T] eps[T-1] gam[T-1]",
     .apply = [](Context &c, const Argument &) { c.SPADEP = 2; }},
    {.names = {"NOBS"},
     .kind = I, .echo = E, .family = Family::Run, .value_help = "n",
     .help = "copies of each simulated history (site by site)",
     .apply = [](Context &c, const Argument &a) { c.NOBS = static_cast<int>(a.whole); }},
    {.names = {"NSTATES"},
     .kind = I, .echo = E, .family = Family::Multistate, .value_help = "n",
     .help = "occupancy states of the phi-parameterised multistate model (with Psi, phi(i,j), p(i,j))",
     .apply = [](Context &c, const Argument &a) {
         c.NSTATES = static_cast<int>(a.whole);
         c.MS2 = 1;
     }},
    {.names = {"MULTISTATE"},
     .kind = V, .echo = E, .family = Family::Multistate, .value_help = "",
     .help = "multistate (breeding) occupancy model with psi0, R0, p1, p2, dlta",
     .apply = [](Context &c, const Argument &) { c.MULTISTATE = 1; }},
    {.names = {"MSCD"},
     .kind = V, .echo = E, .family = Family::Multistate, .value_help = "",
     .help = "multistate model with correlated detection; 40 plain numbers at the front: T N psi1..psi3, "
             "detection by code and level (9), level moves (20), initial levels (6)",
     .apply = [](Context &c, const Argument &) { c.MSCD = 1; }},
    {.names = {"STAG"},
     .kind = V, .echo = E, .family = Family::StaggeredEntry, .value_help = "",
     .help = "staggered entry and departure model (Ent, Dep)",
     .apply = [](Context &c, const Argument &) { c.STAG = 1; }},
    {.names = {"INTEGRATED"},
     .kind = V, .echo = E, .family = Family::Integrated, .value_help = "",
     .help = "integrated occupancy and movement model between two areas A and B",
     .apply = [](Context &c, const Argument &) { c.INTEGRATED = 1; }},
    {.names = {"PAOF"},
     .kind = V, .echo = E, .family = Family::Multistate, .value_help = "",
     .help = "site-by-site multistate run: simulate one site and write it with the count N",
     .apply = [](Context &c, const Argument &) { c.new_pao_opt = 1; }},
    {.names = {"ROYLE"},
     .kind = V, .echo = E, .family = Family::Abundance, .value_help = "",
     .help = "Royle-Nichols abundance model",
     .apply = [](Context &c, const Argument &) { c.ROYLE = 1; }},
    {.names = {"SEED", "seed"},
     .kind = L, .echo = E, .family = Family::Run, .value_help = "n",
     .help = "seed of a random run (default: from the clock; 0 asks for one)",
     .apply = [](Context &c, const Argument &a) { c.seed_value = a.whole; }},
    {.names = {"outfile"},
     .kind = ValueKind::Text, .echo = E, .family = Family::Run, .value_help = "name",
     .help = "name of the history file (default occusim.pao)",
     .apply = [](Context &c, const Argument &a) {
         if (a.value.size() >= static_cast<std::size_t>(kOutfileLen))
             input_error("argument 'outfile': a file name of %zu characters is longer than %d", a.value.size(),
                         kOutfileLen - 1);
         c.outfile = a.value;
     }},
    {.names = {"NCOVS"},
     .kind = I, .echo = E, .family = Family::Single, .value_help = "n",
     .help = "number of site covariates of a site-by-site run (default: slopes given by coef)",
     .apply = [](Context &c, const Argument &a) {
         c.ncovs = static_cast<int>(a.whole);
         c.ncovs_seen = true;
     }},
    {.names = {"p", "r", "c"},
     .kind = A, .echo = Echo::List, .family = Family::Single, .probability = true, .value_help = "a,b,...",
     .help = "detection probability per survey (r, c: of an individual in the abundance model)",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.pa, 0, kPaLen); }},
    {.names = {"pi"},
     .kind = A, .echo = Echo::List, .family = Family::Heterogeneity, .probability = true, .value_help = "a,b,...",
     .help = "mixture proportion of the first detection group (raises HET)",
     .apply = [](Context &c, const Argument &a) {
         echo_vec(c, a, c.pi);
         c.HET = 1;
     }},
    {.names = {"eps"},
     .kind = A, .echo = Echo::List, .family = Family::Dynamic, .probability = true, .value_help = "a,b,...",
     .help = "extinction probability between surveys (seasons)",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.eps); }},
    {.names = {"gam"},
     .kind = A, .echo = Echo::List, .family = Family::Dynamic, .probability = true, .value_help = "a,b,...",
     .help = "colonisation probability between surveys (seasons), from the second survey",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.gam, 1); }},
    {.names = {"p10"},
     .kind = A, .echo = Echo::List, .family = Family::FalsePositive, .probability = true, .value_help = "a,b,...",
     .help = "false-positive detection probability at unoccupied sites",
     .apply = [](Context &c, const Argument &a) {
         echo_vec(c, a, c.p10);
         c.FALSEPOS = 1;
     }},
    {.names = {"b"},
     .kind = A, .echo = Echo::List, .family = Family::FalsePositive, .value_help = "a,b,...",
     .help = "probability that a detection is certain (abundance model: mean abundance, as Lambda)",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.b); }},
    {.names = {"u"},
     .kind = R, .echo = E, .family = Family::Abundance, .value_help = "x",
     .help = "mean abundance of the negative binomial abundance model",
     .apply = [](Context &c, const Argument &a) {
         c.b[0] = a.number;
         c.NEGBIN = 1;
         c.ROYLE = 1;
     }},
    {.names = {"a"},
     .kind = R, .echo = E, .family = Family::Abundance, .value_help = "x",
     .help = "dispersion of the negative binomial abundance model (give it after Lambda or b)",
     .apply = [](Context &c, const Argument &a) {
         c.b[1] = a.number;
         c.NEGBIN = 1;
         c.ROYLE = 1;
     }},
    {.names = {"Lambda"},
     .kind = A, .echo = Echo::Bare, .family = Family::Abundance, .value_help = "x",
     .help = "mean abundance per site (Poisson)",
     .apply = [](Context &c, const Argument &a) {
         get_arg_vec(c, a, c.b, 0, kVecLen);
         c.ROYLE = 1;
     }},
    {.names = {"theta"},
     .kind = ValueKind::TwoRows, .echo = Echo::After, .family = Family::Spatial, .probability = true, .value_help = "a,b,...",
     .help = "local availability, not available before (T values) then available before (T values)",
     .apply = [](Context &c, const Argument &a) {
         get_arg_vec2(c, a, c.theta);
         std::fprintf(c.out, "%s:\n", a.name.c_str());
     }},
    {.names = {"thA", "Ent"},
     .kind = A, .echo = Echo::Block, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "A available at a survey when not before (staggered entry: entry probability)",
     .apply = [](Context &c, const Argument &a) { echo_block(c, a, c.thA[0]); }},
    {.names = {"thA'", "Dep"},
     .kind = A, .echo = Echo::Block, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "A available at a survey when available before (staggered entry: departure probability)",
     .apply = [](Context &c, const Argument &a) { echo_block(c, a, c.thA[1]); }},
    {.names = {"thBA"},
     .kind = A, .echo = Echo::Block, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "B available, A available, B not before (correlated detections)",
     .apply = [](Context &c, const Argument &a) {
         echo_block(c, a, c.thB[1][0]);
         c.TWOSP = 2;
     }},
    {.names = {"thBA'"},
     .kind = A, .echo = Echo::Block, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "B available, A available, B before",
     .apply = [](Context &c, const Argument &a) { echo_block(c, a, c.thB[1][1]); }},
    {.names = {"thBa"},
     .kind = A, .echo = Echo::Block, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "B available, A not available, B not before",
     .apply = [](Context &c, const Argument &a) { echo_block(c, a, c.thB[0][0]); }},
    {.names = {"thBa'"},
     .kind = A, .echo = Echo::Block, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "B available, A not available, B before",
     .apply = [](Context &c, const Argument &a) { echo_block(c, a, c.thB[0][1]); }},
    {.names = {"epsAb"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "extinction of A where B is absent",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.epsAb); }},
    {.names = {"epsAB"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "extinction of A where B is present (integrated model: of an A unit moving to B)",
     .apply = [](Context &c, const Argument &a) {
         int count = echo_vec(c, a, c.epsAB);
         for (int k = 0; k < count; k++) c.epsB[kVecLen + k] = c.epsAB[k];
     }},
    {.names = {"epsBaA"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "extinction of B: A now, B alone before",
     .apply = [](Context &c, const Argument &a) { echo_in_block(c, a, c.epsB, 1); }},
    {.names = {"epsBaa"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "extinction of B: A absent throughout",
     .apply = [](Context &c, const Argument &a) { echo_in_block(c, a, c.epsB, 0); }},
    {.names = {"epsBAA"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "extinction of B: A present throughout",
     .apply = [](Context &c, const Argument &a) { echo_in_block(c, a, c.epsB, 3); }},
    {.names = {"epsBAa"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "extinction of B: A before, not now",
     .apply = [](Context &c, const Argument &a) { echo_in_block(c, a, c.epsB, 2); }},
    {.names = {"gamAb"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "colonisation by A where B is absent",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.gamAb); }},
    {.names = {"gamAB"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "colonisation by A where B is present (integrated model: of an A unit moving to B)",
     .apply = [](Context &c, const Argument &a) {
         int count = echo_vec(c, a, c.gamAB);
         for (int k = 0; k < count; k++) c.gamB[kVecLen + k] = c.gamAB[k];
     }},
    {.names = {"gamBaA"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "colonisation by B: A now, not before",
     .apply = [](Context &c, const Argument &a) { echo_in_block(c, a, c.gamB, 1); }},
    {.names = {"gamBaa"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "colonisation by B: A absent throughout",
     .apply = [](Context &c, const Argument &a) { echo_in_block(c, a, c.gamB, 0); }},
    {.names = {"gamBAA"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "colonisation by B: A present throughout",
     .apply = [](Context &c, const Argument &a) { echo_in_block(c, a, c.gamB, 3); }},
    {.names = {"gamBAa"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "colonisation by B: A before, not now",
     .apply = [](Context &c, const Argument &a) { echo_in_block(c, a, c.gamB, 2); }},
    {.names = {"th0"},
     .kind = A, .echo = Echo::Block, .family = Family::Spatial, .probability = true, .value_help = "a,b,...",
     .help = "local presence when not present at the survey before (multi-method: availability)",
     .apply = [](Context &c, const Argument &a) { echo_block(c, a, c.theta[0]); }},
    {.names = {"th1"},
     .kind = A, .echo = Echo::Block, .family = Family::Spatial, .probability = true, .value_help = "a,b,...",
     .help = "local presence when present at the survey before (raises SPADEP)",
     .apply = [](Context &c, const Argument &a) {
         echo_block(c, a, c.theta[1]);
         c.SPADEP = 1;
     }},
    {.names = {"th0pi"},
     .kind = A, .echo = Echo::List, .family = Family::Spatial, .probability = true, .value_help = "a,b,...",
     .help = "local presence just before the first survey of a season",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.th0pi); }},
    {.names = {"SRVYPERSEASN", "SPS"},
     .kind = ValueKind::IntList, .echo = Echo::Seasons, .family = F, .value_help = "n,m,...",
     .help = "surveys per season (a single value: every season that long)",
     .apply = [](Context &c, const Argument &a) {
         std::fprintf(c.out, "%s=", a.name.c_str());
         count_seasons(c, get_arg_ivec(c, a, c.SRVYPERSEASN, kVecLen));
     }},
    {.names = {"coef"},
     .kind = A, .echo = Echo::List, .family = Family::Single, .value_help = "b0,b1,...",
     .help = "logistic coefficients of occupancy: intercept, then one slope per site covariate",
     .apply = [](Context &c, const Argument &a) {
         // The values are kept for the covariate set-up after all arguments.
         Vec shown(kStorage, 0.0);
         echo_vec(c, a, shown);
         c.coef_given.clear();
         c.coef_given = a.numbers;
         c.coef_seen = true;
     }},
    {.names = {"pA"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "detection of A where A alone is present (integrated model: in area A)",
     .apply = [](Context &c, const Argument &a) {
         echo_vec(c, a, c.pA);
         if (c.TWOSP <= 0) c.TWOSP = 1;
     }},
    {.names = {"pB"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "detection of B where B alone is present (integrated model: in area B; mixture: of the second group)",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.pB); }},
    {.names = {"rA", "r", "c"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "detection of A where both species are present",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.rA); }},
    {.names = {"rBA"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "detection of B, both present, A detected",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.rBA); }},
    {.names = {"rBa"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "detection of B, both present, A not detected",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.rBa); }},
    {.names = {"rB"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "detection of B where both are present (phi parameterisation)",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.rB); }},
    {.names = {"psiB"},
     .kind = A, .echo = Echo::List, .family = Family::TwoSpecies, .probability = true, .value_help = "a,b,...",
     .help = "probability that B is present (phi parameterisation; integrated model: occupancy in area B)",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.psiB); }},
    {.names = {"dlta"},
     .kind = A, .echo = Echo::List, .family = Family::Multistate, .value_help = "a,b,...",
     .help = "detection of young at a detected breeding site (two species, phi parameterisation: detection ratio)",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.dlta); }},
    {.names = {"p1"},
     .kind = A, .echo = Echo::List, .family = Family::Multistate, .probability = true, .value_help = "a,b,...",
     .help = "detection in state 1 (multi-method: by method 1)",
     .apply = [](Context &c, const Argument &a) {
         echo_vec(c, a, c.pA);
         for (int k = 0; k < surveys_in_storage(c); k++) c.pMS[0][1][k] = c.pa[k] = c.pA[k];
     }},
    {.names = {"p2"},
     .kind = A, .echo = Echo::List, .family = Family::Multistate, .probability = true, .value_help = "a,b,...",
     .help = "detection in state 2 (multi-method: by method 2)",
     .apply = [](Context &c, const Argument &a) {
         echo_vec(c, a, c.pB);
         for (int k = 0; k < surveys_in_storage(c); k++) c.pMS[0][2][k] = c.pB[k];
     }},
    {.names = {"p3"},
     .kind = A, .echo = Echo::List, .family = Family::MultiMethod, .probability = true, .value_help = "a,b,...",
     .help = "detection by method 3",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.pMS[0][3]); }},
    {.names = {"Cpsi0"},
     .kind = A, .echo = Echo::List, .family = Family::Multistate, .probability = true, .value_help = "a,b,...",
     .help = "occupancy after a season unoccupied (from the second season; raises MULTISTATE)",
     .apply = [](Context &c, const Argument &a) {
         echo_vec(c, a, c.psiMS[0][0], 1);
         c.MULTISTATE = 1;
     }},
    {.names = {"Cpsi1"},
     .kind = A, .echo = Echo::List, .family = Family::Multistate, .probability = true, .value_help = "a,b,...",
     .help = "occupancy after a season with adults (from the second season)",
     .apply = [](Context &c, const Argument &a) {
         echo_vec(c, a, c.psiMS[0][1], 1);
         c.MULTISTATE = 1;
     }},
    {.names = {"Cpsi2"},
     .kind = A, .echo = Echo::List, .family = Family::Multistate, .probability = true, .value_help = "a,b,...",
     .help = "occupancy after a season with breeders (from the second season)",
     .apply = [](Context &c, const Argument &a) {
         echo_vec(c, a, c.psiMS[0][2], 1);
         c.MULTISTATE = 1;
     }},
    {.names = {"psi1", "psi0"},
     .kind = A, .echo = Echo::List, .family = Family::Multistate, .probability = true, .value_help = "a,b,...",
     .help = "initial occupancy of the multistate model (raises MULTISTATE)",
     .apply = [](Context &c, const Argument &a) {
         echo_vec(c, a, c.psiMS[0][0]);
         c.MULTISTATE = 1;
     }},
    {.names = {"psi2"},
     .kind = A, .echo = Echo::List, .family = Family::Multistate, .probability = true, .value_help = "a,b,...",
     .help = "as R0",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.psiMS[1][0]); }},
    {.names = {"R0"},
     .kind = A, .echo = Echo::List, .family = Family::Multistate, .probability = true, .value_help = "a,b,...",
     .help = "probability that an occupied site is breeding (first season)",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.psiMS[1][0]); }},
    {.names = {"cR0"},
     .kind = A, .echo = Echo::List, .family = Family::Multistate, .probability = true, .value_help = "a,b,...",
     .help = "breeding after a season unoccupied (from the second season)",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.psiMS[1][0], 1); }},
    {.names = {"cR1", "CR1"},
     .kind = A, .echo = Echo::List, .family = Family::Multistate, .probability = true, .value_help = "a,b,...",
     .help = "breeding after a season with adults (from the second season)",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.psiMS[1][1], 1); }},
    {.names = {"cR2", "CR2"},
     .kind = A, .echo = Echo::List, .family = Family::Multistate, .probability = true, .value_help = "a,b,...",
     .help = "breeding after a season with breeders (from the second season)",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.psiMS[1][2], 1); }},
    {.names = {"phi("},
     .prefix = true, .kind = ValueKind::Indexed, .echo = Echo::Indexed, .family = Family::Multistate, .probability = true, .value_help = "a,b,...",
     .help = "phi(i,j): transition from state i to state j (phi(i;j): from the second survey)",
     .apply = [](Context &c, const Argument &a) { echo_indexed(c, a, 4, c.psiMS); }},
    {.names = {"p("},
     .prefix = true, .kind = ValueKind::Indexed, .echo = Echo::Indexed, .family = Family::Multistate, .probability = true, .value_help = "a,b,...",
     .help = "p(i,j): observing state i when the true state is j (p(i;j): from the second survey)",
     .apply = [](Context &c, const Argument &a) { echo_indexed(c, a, 2, c.pMS); }},
    {.names = {"Psi"},
     .kind = A, .echo = Echo::List, .family = Family::Multistate, .probability = true, .value_help = "a,b,...",
     .help = "initial state probabilities of the phi-parameterised model (states 1, 2, ...)",
     .apply = [](Context &c, const Argument &a) { echo_vec(c, a, c.gam, 1); }},
    {.names = {"eta0AA"},
     .kind = A, .echo = Echo::List, .family = Family::Integrated, .probability = true, .value_help = "a,b,...",
     .help = "unoccupied unit in A moves to (stays in) A; raises INTEGRATED",
     .apply = [](Context &c, const Argument &a) {
         echo_vec(c, a, c.eta(0, 0));
         c.INTEGRATED = 1;
     }},
    {.names = {"eta1AA"},
     .kind = A, .echo = Echo::List, .family = Family::Integrated, .probability = true, .value_help = "a,b,...",
     .help = "occupied unit in A stays in A",
     .apply = [](Context &c, const Argument &a) {
         echo_vec(c, a, c.eta(1, 0));
         c.INTEGRATED = 1;
     }},
    {.names = {"eta0BA"},
     .kind = A, .echo = Echo::List, .family = Family::Integrated, .probability = true, .value_help = "a,b,...",
     .help = "unoccupied unit in B moves to A",
     .apply = [](Context &c, const Argument &a) {
         echo_vec(c, a, c.eta(0, 1));
         c.INTEGRATED = 1;
     }},
    {.names = {"eta1BA"},
     .kind = A, .echo = Echo::List, .family = Family::Integrated, .probability = true, .value_help = "a,b,...",
     .help = "occupied unit in B moves to A",
     .apply = [](Context &c, const Argument &a) {
         echo_vec(c, a, c.eta(1, 1));
         c.INTEGRATED = 1;
     }},
    {.names = {"gamAA"},
     .kind = A, .echo = Echo::List, .family = Family::Integrated, .probability = true, .value_help = "a,b,...",
     .help = "colonisation, A to A",
     .apply = [](Context &c, const Argument &a) { echo_in_block(c, a, c.gamB, 0); }},
    {.names = {"gamBA"},
     .kind = A, .echo = Echo::List, .family = Family::Integrated, .probability = true, .value_help = "a,b,...",
     .help = "colonisation, B to A",
     .apply = [](Context &c, const Argument &a) { echo_in_block(c, a, c.gamB, 2); }},
    {.names = {"gamBB"},
     .kind = A, .echo = Echo::List, .family = Family::Integrated, .probability = true, .value_help = "a,b,...",
     .help = "colonisation, B to B",
     .apply = [](Context &c, const Argument &a) { echo_in_block(c, a, c.gamB, 3); }},
    {.names = {"epsAA"},
     .kind = A, .echo = Echo::List, .family = Family::Integrated, .probability = true, .value_help = "a,b,...",
     .help = "extinction, A to A",
     .apply = [](Context &c, const Argument &a) { echo_in_block(c, a, c.epsB, 0); }},
    {.names = {"epsBA"},
     .kind = A, .echo = Echo::List, .family = Family::Integrated, .probability = true, .value_help = "a,b,...",
     .help = "extinction, B to A",
     .apply = [](Context &c, const Argument &a) { echo_in_block(c, a, c.epsB, 2); }},
    {.names = {"epsBB"},
     .kind = A, .echo = Echo::List, .family = Family::Integrated, .probability = true, .value_help = "a,b,...",
     .help = "extinction, B to B",
     .apply = [](Context &c, const Argument &a) { echo_in_block(c, a, c.epsB, 3); }},
    // ---- simulation studies (no console echo) ----
    {.names = {"STRICT"},
     .kind = V, .echo = E, .family = Family::Run, .value_help = "",
     .help = "warnings are errors: stop before any file is written",
     .apply = [](Context &c, const Argument &) { c.STRICT = true; }},
    {.names = {"REPS"},
     .kind = L, .echo = E, .family = Family::Study, .value_help = "n",
     .help = "replicate data sets",
     .apply = [](Context &c, const Argument &a) { c.REPS = a.whole; }},
    {.names = {"THREADS"},
     .kind = I, .echo = E, .family = Family::Study, .value_help = "k",
     .help = "worker threads",
     .apply = [](Context &c, const Argument &a) { c.THREADS = static_cast<int>(a.whole); }},
    {.names = {"SHARD"},
     .kind = ValueKind::Fraction, .echo = E, .family = Family::Study, .value_help = "i/k",
     .help = "block i of k of the replicates",
     .apply = [](Context &c, const Argument &a) {
         c.shard_i = a.whole;
         std::size_t slash = a.value.find('/');
         c.shard_k = slash == std::string::npos ? 0 : to_long(a.value.substr(slash + 1));
     }},
    {.names = {"RNG"},
     .kind = ValueKind::Text, .echo = E, .family = Family::Study, .value_help = "philox",
     .help = "counter-based generator",
     .apply = [](Context &c, const Argument &a) { c.RNG = a.value; }},
    {.names = {"FORMAT"},
     .kind = ValueKind::Text, .echo = E, .family = Family::Study, .value_help = "pao|csv",
     .help = "layout of the data written",
     .apply = [](Context &c, const Argument &a) { c.FORMAT = a.value; }},
    {.names = {"NPCOVS"},
     .kind = I, .echo = E, .family = Family::Study, .value_help = "K",
     .help = "detection covariates",
     .apply = [](Context &c, const Argument &a) { c.NPCOVS = static_cast<int>(a.whole); }},
    {.names = {"pcoef"},
     .kind = A, .echo = E, .family = Family::Study, .value_help = "a1,..,aK",
     .help = "their coefficients",
     .apply = [](Context &c, const Argument &a) {
         c.pcoef.clear();
         c.pcoef = a.numbers;
     }},
    {.names = {"DESIGN"},
     .kind = V, .echo = E, .family = Family::Study, .value_help = "",
     .help = "asymptotic precision of an expected-value design",
     .apply = [](Context &c, const Argument &) { c.DESIGN = true; }},
    {.names = {"FIT"},
     .kind = V, .echo = E, .family = Family::Study, .value_help = "",
     .help = "fit every replicate",
     .apply = [](Context &c, const Argument &) { c.FIT = true; }},
    {.names = {"NULLS"},
     .kind = ValueKind::Text, .echo = E, .family = Family::Study, .value_help = "name:x,...",
     .help = "null values of the Wald tests of FIT and DESIGN (every slope: 0)",
     .apply = [](Context &c, const Argument &a) { c.NULLS = read_nulls(a.value); }},
    {.names = {"ALPHA"},
     .kind = R, .echo = E, .family = Family::Study, .value_help = "a",
     .help = "level of the Wald tests (default .05)",
     .apply = [](Context &c, const Argument &a) {
         c.ALPHA = a.number;
         if (!(c.ALPHA > 0 && c.ALPHA < 1)) input_error("ALPHA=%s: the level lies strictly between 0 and 1", a.value.c_str());
     }},
    {.names = {"FITMODEL"},
     .kind = ValueKind::Text, .echo = E, .family = Family::Study, .value_help = "standard",
     .help = "fit the standard single-species model to the data of another single-species family",
     .apply = [](Context &c, const Argument &a) {
         if (a.value != "standard") input_error("FITMODEL=%s: the model fitted is standard", a.value.c_str());
         c.FITMODEL = a.value;
     }},
    {.names = {"FITP"},
     .kind = ValueKind::Text, .echo = E, .family = Family::Study, .value_help = "shared|survey",
     .help = "detection of FITMODEL=standard: one p, or one per survey",
     .apply = [](Context &c, const Argument &a) {
         if (a.value != "shared" && a.value != "survey") input_error("FITP=%s: detection is shared or survey", a.value.c_str());
         c.FITP = a.value == "survey" ? a.value : "";
     }},
    {.names = {"GRID"},
     .kind = ValueKind::Text, .echo = E, .family = Family::Study, .value_help = "NAME:v1,v2,...",
     .help = "run DESIGN or FIT at every value of NAME (N, T or an option of one number; up to three)",
     .apply = read_grid_axis},
    // ---- cost-optimal designs ----
    {.names = {"OPTIMIZE"},
     .kind = ValueKind::Text, .echo = E, .family = Family::Study, .value_help = "name",
     .help = "search the sites and visits that serve this parameter of the design table best",
     .apply = [](Context &c, const Argument &a) {
         if (a.value.empty()) input_error("OPTIMIZE: name a parameter of the design table (OPTIMIZE=psi)");
         c.OPTIMIZE = a.value;
     }},
    {.names = {"BUDGET"},
     .kind = R, .echo = E, .family = Family::Study, .value_help = "E",
     .help = "OPTIMIZE: the least se (or most power) at a total cost of at most E",
     .apply = [](Context &c, const Argument &a) {
         c.BUDGET = a.number;
         if (!(c.BUDGET > 0 && std::isfinite(c.BUDGET))) input_error("BUDGET=%s: the budget is a positive number", a.value.c_str());
     }},
    {.names = {"TARGET"},
     .kind = R, .echo = E, .family = Family::Study, .value_help = "x",
     .help = "OPTIMIZE: the cheapest design with se at most x (power at least x when the parameter has a null)",
     .apply = [](Context &c, const Argument &a) {
         c.TARGET = a.number;
         if (!(c.TARGET > 0 && std::isfinite(c.TARGET))) input_error("TARGET=%s: the target is a positive number", a.value.c_str());
     }},
    {.names = {"COST"},
     .kind = A, .echo = E, .family = Family::Study, .value_help = "site,first,repeat",
     .help = "OPTIMIZE: cost of a site, of its first visit and of each further visit (default 0,1,1)",
     .apply = [](Context &c, const Argument &a) {
         if (a.numbers.size() != 3 || a.tokens.size() != 3)
             input_error("COST=%s: give three costs: a site, its first visit, each further visit", a.value.c_str());
         for (double v : a.numbers)
             if (!(v >= 0 && std::isfinite(v))) input_error("COST=%s: costs are numbers of at least 0", a.value.c_str());
         c.COST = a.numbers;
     }},
    {.names = {"KMAX"},
     .kind = I, .echo = E, .family = Family::Study, .value_help = "n",
     .help = "OPTIMIZE: most visits per site (per season) searched (default 16)",
     .apply = [](Context &c, const Argument &a) {
         if (a.whole < 2 || a.whole > 100) input_error("KMAX=%s: the most visits lies between 2 and 100", a.value.c_str());
         c.KMAX = static_cast<int>(a.whole);
     }},
    {.names = {"VERIFY"},
     .kind = L, .echo = E, .family = Family::Study, .value_help = "n",
     .help = "OPTIMIZE: check the best design by a simulation study of n replicates",
     .apply = [](Context &c, const Argument &a) {
         if (a.whole < 1) input_error("VERIFY=%s: give at least one replicate", a.value.c_str());
         c.VERIFY = a.whole;
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

bool same_option(const std::string &a, const std::string &b) {
    const OptionRow *row = first_value_row(a);
    return row && row == first_value_row(b);
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
