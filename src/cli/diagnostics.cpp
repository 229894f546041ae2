// Argument diagnostics. Every argument is looked at against the option
// table: a name no row answers to is reported (with the closest known name),
// unless it is a switch-like word the program reads in another way (anything
// containing quiet/QUIET, and the plain numbers at the front of the command
// line that the correlated-detection multistate model and the SPADMS
// generator read by position); the numbers of a value row must read as
// numbers in full. What the chosen model reads is checked once the command
// line is applied (cli/model_reads.hpp).
#include "cli/diagnostics.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "cli/option_table.hpp"
#include "cli/options.hpp"
#include "core/errors.hpp"

namespace occusim {

namespace {

constexpr int kMsCorrPositional = 40; // numbers the correlated-detection multistate model reads

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...) {
    char buf[2 * kArgBufLen + 256]; // an argument and a value of it, with the text around them
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

bool whole_text_is_real(const std::string &t) {
    if (t.empty()) return false;
    char *end = nullptr;
    std::strtod(t.c_str(), &end);
    return end && *end == '\0' && end != t.c_str();
}

bool whole_text_is_integer(const std::string &t, bool fits_int) {
    if (t.empty()) return false;
    char *end = nullptr;
    errno = 0;
    long x = std::strtol(t.c_str(), &end, 10);
    if (!end || *end != '\0' || end == t.c_str() || errno == ERANGE) return false;
    return !fits_int || (x >= INT_MIN && x <= INT_MAX);
}

// Which arguments (by index into the line) a front-block model reads as plain numbers.
std::vector<bool> positional_slots(const CommandLine &line) {
    std::vector<bool> slot(line.size(), false);
    long count = 0;
    for (const ParsedArgument &p : line) {
        if (p.arg.name == "MSCD") count = std::max<long>(count, kMsCorrPositional);
        if (p.arg.name == "SPADMS") {
            long T = std::strtol(line[0].arg.text.c_str(), nullptr, 10);
            if (T >= 1 && T <= kVecLen) count = std::max(count, 6 * T + 1);
            else count = std::max(count, 1L);
        }
    }
    if (count == 0) return slot;
    for (std::size_t i = 0; i < line.size() && static_cast<long>(i) < count; i++) slot[i] = true;
    // A block shorter than the model needs is refused by the model; its
    // leading plain numbers are positional all the same.
    for (std::size_t i = 0; i < line.size() && whole_text_is_real(line[i].arg.text); i++) slot[i] = true;
    return slot;
}

// The first value of a row's text that does not read as a number in full,
// as a warning; "" when all do.
std::string number_problem(const OptionRow &row, const Argument &a) {
    const std::string &arg = a.text;
    const std::string &value = a.value;
    auto bad_number = [&](const std::string &t, bool integer) -> std::string {
        if (integer) {
            bool fits = row.kind != ValueKind::Long;
            if (whole_text_is_integer(t, fits)) return "";
            long x = std::strtol(t.c_str(), nullptr, 10);
            long read = fits ? static_cast<int>(x) : x;
            const char *what = whole_text_is_real(t) ? (fits && whole_text_is_integer(t, false)
                                                            ? "is out of range for a whole number"
                                                            : "is not a whole number")
                                                     : "is not a number";
            return format("argument '%s': '%s' %s (read as %ld)", arg.c_str(), t.c_str(), what, read);
        }
        if (whole_text_is_real(t)) return "";
        return format("argument '%s': '%s' is not a number (read as %g)", arg.c_str(), t.c_str(),
                      std::strtod(t.c_str(), nullptr));
    };
    switch (row.kind) {
    case ValueKind::Integer:
    case ValueKind::Long:
    case ValueKind::Real:
        if (value.empty()) return format("argument '%s' has no value (read as 0)", arg.c_str());
        return bad_number(value, row.kind != ValueKind::Real);
    case ValueKind::List:
    case ValueKind::IntList:
    case ValueKind::TwoRows:
    case ValueKind::Indexed: {
        if (a.tokens.empty()) return format("argument '%s' has no values", arg.c_str());
        for (const auto &t : a.tokens) {
            std::string p = bad_number(t, row.kind == ValueKind::IntList);
            if (!p.empty()) return p;
        }
        return "";
    }
    case ValueKind::Fraction: {
        std::size_t slash = value.find('/');
        if (slash == std::string::npos) return bad_number(value, true);
        std::string p = bad_number(value.substr(0, slash), true);
        return p.empty() ? bad_number(value.substr(slash + 1), true) : p;
    }
    case ValueKind::None:
    case ValueKind::Text:
        return "";
    }
    return "";
}

} // namespace

int edit_distance(std::string_view a, std::string_view b, int limit) {
    // One row of the table, on the stack for names of usual length.
    int small[64];
    std::vector<int> large;
    int *row = small;
    if (b.size() + 1 > std::size(small)) {
        large.resize(b.size() + 1);
        row = large.data();
    }
    for (std::size_t j = 0; j <= b.size(); j++) row[j] = static_cast<int>(j);
    for (std::size_t i = 1; i <= a.size(); i++) {
        int diag = row[0];
        row[0] = static_cast<int>(i);
        int least = row[0];
        for (std::size_t j = 1; j <= b.size(); j++) {
            int up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
            least = std::min(least, row[j]);
            diag = up;
        }
        // No later row has a smaller least entry than this one.
        if (least >= limit) return limit;
    }
    return std::min(row[b.size()], limit);
}

std::string closest_option(const std::string &name) {
    std::string best;
    int best_d = 3;
    for (const OptionRow &row : option_table()) {
        for (const char *n : row.names) {
            if (!n) continue;
            const std::size_t len = std::char_traits<char>::length(n);
            if (row.prefix && n[len - 1] == '(') continue;
            // The distance is at least the difference in length.
            const std::size_t gap = len > name.size() ? len - name.size() : name.size() - len;
            if (gap >= static_cast<std::size_t>(best_d)) continue;
            int d = edit_distance(name, n, best_d);
            // A name that would have to change entirely is no near miss.
            if (d < best_d && d < static_cast<int>(name.size())) {
                best_d = d;
                best = n;
            }
        }
    }
    return best;
}

// Names the usage text shows that no option reads, with the option that does
// their job.
static const char *usage_text_hint(const std::string &name) {
    static constexpr std::pair<const char *, const char *> kHints[] = {
        {"lambda", "did you mean 'Lambda'?"},
        {"2SP", "two species need no switch: give psiA, psiBA and psiBa"},
        {"MULTISEASON", "two species over several seasons need no switch: give SPS with gamAb, epsAb and the others"},
        {"p11", "did you mean 'p'?"},
        {"e", "did you mean 'Ent'?"},
        {"d", "did you mean 'Dep'?"},
        {"etaAA", "did you mean 'eta0AA' or 'eta1AA'?"},
        {"psiAB", "give psiA and psiBA: psiAB = psiA * psiBA"},
        {"theta'", "did you mean 'th1'?"},
        {"R", "did you mean 'R0'?"},
    };
    for (const auto &[usage_name, hint] : kHints)
        if (name == usage_name) return hint;
    return nullptr;
}

std::vector<std::string> diagnose(const Args &args) {
    return diagnose(parse_command_line(args));
}

std::vector<std::string> diagnose(const CommandLine &line) {
    std::vector<std::string> out;
    std::vector<bool> slot = positional_slots(line);
    for (std::size_t i = 0; i < line.size(); i++) {
        const ParsedArgument &p = line[i];
        const std::string &arg = p.arg.text;
        const std::string &name = p.arg.name;
        if (!p.value_row && !p.switch_row) {
            if (is_quiet_switch(arg)) continue;
            if (slot[i]) {
                if (!whole_text_is_real(arg))
                    out.push_back(format("argument %d ('%s') is read by position and is not a number (read as %g)",
                                         p.arg.position, arg.c_str(), std::strtod(arg.c_str(), nullptr)));
                continue;
            }
            const std::string &shown = name.empty() ? arg : name;
            if (const char *hint = usage_text_hint(name)) {
                out.push_back(format("unknown option '%s' is ignored (%s)", shown.c_str(), hint));
                continue;
            }
            std::string near = closest_option(name);
            if (near.empty())
                out.push_back(format("unknown option '%s' is ignored", shown.c_str()));
            else
                out.push_back(format("unknown option '%s' is ignored (did you mean '%s'?)", shown.c_str(),
                                     near.c_str()));
            continue;
        }
        // The number of sites is checked as an error once the model is known.
        if (!p.reads_value() || name == "N") continue;
        std::string problem = number_problem(*p.value_row, p.arg);
        if (!problem.empty()) out.push_back(problem);
    }
    return out;
}

void stop_strict(Context &ctx, std::size_t count) {
    std::fprintf(ctx.err, "occusim8: error: STRICT: %zu warning%s, nothing written\n", count, count == 1 ? "" : "s");
    finish(1);
}

void report_diagnostics(Context &ctx, const CommandLine &line) {
    std::vector<std::string> warnings = diagnose(line);
    for (const auto &w : warnings) std::fprintf(ctx.err, "occusim8: warning: %s\n", w.c_str());
    if (warnings.empty()) return;
    for (const ParsedArgument &p : line)
        if (p.arg.name == "STRICT") stop_strict(ctx, warnings.size());
}

} // namespace occusim
