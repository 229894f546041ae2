// One fuzzing input as one bounded run of the whole program. The bytes split
// at blanks into a command line; the counts that set the work of a run
// (surveys, sites, copies of a history, methods, covariates, replicates) are
// capped, a missing or clock-based seed becomes a fixed one, and a history
// file name cannot leave the scratch directory. The run itself is the normal
// in-process entry point with its own streams and working directory, so
// nothing process-wide is touched.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "cli/option_table.hpp"
#include "cli/options.hpp"
#include "cli/run.hpp"
#include "core/context.hpp"

namespace occusim::fuzzing {

// Bounds on the work of one input.
inline constexpr long kSurveyCap = 6; // T, and the positional T of the front-block models
// Families whose histories multiply fastest with the surveys (several
// states, species or areas per survey) get fewer.
inline constexpr long kManyOutcomeSurveyCap = 4;
// A fit runs the model many times over for every replicate.
inline constexpr long kFitSurveyCap = 3;
inline constexpr long kFitCopyCap = 2;
// Expected values cost the same for any number of sites, so large counts
// (and the wide numbers they print) stay in reach; a random data set costs
// work in every site.
inline constexpr double kSiteCap = 10000;     // N, and the positional N
inline constexpr double kRandomSiteCap = 200; // the same in a random run
inline constexpr long kCopyCap = 10;          // NOBS, REPS
inline constexpr long kMethodCap = 2;         // METH (with the fewer surveys)
inline constexpr long kCovariateCap = 8;  // NCOVS, NPCOVS
// The negative binomial abundance is drawn as a sum of ceil(a) geometric
// counts per site.
inline constexpr double kDispersionCap = 1000; // a
// Those geometric counts take one uniform per failure, so a draw costs about
// the mean abundance, and each animal drawn costs a uniform per survey.
inline constexpr double kAbundanceCap = 1000; // u, Lambda, b
inline constexpr std::size_t kMaxArgs = 256;

inline bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\0';
}

// The bytes as arguments (program name first); blanks and NULs separate them.
inline Args split_input(std::string_view bytes) {
    Args args{"occusim8"};
    std::size_t i = 0;
    while (i < bytes.size() && args.size() <= kMaxArgs) {
        while (i < bytes.size() && is_blank(bytes[i])) i++;
        std::size_t j = i;
        while (j < bytes.size() && !is_blank(bytes[j])) j++;
        if (j > i) args.emplace_back(bytes.substr(i, j - i));
        i = j;
    }
    return args;
}

// The whole number the program reads from `text`, or nothing when it is
// within `cap` in magnitude.
inline bool over(const std::string &text, long cap, long &x) {
    x = static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
    return x > cap || x < -cap;
}

// `text` with the whole number in it capped in magnitude; text within the
// cap is kept as it is (so that malformed numbers still reach the program).
inline std::string capped_int(const std::string &text, long cap) {
    long x;
    if (!over(text, cap, x)) return text;
    return std::to_string(x > 0 ? cap : -cap);
}

// A real count as the program reads it (sites, dispersion): finite values are capped (an
// infinite or undefined one is refused by the run before any work).
inline std::string capped_real(const std::string &text, double cap) {
    double x = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(x) || std::fabs(x) <= cap) return text;
    char out[32];
    std::snprintf(out, sizeof out, "%.0f", x > 0 ? cap : -cap);
    return out;
}

// Each entry of a comma list capped by `cap_entry`.
template <class CapEntry> std::string capped_entries(const std::string &value, CapEntry cap_entry) {
    std::string out;
    std::size_t i = 0;
    while (i <= value.size()) {
        std::size_t j = value.find(',', i);
        if (j == std::string::npos) j = value.size();
        if (i > 0) out += ',';
        if (j > i) out += cap_entry(value.substr(i, j - i));
        i = j + 1;
    }
    return out;
}

// Each entry of a comma list capped as a whole number.
inline std::string capped_list(const std::string &value, long cap) {
    return capped_entries(value, [cap](const std::string &entry) { return capped_int(entry, cap); });
}

// Each entry of a comma list capped as a real number.
inline std::string capped_real_list(const std::string &value, double cap) {
    return capped_entries(value, [cap](const std::string &entry) { return capped_real(entry, cap); });
}

