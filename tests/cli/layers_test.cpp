// The source tree is layered and nothing includes upward: core, then random
// and history, then the model families, then simulation studies, then the
// replicate machinery, then the command line. Every quoted include under src/ is checked against that
// order (a layer may include itself and anything below it).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <regex>
#include <string>

namespace {

namespace fs = std::filesystem;

// Rank of the layer a path below src/ belongs to (-1: not a layer).
int rank_of(const std::string &rel) {
    static const std::map<std::string, int> ranks = {{"core", 0},   {"random", 1}, {"history", 1}, {"models", 2},
                                                     {"study", 3},  {"batch", 4},  {"cli", 5}};
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

// A source file and its header form one unit ("batch/outputs"). Within the
// folders listed, no unit may reach itself through the includes of others,
// so that the folder reads from its lowest file up.
TEST(Layers, NoIncludeCircleWithinTheReplicateMachinery) {
    const std::set<std::string> folders = {"batch"};
    const fs::path src = fs::path(__FILE__).parent_path().parent_path().parent_path() / "src";
    const std::regex include("^\\s*#\\s*include\\s*\"([^\"]+)\"");
    auto unit = [](std::string path) { return path.substr(0, path.rfind('.')); };
    std::map<std::string, std::set<std::string>> uses;
    for (const auto &e : fs::recursive_directory_iterator(src)) {
        if (!e.is_regular_file()) continue;
        const std::string own = unit(fs::relative(e.path(), src).generic_string());
        if (!folders.count(own.substr(0, own.find('/')))) continue;
        std::ifstream in(e.path());
        std::string line;
        std::smatch m;
        while (std::getline(in, line))
            if (std::regex_search(line, m, include) && unit(m[1].str()) != own) uses[own].insert(unit(m[1].str()));
    }
    std::map<std::string, int> state; // 1: on the current path, 2: done
    std::vector<std::string> path;
    std::function<void(const std::string &)> visit = [&](const std::string &u) {
        state[u] = 1;
        path.push_back(u);
        for (const std::string &v : uses[u]) {
            if (state[v] == 1) {
                std::string loop;
                for (auto it = std::find(path.begin(), path.end(), v); it != path.end(); ++it) loop += *it + " -> ";
                ADD_FAILURE() << "include circle: " << loop << v;
            } else if (state[v] == 0) {
                visit(v);
            }
        }
        path.pop_back();
        state[u] = 2;
    };
    for (const auto &[u, _] : uses)
        if (state[u] == 0) visit(u);
    EXPECT_GE(uses.size(), 4u);
}

} // namespace
