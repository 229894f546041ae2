// Reading of NAME=value arguments and comma lists.
#include "core/arguments.hpp"

#include <cstdlib>

namespace occusim {

namespace {

// The name is the first run of characters without '=', the value the second.
void split(const std::string &arg, std::string &name, std::string &value) {
    std::size_t i = arg.find_first_not_of('=');
    name.clear();
    value.clear();
    if (i == std::string::npos) return;
    std::size_t j = arg.find('=', i);
    name = arg.substr(i, j == std::string::npos ? std::string::npos : j - i);
    if (j == std::string::npos) return;
    std::size_t k = arg.find_first_not_of('=', j);
    if (k == std::string::npos) return;
    std::size_t l = arg.find('=', k);
    value = arg.substr(k, l == std::string::npos ? std::string::npos : l - k);
}

} // namespace

std::vector<std::string> list_tokens(const std::string &text) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t j = text.find(',', i);
        if (j == std::string::npos) j = text.size();
        if (j > i) out.push_back(text.substr(i, j - i));
        i = j + 1;
    }
    return out;
}

Argument read_argument(const std::string &text, int position) {
    Argument a;
    a.position = position;
    a.text = text;
    split(text, a.name, a.value);
    a.has_value = text.find('=') != std::string::npos;
    a.tokens = list_tokens(a.value);
    a.number = std::strtod(a.value.c_str(), nullptr);
    a.whole = std::strtol(a.value.c_str(), nullptr, 10);
    a.numbers.reserve(a.tokens.size());
    a.wholes.reserve(a.tokens.size());
    for (const auto &t : a.tokens) {
        a.numbers.push_back(std::strtod(t.c_str(), nullptr));
        a.wholes.push_back(std::strtol(t.c_str(), nullptr, 10));
    }
    return a;
}

std::vector<Argument> read_arguments(const Args &args) {
    std::vector<Argument> out;
    out.reserve(args.size());
    for (std::size_t i = 1; i < args.size(); i++) out.push_back(read_argument(args[i], static_cast<int>(i)));
    return out;
}

std::string with_value(const Argument &a, const std::string &value) {
    return a.name + "=" + value;
}

} // namespace occusim
