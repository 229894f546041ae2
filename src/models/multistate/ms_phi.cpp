// Multistate occupancy, phi parameterisation. A site is in one of NSTATES
// states (0 = unoccupied, 1 .. NSTATES-1 occupied states). Before the first
// survey the states follow the initial distribution Psi; between surveys a
// site in state r moves to state s with probability phi(r,s) of that survey,
// and at each survey a site in true state s is recorded with code i with
// probability p(i,s). Moving to state 0 and recording code 0 take whatever
// probability the occupied states and codes leave. There is no season
// structure: every survey has its own matrices.
//
// The recursion alternates a state step (mscap2a) and an observation step
// (mscap2), expands only groups that hold sites, and writes one multistate
// history line per path to the temporary history file for the summariser.
#include "models/multistate/ms_phi.hpp"

#include <cstdio>

#include "core/errors.hpp"
#include "models/multistate/ms_lines.hpp"
#include "models/multistate/ms_split.hpp"

namespace occusim {

namespace {

void mscap2(Context &ctx, MsTally *t, int c, std::int64_t code, int s, double x);

// State step into survey c (0-based index of the transition) for x sites whose
// state at the previous survey was r (0 before the first survey).
void mscap2a(Context &ctx, MsTally *t, int c, std::int64_t code, int r, double x) {
    if (!(x > 0) || c > ctx.num_srvys) return;
    OutcomeSplit split(ctx, x);
    for (int s = 1; s < ctx.NSTATES; s++) {
        const double n = split.next(ctx.psiMS[r][s][c]);
        mscap2(ctx, t, c + 1, code, s, n);
    }
    mscap2(ctx, t, c + 1, code, 0, split.rest());
}

// Observation step at survey c (1-based) for x sites in true state s.
void mscap2(Context &ctx, MsTally *t, int c, std::int64_t code, int s, double x) {
    if (!(x > 0)) return;
    const int T = ctx.num_srvys;
    const std::int64_t place = place_value(T - c);
    OutcomeSplit split(ctx, x);
    for (int i = 1; i < ctx.NSTATES; i++) {
        const double m = split.next(ctx.pMS[i][s][c - 1]);
        if (c == T)
            print_mscaphis(ctx, code + i * place, m, t);
        else
            mscap2a(ctx, t, c, code + i * place, s, m);
    }
    if (c == T)
        print_mscaphis(ctx, code, split.rest(), t);
    else
        mscap2a(ctx, t, c, code, s, split.rest());
}

} // namespace

void do_multistate_sim2(Context &ctx, double N) {
    const int T = ctx.nper;
    const int S = ctx.NSTATES;
    if (S > kMaxStates)
        input_error("NSTATES=%d: the multistate model handles at most %d states", S, kMaxStates);
    require_ms_surveys(T);

    std::fprintf(ctx.out, "\nMultistate (phi parm) simulation ...\n");
    ctx.num_srvys = T;
    std::fprintf(ctx.out, "srvys=%d ,N=%f psi0:", T, N);
    for (int s = 1; s < S; s++) ctx.psiMS[0][s][0] = ctx.gam[s];
    for (int k = 0; k < T; k++) ctx.psiMS[0][0][k] = 1;
    for (int s = 1; s < S; s++) {
        ctx.psiMS[0][0][0] -= ctx.psiMS[0][s][0];
        std::fprintf(ctx.out, " %4.2f", ctx.psiMS[0][s][0]);
        for (int k = 1; k < T; k++) ctx.psiMS[s][0][k] = 1;
    }
    std::fprintf(ctx.out, "\n");
    // Moving to state 0 and recording code 0 take the remainders (shown on
    // the console; the recursion computes them from the group itself).
    for (int r = 0; r < S; r++)
        for (int s = 1; s < S; s++)
            for (int k = 1; k < T; k++) ctx.psiMS[r][0][k] -= ctx.psiMS[r][s][k];
    // Code 0 is shown as 1 less the sum of the other codes' probabilities.
    for (int k = 0; k < T; k++)
        for (int j = 0; j < S; j++) {
            double sum = 0;
            for (int i = 1; i < S; i++) sum += ctx.pMS[i][j][k];
            ctx.pMS[0][j][k] = 1 - sum;
        }
    for (int k = 0; k < T; k++) {
        std::fprintf(ctx.out, "psi(%d),p(%d)\n", k, k);
        for (int j = 0; j < S; j++) {
            for (int s = 0; s < S; s++) std::fprintf(ctx.out, " %4.2f", ctx.psiMS[j][s][k]);
            std::fprintf(ctx.out, "   ");
            for (int s = 0; s < S; s++) std::fprintf(ctx.out, " %4.2f", ctx.pMS[j][s][k]);
            std::fprintf(ctx.out, "\n");
        }
    }
    std::fprintf(ctx.out, "\nSIMTYPE=%d\n", ctx.SIMTYPE);

    ctx.fp2 = open_for_writing(ctx, "occusim.tmp");
    MsTally tally(ctx, N);
    mscap2a(ctx, &tally, 0, 0, 0, N);
    summarise_ms_histories(ctx, T, "end of program\n", &tally);
}

} // namespace occusim
