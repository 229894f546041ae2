// The model families in dispatch order with the options each one reads, and
// the check of an applied command line against the family that will run it:
// what the model reads must be set, of the right length and, for
// probabilities, within 0..1; what it does not read is pointed out.
#include "cli/model_reads.hpp"

#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/diagnostics.hpp"
#include "cli/dispatch.hpp"
#include "cli/option_table.hpp"
#include "core/errors.hpp"

namespace occusim {

namespace {

using S = Span;

// Some site is occupied at some survey: occupancy at the first, a
// colonisation later, or occupancy from site covariates.
bool sites_occupied(const Context &c) {
    if (c.psi != 0 || c.ncovs > 0) return true;
    for (int k = 1; k < c.nper && k < kVecLen; k++)
        if (c.gam[k] != 0) return true;
    return false;
}

// ---- what each family reads (options by the first name of their row) ----

constexpr ModelRead kSingle[] = {
    {"psi"}, {"gam", S::Transitions}, {"eps", S::Transitions}, {"p", S::Surveys, true, sites_occupied}, {"b", S::Surveys},
    {"REMOVAL"}, {"coef"}, {"NCOVS"}, {"p1", S::Surveys},
};
constexpr ModelRead kFalsePositive[] = {
    {"psi"}, {"gam", S::Transitions}, {"eps", S::Transitions}, {"p", S::Surveys, true, sites_occupied}, {"b", S::Surveys},
    {"p10", S::Surveys}, {"REMOVAL"}, {"coef"}, {"NCOVS"}, {"p1", S::Surveys},
};
constexpr ModelRead kMixture[] = {
    {"psi"}, {"gam", S::Transitions}, {"eps", S::Transitions}, {"p", S::Surveys, true, sites_occupied},
    {"pi", S::Surveys}, {"pB", S::Surveys}, {"HET"},
};
constexpr ModelRead kTwoSpecies[] = {
    {"psiA"}, {"psiBA"}, {"psiBa"}, {"pA", S::Surveys}, {"pB", S::Surveys}, {"rA", S::Surveys},
    {"rBA", S::Surveys}, {"rBa", S::Surveys}, {"phi"}, {"psiB"}, {"rB", S::Surveys}, {"dlta", S::Surveys},
};
constexpr ModelRead kTwoSpeciesCorrelated[] = {
    {"psiA"}, {"psiBA"}, {"psiBa"}, {"pA", S::Surveys}, {"pB", S::Surveys}, {"rA", S::Surveys},
    {"rBA", S::Surveys}, {"rBa", S::Surveys}, {"thA", S::Surveys}, {"thA'", S::Surveys},
    {"thBA", S::Surveys}, {"thBA'", S::Surveys}, {"thBa", S::Surveys}, {"thBa'", S::Surveys},
};
constexpr ModelRead kTwoSpeciesSeasons[] = {
    {"psiA"}, {"psiBA"}, {"psiBa"}, {"pA", S::Surveys}, {"pB", S::Surveys}, {"rA", S::Surveys},
    {"rBA", S::Surveys}, {"rBa", S::Surveys}, {"phi"}, {"psiB"}, {"rB", S::Surveys}, {"dlta", S::Surveys},
    {"gamAb", S::Transitions}, {"gamAB", S::Transitions}, {"epsAb", S::Transitions},
    {"epsAB", S::Transitions}, {"gamBaa", S::Transitions}, {"gamBaA", S::Transitions},
    {"gamBAa", S::Transitions}, {"gamBAA", S::Transitions}, {"epsBaa", S::Transitions},
    {"epsBaA", S::Transitions}, {"epsBAa", S::Transitions}, {"epsBAA", S::Transitions},
};
constexpr ModelRead kSpatial[] = {
    {"psi"}, {"th0pi"}, {"th0", S::Surveys}, {"th1", S::Surveys}, {"theta"}, {"p", S::Surveys, true, sites_occupied},
    {"gam", S::Transitions}, {"eps", S::Transitions}, {"SPADEP"}, {"p1", S::Surveys},
};
// Availability and the season changes are read once per season.
constexpr ModelRead kMultiMethod[] = {
    {"psi"}, {"gam"}, {"eps"}, {"th0", S::Surveys}, {"p1", S::Surveys}, {"p2", S::Surveys},
    {"p3", S::Surveys}, {"p("}, {"METH"},
};
constexpr ModelRead kAbundance[] = {
    {"p", S::Surveys, true}, {"psi"}, {"b"}, {"u"}, {"a"}, {"Lambda"}, {"r"}, {"c"}, {"ROYLE"},
};
// The state tables are read at the season starts of the survey list.
constexpr ModelRead kMultistate[] = {
    {"psi1"}, {"psi2"}, {"R0"}, {"Cpsi0"}, {"Cpsi1"}, {"Cpsi2"}, {"cR0"}, {"cR1"}, {"cR2"},
    {"p1", S::Surveys}, {"p2", S::Surveys}, {"dlta", S::Surveys}, {"p("}, {"MULTISTATE"}, {"PAOF"},
};
constexpr ModelRead kMultistatePhi[] = {
    {"NSTATES"}, {"Psi"}, {"phi("}, {"p("}, {"PAOF"},
};
constexpr ModelRead kStaggered[] = {
    {"psi"}, {"p", S::Surveys, true, sites_occupied}, {"thA", S::Surveys}, {"thA'", S::Surveys},
    {"gam", S::Transitions}, {"eps", S::Transitions}, {"STAG"},
};
constexpr ModelRead kIntegrated[] = {
    {"pi"}, {"psiA"}, {"psiB"}, {"pA", S::Surveys}, {"pB", S::Surveys},
    {"eta0AA", S::Transitions}, {"eta1AA", S::Transitions}, {"eta0BA", S::Transitions},
    {"eta1BA", S::Transitions}, {"gamAA", S::Transitions}, {"gamAB", S::Transitions},
    {"gamBA", S::Transitions}, {"gamBB", S::Transitions}, {"epsAA", S::Transitions},
    {"epsAB", S::Transitions}, {"epsBA", S::Transitions}, {"epsBB", S::Transitions}, {"INTEGRATED"},
};

const ModelFamily kModelFamilies[] = {
    {[](const Context &c) { return c.MSCD > 0; }, "multistate-correlated-detection",
     "correlated-detection multistate", false, {}},
    {[](const Context &c) { return c.STAG > 0; }, "staggered-entry", "staggered-entry", true, kStaggered},
    {[](const Context &c) { return c.INTEGRATED != 0; }, "integrated", "integrated", true, kIntegrated},
    {[](const Context &c) { return c.MS2 > 0; }, "multistate", "phi-parameterised multistate", true,
     kMultistatePhi},
    {[](const Context &c) { return c.MULTISTATE > 0; }, "multistate", "multistate", true, kMultistate},
    {[](const Context &c) { return c.ROYLE > 0; }, "royle-nichols", "abundance", true, kAbundance},
    {[](const Context &c) { return c.HET > 0; }, "heterogeneity", "detection-mixture", true, kMixture},
    {[](const Context &c) { return c.FALSEPOS > 0; }, "false-positive", "false-positive", true, kFalsePositive},
    {[](const Context &c) { return c.TWOSP > 0 && c.nseasns > 1; }, "two-species-multiseason",
     "several-season two-species", true, kTwoSpeciesSeasons},
    {[](const Context &c) { return c.TWOSP > 1; }, "two-species-correlated-detection",
     "correlated-detection two-species", true, kTwoSpeciesCorrelated},
    {[](const Context &c) { return c.TWOSP > 0; }, "two-species", "two-species", true, kTwoSpecies},
    {[](const Context &c) { return c.SPADEP == 1; }, "spatial", "spatial", true, kSpatial},
    {[](const Context &c) { return c.SPADEP != 0; }, "spatial-multiseason", "SPADMS spatial", false, {}},
    {[](const Context &c) { return c.METH > 1; }, "multi-method", "multi-method", true, kMultiMethod},
    {[](const Context &) { return true; }, "single-species", "single-species", true, kSingle},
};

// Option groups that choose or describe a model; the rest (design, run,
// studies) concern every run.
bool model_option(const OptionRow &row) {
    return row.family != Family::Design && row.family != Family::Run && row.family != Family::Study;
}

const ModelRead *read_of(const ModelFamily &f, const OptionRow *row) {
    for (const ModelRead &r : f.reads)
        if (std::strcmp(row->names[0], r.option) == 0) return &r;
    return nullptr;
}

// How the family reads an argument: through the row that takes its value
// when there is one, else through any row that answers to its name.
const ModelRead *find_read(const ModelFamily &f, const ParsedArgument &p) {
    if (p.reads_value())
        if (const ModelRead *r = read_of(f, p.value_row)) return r;
    for (const OptionRow *row : p.rows)
        if (const ModelRead *r = read_of(f, row)) return r;
    return nullptr;
}

bool given(const CommandLine &line, const char *option) {
    for (const ParsedArgument &p : line)
        for (const OptionRow *row : p.rows)
            if (std::strcmp(row->names[0], option) == 0) return true;
    return false;
}

// The survey count T had when argument i was applied (0 before any T).
long surveys_before(const CommandLine &line, std::size_t i) {
    long t = 0;
    for (std::size_t k = 0; k < i; k++)
        if (line[k].arg.name == "T") t = static_cast<int>(line[k].arg.whole);
    return t;
}

const ParsedArgument *last_t(const CommandLine &line) {
    const ParsedArgument *t = nullptr;
    for (const ParsedArgument &p : line)
        if (p.arg.name == "T") t = &p;
    return t;
}

std::string range_text(long from, long to) {
    return from == to ? "survey " + std::to_string(from)
                      : "surveys " + std::to_string(from) + "-" + std::to_string(to);
}

// A list the model reads survey by survey: one value (spread over the
// surveys T had set by then) or one value per survey.
void check_length(const Context &ctx, const CommandLine &line, std::size_t i, const ModelRead &r) {
    const Argument &a = line[i].arg;
    const long T = ctx.nper;
    const long wanted = r.span == Span::Surveys ? T : T - 1;
    const long count = static_cast<long>(a.tokens.size());
    if (count == 1) {
        const long before = surveys_before(line, i);
        const long filled = before > 1 ? before : 1;
        if (filled >= wanted) return;
        if (before < 0)
            input_error("%s fills survey 1 only: a negative T (T=%ld) does not spread one value over the "
                        "surveys; give %ld values, or STOCH with T=%ld",
                        a.text.c_str(), before, wanted, -before);
        input_error("%s came before T=%ld, so %s were not set: put T first", a.text.c_str(), T,
                    range_text(filled + 1, wanted).c_str());
    }
    // Several detection methods lay each survey out once per method.
    const long most = ctx.METH > 1 ? T * ctx.METH : T;
    if (count == 0 || (count >= wanted && count <= most)) return;
    const char *what = r.span == Span::Surveys ? "surveys" : "surveys (one value per change between surveys)";
    if (r.span == Span::Surveys || wanted == T)
        input_error("%s has %ld values for T=%ld %s: give one value or %ld", a.name.c_str(), count, T, what,
                    wanted);
    input_error("%s has %ld values for T=%ld %s: give one value, %ld or %ld", a.name.c_str(), count, T, what,
                wanted, T);
}

void check_probabilities(const ParsedArgument &p) {
    if (!p.reads_value() || !p.value_row->probability) return;
    for (double x : p.arg.numbers)
        if (!(x >= 0 && x <= 1))
            input_error("%s: %g is not a probability: give a value from 0 to 1", p.arg.text.c_str(), x);
}

void check_design(const Context &ctx, const CommandLine &line) {
    const ParsedArgument *t = last_t(line);
    if (!t) input_error("T is not set: give T=n, the number of surveys");
    if (ctx.nper == 0) input_error("%s: give at least one survey", t->arg.text.c_str());
    for (std::size_t i = 0; i < line.size(); i++) {
        const Argument &a = line[i].arg;
        if (a.name == "N" && a.has_value) {
            char *end = nullptr;
            std::strtod(a.value.c_str(), &end);
            if (a.value.empty() || *end != '\0')
                input_error("%s: the number of sites must be a number", a.text.c_str());
            if (a.number < 0) input_error("%s: the number of sites cannot be negative", a.text.c_str());
        }
        // T sets the first season's length, so an earlier list of them is lost.
        if ((a.name == "SRVYPERSEASN" || a.name == "SPS") && &line[i] < t)
            input_error("%s came before %s, which resets the seasons: put T first", a.text.c_str(),
                        t->arg.text.c_str());
    }
}

// Site by site, the single-species model reads the covariates; the cohort
// recursion does not.
bool site_by_site(const Context &ctx) {
    return ctx.SIMTYPE > 1 || ctx.nper > 16;
}

bool random_run(const Context &ctx, const ModelFamily &f) {
    if (ctx.determ == 0 || ctx.SIMTYPE > 1) return true;
    const std::string name = f.name;
    // The abundance model reads SEED to choose its form; long single-species
    // and multi-method designs are handed over to site-by-site simulation.
    if (name == "royle-nichols") return true;
    if (name == "single-species" || name == "false-positive") return ctx.nper > 16;
    if (name == "multi-method") return static_cast<long>(ctx.nper) * ctx.METH > 16;
    return false;
}

// Warnings for given options the model does not read.
std::vector<std::string> unread(const Context &ctx, const CommandLine &line, const ModelFamily &f) {
    std::vector<std::string> out;
    const std::string name = f.name;
    const bool single = name == "single-species" || name == "false-positive";
    for (const ParsedArgument &p : line) {
        const std::string &n = p.arg.name;
        // The check by simulation of a design search reads the seed.
        if ((n == "SEED" || n == "seed") && !random_run(ctx, f) && ctx.VERIFY == 0)
            out.push_back("SEED is not read by an expected-value run: add STOCH (or give a negative T, or "
                          "SIMTYPE=2) for a random data set");
        // A design evaluation or search reads the covariates whatever the run's mode.
        if (single && !site_by_site(ctx) && !ctx.DESIGN && ctx.OPTIMIZE.empty() && (n == "NCOVS" || n == "coef"))
            out.push_back(n + " is not read by a cohort run: site covariates need site-by-site "
                              "simulation (SIMTYPE=2)");
        if (single && site_by_site(ctx) && n == "psi" && ctx.ncovs > 0)
            out.push_back("psi is not read: coef sets the occupancy intercept (logit scale) when there are "
                          "site covariates");
        if (p.rows.empty() || !f.named) continue;
        bool model_row = true;
        for (const OptionRow *row : p.rows) model_row = model_row && model_option(*row);
        if (!model_row || find_read(f, p)) continue;
        std::string w = "option " + n + " is not read by the " + f.title + " model";
        if (n == "pB" && single) w += " (pB is the second group's detection: add HET for the mixture)";
        out.push_back(w);
    }
    return out;
}

} // namespace

std::span<const ModelFamily> model_families() {
    return kModelFamilies;
}

const ModelFamily &model_family_of(const Context &ctx) {
    for (const ModelFamily &f : kModelFamilies)
        if (f.takes(ctx)) return f;
    return kModelFamilies[std::size(kModelFamilies) - 1];
}

void check_model_reads(Context &ctx, const CommandLine &line) {
    const ModelFamily &f = model_family_of(ctx);
    if (!f.named) return;
    check_design(ctx, line);
    for (const ModelRead &r : f.reads) {
        if (!r.required || given(line, r.option) || (r.needed && !r.needed(ctx))) continue;
        // Other options can fill the detection probabilities (p1 copies into
        // them, a multi-method layout lays them out); only the unset marker counts.
        if (std::strcmp(r.option, "p") == 0 && ctx.pa[0] != -1) continue;
        const char *shown = std::strcmp(r.option, "p") == 0 && f.reads.data() == kAbundance ? "r" : r.option;
        if (r.span == Span::Surveys)
            input_error("%s is not set: give %s=x or one value per survey", shown, shown);
        input_error("%s is not set: give %s=x", shown, shown);
    }
    for (std::size_t i = 0; i < line.size(); i++) {
        const ModelRead *r = find_read(f, line[i]);
        if (!r || !line[i].reads_value()) continue;
        if (r->span != Span::One) check_length(ctx, line, i, *r);
        check_probabilities(line[i]);
    }
    std::vector<std::string> warnings = unread(ctx, line, f);
    for (const auto &w : warnings) std::fprintf(ctx.err, "occusim8: warning: %s\n", w.c_str());
    if (!warnings.empty() && ctx.STRICT) stop_strict(ctx, warnings.size());
}

} // namespace occusim
