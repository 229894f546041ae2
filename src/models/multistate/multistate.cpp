// Multistate occupancy, psi/R parameterisation. A site is unoccupied (state
// 0), occupied by non-breeding adults (state 1) or by breeders (state 2). At
// each survey it is occupied with probability psi and, once occupied, breeding
// with probability R, both conditional on its state at the previous survey;
// within a season the state does not change. A site in state s is detected
// with probability p_s, and at a detected breeding site young are seen with
// probability dlta. The observed code is 0 (nothing), 1 (adults seen) or 2
// (young seen: breeding confirmed).
//
// The history file's counts (or a stochastic data set) come from a
// depth-first recursion over surveys that alternates a state step (mscap1) and
// an observation step (mscap); SIMTYPE=2 simulates site by site (simmscap).
// Either way one line per path of states or per site goes to the temporary
// history file, which the summariser collapses into the history file: a
// history's count there is the sum of its paths' counts as written (six
// decimals each). ms_expected_histories gives the exact expected counts
// instead, over the tree of history prefixes, without writing anything.
#include "models/multistate/multistate.hpp"

#include <cmath>
#include <cstdio>

#include "core/errors.hpp"
#include "core/prefix_tree.hpp"
#include "models/multistate/ms_lines.hpp"
#include "models/multistate/ms_phi.hpp"

namespace occusim {

namespace {

constexpr double kUnsetDlta = -1; // the driver's marker for an entry no option set

void mscap(Context &ctx, MsTally *t, int c, std::int64_t code, int s, double x);

// State step at survey c (1-based) for x sites whose state at survey c-1 was
// s: occupied with psiMS[0][s], breeding given occupied with psiMS[1][s].
void mscap1(Context &ctx, MsTally *t, int c, std::int64_t code, int s, double x) {
    // A group of no sites yields no line and draws nothing: skip it whole.
    if (c > ctx.num_srvys || x == 0) return;
    const double occ = ctx.binoml(x, ctx.psiMS[0][s][c - 1]);
    const double brd = ctx.binoml(occ, ctx.psiMS[1][s][c - 1]);
    mscap(ctx, t, c, code, 0, x - occ);
    mscap(ctx, t, c, code, 1, occ - brd);
    mscap(ctx, t, c, code, 2, brd);
}

// Observation step at survey c for x sites in state s: detected with
// pMS[0][s]; among the detected, young seen with dlta (never in state 1).
void mscap(Context &ctx, MsTally *t, int c, std::int64_t code, int s, double x) {
    if (x == 0) return;
    const int T = ctx.num_srvys;
    const std::int64_t place = place_value(T - c);
    const double det = ctx.binoml(x, ctx.pMS[0][s][c - 1]);
    double young = ctx.binoml(det, ctx.dlta[c - 1]);
    if (s == 1) young = 0; // drawn all the same, so a seed gives the same data
    if (c == T) {
        print_mscaphis(ctx, code, x - det, t);
        print_mscaphis(ctx, code + place, det - young, t);
        print_mscaphis(ctx, code + 2 * place, young, t);
    } else {
        mscap1(ctx, t, c + 1, code, s, x - det);
        mscap1(ctx, t, c + 1, code + place, s, det - young);
        mscap1(ctx, t, c + 1, code + 2 * place, s, young);
    }
}

// Site-by-site simulation: each site draws its state and observation survey
// by survey. Young are seen only where the adults were detected.
void simmscap(Context &ctx, double N) {
    const int T = ctx.num_srvys;
    ctx.nout = 0;
    const double nsites = ctx.new_pao_opt > 0 ? 1.0 : std::trunc(N + 0.5);
    char line[448];
    for (double site = 0; site < nsites; site++) {
        int len = 0;
        int prev = 0;
        for (int k = 0; k < T; k++) {
            int s = ctx.Random() < ctx.psiMS[0][prev][k] ? 1 : 0;
            if (s == 1 && ctx.Random() < ctx.psiMS[1][prev][k]) s = 2;
            int obs = ctx.Random() < ctx.pMS[0][s][k] ? 1 : 0;
            if (s == 2) {
                const double u4 = ctx.Random();
                if (obs == 1 && u4 < ctx.dlta[k]) obs = 2;
            }
            line[len++] = static_cast<char>('0' + obs);
            line[len++] = '\t';
            prev = s;
        }
        // T <= 9 keeps the line far below the buffer, a count included.
        if (ctx.new_pao_opt > 0) len += std::snprintf(line + len, sizeof line - len - 1, "%f", N);
        line[len++] = '\n';
        std::fwrite(line, 1, static_cast<std::size_t>(len), ctx.fp2);
        ctx.nout++;
    }
}

void print_row(Context &ctx, const char *label, const Vec &v, int from, int to) {
    std::fprintf(ctx.out, "%s", label);
    for (int k = from; k < to; k++) std::fprintf(ctx.out, " %4.2f", v[k]);
}

// Within a season the state is closed: unoccupied stays unoccupied,
// non-breeding stays non-breeding, breeding stays breeding.
void close_season(Context &ctx, int k) {
    ctx.psiMS[0][0][k] = 0;
    ctx.psiMS[0][1][k] = 1;
    ctx.psiMS[0][2][k] = 1;
    ctx.psiMS[1][0][k] = 0;
    ctx.psiMS[1][1][k] = 0;
    ctx.psiMS[1][2][k] = 1;
}

// Season closure: every survey that does not open a season (a survey beyond
// the listed seasons opens one of its own).
void close_seasons(Context &ctx, int T) {
    int season = 1, j = 1;
    for (int k = 1; k < T; k++) {
        j++;
        if (j > ctx.SRVYPERSEASN[season - 1]) {
            season++;
            j = 1;
        } else {
            close_season(ctx, k);
        }
    }
}

// Expected counts over the tree of history prefixes: the model's rules for
// the forward pass. A prefix (the codes of surveys 1..k) carries the expected
// number of sites in each state at survey k; extending it by the next survey
// moves those sites between states and splits them by the code they show,
// which gives the three child prefixes. Prefixes that hold no sites (every
// count zero) are not extended. The codes are visited in ascending order, so
// the histories come out in the order of the history file. A prefix's code is
// its codes read as a number in base 3, first survey first.
class ExpectedRules {
  public:
    static constexpr int kStates = 3;
    static constexpr int kSymbols = 3;

