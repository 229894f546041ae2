// Spatially correlated multi-season data, second generator. The model is the
// one of the first spatial generator: at an occupied site the species is
// locally present at a survey with probability theta row 0 (not present at
// the survey before) or theta row 1 (present before), and only a locally
// present species is detected (pa). Its parameters come as a block of plain
// numbers at the front of the command line:
//   T N psi  p[T]  theta0[T]  theta1[T]  pi[T]  eps[T-1]  gam[T-1]
// where pi is the chance of local presence just before the first survey of a
// season, and eps and gam are the extinction and colonisation probabilities
// between consecutive surveys. A season starts wherever a colonisation
// probability is positive.
//
// By default the count table is filled with one bit per survey: expected
// values by a forward pass over the history prefixes (at each prefix the
// sites by occupancy and local presence), stochastic runs by the cohort walk
// (caphis_scorR1 / caphis_scorR2). With SIMTYPE=2 every site is simulated
// and keeps a record of 0/1 values; equal records are collapsed in order of
// first appearance and the history file is written with whole-number
// frequencies and the closing text "simulated data".
#include "models/spatial/scorR.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/errors.hpp"
#include "core/prefix_tree.hpp"

namespace occusim {

namespace {

// Frequency that marks a record collapsed into an earlier equal one.
constexpr int kCollapsed = -999;

struct Block {
    int T = 0;    // surveys
    double N = 0; // sites (a whole number)
};

// Reads the positional block into the parameter vectors. Text that is not a
// number reads as 0; a block too short for its T is refused before anything
// past the end of the command line is looked at.
Block read_block(Context &ctx, const Args &argv) {
    const long given = static_cast<long>(argv.size()) - 1;
    if (given < 1) input_error("SPADMS needs the number of surveys T as its first argument");
    const long T = std::strtol(argv[1].c_str(), nullptr, 10);
    if (T < 1)
        input_error("SPADMS needs the number of surveys T (at least 1) as its first argument, not \"%s\"",
                    argv[1].c_str());
    if (T > kVecLen)
        input_error("SPADMS: %ld surveys do not fit the %d entries of the parameter vectors", T, kVecLen);
    if (given < 6 * T + 1)
        input_error(
            "SPADMS with T=%ld needs 6*T+1 = %ld numbers at the front of the command line, but only %ld "
            "arguments were given",
            T, 6 * T + 1, given);

    Block b;
    b.T = static_cast<int>(T);
    b.N = static_cast<double>(std::strtol(argv[2].c_str(), nullptr, 10));
    auto num = [&](long a) { return std::strtod(argv[static_cast<std::size_t>(a)].c_str(), nullptr); };
    ctx.psi = num(3);
    ctx.gam[0] = ctx.psi;
    for (long t = 0; t < T; t++) {
        ctx.pa[t] = num(4 + t);
        ctx.theta[0][t] = num(T + 4 + t);
        ctx.theta[1][t] = num(2 * T + 4 + t);
        ctx.pi[t] = num(3 * T + 4 + t);
    }
    for (long t = 0; t < T - 1; t++) {
        ctx.eps[t + 1] = num(4 * T + 4 + t);
        ctx.gam[t + 1] = num(5 * T + 3 + t);
    }
    return b;
}

// A season opens at every survey k >= 1 whose colonisation value is positive.
void lay_out_seasons(Context &ctx, int T) {
    ctx.nseasns = 1;
    int len = 1;
    for (int k = 1; k < T; k++) {
        if (ctx.gam[k] > 0) {
            ctx.SRVYPERSEASN[ctx.nseasns - 1] = len;
            ctx.nseasns++;
            len = 1;
        } else {
            len++;
        }
    }
    ctx.SRVYPERSEASN[ctx.nseasns - 1] = len;
}

void echo_row(Context &ctx, const char *label, const Vec &v, int from, int count) {
    std::fprintf(ctx.out, "%s", label);
    for (int t = 0; t < count; t++) std::fprintf(ctx.out, " %f", v[from + t]);
    std::fprintf(ctx.out, "\n");
}

void echo_block(Context &ctx, const Block &b) {
    std::fprintf(ctx.out, "N=%f T=%d psi=%f\n", b.N, b.T, ctx.psi);
    echo_row(ctx, "p:", ctx.pa, 0, b.T);
    echo_row(ctx, "theta(0):", ctx.theta[0], 0, b.T);
    echo_row(ctx, "theta(1):", ctx.theta[1], 0, b.T);
    echo_row(ctx, "theta0pi:", ctx.pi, 0, b.T);
    echo_row(ctx, "eps    :", ctx.eps, 1, b.T - 1);
    echo_row(ctx, "gam    :", ctx.gam, 1, b.T - 1);
}

// Simulates every site, collapses equal records and writes the history file.
[[noreturn]] void simulate_sites(Context &ctx, const Block &b) {
    const int T = b.T;
    if (!(b.N < 2147483648.0)) input_error("SPADMS: N=%.0f sites are too many to simulate one by one", b.N);
    const int count = b.N > 0 ? static_cast<int>(b.N) : 0;
    std::vector<std::uint8_t> records(static_cast<std::size_t>(count) * static_cast<std::size_t>(T));
    std::vector<int> freq(static_cast<std::size_t>(count));

    for (int i = 0; i < count; i++) {
        std::uint8_t *rec = records.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(T);
        int z = ctx.Random() < ctx.psi ? 1 : 0;   // occupied
        int s = ctx.Random() < ctx.pi[0] ? 1 : 0; // locally present
        for (int j = 0; j < T; j++) {
            // The local chain runs whether or not the site is occupied.
            s = ctx.Random() < ctx.theta[s][j] ? 1 : 0;
            double u = ctx.Random();
            rec[j] = (z == 1 && s == 1 && u < ctx.pa[j]) ? 1 : 0;
            if (j < T - 1) {
                u = ctx.Random();
                z = z == 1 ? (u > ctx.eps[j + 1] ? 1 : 0) : (u < ctx.gam[j + 1] ? 1 : 0);
                if (ctx.gam[j + 1] > 0) s = ctx.Random() < ctx.pi[j + 1] ? 1 : 0;
            }
        }
    }

    const int distinct = smrzCaphis(count, T, records, freq);
    std::FILE *f = ctx.fp2;
    std::fprintf(f, "%d\t%d\n", distinct, T);
    if (ctx.sink) ctx.sink->begin(HistoryShape{false, T, 0, 0});
    std::string line;
    line.reserve(2 * static_cast<std::size_t>(T) + 16);
    char num[16];
    for (int i = 0; i < count; i++) {
        if (freq[i] <= 0) continue;
        const std::uint8_t *rec = records.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(T);
        line.clear();
        for (int j = 0; j < T; j++) {
            line.push_back(static_cast<char>('0' + rec[j]));
            line.push_back('\t');
        }
        if (ctx.sink) ctx.sink->history(line, freq[i]);
        std::snprintf(num, sizeof num, "%d\n", freq[i]);
        line += num;
        std::fwrite(line.data(), 1, line.size(), f);
    }
    std::fprintf(f, "0\n0\n%d", ctx.SRVYPERSEASN[0]);
    for (int s = 1; s < ctx.nseasns; s++) std::fprintf(f, ",%d", ctx.SRVYPERSEASN[s]);
    std::fputs(";1\nsimulated data\n", f);
    ctx.history_written = true;
    ctx.close(ctx.fp2);
    finish(0);
}

// States before survey j, indexed 2 * occupied + present (present: locally
// present at the survey before, or drawn afresh where a season opens).
struct BlockPass {
    static constexpr int kStates = 4;
    static constexpr int kSymbols = 2;
    Context &ctx;

