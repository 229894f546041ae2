// How a command-line argument reads: NAME=value split at '=', its value as a
// comma list, and the numbers in it. Every argument is read this way exactly
// once, into an Argument; the option table, the checks, the batch, the run
// metadata and the study parameters all take these instead of the text.
#pragma once

#include <string>
#include <vector>

namespace occusim {

// The command line as the program received it; entry 0 is the program name.
using Args = std::vector<std::string>;

struct Argument {
    int position = 0;      // place on the command line, from 1
    std::string text;      // the argument as typed
    std::string name;      // the first run of characters without '='
    std::string value;     // the second such run ("" when absent)
    bool has_value = false; // an '=' follows the name
    std::vector<std::string> tokens; // the value's comma-list entries (empty ones skipped)
    double number = 0;     // the value as one real number, as the C library reads it
    long whole = 0;        // the value as one whole number, as the C library reads it
    std::vector<double> numbers; // every entry as a real number
    std::vector<long> wholes;    // every entry as a whole number
};

// Reads one argument (position `position`).
Argument read_argument(const std::string &text, int position = 0);

// Reads every argument after the program name, in command-line order.
std::vector<Argument> read_arguments(const Args &args);

// The text of an argument with the value replaced by `value` (name=value).
std::string with_value(const Argument &a, const std::string &value);

// The values of a comma list; empty entries are skipped.
std::vector<std::string> list_tokens(const std::string &text);

} // namespace occusim