    ExpectedRules(const Context &ctx, int T, HistorySink &sink) : ctx_(ctx), T_(T), sink_(sink) {
        for (int k = 0; k < T; k++) {
            fields_[2 * k] = '0';
            fields_[2 * k + 1] = '\t';
        }
    }

    bool last(int k) const { return k == T_ - 1; }

    // Survey k (from 0) for the sites `before` in each state just before it
    // (before the first survey every site counts as state 0):
    // shown[code][state].
    void split(int k, const double *before, double (*shown)[kStates]) const {
        double now[3] = {0, 0, 0};
        for (int s = 0; s < 3; s++) {
            const double x = before[s];
            if (x == 0) continue;
            const double occ = x * ctx_.psiMS[0][s][k];
            const double brd = occ * ctx_.psiMS[1][s][k];
            now[0] += x - occ;
            now[1] += occ - brd;
            now[2] += brd;
        }
        for (int s = 0; s < 3; s++) {
            if (now[s] == 0) {
                shown[0][s] = shown[1][s] = shown[2][s] = 0;
                continue;
            }
            const double det = now[s] * ctx_.pMS[0][s][k];
            const double young = s == 1 ? 0 : det * ctx_.dlta[k];
            shown[0][s] = now[s] - det;
            shown[1][s] = det - young;
            shown[2][s] = young;
        }
    }

    bool live(const double *v) const { return v[0] != 0 || v[1] != 0 || v[2] != 0; }
    std::int64_t child(std::int64_t code, int, int symbol) const { return 3 * code + symbol; }

