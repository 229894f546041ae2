// What each model family reads. The families are listed in the order the
// dispatch tries them (the first whose test holds takes the run), and each
// row declares the options its model reads: per-survey lists, transitions
// between surveys, single values, and whether the values are probabilities
// and must be given. The checks of a command line against the model it runs
// and the run metadata's family name both come from these rows.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "core/context.hpp"

namespace occusim {

struct ParsedArgument;
using CommandLine = std::vector<ParsedArgument>;

// How many values of an option a model reads.
enum class Span {
    One,         // a single value (or the first entry of a list)
    Surveys,     // one per survey: T values
    Transitions, // one per change between surveys: T-1 values (T are accepted)
};

struct ModelRead {
    const char *option;    // the option's first name in the option table
    Span span = Span::One;
    bool required = false; // the model cannot run without it (it has no default)
    // When set, the value is needed only where this holds (a detection
    // probability is never reached where no site is ever occupied).
    bool (*needed)(const Context &) = nullptr;
};

struct ModelFamily {
    bool (*takes)(const Context &);
    const char *name;  // as the run metadata names it
    const char *title; // as messages name it ("the <title> model")
    // False for the families that read their parameters by position: no
    // named option is checked against them.
    bool named;
    std::span<const ModelRead> reads;
};

// Every family, in dispatch order.
std::span<const ModelFamily> model_families();

// The family that takes a run of this context.
const ModelFamily &model_family_of(const Context &ctx);

// Checks the command line, once it is applied, against the model that will
// run: refuses (InputError) a value the model reads that was never set, a list
// of the wrong length, a probability outside 0..1, a negative N, a T of 0 or
// beyond the model's reach; prints a warning for each given option the model
// does not read (STRICT makes them an error).
void check_model_reads(Context &ctx, const CommandLine &line);

} // namespace occusim
