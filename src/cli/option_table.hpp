// The option table: every argument the program understands is one row, and a
// command-line argument is applied against all rows in table order (a name
// that several rows carry, such as r and c, is applied by each of them). A
// row says which names it answers to, what kind of value it reads, what it
// echoes, which model family it belongs to, whether its values are
// probabilities, a one-line description, and the action that stores the
// value and raises the row's switches. The help text, the README option
// reference and the argument diagnostics are all read from these rows.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "core/context.hpp"

namespace occusim {

// The text after "=" as a row reads it.
enum class ValueKind {
    None,      // a switch: any value is ignored
    Integer,   // whole number (int)
    Long,      // whole number (long)
    Real,      // one number
    List,      // comma list of numbers, one per survey
    IntList,   // comma list of whole numbers
    TwoRows,   // comma list filling two rows of survey values
    Indexed,   // (i,j) in the name, then a comma list of numbers
    Text,      // a word
    Fraction,  // i/k
};

// What a row prints on standard output when it applies.
enum class Echo {
    None,
    Scalar,  // "NAME=value" in the row's own format
    List,    // "NAME=" then the list "[ ... ]"
    Block,   // "NAME:" on its own line, then the list
    Bare,    // the list only
    After,   // "NAME:" on its own line after the values are stored
    Indexed, // "NAME=(i,j) " then the list
    Seasons, // "NAME=" then the list and the season lines
    Marker,  // a fixed marker line
};

// Groups of the option reference, in the order the help prints them.
enum class Family {
    Design,
    Run,
    Single,
    Dynamic,
    Heterogeneity,
    FalsePositive,
    MultiMethod,
    Spatial,
    TwoSpecies,
    Abundance,
    Multistate,
    StaggeredEntry,
    Integrated,
    Study,
};

inline constexpr int kFamilies = static_cast<int>(Family::Study) + 1;

// The heading of a family in the option reference.
const char *family_title(Family f);

struct OptionRow {
    // Up to three names; unused entries are null. A prefix row answers to
    // every name beginning with its first name.
    const char *names[3] = {};
    bool prefix = false;
    ValueKind kind = ValueKind::None;
    Echo echo = Echo::None;
    Family family = Family::Run;
    bool probability = false; // every value must lie in 0..1
    const char *value_help = ""; // how the value is written, "" for a switch
    const char *help = "";
    void (*apply)(Context &ctx, const Argument &arg) = nullptr;

    bool matches(const std::string &name) const;
};

// Every row, in the order in which rows apply.
std::span<const OptionRow> option_table();

// The rows that answer to one name, in table order.
class RowMatches {
  public:
    static constexpr std::size_t kCapacity = 8;
    void add(const OptionRow *row) { rows_[size_++] = row; }
    const OptionRow *const *begin() const { return rows_.data(); }
    const OptionRow *const *end() const { return rows_.data() + size_; }
    bool empty() const { return size_ == 0; }

  private:
    std::array<const OptionRow *, kCapacity> rows_{};
    std::size_t size_ = 0;
};

// Every row that answers to `name` (row.matches(name)), in table order,
// found through an index of the names rather than by trying each row.
RowMatches rows_matching(const std::string &name);

// True when some row answers to `name`.
bool known_option(const std::string &name);

// One argument of the command line as read once: its text, name, value and
// numbers, and the rows that answer to its name.
struct ParsedArgument {
    Argument arg;
    RowMatches rows;
    const OptionRow *value_row = nullptr; // the first row that reads a value
    bool switch_row = false;              // some row takes the name as a switch
    // A bare name that is also a switch (r, c) reads no value.
    bool reads_value() const { return value_row && !(switch_row && !arg.has_value); }
};
using CommandLine = std::vector<ParsedArgument>;

// Any argument containing QUIET or quiet asks for little console output.
inline bool is_quiet_switch(const std::string &text) {
    return text.find("quiet") != std::string::npos || text.find("QUIET") != std::string::npos;
}

// Reads every argument after the program name once, in command-line order.
CommandLine parse_command_line(const Args &args);

} // namespace occusim