    bool last(int j) const { return j == ctx.nper - 1; }
    std::int64_t child(std::int64_t code, int j, int bit) const {
        return bit ? code | (std::int64_t{1} << (ctx.nper - 1 - j)) : code;
    }

    // Local presence and detection at survey j: detected, present but
    // missed, and absent sites, by occupancy.
    struct Split {
        double d[2], fd[2], nf[2];
    };
    Split outcomes(int j, const double *in) const {
        Split r{};
        const bool fresh = ctx.gam[j] > 0 || ctx.eps[j] > 0;
        for (int s = 0; s < kStates; s++) {
            const double n = in[s];
            if (!(n > 0)) continue;
            const int occupied = s >> 1, present = s & 1;
            const double c = fresh ? (1 - ctx.pi[j]) * ctx.theta[0][j] + ctx.pi[j] * ctx.theta[1][j]
                                   : ctx.theta[present][j];
            const double f = n * c * occupied;
            const double d = f * ctx.pa[j];
            r.d[occupied] += d;
            r.fd[occupied] += f - d;
            r.nf[occupied] += n - f;
        }
        return r;
    }
    // Occupancy change from survey j to j + 1 of `v` sites in state s.
    void change(int j, int s, double v, double *out) const {
        if (!(v > 0)) return;
        const int present = s & 1;
        const double o = (s >> 1) != 0 ? v * (1 - ctx.eps[j + 1]) : v * ctx.gam[j + 1];
        out[2 + present] += o;
        out[present] += v - o;
    }
    void split(int j, const double *in, double (*out)[kStates]) {
        const Split r = outcomes(j, in);
        for (int bit = 0; bit < 2; bit++)
            for (int s = 0; s < kStates; s++) out[bit][s] = 0;
        for (int occupied = 0; occupied < 2; occupied++) {
            change(j, 2 * occupied + 1, r.d[occupied], out[1]);
            change(j, 2 * occupied + 1, r.fd[occupied], out[0]);
            change(j, 2 * occupied, r.nf[occupied], out[0]);
        }
    }
    void leaf(std::int64_t code, int j, const double *in) {
        const Split r = outcomes(j, in);
        const double missed = (r.nf[0] + r.nf[1]) + (r.fd[0] + r.fd[1]);
        const double seen = r.d[0] + r.d[1];
        if (missed != 0) ctx.nx.add(code, missed);
        if (seen != 0) ctx.nx.add(code | 1, seen);
    }
};

bool pass_applies(const Context &ctx, double N) {
    if (ctx.determ == 0 || !(N >= 0) || !is_probability(ctx.psi)) return false;
    if (ctx.nper < 1) return false;
    for (int j = 0; j < ctx.nper; j++) {
        if (!is_probability(ctx.pa[j]) || !is_probability(ctx.theta[0][j]) ||
            !is_probability(ctx.theta[1][j]) || !is_probability(ctx.pi[j]) || !is_probability(ctx.gam[j]) ||
            !is_probability(ctx.eps[j]))
            return false;
        if (j + 1 < ctx.nper && (!is_probability(ctx.gam[j + 1]) || !is_probability(ctx.eps[j + 1])))
            return false;
    }
    // Two first calls; a call of caphis_scorR1 leads to at most three of
    // caphis_scorR2, each to two of caphis_scorR1 at the next survey.
    return !walk_chosen(ctx, [&] { return 2 * 4 * full_tree_calls(6, 1, ctx.nper); });
}

} // namespace

int smrzCaphis(int count, int T, std::span<const std::uint8_t> records, std::span<int> freq) {
    // Each record is looked up by its contents; the first of its kind keeps
    // the frequency, so the survivors stay in order of first appearance.
    std::unordered_map<std::string_view, int> first;
    first.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
    int distinct = 0;
    const char *base = reinterpret_cast<const char *>(records.data());
    for (int i = 0; i < count; i++) {
        std::string_view key(base + static_cast<std::size_t>(i) * static_cast<std::size_t>(T),
                             static_cast<std::size_t>(T));
        auto [it, fresh] = first.try_emplace(key, i);
        if (fresh) {
            freq[i] = 1;
            distinct++;
        } else {
            freq[it->second]++;
            freq[i] = kCollapsed;
        }
    }
    return distinct;
}

void caphis_scorR1(Context &ctx, std::int64_t code, int j, int occupied, int present, double n) {
    if (!(n > 0)) return;
    // Local presence is drawn afresh at the first survey and wherever a season
    // opens; otherwise it follows the state at the survey before.
    double c = (ctx.gam[j] > 0 || ctx.eps[j] > 0)
                   ? (1 - ctx.pi[j]) * ctx.theta[0][j] + ctx.pi[j] * ctx.theta[1][j]
                   : ctx.theta[present][j];
    double f = ctx.binoml(n, c) * occupied;
    double d = ctx.binoml(f, ctx.pa[j]);
    if (j < ctx.nper - 1) {
        caphis_scorR2(ctx, code | (std::int64_t{1} << (ctx.nper - 1 - j)), j, occupied, 1, d);
        caphis_scorR2(ctx, code, j, occupied, 1, f - d);
        caphis_scorR2(ctx, code, j, occupied, 0, n - f);
    } else {
        ctx.nx.add(code, (n - f) + (f - d));
        if (d != 0) ctx.nx.add(code | 1, d);
    }
}

void caphis_scorR2(Context &ctx, std::int64_t code, int j, int occupied, int present, double n) {
    if (!(n > 0)) return;
    double o = occupied != 0 ? ctx.binoml(n, 1 - ctx.eps[j + 1]) : ctx.binoml(n, ctx.gam[j + 1]);
    caphis_scorR1(ctx, code, j + 1, 1, present, o);
    caphis_scorR1(ctx, code, j + 1, 0, present, n - o);
}

void caphis_scorR(Context &ctx, const Args &argv, int simtype) {
    const Block b = read_block(ctx, argv);
    lay_out_seasons(ctx, b.T);
    echo_block(ctx, b);
    if (simtype > 1) simulate_sites(ctx, b);

    // The recursion writes codes of nper bits (T among the named options).
    if (ctx.nper < 1)
        input_error("SPADMS: the recursion needs the number of surveys as T=%d among the named options", b.T);
    if (ctx.nper > 30 || ctx.nx.size() < (std::int64_t{1} << ctx.nper))
        input_error("the count table (%lld entries) cannot hold the histories of %d surveys",
                    static_cast<long long>(ctx.nx.size()), ctx.nper);
    double o = ctx.binoml(b.N, ctx.psi);
    std::fprintf(ctx.out, "noccupied:%f  not_occ:%f\n", o, b.N - o);
    if (!pass_applies(ctx, b.N)) {
        caphis_scorR1(ctx, 0, 0, 1, 0, o);
        caphis_scorR1(ctx, 0, 0, 0, 0, b.N - o);
        return;
    }
    BlockPass model{ctx};
    Progress line(ctx.nper >= 18 ? ctx.err : nullptr, "expected histories");
    ForwardPass<BlockPass> pass(model, line.active() ? &line : nullptr);
    const double in[4] = {b.N - o, 0, o, 0};
    pass.run(0, 0, in);
}

} // namespace occusim
