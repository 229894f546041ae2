// Season layout: surveys are numbered across the whole study; the
// surveys-per-season list cuts them into seasons.
#include "core/seasons.hpp"

#include <climits>

#include "core/errors.hpp"

namespace occusim {

void lay_out_seasons(Context &ctx) {
    ctx.gam[0] = ctx.psi;
    ctx.newSeason[0] = 1;
    // The most negative int has no positive counterpart to stand for.
    if (ctx.nper == INT_MIN) input_error("T=%d: at most %d surveys are supported", ctx.nper, kMaxSurveys);
    if (ctx.nper < 0) {
        ctx.SRVYPERSEASN[0] = -ctx.nper;
        ctx.nper = -ctx.nper;
        ctx.determ = 0;
    }
    // The survey count as T gave it, made positive: a negative T only asks for
    // a stochastic run, and the history file must show the real survey count.
    ctx.num_srvys = ctx.nper;
    // A design longer than the vectors is refused after the survey-count
    // check (so a recursive run still gets its own message); it is not laid out.
    if (ctx.nper > kMaxSurveys) return;
    int s = 0;
    long c = 0;
    for (int k = 0; k < ctx.nper; k++) {
        ctx.Season[k] = s;
        if (k + 1 == c + ctx.SRVYPERSEASN[s]) {
            ctx.newSeason[k + 1] = 1;
            c += ctx.SRVYPERSEASN[s];
            s++;
        }
    }
    ctx.iseasn = s;
}

} // namespace occusim
