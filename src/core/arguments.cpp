// Splitting of NAME=value arguments and comma lists.
#include "core/arguments.hpp"

namespace occusim {

void split_argument(const std::string &arg, std::string &name, std::string &value) {
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

} // namespace occusim
