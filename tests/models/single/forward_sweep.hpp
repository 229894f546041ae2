// Sweeps that hold the forward pass over history prefixes to the cohort walk
// (every sequence of hidden states on its own, the way expected values were
// first computed): the same command line is run both ways in-process, and the
// console, the exit status, every file and every history's exact count must
// agree. A count that the two ways sum in a different order may fall on the
// other side of a rounding boundary of the printed text; such lines are
// tolerated only when the printed values are one unit of the last digit
// apart and the exact counts agree, and they are collected for the record.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "cli/run.hpp"
#include "core/context.hpp"
#include "support/cli.hpp"

namespace occusim::testing {

// Collects every history the run writes with its exact count.
struct CountLog : HistorySink {
    std::vector<std::pair<std::string, double>> lines;
    void history(std::string_view fields, double count) override { lines.emplace_back(fields, count); }
};

struct SweepRun {
    int status = -1;
    std::string out, err;
    std::map<std::string, std::string> files;
    CountLog counts;
};

// A working directory and console streams kept from run to run (emptied
// before each), so that a sweep of thousands of runs does not create and
// remove thousands of directories.
struct RunPlace {
    TempDir dir;
    std::FILE *out = std::tmpfile();
    std::FILE *err = std::tmpfile();
    RunPlace() = default;
    RunPlace(const RunPlace &) = delete;
    RunPlace &operator=(const RunPlace &) = delete;
    ~RunPlace() {
        std::fclose(out);
        std::fclose(err);
    }
    void clear() {
        for (const auto &e : std::filesystem::directory_iterator(dir.path))
            std::filesystem::remove_all(e.path());
        for (std::FILE *f : {out, err}) {
            std::rewind(f);
            if (ftruncate(fileno(f), 0) != 0) std::perror("ftruncate");
        }
    }
};

// Runs occusim8 computing its expected values the given way.
inline SweepRun run_by(RunPlace &place, const Args &args, Context::ExpectedBy way) {
    SweepRun r;
    place.clear();
    {
        Context ctx;
        ctx.out = place.out;
        ctx.err = place.err;
        ctx.workdir = place.dir.path;
        ctx.expected_by = way;
        ctx.sink = &r.counts;
        Args full{"occusim8"};
        full.insert(full.end(), args.begin(), args.end());
        r.status = execute(ctx, full);
    }
    std::fflush(place.out);
    std::fflush(place.err);
    r.out = read_stream(place.out);
    r.err = read_stream(place.err);
    for (const auto &e : std::filesystem::directory_iterator(place.dir.path))
        r.files[e.path().filename().string()] = read_file(e.path().string());
    return r;
}

// Runs occusim8 by the pass or by the walk.
inline SweepRun run_way(RunPlace &place, const Args &args, bool walk) {
    return run_by(place, args, walk ? Context::ExpectedBy::Walk : Context::ExpectedBy::Pass);
}

inline std::vector<std::string> split_lines(const std::string &s) {
    std::vector<std::string> v;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

// The last tab- or space-separated field of a line, as a number.
inline bool last_number(const std::string &line, std::string &head, double &value) {
    const std::size_t at = line.find_last_of("\t ");
    if (at == std::string::npos) return false;
    head = line.substr(0, at);
    const std::string tail = line.substr(at + 1);
    char *end = nullptr;
    value = std::strtod(tail.c_str(), &end);
    return end && *end == '\0' && !tail.empty();
}

inline std::string joined(const Args &args) {
    std::string s;
    for (const auto &a : args) s += (s.empty() ? "" : " ") + a;
    return s;
}

class Sweep {
  public:
    explicit Sweep(std::uint64_t seed) : gen_(seed) {}

    // Draws: a whole number in [lo, hi], and a probability as a command line
    // would give it (0 and 1 now and then, otherwise two or three decimals).
    int whole(int lo, int hi) {
        return lo + static_cast<int>(gen_() % static_cast<std::uint64_t>(hi - lo + 1));
    }
    bool chance(int percent) { return whole(1, 100) <= percent; }
    std::string prob() {
        const int kind = whole(0, 9);
        if (kind == 0) return "0";
        if (kind == 1) return "1";
        char buf[16];
        if (kind <= 6)
            std::snprintf(buf, sizeof buf, ".%02d", whole(1, 99));
        else
            std::snprintf(buf, sizeof buf, ".%03d", whole(1, 999));
        return buf;
    }
    std::string probs(int count) {
        std::string s;
        for (int i = 0; i < count; i++) s += (i ? "," : "") + prob();
        return s;
    }
    std::string sites() {
        const int kind = whole(0, 9);
        if (kind == 0) return "0";
        if (kind == 1) return std::to_string(whole(1, 9)) + ".5";
        return std::to_string(whole(1, kind < 5 ? 200 : 2000));
    }

    // Runs both ways and checks that they agree.
    void compare(const Args &args) {
        SCOPED_TRACE(joined(args));
        runs_++;
        const SweepRun pass = run_way(place_, args, false);
        const SweepRun walk = run_way(place_, args, true);
        EXPECT_EQ(pass.status, walk.status);
        EXPECT_EQ(pass.err, walk.err);
        compare_text("console", args, pass.out, walk.out);
        ASSERT_EQ(pass.files.size(), walk.files.size());
        for (const auto &[name, text] : walk.files) {
            auto it = pass.files.find(name);
            ASSERT_NE(it, pass.files.end()) << name;
            compare_text(name, args, it->second, text);
        }
        ASSERT_EQ(pass.counts.lines.size(), walk.counts.lines.size());
        for (std::size_t i = 0; i < walk.counts.lines.size(); i++) {
            const auto &[fields, w] = walk.counts.lines[i];
            const auto &[pfields, p] = pass.counts.lines[i];
            EXPECT_EQ(pfields, fields);
            EXPECT_LE(std::fabs(p - w), 1e-12 * std::fmax(std::fabs(p), std::fabs(w))) << fields;
            if (w > 0) histories_++;
            // The exact counts behind a line printed differently.
            for (auto &c : pending_) {
                if (trimmed(fields) != c.head) continue;
                char buf[96];
                std::snprintf(buf, sizeof buf, " (exact: pass %.17g, walk %.17g)", p, w);
                c.text += buf;
            }
        }
        if (!pending_.empty()) boundary_runs_++;
        for (auto &c : pending_) cases_.push_back(c.text);
        pending_.clear();
    }

    int runs() const { return runs_; }
    // Command lines with at least one line on a rounding boundary.
    int boundary_runs() const { return boundary_runs_; }
    long histories() const { return histories_; }
    const std::vector<std::string> &boundary_cases() const { return cases_; }

    // Prints the tolerated rounding-boundary lines.
    void report(const char *family) const {
        std::printf("%s: %d command lines, %ld histories, %zu lines on a rounding boundary\n", family, runs_,
                    histories_, cases_.size());
        for (const auto &c : cases_) std::printf("  %s\n", c.c_str());
    }

  private:
    void compare_text(const std::string &what, const Args &args, const std::string &pass,
                      const std::string &walk) {
        if (pass == walk) return;
        const auto pl = split_lines(pass), wl = split_lines(walk);
        ASSERT_EQ(pl.size(), wl.size()) << what;
        for (std::size_t i = 0; i < wl.size(); i++) {
            if (pl[i] == wl[i]) continue;
            std::string ph, wh;
            double pv = 0, wv = 0;
            const bool numbers = last_number(pl[i], ph, pv) && last_number(wl[i], wh, wv);
            ASSERT_TRUE(numbers && ph == wh) << what << " line " << i << ":\n" << pl[i] << "\n" << wl[i];
            // One unit of the last printed decimal apart, no more.
            const std::size_t dot = wl[i].rfind('.');
            const int decimals = dot == std::string::npos ? 0 : static_cast<int>(wl[i].size() - dot - 1);
            ASSERT_LE(std::fabs(pv - wv), 1.5 * std::pow(10.0, -decimals)) << what << ": " << wl[i];
            pending_.push_back({trimmed(wh), joined(args) + " | " + what + " | pass \"" + pl[i] +
                                                 "\" walk \"" + wl[i] + "\""});
        }
    }

    static std::string trimmed(std::string s) {
        while (!s.empty() && (s.back() == '\t' || s.back() == ' ')) s.pop_back();
        return s;
    }
    struct Pending {
        std::string head, text;
    };
    std::vector<Pending> pending_;
    RunPlace place_;
    std::mt19937_64 gen_;
    int runs_ = 0;
    int boundary_runs_ = 0;
    long histories_ = 0;
    std::vector<std::string> cases_;
};

} // namespace occusim::testing
