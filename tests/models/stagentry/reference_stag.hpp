// Path-by-path reference for the staggered-entry recursion: every path's
// listing line written into a file with printf, then merged by
// rewrite_stag_listing, as the model once did it. The model must give the
// same history file and the same number of listing lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/context.hpp"
#include "models/stagentry/stag_entry.hpp"

namespace occusim::testing {

class StagPaths {
  public:
    StagPaths(Context &ctx, std::FILE *listing) : ctx_(ctx), T_(ctx.num_srvys), f_(listing) {}
    int lines = 0;

    // The design as the model sets it up: the last survey of each season
    // forces entry, departure is certain after the last survey.
    void run() {
        int L = ctx_.SRVYPERSEASN[0];
        if (L <= 1 || L > T_) L = T_;
        for (int j = 1; j <= T_; j++)
            if (j % L == 0) ctx_.thA[0][j - 1] = 1;
        ctx_.thA[1][T_ - 1] = 1;
        const int nsites = static_cast<int>(ctx_.ns);
        const double occ = nsites * ctx_.psi;
        ent(0, 0, 0, 0, 1, occ);
        ent(0, 0, 0, 0, 0, nsites - occ);
    }

  private:
    void list(std::int64_t code, double x) {
        if (!(x > 1e-18)) return;
        for (int k = 0; k < T_; k++) {
            char c = (code >> (T_ - 1 - k)) & 1 ? '1' : '0';
            if (ctx_.pa[k] <= 0 && ctx_.P0MISS > 0) c = '.';
            std::fprintf(f_, "%c\t", c);
        }
        std::fprintf(f_, "%f\n", x);
        lines++;
    }
    void ent(int k, std::int64_t code, int en, int de, int occ, double x) {
        if (x == 0) return;
        if (occ && en) {
            cap(k, code, 1, de, 1, x);
        } else if (occ) {
            double n = ctx_.thA[0][k] * x;
            cap(k, code, 1, 0, 1, n);
            cap(k, code, 0, 0, 1, x - n);
        } else {
            cap(k, code, 0, 0, 0, x);
        }
    }
    void col_ext(int k, std::int64_t code, int en, int de, int occ, double x) {
        if (ctx_.eps[k] == 0 && ctx_.gam[k + 1] == 0) {
            ent(k + 1, code, en, de, occ, x);
            return;
        }
        double l = occ ? 1 - ctx_.eps[k] : ctx_.gam[k + 1];
        ent(k + 1, code, 0, 0, 1, x * l);
        ent(k + 1, code, 0, 0, 0, x - x * l);
    }
    void depart(int k, std::int64_t code, int occ, double x) {
        double n = ctx_.thA[1][k] * x;
        col_ext(k, code, 1, 0, occ, x - n);
        col_ext(k, code, 1, 1, occ, n);
    }
    void cap(int k, std::int64_t code, int en, int de, int occ, double x) {
        const bool last = k >= T_ - 1;
        if (en && !de) {
            double det = ctx_.pa[k] * x;
            double miss = x - det;
            std::int64_t bit = std::int64_t{1} << (T_ - 1 - k);
            if (!last) {
                depart(k, code | bit, occ, det);
                depart(k, code, occ, miss);
            } else {
                list(code | bit, det);
                list(code, miss);
            }
        } else if (!last) {
            col_ext(k, code, en, de, occ, x);
        } else {
            list(code, x);
        }
    }

    Context &ctx_;
    int T_;
    std::FILE *f_;
};

} // namespace occusim::testing
