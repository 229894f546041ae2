// The source tree is layered and nothing includes upward: core, then random
// and history, then the model families, then simulation studies, then the
// command line. Every quoted include under src/ is checked against that
// order (a layer may include itself and anything below it).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>

namespace {

namespace fs = std::filesystem;

// Rank of the layer a path below src/ belongs to (-1: not a layer).
int rank_of(const std::string &rel) {
    static const std::map<std::string, int> ranks = {{"core", 0},   {"random", 1}, {"history", 1},
                                                     {"models", 2}, {"study", 3},  {"cli", 4}};
    auto slash = rel.find('/');
    if (slash == std::string::npos) return -1;
    auto it = ranks.find(rel.substr(0, slash));
    return it == ranks.end() ? -1 : it->second;
}

TEST(Layers, NoSourceIncludesALayerAboveItsOwn) {
    const fs::path src = fs::path(__FILE__).parent_path().parent_path().parent_path() / "src";
    const std::regex include("^\\s*#\\s*include\\s*\"([^\"]+)\"");
    int files = 0;
    for (const auto &e : fs::recursive_directory_iterator(src)) {
        if (!e.is_regular_file()) continue;
        const std::string rel = fs::relative(e.path(), src).generic_string();
        const int own = rank_of(rel);
        if (own < 0) continue; // main.cpp sits above every layer
        files++;
        std::ifstream in(e.path());
        std::string line;
        std::smatch m;
        while (std::getline(in, line)) {
            if (!std::regex_search(line, m, include)) continue;
            const int theirs = rank_of(m[1].str());
            EXPECT_GE(theirs, 0) << rel << " includes \"" << m[1] << "\", which is in no layer";
            EXPECT_LE(theirs, own) << rel << " includes \"" << m[1] << "\" from a higher layer";
        }
    }
    EXPECT_GT(files, 40);
}

} // namespace
