// How a command-line argument reads: NAME=value split at '=', and a comma
// list split into its values. The option table and the study parameters
// both read arguments this way.
#pragma once

#include <string>
#include <vector>

namespace occusim {

// The name is the first run of characters without '=', the value the second
// (empty when absent).
void split_argument(const std::string &arg, std::string &name, std::string &value);

// The values of a comma list; empty entries are skipped.
std::vector<std::string> list_tokens(const std::string &text);

} // namespace occusim
