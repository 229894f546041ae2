// Random command lines run twice: once as the program is built, and once more
// from the same prepared run with the path-by-path reference cohort form
// (reference_cohorts.hpp). The two must write the same history file and the
// same console from the occupancy split on, draw the same random numbers, and
// give every history the same count to 1e-12 relative. A count whose two sums
// differ only in their last bits can still fall on either side of a rounding
// boundary of the 6-decimal text; such histories are listed, with both
// values, rather than counted as failures.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cli/run.hpp"
#include "core/errors.hpp"
#include "support/cli.hpp"
#include "support/history.hpp"

namespace occusim::testing::sweep {

using CohortForm = void (*)(Context &);

struct Outcome {
    bool compared = false;             // the run reached the model's cohort form
    std::string failure;               // the first disagreement ("" when none)
    std::vector<std::string> boundary; // histories whose text differs by rounding only
};

inline std::string fixed6(double v) {
    char b[64];
    std::snprintf(b, sizeof b, "%f", v);
    return b;
}

inline std::string describe(const Args &args) {
    std::string s;
    for (const auto &a : args) s += a + " ";
    return s;
}

// Compares the two count tables history by history.
inline void compare_tables(const CountTable &walked, const CountTable &reference, Outcome &r,
                           const std::string &line) {
    std::map<std::int64_t, std::pair<double, double>> counts;
    walked.for_each([&](std::int64_t code, double v) {
        if (v != 0) counts[code].first = v;
    });
    reference.for_each([&](std::int64_t code, double v) {
        if (v != 0) counts[code].second = v;
    });
    for (const auto &[code, v] : counts) {
        const auto [a, b] = v;
        if (!(a > 0) && !(b > 0)) continue; // not written by either
        char what[200];
        std::snprintf(what, sizeof what, "history code %lld: walk %.17g, path by path %.17g",
                      static_cast<long long>(code), a, b);
        const bool close = std::fabs(a - b) <= 1e-12 * std::fmax(std::fabs(a), std::fabs(b));
        if ((a > 0) != (b > 0) || !close) {
            if (r.failure.empty()) r.failure = line + ": " + what;
            continue;
        }
        if (fixed6(a) != fixed6(b)) r.boundary.push_back(line + ": " + what);
    }
}

// Runs `args` both ways. `heading` is console text only the intended model
// prints; lines that end elsewhere (refused input, other models, site by
// site) are not compared.
inline Outcome compare(const Args &args, CohortForm reference, const std::string &heading) {
    Outcome r;
    const std::string line = describe(args);
    TempDir dir;
    std::FILE *out = std::tmpfile();
    std::FILE *err = std::tmpfile();
    std::FILE *in = std::tmpfile();
    std::FILE *ref_out = std::tmpfile();
    Context ctx;
    ctx.out = out;
    ctx.err = err;
    ctx.in = in;
    ctx.workdir = dir.path;
    Args full{"occusim8"};
    full.insert(full.end(), args.begin(), args.end());
    const int status = execute(ctx, full);
    const std::string console = read_stream(out);
    const std::string file = read_file(ctx.path(ctx.outfile));
    const std::string marker = "nAonly,nBonly,nAB,neither: ";
    const std::size_t from = console.find(marker);
    if (status == 0 && ctx.SIMTYPE != 2 && console.find(heading) != std::string::npos &&
        from != std::string::npos) {
        r.compared = true;
        long walked_end = 0;
        ctx.rng.GetSeed(&walked_end);
        CountTable walked = std::move(ctx.nx);
        ctx.nx.reset(walked.size());
        if (ctx.determ == 0) {
            ctx.rng.SelectStream(0);
            ctx.rng.PlantSeeds(ctx.seed_value);
        }
        ctx.out = ref_out;
        ctx.fp = nullptr;
        ctx.fp2 = ctx.open("reference.pao", "w");
        try {
            reference(ctx);
        } catch (const RunFinished &) {
        }
        ctx.close_streams();
        const std::string ref_console = read_stream(ref_out);
        const std::string ref_file = read_file(ctx.path("reference.pao"));
        long reference_end = 0;
        ctx.rng.GetSeed(&reference_end);
        compare_tables(walked, ctx.nx, r, line);
        if (console.substr(from) != ref_console)
            r.failure = line + ": console differs";
        else if (walked_end != reference_end)
            r.failure = line + ": different random draws";
        else if (r.failure.empty()) {
            // The files may differ only in the lines of the listed histories.
            const auto a = lines_of(file), b = lines_of(ref_file);
            std::size_t differing = 0;
            for (std::size_t i = 0; i < a.size() && i < b.size(); i++) differing += a[i] != b[i];
            if (a.size() != b.size() || differing != r.boundary.size())
                r.failure = line + ": history files differ";
        }
    }
    for (std::FILE *f : {out, err, in, ref_out}) std::fclose(f);
    return r;
}

// Draws the command lines of a sweep: fixed seed, so every run of the suite
// sees the same lines.
class Lines {
  public:
    explicit Lines(std::uint64_t seed) : g_(seed) {}
    int below(int n) { return static_cast<int>(g_() % static_cast<std::uint64_t>(n)); }
    bool chance(int percent) { return below(100) < percent; }
    // A probability: often 0 or 1 (empty and certain branches), otherwise
    // up to three decimals.
    std::string prob() {
        const int k = below(10);
        if (k == 0) return "0";
        if (k == 1) return "1";
        char b[16];
        std::snprintf(b, sizeof b, "0.%03d", 1 + below(999));
        return b;
    }
    // One value for every survey, or a list of T.
    std::string probs(int T) {
        if (T == 1 || chance(60)) return prob();
        std::string s = prob();
        for (int j = 1; j < T; j++) s += "," + prob();
        return s;
    }
    // Surveys 1..max, the larger ones rarer.
    int surveys(int max) {
        int T = 1 + below(max);
        if (T == max && chance(70)) T = 1 + below(max - 1);
        return T;
    }
    // Number of sites and, one time in three, a seeded random run.
    Args sites(bool stochastic) {
        static const char *const expected[] = {"N=1", "N=10", "N=100", "N=1000", "N=37.5", "N=250000"};
        static const char *const random[] = {"N=1", "N=7", "N=25", "N=120", "N=400", "N=5000"};
        if (!stochastic) return {expected[below(6)]};
        return {random[below(6)], "STOCH", "SEED=" + std::to_string(1 + below(2000000))};
    }

  private:
    std::mt19937_64 g_;
};

// Number of compared lines: 1000, or the value of OCCUSIM_SWEEP_LINES for a
// longer sweep by hand.
inline int lines_wanted() {
    const char *v = std::getenv("OCCUSIM_SWEEP_LINES");
    const int n = v ? std::atoi(v) : 0;
    return n > 0 ? n : 1000;
}

struct Summary {
    int compared = 0;
    int random = 0;
    std::vector<std::string> failures, boundary;
};

// Runs lines from `draw` until `wanted` of them reached the cohort form.
template <class Draw>
Summary run_sweep(Draw &&draw, CohortForm reference, const std::string &heading, int wanted) {
    Summary s;
    for (int tries = 0; s.compared < wanted && tries < 4 * wanted; tries++) {
        const Args args = draw();
        Outcome o = compare(args, reference, heading);
        if (!o.compared) continue;
        s.compared++;
        for (const auto &a : args) s.random += a == "STOCH";
        if (!o.failure.empty()) s.failures.push_back(o.failure);
        for (auto &b : o.boundary) s.boundary.push_back(std::move(b));
    }
    return s;
}

} // namespace occusim::testing::sweep
