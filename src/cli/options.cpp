// The list syntaxes the option rows read their values with, the splitting of
// an argument into name and value, the walk of one argument over the option
// table, and the covariate set-up after all arguments.
#include "cli/options.hpp"

#include <cstdio>
#include <cstdlib>

#include "cli/diagnostics.hpp"
#include "cli/option_table.hpp"
#include "core/errors.hpp"

namespace occusim {

int to_int(const std::string &s) {
    return static_cast<int>(std::strtol(s.c_str(), nullptr, 10));
}
long to_long(const std::string &s) {
    return std::strtol(s.c_str(), nullptr, 10);
}
double to_double(const std::string &s) {
    return std::strtod(s.c_str(), nullptr);
}

namespace {

[[noreturn]] void too_long_list(const std::string &name, std::size_t given, int room) {
    input_error("argument '%s': list of %zu values does not fit the %d entries of its vector", name.c_str(),
                given, room);
}

[[noreturn]] void too_many_surveys(const std::string &name, int nper, int room) {
    input_error("argument '%s': %d surveys do not fit the %d entries of its vector", name.c_str(), nper,
                room);
}

void parse_entry(const Argument &a, std::size_t k, double &x) {
    x = a.numbers[k];
}
void parse_entry(const Argument &a, std::size_t k, int &x) {
    x = static_cast<int>(a.wholes[k]);
}
void echo_entry(std::FILE *f, double x) {
    std::fprintf(f, " %4.2f", x);
}
void echo_entry(std::FILE *f, int x) {
    std::fprintf(f, " %d", x);
}

// The comma-list syntaxes: the values of `a` go into v[offset..] within
// the first `capacity` entries, and a single value is replicated over the
// surveys known so far. Echoes `lead`, then "[", each entry and "]\n".
// Returns the count filled.
template <typename V>
int read_list(Context &ctx, const Argument &a, V &v, int offset, int capacity, const char *lead = "") {
    const std::size_t given = a.tokens.size();
    int room = capacity - offset;
    if (static_cast<long>(given) > room) too_long_list(a.name, given, room);
    if (given <= 1 && ctx.nper > room) too_many_surveys(a.name, ctx.nper, room);
    std::fprintf(ctx.out, "%s[", lead);
    int count = 0;
    for (std::size_t k = 0; k < given; k++) {
        parse_entry(a, k, v[offset + count]);
        echo_entry(ctx.out, v[offset + count]);
        count++;
    }
    if (count <= 1) {
        for (int j = 1; j < ctx.nper; j++) {
            v[offset + j] = v[offset];
            echo_entry(ctx.out, v[offset + j]);
        }
        count = ctx.nper > 1 ? ctx.nper : 1;
    }
    std::fprintf(ctx.out, "]\n");
    return count;
}

bool starts_with(const std::string &s, const char *prefix) {
    return s.rfind(prefix, 0) == 0;
}

} // namespace

int get_arg_vec(Context &ctx, const Argument &a, Vec &v, int offset, int capacity) {
    return read_list(ctx, a, v, offset, capacity);
}

int get_arg_ivec(Context &ctx, const Argument &a, IVec &v, int capacity) {
    return read_list(ctx, a, v, 0, capacity);
}

int get_arg_vec2(Context &ctx, const Argument &a, std::array<Vec, 2> &rows) {
    if (ctx.nper > kVecLen) too_many_surveys(a.name, ctx.nper, kVecLen);
    const std::vector<double> &x = a.numbers;
    if (static_cast<long>(x.size()) > 2L * kVecLen) too_long_list(a.name, x.size(), 2 * kVecLen);
    std::size_t t = 0;
    for (int r = 0; r < 2; r++) {
        for (int j = 0; j < ctx.nper; j++) {
            if (t < x.size())
                rows[r][j] = x[t++];
            else if (j >= 1)
                rows[r][j] = rows[r][j - 1];
        }
    }
    return ctx.nper;
}

int get_arg_phi(Context &ctx, const Argument &a, const std::string &rest,
                std::array<std::array<Vec, kMaxStates>, kMaxStates> &table) {
    const std::string &name = a.name;
    auto is_state = [](char c) { return c >= '0' && c <= '5'; };
    if (rest.size() < 3 || !is_state(rest[0]) || !is_state(rest[2]))
        input_error("argument '%s': indices must be two digits from 0 to 5, as in %s(1,2)", name.c_str(),
                    starts_with(name, "phi(") ? "phi" : "p");
    int i = rest[0] - '0';
    int j = rest[2] - '0';
    if (j + 1 > ctx.NSTATES) ctx.NSTATES = j + 1;
    int o = rest[1] == ',' ? 0 : 1;
    char lead[32];
    std::snprintf(lead, sizeof lead, "(%d,%d) ", i, j);
    return read_list(ctx, a, table[i][j], o, kVecLen, lead);
}

void apply_argument(Context &ctx, const Argument &arg) {
    for (const OptionRow *row : rows_matching(arg.name)) row->apply(ctx, arg);
}

void apply_argument(Context &ctx, const std::string &arg) {
    apply_argument(ctx, read_argument(arg));
}

void setup_coefficients(Context &ctx) {
    int slopes_given = ctx.coef_given.empty() ? 0 : static_cast<int>(ctx.coef_given.size()) - 1;
    if (!ctx.ncovs_seen) ctx.ncovs = slopes_given;
    if (ctx.ncovs > kVecLen)
        input_error("argument 'NCOVS': %d covariates, at most %d are supported", ctx.ncovs, kVecLen);
    if (ctx.ncovs_seen && ctx.ncovs > slopes_given) {
        std::fprintf(ctx.err, "occusim8: warning: NCOVS=%d but %d slopes given; missing slopes are 0\n", ctx.ncovs,
                     slopes_given);
        if (ctx.STRICT) stop_strict(ctx, 1);
    }
    int size = ctx.ncovs > 0 ? ctx.ncovs + 1 : 1;
    ctx.coef.assign(static_cast<std::size_t>(size), 0.0);
    ctx.coef[0] = 1;
    if (!ctx.coef_given.empty()) ctx.coef[0] = ctx.coef_given[0];
    for (int k = 1; k < size && k <= slopes_given; k++) ctx.coef[k] = ctx.coef_given[k];
}

} // namespace occusim
