// Helpers shared by the multistate tests: reading the history file back into
// frequencies, comparing a stochastic data set with expected values, and
// running the program with one of its files blocked.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "driver/context.hpp"
#include "driver/run.hpp"
#include "support/cli.hpp"

namespace occusim::testing {

// History text -> frequency, from a summarised history file.
inline std::map<std::string, double> histories(const std::string &pao) {
    std::map<std::string, double> h;
    std::istringstream in(pao);
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line) && line != "0") {
        std::size_t tab = line.rfind('\t');
        h[line.substr(0, tab)] += std::stod(line.substr(tab + 1));
    }
    return h;
}

inline double total(const std::map<std::string, double> &h) {
    double t = 0;
    for (const auto &[k, v] : h) t += v;
    return t;
}

// Pearson chi-square of a simulated data set against the expected counts
// (every simulated history must be possible); checked against a bound far in
// the upper tail for its degrees of freedom.
inline void expect_agrees(const std::map<std::string, double> &sim,
                          const std::map<std::string, double> &exp) {
    double chi2 = 0;
    for (const auto &[k, v] : sim) EXPECT_TRUE(exp.count(k)) << "impossible history " << k;
    for (const auto &[k, e] : exp) {
        auto it = sim.find(k);
        double o = it == sim.end() ? 0 : it->second;
        chi2 += (o - e) * (o - e) / e;
    }
    double df = static_cast<double>(exp.size()) - 1;
    EXPECT_LT(chi2, df + 5 * std::sqrt(2 * df)) << "chi-square " << chi2 << " on " << df << " df";
}

// Runs the program in a fresh directory in which `blocked` already exists as
// a directory, so that the file of that name cannot be created.
inline CliRun run_blocked(const std::vector<std::string> &args, const std::string &blocked) {
    CliRun r;
    r.dir = make_temp_dir();
    std::filesystem::create_directory(r.dir + "/" + blocked);
    std::FILE *out = std::tmpfile();
    std::FILE *err = std::tmpfile();
    {
        Context ctx;
        ctx.out = out;
        ctx.err = err;
        ctx.workdir = r.dir;
        Args full{"occusim8"};
        full.insert(full.end(), args.begin(), args.end());
        r.status = execute(ctx, full);
    }
    for (auto [f, s] : {std::pair{out, &r.out}, std::pair{err, &r.err}}) {
        std::rewind(f);
        char buf[4096];
        std::size_t got;
        while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) s->append(buf, got);
        std::fclose(f);
    }
    return r;
}

// The console output from the first line of the model's own commentary on.
inline std::string from(const std::string &out, const std::string &start) {
    std::size_t at = out.find(start);
    return at == std::string::npos ? std::string() : out.substr(at);
}

} // namespace occusim::testing