// The caps of one command line.
struct Caps {
    long surveys = kSurveyCap;
    double sites = kSiteCap;
    long copies = kCopyCap;
};

// Caps are lower where a model family's histories grow fastest with the
// number of surveys, where several methods multiply the detections of a
// survey, where a design evaluation runs the model once for every parameter
// and both sides of it, where replicates are fitted, and for the sites of a
// random run (SIMTYPE above 1, STOCH, a negative T, a batch).
inline Caps caps_of(const Args &args) {
    Caps caps;
    bool random = false, fit = false;
    for (std::size_t i = 1; i < args.size(); i++) {
        const Argument parsed = read_argument(args[i]);
        const std::string &name = parsed.name, &value = parsed.value;
        const bool named = parsed.has_value;
        if (name == "METH" || name == "DESIGN") caps.surveys = std::min(caps.surveys, kManyOutcomeSurveyCap);
        if (name == "FIT") fit = true;
        if (name == "REPS" || name == "FIT" || name.rfind("STOCH", 0) == 0) random = true;
        if (name == "SIMTYPE" && std::strtol(value.c_str(), nullptr, 10) > 1) random = true;
        if ((name == "T" || (!named && i == 1)) && (named ? value : args[i]).find('-') != std::string::npos)
            random = true;
        for (const OptionRow *row : rows_matching(name)) {
            if (row->family == Family::Integrated || row->family == Family::Multistate ||
                row->family == Family::TwoSpecies)
                caps.surveys = std::min(caps.surveys, kManyOutcomeSurveyCap);
        }
    }
    if (fit) {
        caps.surveys = std::min(caps.surveys, kFitSurveyCap);
        caps.copies = kFitCopyCap;
    }
    if (random) caps.sites = kRandomSiteCap;
    return caps;
}

// The command line with the work of the run bounded (see above).
inline Args bounded(Args args) {
    const Caps caps = caps_of(args);
    const long surveys = caps.surveys;
    bool seeded = false;
    for (std::size_t i = 1; i < args.size(); i++) {
        std::string &a = args[i];
        const Argument parsed = read_argument(a);
        const std::string name = parsed.name, value = parsed.value;
        const bool named = parsed.has_value;
        if (!named && i == 1) a = capped_int(a, surveys);
        else if (!named && i == 2)
            a = capped_real(a, caps.sites);
        else if (name == "T") a = "T=" + capped_int(value, surveys);
        else if (name == "N")
            a = "N=" + capped_real(value, caps.sites);
        else if (name == "NOBS" || name == "REPS")
            a = name + "=" + capped_int(value, caps.copies);
        else if (name == "METH") a = "METH=" + capped_int(value, kMethodCap);
        else if (name == "NCOVS" || name == "NPCOVS") a = name + "=" + capped_int(value, kCovariateCap);
        else if (name == "THREADS") a = "THREADS=1";
        else if (name == "a") a = "a=" + capped_real(value, kDispersionCap);
        else if (name == "u") a = "u=" + capped_real(value, kAbundanceCap);
        else if (name == "Lambda" || name == "b")
            a = name + "=" + capped_real_list(value, kAbundanceCap);
        else if (name == "SRVYPERSEASN" || name == "SPS") a = name + "=" + capped_list(value, surveys);
        else if (name == "SEED" || name == "seed") {
            // Negative seeds come from the clock; 0 asks on standard input.
            if (std::strtol(value.c_str(), nullptr, 10) < 0) a = "SEED=1";
            seeded = true;
        } else if (name == "outfile") {
            for (char &c : a)
                if (c == '/') c = '_';
        }
    }
    if (!seeded) args.emplace_back("SEED=1");
    return args;
}

// Empties the scratch directory so that no run sees the files of another.
inline void clear_directory(const std::string &dir) {
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(dir, ec))
        std::filesystem::remove_all(e.path(), ec);
}

// Runs the program on the bounded command line in `dir`, console into
// `console`, standard input empty. Returns the exit status.
inline int run_in(const std::string &dir, const Args &args, std::FILE *console, std::FILE *empty_in) {
    clear_directory(dir);
    Context ctx;
    ctx.out = console;
    ctx.err = console;
    ctx.in = empty_in;
    ctx.workdir = dir;
    return execute(ctx, args);
}

} // namespace occusim::fuzzing
