// Multistate occupancy with correlated detection. A site's occupancy state s
// (0 to 3) is fixed for the season, but an occupied site carries an
// availability level between 0 and s that moves as a Markov chain before
// every survey (the first included); the code recorded at a survey (1 to 3,
// or 0 for nothing) depends only on the current level, and level 0 is never
// detected. Detections are thereby correlated from survey to survey.
//
// State and level travel together as a combined state m = s(s+1)/2 + l
// (0..9). The 40 parameters are plain numbers at the front of the command
// line: T, N, psi1..psi3, the detection table (codes 1..3 by levels 1..3),
// the moves within each state to levels 1..s (level 0 takes the rest), and
// the initial level probabilities. Histories go to the temporary history file
// for the summariser.
#include "models/multistate/ms_corr.hpp"

#include <cstdio>
#include <cstdlib>

#include "core/errors.hpp"
#include "models/multistate/ms_lines.hpp"
#include "models/multistate/ms_split.hpp"

namespace occusim {

namespace {

constexpr int kPositional = 40;
constexpr int kCombined = 10;
// Availability level of each combined state.
constexpr int kLevel[kCombined] = {0, 0, 1, 0, 1, 2, 0, 1, 2, 3};

struct Tables {
    double detect[4][4] = {};                        // [code][level]; level 0 is never detected
    double trans[kCombined + 1][kCombined + 1] = {}; // [m before][m at the survey]
};

// One survey step (k is 0-based) for x sites in combined state m before it.
void mscorrcap(Context &ctx, MsTally *t, int k, std::int64_t code, const Tables &tb, int m, double x) {
    if (!(x > 0)) return;
    const int T = ctx.num_srvys;
    const std::int64_t place = place_value(T - 1 - k);
    const bool last = k >= T - 1;
    OutcomeSplit moves(ctx, x);
    for (int to = kCombined - 1; to >= 1; to--) {
        const double g = moves.next(tb.trans[m][to]);
        OutcomeSplit codes(ctx, g);
        for (int c = 3; c >= 1; c--) {
            const double h = codes.next(tb.detect[c][kLevel[to]]);
            if (last)
                print_mscaphis(ctx, code + c * place, h, t);
            else
                mscorrcap(ctx, t, k + 1, code + c * place, tb, to, h);
        }
        if (last)
            print_mscaphis(ctx, code, codes.left(), t);
        else
            mscorrcap(ctx, t, k + 1, code, tb, to, codes.left());
    }
    // Sites the moves did not place are recorded 0 from here on.
    if (x > moves.taken()) print_mscaphis(ctx, code, x - moves.taken(), t);
}

double number(const Args &argv, int pos) {
    return std::strtod(argv[pos].c_str(), nullptr);
}

} // namespace

void do_multistate_sim_corr(Context &ctx, const Args &argv) {
    const int given = static_cast<int>(argv.size()) - 1;
    if (given < kPositional)
        input_error("MSCD needs %d numbers at the front of the command line; only %d arguments given",
                    kPositional, given);
    const int T = static_cast<int>(std::strtol(argv[1].c_str(), nullptr, 10));
    if (T < 1) input_error("MSCD: T=%d (first number) must be at least 1", T);
    require_ms_surveys(T);

    Tables tb;
    ctx.num_srvys = T;
    const double N = number(argv, 2);
    std::fprintf(ctx.out, "num_srvys=%d N=%f\n", T, N);
    double psi[4] = {0, number(argv, 3), number(argv, 4), number(argv, 5)};
    int pos = 6;
    for (int c = 1; c <= 3; c++)
        for (int l = 1; l <= 3; l++) tb.detect[c][l] = number(argv, pos++);
    std::fprintf(ctx.out, "\npsi:");
    for (int s = 1; s <= 3; s++) std::fprintf(ctx.out, " %4.2f", psi[s]);
    std::fprintf(ctx.out, "\np  :\n");
    for (int c = 1; c <= 3; c++)
        std::fprintf(ctx.out, " %4.2f %4.2f %4.2f\n", tb.detect[c][1], tb.detect[c][2], tb.detect[c][3]);

    // Moves within each state to levels 1..s; level 0 takes the remainder.
    auto &t = tb.trans;
    t[0][0] = 1;
    t[1][2] = number(argv, 15);
    t[2][2] = number(argv, 16);
    pos = 17;
    for (int m = 3; m <= 5; m++)
        for (int to = 4; to <= 5; to++) t[m][to] = number(argv, pos++);
    for (int m = 6; m <= 9; m++)
        for (int to = 7; to <= 9; to++) t[m][to] = number(argv, pos++);
    t[1][1] = 1 - t[1][2];
    t[2][1] = 1 - t[2][2];
    for (int m = 3; m <= 5; m++) t[m][3] = 1 - t[m][4] - t[m][5];
    for (int m = 6; m <= 9; m++) t[m][6] = 1 - t[m][7] - t[m][8] - t[m][9];
    std::fprintf(ctx.out, "theta:\n");
    for (int m = 0; m < kCombined; m++) {
        for (int to = 0; to < kCombined; to++) std::fprintf(ctx.out, " %5.2f", t[m][to]);
        std::fprintf(ctx.out, "\n");
    }

    // Initial level probabilities (level 0 takes the remainder in each state).
    const double l11 = number(argv, 35);
    const double l21 = number(argv, 36), l22 = number(argv, 37);
    const double l31 = number(argv, 38), l32 = number(argv, 39), l33 = number(argv, 40);
    std::fprintf(ctx.out, "\nSIMTYPE=%d\n", ctx.SIMTYPE);

    ctx.fp2 = open_for_writing(ctx, "occusim.tmp");

    OutcomeSplit states(ctx, N);
    const double N3 = states.next(psi[3]);
    const double N2 = states.next(psi[2]);
    const double N1 = states.next(psi[1]);
    const double N0 = N - N1 - N2 - N3;
    OutcomeSplit s3(ctx, N3);
    const double N33 = s3.next(l33);
    const double N32 = s3.next(l32);
    const double N31 = s3.next(l31);
    const double N30 = N3 - N33 - N32 - N31;
    OutcomeSplit s2(ctx, N2);
    const double N22 = s2.next(l22);
    const double N21 = s2.next(l21);
    const double N20 = N2 - N22 - N21;
    OutcomeSplit s1(ctx, N1);
    const double N11 = s1.next(l11);
    const double N10 = N1 - N11;
    std::fprintf(ctx.out, "N0=%f N1=%f N2=%f N3=%f\nN33=%f N32=%f N31=%f N30=%f\n", N0, N1, N2, N3, N33, N32,
                 N31, N30);

    const double start[kCombined] = {0, N10, N11, N20, N21, N22, N30, N31, N32, N33};
    MsTally tally(ctx, N);
    for (int m = kCombined - 1; m >= 1; m--) mscorrcap(ctx, &tally, 0, 0, tb, m, start[m]);
    print_mscaphis(ctx, 0, N0, &tally);
    summarise_ms_histories(ctx, T, "end of program\n", &tally);
}

} // namespace occusim