    // The last survey: each of the three histories that extend the prefix
    // `code` goes to the sink with its sites, when it has any.
    void leaf(std::int64_t code, int k, const double *before) {
        for (int j = k - 1; j >= 0; j--, code /= 3) fields_[2 * j] = static_cast<char>('0' + code % 3);
        double shown[3][3];
        split(k, before, shown);
        for (int symbol = 0; symbol < 3; symbol++) {
            fields_[2 * k] = static_cast<char>('0' + symbol);
            const double *v = shown[symbol];
            const double total = v[0] + v[1] + v[2];
            if (total > 0) sink_.history(std::string_view(fields_, 2 * T_ - 1), total);
        }
    }

  private:
    const Context &ctx_;
    int T_;
    HistorySink &sink_;
    char fields_[2 * kMaxMsSurveys];
};

// Young are never seen at surveys whose dlta no option set. Returns whether
// there was such a survey.
bool settle_unset_dlta(Context &ctx, int T) {
    bool unset = false;
    for (int k = 0; k < T; k++)
        if (ctx.dlta[k] == kUnsetDlta) {
            ctx.dlta[k] = 0;
            unset = true;
        }
    return unset;
}

} // namespace

void ms_expected_histories(Context &ctx, double N, HistorySink &sink) {
    const int T = ctx.nper;
    require_ms_surveys(T);
    if (T < 1) return;
    settle_unset_dlta(ctx, T);
    close_seasons(ctx, T);
    const double start[3] = {N, 0, 0};
    ExpectedRules rules(ctx, T, sink);
    ForwardPass<ExpectedRules>(rules).run(0, 0, start);
}

void do_multistate_sim(Context &ctx, double N) {
    if (ctx.MS2 > 0) {
        do_multistate_sim2(ctx, N);
        finish(0);
    }
    const int T = ctx.nper;
    require_ms_surveys(T);
    if (settle_unset_dlta(ctx, T)) std::fprintf(ctx.err, "occusim8: warning: dlta not given, young never detected\n");

    std::fprintf(ctx.out, "\nMultistate (psi/R parm) simulation ...\n");
    ctx.num_srvys = T;
    std::fprintf(ctx.out, "\nnum_srvys=%d  N=%1.3f  nseasns=%d  SIMTYPE=%d  SRVYPERSEASN:", T, N, ctx.nseasns,
                 ctx.SIMTYPE);
    for (int i = 0; i < 20 && ctx.SRVYPERSEASN[i] > 0; i++) std::fprintf(ctx.out, " %d", ctx.SRVYPERSEASN[i]);
    std::fprintf(ctx.out, "\n");
    std::fprintf(ctx.out, "psi0: %4.2f", ctx.psiMS[0][0][0]);
    std::fprintf(ctx.out, " R0 : %4.2f\n", ctx.psiMS[1][0][0]);

    close_seasons(ctx, T);
    const bool show = ctx.nseasns > 0;
    if (show) {
        print_row(ctx, "Cpsi0  :", ctx.psiMS[0][0], 1, T);
        print_row(ctx, "\nCpsi1  :", ctx.psiMS[0][1], 1, T);
        print_row(ctx, "\nCpsi2  :", ctx.psiMS[0][2], 1, T);
        print_row(ctx, "\ncR0    :", ctx.psiMS[1][0], 1, T);
        print_row(ctx, "\ncR1    :", ctx.psiMS[1][1], 1, T);
        print_row(ctx, "\ncR2    :", ctx.psiMS[1][2], 1, T);
    }
    print_row(ctx, "\np1    :", ctx.pMS[0][1], 0, T);
    print_row(ctx, "\np2    :", ctx.pMS[0][2], 0, T);
    std::fprintf(ctx.out, "\n");

    std::FILE *inp = open_for_writing(ctx, "occusim.inp");
    ctx.close(inp);
    ctx.fp2 = open_for_writing(ctx, "occusim.tmp");

    if (ctx.SIMTYPE == 2) {
        simmscap(ctx, N);
        summarise_ms_histories(ctx, T, "end of program(occusim8.exe)\n");
    }
    MsTally tally(ctx, N);
    mscap1(ctx, &tally, 1, 0, 0, N);
    summarise_ms_histories(ctx, T, "end of program(occusim8.exe)\n", &tally);
}

} // namespace occusim
