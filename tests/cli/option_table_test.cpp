// The option table as data: each row's echo matches its echo column, every
// name belongs to one row (except r and c, which are several by design),
// the value kinds and probability marks the diagnostics rely on, and prefix
// rows answering to whole families of names.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <vector>
#include <string>

#include "cli/option_table.hpp"
#include "support/cli.hpp"

using occusim::Context;
using occusim::Echo;
using occusim::OptionRow;
using occusim::ValueKind;
using occusim::testing::read_stream;

namespace {

// A value of the row's kind that every row accepts.
std::string sample_value(const OptionRow &row) {
    switch (row.kind) {
    case ValueKind::Integer:
    case ValueKind::Long:
    case ValueKind::IntList: return "2";
    case ValueKind::Text: {
        // Words the study rows check.
        const std::string n = row.names[0];
        return n == "NULLS"      ? "p:0.5"
               : n == "FITMODEL" ? "standard"
               : n == "FITP"     ? "survey"
               : n == "GRID"     ? "N:50,100"
                                 : "x.pao";
    }
    case ValueKind::Fraction: return "1/2";
    case ValueKind::None: return "";
    // The costs of a design search are three numbers.
    default: return std::string(row.names[0]) == "COST" ? "0,1,1" : ".5";
    }
}

// How the row is named on a command line ("phi(0,1)" for a prefix row).
std::string sample_name(const OptionRow &row, const char *name) {
    if (!row.prefix) return name;
    std::string n = name;
    return n.back() == '(' ? n + "0,1)" : n + "ASTIC";
}

// Applies a row to the argument name=value (a bare name when value is empty).
void apply_text(const OptionRow &row, Context &ctx, const std::string &name, const std::string &value) {
    row.apply(ctx, occusim::read_argument(value.empty() ? name : name + "=" + value));
}

// What one row prints when it applies, with T=2 known.
std::string echo_of(const OptionRow &row, const std::string &name, const std::string &value) {
    Context ctx;
    std::FILE *out = std::tmpfile();
    ctx.out = out;
    ctx.set_vector_defaults();
    ctx.nper = 2;
    ctx.SRVYPERSEASN[0] = 2;
    apply_text(row, ctx, name, value);
    std::string s = read_stream(out);
    ctx.out = stdout;
    std::fclose(out);
    return s;
}

bool starts(const std::string &s, const std::string &p) {
    return s.rfind(p, 0) == 0;
}

TEST(OptionTable, EveryRowEchoesWhatItsEchoColumnSays) {
    for (const OptionRow &row : occusim::option_table()) {
        for (const char *n : row.names) {
            if (!n) continue;
            const std::string name = sample_name(row, n);
            const std::string echo = echo_of(row, name, sample_value(row));
            SCOPED_TRACE(name);
            switch (row.echo) {
            case Echo::None: EXPECT_EQ(echo, ""); break;
            case Echo::Scalar: EXPECT_TRUE(starts(echo, std::string(row.names[0]) + "=")) << echo; break;
            case Echo::List: EXPECT_EQ(echo, name + "=[ 0.50 0.50]\n"); break;
            case Echo::Block: EXPECT_EQ(echo, name + ":\n[ 0.50 0.50]\n"); break;
            case Echo::Bare: EXPECT_EQ(echo, "[ 0.50 0.50]\n"); break;
            case Echo::After: EXPECT_EQ(echo, name + ":\n"); break;
            case Echo::Indexed: EXPECT_EQ(echo, name + "=(0,1) [ 0.50 0.50]\n"); break;
            case Echo::Seasons: EXPECT_EQ(echo, name + "=[ 2 2]\nnseasns=2 nper=2\n"); break;
            case Echo::Marker: EXPECT_EQ(echo, "asdf\n"); break;
            }
            EXPECT_EQ(row.kind == ValueKind::None, row.value_help[0] == '\0');
            EXPECT_NE(row.help[0], '\0');
        }
    }
}

// The switches and flags a switch row may raise, as one comparable value.
std::vector<int> switches(const Context &c) {
    return {c.determ, c.QUIET,   c.REMOVAL,     c.HET,    c.LIST,   c.P0MISS, c.SPADEP, c.MULTISTATE, c.MSCD,
            c.STAG,   c.INTEGRATED, c.new_pao_opt, c.ROYLE, c.NICHOLS, c.STRICT, c.DESIGN, c.FIT};
}

TEST(OptionTable, EverySwitchRowRaisesAndOnlyItsOwnSwitch) {
    std::map<std::vector<int>, std::string> seen;
    for (const OptionRow &row : occusim::option_table()) {
        if (row.kind != ValueKind::None) continue;
        Context ctx;
        std::FILE *out = std::tmpfile();
        ctx.out = out;
        const std::vector<int> before = switches(ctx);
        apply_text(row, ctx, sample_name(row, row.names[0]), "");
        const std::vector<int> after = switches(ctx);
        ctx.out = stdout;
        std::fclose(out);
        EXPECT_NE(after, before) << row.names[0];
        int changed = 0;
        for (std::size_t i = 0; i < before.size(); i++) changed += before[i] != after[i];
        EXPECT_EQ(changed, 1) << row.names[0];
        // Two rows with the same effect are one option under two names (ROYLE and r).
        auto [it, fresh] = seen.emplace(after, row.names[0]);
        if (!fresh) {
            EXPECT_TRUE(it->second == "r" && std::string(row.names[0]) == "ROYLE") << row.names[0];
        }
    }
}

TEST(OptionTable, EveryNameBelongsToOneRowExceptTheAbundanceDetectionNames) {
    std::map<std::string, int> rows_of;
    for (const OptionRow &row : occusim::option_table())
        for (const char *n : row.names)
            if (n) rows_of[n]++;
    for (const auto &[name, count] : rows_of) {
        if (name == "r" || name == "c")
            EXPECT_EQ(count, 3) << name; // switch, detection list, individual detection list
        else
            EXPECT_EQ(count, 1) << name;
    }
}

TEST(OptionTable, PrefixRowsAnswerToWholeFamiliesOfNames) {
    EXPECT_TRUE(occusim::known_option("STOCHASTIC"));
    EXPECT_TRUE(occusim::known_option("STOCH"));
    EXPECT_TRUE(occusim::known_option("phi(1;2)"));
    EXPECT_TRUE(occusim::known_option("p(0,3)"));
    EXPECT_FALSE(occusim::known_option("stoch"));
    EXPECT_FALSE(occusim::known_option("Stochastic"));
    EXPECT_TRUE(occusim::known_option("phi"));
    EXPECT_FALSE(occusim::known_option("phi[1,2]"));
    EXPECT_FALSE(occusim::known_option(""));
}

TEST(OptionTable, ProbabilityMarksFollowWhatTheValuesMean) {
    std::map<std::string, bool> prob;
    for (const OptionRow &row : occusim::option_table())
        for (const char *n : row.names)
            if (n) prob[n] = row.probability;
    for (const char *p : {"psi", "p", "eps", "gam", "p10", "psiA", "psiBA", "pA", "rBa", "thA", "Ent", "th0",
                          "p1", "psi0", "R0", "cR1", "phi(", "p(", "Psi", "eta1BA", "gamBB", "pi"})
        EXPECT_TRUE(prob.at(p)) << p;
    // Ratios, abundances, counts and coefficients are not probabilities.
    for (const char *n : {"phi", "dlta", "Lambda", "a", "u", "b", "N", "T", "coef", "pcoef", "NOBS", "SEED"})
        EXPECT_FALSE(prob.at(n)) << n;
}

TEST(OptionTable, SimulationStudyRowsStoreTheirValuesSilently) {
    Context ctx;
    std::FILE *out = std::tmpfile();
    ctx.out = out;
    for (const OptionRow &row : occusim::option_table()) {
        std::string n = row.names[0];
        if (n == "REPS") apply_text(row, ctx, n, "200");
        if (n == "THREADS") apply_text(row, ctx, n, "3");
        if (n == "SHARD") apply_text(row, ctx, n, "2/5");
        if (n == "RNG") apply_text(row, ctx, n, "philox");
        if (n == "FORMAT") apply_text(row, ctx, n, "csv");
        if (n == "NPCOVS") apply_text(row, ctx, n, "2");
        if (n == "pcoef") apply_text(row, ctx, n, ".5,,-1");
        if (n == "DESIGN" || n == "FIT" || n == "STRICT") apply_text(row, ctx, n, "");
        if (n == "GRID") apply_text(row, ctx, n, "PsiA:.2,.4");
    }
    EXPECT_EQ(read_stream(out), "");
    ctx.out = stdout;
    std::fclose(out);
    EXPECT_EQ(ctx.REPS, 200);
    EXPECT_EQ(ctx.THREADS, 3);
    EXPECT_EQ(ctx.shard_i, 2);
    EXPECT_EQ(ctx.shard_k, 5);
    EXPECT_EQ(ctx.RNG, "philox");
    EXPECT_EQ(ctx.FORMAT, "csv");
    EXPECT_EQ(ctx.NPCOVS, 2);
    EXPECT_EQ(ctx.pcoef, (std::vector<double>{0.5, -1}));
    EXPECT_TRUE(ctx.DESIGN && ctx.FIT && ctx.STRICT);
    ASSERT_EQ(ctx.GRID.size(), 1u);
    EXPECT_EQ(ctx.GRID[0].name, "PsiA");
    EXPECT_EQ(ctx.GRID[0].values, (std::vector<std::string>{".2", ".4"}));
}

} // namespace

namespace {

// The index must give exactly the rows a walk over the table finds.
TEST(OptionTable, IndexFindsTheRowsAWalkFinds) {
    std::vector<std::string> names{"",      "x",          "pp",  "phi(", "phi(1,2)", "p(2;1)",
                                   "STOCH", "STOCHASTIC", "psi", "p",    "QUIET",    "quiet",
                                   "T",     "N",          "r",   "c",    "b",        "P"};
    for (const OptionRow &row : occusim::option_table())
        for (const char *n : row.names)
            if (n) {
                names.push_back(n);
                names.push_back(std::string(n) + "x");
                names.push_back(std::string(n).substr(0, std::string(n).size() - 1));
            }
    for (const std::string &name : names) {
        std::vector<const OptionRow *> walk, index;
        for (const OptionRow &row : occusim::option_table())
            if (row.matches(name)) walk.push_back(&row);
        for (const OptionRow *row : occusim::rows_matching(name)) index.push_back(row);
        EXPECT_EQ(index, walk) << name;
        EXPECT_EQ(occusim::known_option(name), !walk.empty()) << name;
    }
}

} // namespace
