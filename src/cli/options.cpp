#include "cli/options.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/errors.hpp"

namespace occusim {

namespace {

// Text-to-number conversions as the C library reads them: leading blanks
// skipped, conversion stops at the first character that does not fit, no
// digits give 0.
int to_int(const std::string &s) {
    return static_cast<int>(std::strtol(s.c_str(), nullptr, 10));
}
long to_long(const std::string &s) {
    return std::strtol(s.c_str(), nullptr, 10);
}
double to_double(const std::string &s) {
    return std::strtod(s.c_str(), nullptr);
}

// Splits a list at commas; empty tokens are skipped.
std::vector<std::string> tokens_of(const std::string &text) {
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

[[noreturn]] void too_long_list(const std::string &name, std::size_t given, int room) {
    input_error("argument '%s': list of %zu values does not fit the %d entries of its vector", name.c_str(),
                given, room);
}

[[noreturn]] void too_many_surveys(const std::string &name, int nper, int room) {
    input_error("argument '%s': %d surveys do not fit the %d entries of its vector", name.c_str(), nper,
                room);
}

void parse_entry(const std::string &t, double &x) {
    x = to_double(t);
}
void parse_entry(const std::string &t, int &x) {
    x = to_int(t);
}
void echo_entry(std::FILE *f, double x) {
    std::fprintf(f, " %4.2f", x);
}
void echo_entry(std::FILE *f, int x) {
    std::fprintf(f, " %d", x);
}

// The comma-list syntaxes: the values of `text` go into v[offset..] within
// the first `capacity` entries, and a single value is replicated over the
// surveys known so far. Echoes `lead`, then "[", each entry and "]\n".
// Returns the count filled.
template <typename V>
int read_list(Context &ctx, const std::string &name, const std::string &text, V &v, int offset, int capacity,
              const char *lead = "") {
    std::vector<std::string> toks = tokens_of(text);
    int room = capacity - offset;
    if (static_cast<long>(toks.size()) > room) too_long_list(name, toks.size(), room);
    if (toks.size() <= 1 && ctx.nper > room) too_many_surveys(name, ctx.nper, room);
    std::fprintf(ctx.out, "%s[", lead);
    int count = 0;
    for (const auto &t : toks) {
        parse_entry(t, v[offset + count]);
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

// Surveys whose entries a per-survey copy may touch: T can be set larger than
// the storage before the run refuses it, and a short list does not stop it.
int surveys_in_storage(const Context &ctx) {
    return ctx.nper < kStorage ? ctx.nper : kStorage;
}

bool starts_with(const std::string &s, const char *prefix) {
    return s.rfind(prefix, 0) == 0;
}

// Season count after an SRVYPERSEASN list: `given` is the count the list
// filled (a single value replicated over the surveys counts as nper), then
// the number of leading seasons needed to reach nper surveys.
void count_seasons(Context &ctx, int given) {
    std::fprintf(ctx.out, "nseasns=%d nper=%d\n", given, ctx.nper);
    ctx.nseasns = 1;
    long total = ctx.SRVYPERSEASN[0];
    while (total < ctx.nper) {
        if (ctx.nseasns >= kVecLen)
            input_error("argument 'SRVYPERSEASN': more than %d seasons needed to reach T=%d", kVecLen,
                        ctx.nper);
        int len = ctx.SRVYPERSEASN[ctx.nseasns];
        std::fprintf(ctx.out, "season %d  surveys=%d\n", ctx.nseasns, len);
        if (len <= 0) {
            std::fprintf(ctx.out, "\n*** error: surveys per season(%d) = 0 ***\n\n", ctx.nseasns);
            finish(1);
        }
        total += len;
        ctx.nseasns++;
    }
}

// "name=" and the list (syntax A). Returns the count filled.
int echo_vec(Context &ctx, const std::string &name, const std::string &value, Vec &v, int offset, int cap) {
    std::fprintf(ctx.out, "%s=", name.c_str());
    return get_arg_vec(ctx, name, value, v, offset, cap);
}

void echo_block(Context &ctx, const std::string &name, const std::string &value, Vec &v) {
    std::fprintf(ctx.out, "%s:\n", name.c_str());
    get_arg_vec(ctx, name, value, v, 0, kVecLen);
}

// One of the four blocks of gamB / epsB. Each block is its own parameter (the
// transition for one combination of the other species' states), so a list
// must fit its block of 1000 entries and never runs on into the next block.
void echo_in_block(Context &ctx, const std::string &name, const std::string &value, Vec &v, int block) {
    echo_vec(ctx, name, value, v, block * kVecLen, (block + 1) * kVecLen);
}

} // namespace

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

int get_arg_vec(Context &ctx, const std::string &name, const std::string &text, Vec &v, int offset,
                int capacity) {
    return read_list(ctx, name, text, v, offset, capacity);
}

int get_arg_ivec(Context &ctx, const std::string &name, const std::string &text, IVec &v, int capacity) {
    return read_list(ctx, name, text, v, 0, capacity);
}

int get_arg_vec2(Context &ctx, const std::string &name, const std::string &text, std::array<Vec, 2> &rows) {
    if (ctx.nper > kVecLen) too_many_surveys(name, ctx.nper, kVecLen);
    std::vector<std::string> toks = tokens_of(text);
    if (static_cast<long>(toks.size()) > 2L * kVecLen) too_long_list(name, toks.size(), 2 * kVecLen);
    std::size_t t = 0;
    for (int r = 0; r < 2; r++) {
        for (int j = 0; j < ctx.nper; j++) {
            if (t < toks.size())
                rows[r][j] = to_double(toks[t++]);
            else if (j >= 1)
                rows[r][j] = rows[r][j - 1];
        }
    }
    return ctx.nper;
}

int get_arg_phi(Context &ctx, const std::string &name, const std::string &rest, const std::string &text,
                std::array<std::array<Vec, kMaxStates>, kMaxStates> &table) {
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
    return read_list(ctx, name, text, table[i][j], o, kVecLen, lead);
}

void apply_argument(Context &ctx, const std::string &arg) {
    std::string n, value;
    split_argument(arg, n, value);
    std::FILE *o = ctx.out;
    auto is = [&](const char *a) { return n == a; };

    if (is("T")) { // 1
        ctx.nper = to_int(value);
        ctx.SRVYPERSEASN[0] = ctx.nper;
        std::fprintf(o, "T=%d\n", ctx.nper);
    }
    if (is("N")) { // 2
        ctx.ns = to_double(value);
        std::fprintf(o, "N=%f\n", ctx.ns);
    }
    if (is("psi")) { // 3
        ctx.psi = to_double(value);
        std::fprintf(o, "psi=%4.2f\n", ctx.psi);
    }
    if (is("psiA") || is("PsiA")) { // 4
        ctx.psiA = to_double(value);
        std::fprintf(o, "psiA=%4.2f\n", ctx.psiA);
    }
    if (is("psiBA")) { // 5
        ctx.psiBA = to_double(value);
        std::fprintf(o, "psiBA=%4.2f\n", ctx.psiBA);
    }
    if (is("psiBa")) { // 6
        ctx.psiBa = to_double(value);
        std::fprintf(o, "psiBa=%4.2f\n", ctx.psiBa);
    }
    if (is("phi")) { // 7
        ctx.phi = to_double(value);
        ctx.TWOSP = 1;
        std::fprintf(o, "phi=%4.2f\n", ctx.phi);
    }
    if (is("r")) ctx.ROYLE = 1;   // 8
    if (is("c")) ctx.NICHOLS = 1; // 9
    if (is("SIMTYPE")) {          // 10
        ctx.SIMTYPE = to_int(value);
        std::fprintf(o, "SIMTYPE=%d\n", ctx.SIMTYPE);
    }
    if (starts_with(n, "STOCH")) { // 11
        ctx.determ = 0;
        std::fprintf(o, "asdf\n");
    }
    if (is("QUIET")) ctx.QUIET = 1;     // 12
    if (is("REMOVAL")) ctx.REMOVAL = 1; // 13
    if (is("HET")) ctx.HET = 1;         // 14
    if (is("LIST")) ctx.LIST = 1;       // 15
    if (is("P0MISS")) ctx.P0MISS = 1;   // 16
    if (is("METH")) {                   // 17
        ctx.METH = to_int(value);
        std::fprintf(o, "METH=%d\n", ctx.METH);
    }
    if (is("SPADEP")) ctx.SPADEP = 1;         // 18
    if (is("SPADMS")) ctx.SPADEP = 2;         // 19
    if (is("NOBS")) ctx.NOBS = to_int(value); // 20
    if (is("NSTATES")) {                      // 21
        ctx.NSTATES = to_int(value);
        ctx.MS2 = 1;
    }
    if (is("MULTISTATE")) ctx.MULTISTATE = 1;                      // 22
    if (is("MSCD")) ctx.MSCD = 1;                                  // 23
    if (is("STAG")) ctx.STAG = 1;                                  // 24
    if (is("INTEGRATED")) ctx.INTEGRATED = 1;                      // 25
    if (is("PAOF")) ctx.new_pao_opt = 1;                           // 26
    if (is("ROYLE")) ctx.ROYLE = 1;                                // 27
    if (is("SEED") || is("seed")) ctx.seed_value = to_long(value); // 28
    if (is("outfile")) {                                           // 29
        if (value.size() >= static_cast<std::size_t>(kOutfileLen))
            input_error("argument 'outfile': a file name of %zu characters is longer than %d", value.size(),
                        kOutfileLen - 1);
        ctx.outfile = value;
    }
    if (is("NCOVS")) { // 30
        ctx.ncovs = to_int(value);
        ctx.ncovs_seen = true;
    }
    if (is("p") || is("r") || is("c")) echo_vec(ctx, n, value, ctx.pa, 0, kPaLen); // 31
    if (is("pi")) {                                                                // 32
        echo_vec(ctx, n, value, ctx.pi, 0, kVecLen);
        ctx.HET = 1;
    }
    if (is("eps")) echo_vec(ctx, n, value, ctx.eps, 0, kVecLen); // 33
    if (is("gam")) echo_vec(ctx, n, value, ctx.gam, 1, kVecLen); // 34
    if (is("p10")) {                                             // 35
        echo_vec(ctx, n, value, ctx.p10, 0, kVecLen);
        ctx.FALSEPOS = 1;
    }
    if (is("b")) echo_vec(ctx, n, value, ctx.b, 0, kVecLen); // 36
    if (is("u")) {                                           // 37
        ctx.b[0] = to_double(value);
        ctx.NEGBIN = 1;
        ctx.ROYLE = 1;
    }
    if (is("a")) { // 38
        ctx.b[1] = to_double(value);
        ctx.NEGBIN = 1;
        ctx.ROYLE = 1;
    }
    if (is("Lambda")) { // 39
        get_arg_vec(ctx, n, value, ctx.b, 0, kVecLen);
        ctx.ROYLE = 1;
    }
    if (is("theta")) { // 40
        get_arg_vec2(ctx, n, value, ctx.theta);
        std::fprintf(o, "%s:\n", n.c_str());
    }
    if (is("thA") || is("Ent")) echo_block(ctx, n, value, ctx.thA[0]);  // 41
    if (is("thA'") || is("Dep")) echo_block(ctx, n, value, ctx.thA[1]); // 42
    if (is("thBA")) {                                                   // 43
        echo_block(ctx, n, value, ctx.thB[1][0]);
        ctx.TWOSP = 2;
    }
    if (is("thBA'")) echo_block(ctx, n, value, ctx.thB[1][1]);       // 44
    if (is("thBa")) echo_block(ctx, n, value, ctx.thB[0][0]);        // 45
    if (is("thBa'")) echo_block(ctx, n, value, ctx.thB[0][1]);       // 46
    if (is("epsAb")) echo_vec(ctx, n, value, ctx.epsAb, 0, kVecLen); // 47
    if (is("epsAB")) {                                               // 48
        int count = echo_vec(ctx, n, value, ctx.epsAB, 0, kVecLen);
        for (int k = 0; k < count; k++) ctx.epsB[kVecLen + k] = ctx.epsAB[k];
    }
    if (is("epsBaA")) echo_in_block(ctx, n, value, ctx.epsB, 1);     // 49
    if (is("epsBaa")) echo_in_block(ctx, n, value, ctx.epsB, 0);     // 50
    if (is("epsBAA")) echo_in_block(ctx, n, value, ctx.epsB, 3);     // 51
    if (is("epsBAa")) echo_in_block(ctx, n, value, ctx.epsB, 2);     // 52
    if (is("gamAb")) echo_vec(ctx, n, value, ctx.gamAb, 0, kVecLen); // 53
    if (is("gamAB")) {                                               // 54
        int count = echo_vec(ctx, n, value, ctx.gamAB, 0, kVecLen);
        for (int k = 0; k < count; k++) ctx.gamB[kVecLen + k] = ctx.gamAB[k];
    }
    if (is("gamBaA")) echo_in_block(ctx, n, value, ctx.gamB, 1); // 55
    if (is("gamBaa")) echo_in_block(ctx, n, value, ctx.gamB, 0); // 56
    if (is("gamBAA")) echo_in_block(ctx, n, value, ctx.gamB, 3); // 57
    if (is("gamBAa")) echo_in_block(ctx, n, value, ctx.gamB, 2); // 58
    if (is("th0")) echo_block(ctx, n, value, ctx.theta[0]);      // 59
    if (is("th1")) {                                             // 60
        echo_block(ctx, n, value, ctx.theta[1]);
        ctx.SPADEP = 1;
    }
    if (is("th0pi")) echo_vec(ctx, n, value, ctx.th0pi, 0, kVecLen); // 61
    if (is("SRVYPERSEASN") || is("SPS")) {                           // 62
        std::fprintf(o, "%s=", n.c_str());
        count_seasons(ctx, get_arg_ivec(ctx, n, value, ctx.SRVYPERSEASN, kVecLen));
    }
    if (is("coef")) { // 63: the values are kept for the covariate set-up
        Vec shown(kStorage, 0.0);
        echo_vec(ctx, n, value, shown, 0, kVecLen);
        ctx.coef_given.clear();
        for (const auto &t : tokens_of(value)) ctx.coef_given.push_back(to_double(t));
        ctx.coef_seen = true;
    }
    if (is("pA")) { // 64
        echo_vec(ctx, n, value, ctx.pA, 0, kVecLen);
        if (ctx.TWOSP <= 0) ctx.TWOSP = 1;
    }
    if (is("pB")) echo_vec(ctx, n, value, ctx.pB, 0, kVecLen);                       // 65
    if (is("rA") || is("r") || is("c")) echo_vec(ctx, n, value, ctx.rA, 0, kVecLen); // 66
    if (is("rBA")) echo_vec(ctx, n, value, ctx.rBA, 0, kVecLen);                     // 67
    if (is("rBa")) echo_vec(ctx, n, value, ctx.rBa, 0, kVecLen);                     // 68
    if (is("rB")) echo_vec(ctx, n, value, ctx.rB, 0, kVecLen);                       // 69
    if (is("psiB")) echo_vec(ctx, n, value, ctx.psiB, 0, kVecLen);                   // 70
    if (is("dlta")) echo_vec(ctx, n, value, ctx.dlta, 0, kVecLen);                   // 71
    if (is("p1")) {                                                                  // 72
        echo_vec(ctx, n, value, ctx.pA, 0, kVecLen);
        for (int k = 0; k < surveys_in_storage(ctx); k++) ctx.pMS[0][1][k] = ctx.pa[k] = ctx.pA[k];
    }
    if (is("p2")) { // 73
        echo_vec(ctx, n, value, ctx.pB, 0, kVecLen);
        for (int k = 0; k < surveys_in_storage(ctx); k++) ctx.pMS[0][2][k] = ctx.pB[k];
    }
    if (is("p3")) echo_vec(ctx, n, value, ctx.pMS[0][3], 0, kVecLen); // 74
    if (is("Cpsi0")) {                                                // 75
        echo_vec(ctx, n, value, ctx.psiMS[0][0], 1, kVecLen);
        ctx.MULTISTATE = 1;
    }
    if (is("Cpsi1")) { // 76
        echo_vec(ctx, n, value, ctx.psiMS[0][1], 1, kVecLen);
        ctx.MULTISTATE = 1;
    }
    if (is("Cpsi2")) { // 77
        echo_vec(ctx, n, value, ctx.psiMS[0][2], 1, kVecLen);
        ctx.MULTISTATE = 1;
    }
    if (is("psi1") || is("psi0")) { // 78
        echo_vec(ctx, n, value, ctx.psiMS[0][0], 0, kVecLen);
        ctx.MULTISTATE = 1;
    }
    if (is("psi2")) echo_vec(ctx, n, value, ctx.psiMS[1][0], 0, kVecLen);             // 79
    if (is("R0")) echo_vec(ctx, n, value, ctx.psiMS[1][0], 0, kVecLen);               // 80
    if (is("cR0")) echo_vec(ctx, n, value, ctx.psiMS[1][0], 1, kVecLen);              // 81
    if (is("cR1") || is("CR1")) echo_vec(ctx, n, value, ctx.psiMS[1][1], 1, kVecLen); // 82
    if (is("cR2") || is("CR2")) echo_vec(ctx, n, value, ctx.psiMS[1][2], 1, kVecLen); // 83
    if (starts_with(n, "phi(")) {                                                     // 84
        std::fprintf(o, "%s=", n.c_str());
        get_arg_phi(ctx, n, n.substr(4), value, ctx.psiMS);
    }
    if (starts_with(n, "p(")) { // 85
        std::fprintf(o, "%s=", n.c_str());
        get_arg_phi(ctx, n, n.substr(2), value, ctx.pMS);
    }
    if (is("Psi")) echo_vec(ctx, n, value, ctx.gam, 1, kVecLen);    // 86
    const char *etas[4] = {"eta0AA", "eta1AA", "eta0BA", "eta1BA"}; // 87-90
    for (int e = 0; e < 4; e++) {
        if (!is(etas[e])) continue;
        echo_vec(ctx, n, value, ctx.eta(e % 2, e / 2), 0, kVecLen);
        ctx.INTEGRATED = 1;
    }
    if (is("gamAA")) echo_in_block(ctx, n, value, ctx.gamB, 0); // 91
    if (is("gamBA")) echo_in_block(ctx, n, value, ctx.gamB, 2); // 92
    if (is("gamBB")) echo_in_block(ctx, n, value, ctx.gamB, 3); // 93
    if (is("epsAA")) echo_in_block(ctx, n, value, ctx.epsB, 0); // 94
    if (is("epsBA")) echo_in_block(ctx, n, value, ctx.epsB, 2); // 95
    if (is("epsBB")) echo_in_block(ctx, n, value, ctx.epsB, 3); // 96
    // Simulation-study options (no console echo).
    if (is("STRICT")) ctx.STRICT = true;
    if (is("REPS")) ctx.REPS = to_long(value);
    if (is("THREADS")) ctx.THREADS = to_int(value);
    if (is("SHARD")) {
        ctx.shard_i = to_long(value);
        std::size_t slash = value.find('/');
        ctx.shard_k = slash == std::string::npos ? 0 : to_long(value.substr(slash + 1));
    }
    if (is("RNG")) ctx.RNG = value;
    if (is("FORMAT")) ctx.FORMAT = value;
    if (is("NPCOVS")) ctx.NPCOVS = to_int(value);
    if (is("pcoef")) {
        ctx.pcoef.clear();
        for (const auto &t : tokens_of(value)) ctx.pcoef.push_back(to_double(t));
    }
    if (is("DESIGN")) ctx.DESIGN = true;
    if (is("FIT")) ctx.FIT = true;
}

void setup_coefficients(Context &ctx) {
    int slopes_given = ctx.coef_given.empty() ? 0 : static_cast<int>(ctx.coef_given.size()) - 1;
    if (!ctx.ncovs_seen) ctx.ncovs = slopes_given;
    if (ctx.ncovs > kVecLen)
        input_error("argument 'NCOVS': %d covariates, at most %d are supported", ctx.ncovs, kVecLen);
    if (ctx.ncovs_seen && ctx.ncovs > slopes_given)
        std::fprintf(ctx.err, "warning: NCOVS=%d but %d slopes given; missing slopes are 0\n", ctx.ncovs,
                     slopes_given);
    int size = ctx.ncovs > 0 ? ctx.ncovs + 1 : 1;
    ctx.coef.assign(static_cast<std::size_t>(size), 0.0);
    ctx.coef[0] = 1;
    if (!ctx.coef_given.empty()) ctx.coef[0] = ctx.coef_given[0];
    for (int k = 1; k < size && k <= slopes_given; k++) ctx.coef[k] = ctx.coef_given[k];
}

} // namespace occusim
