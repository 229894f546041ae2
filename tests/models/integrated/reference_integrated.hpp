// Path-by-path reference for the cohort form of the integrated model: every
// branch followed to the last survey whether or not it holds units, each
// history line formatted with printf. The model must write the same lines.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "core/context.hpp"

namespace occusim::testing {

class IntegratedPaths {
  public:
    explicit IntegratedPaths(Context &ctx) : ctx_(ctx), T_(ctx.num_srvys) {}

    // The temporary file's lines, and the LIST echo of the console.
    std::string lines, listed;

    void run() {
        int_mod(0, ctx_.pi[0] * ctx_.ns);
        int_mod(1, (1 - ctx_.pi[0]) * ctx_.ns);
    }

  private:
    double block(const Vec &v, int from, int to, int j) { return v[kVecLen * (from * 2 + to) + j]; }
    double initial(int area) { return area == 0 ? ctx_.psiA : ctx_.psiB[0]; }
    double detect(int area, int j) { return area == 0 ? ctx_.pA[j] : ctx_.pB[j]; }

    void write(const std::string &h, double x) {
        char buf[512];
        if (ctx_.LIST > 0 && x > 0) {
            std::snprintf(buf, sizeof buf, "MSCAPHIS:%s %f\n", h.c_str(), x);
            listed += buf;
        }
        if (!(x > 0)) return;
        std::string line;
        for (std::size_t i = 0; i < h.size(); i++) {
            if (i > 0) line += '\t';
            line += h[i];
        }
        if (ctx_.determ != 0) {
            std::snprintf(buf, sizeof buf, "\t%f", x);
            line += buf;
        }
        line += '\n';
        // A stochastic group is one line per unit.
        const double copies = ctx_.determ != 0 ? 1.0 : std::trunc(x + 0.5);
        for (double c = 0; c < copies; c++) lines += line;
    }
    void int_mod(int area, double n) {
        double o = ctx_.binoml(n, initial(area));
        cap(1, "", 1, area, o);
        cap(1, "", 0, area, n - o);
    }
    void cap(int k, const std::string &h, int occ, int area, double n) {
        double d = occ ? ctx_.binoml(n, detect(area, k - 1)) : 0;
        std::string missed = h + static_cast<char>('0' + 2 * area);
        std::string seen = h + static_cast<char>('0' + 2 * area + 1);
        if (k == T_) {
            write(missed, n - d);
            write(seen, d);
        } else {
            mov(k + 1, missed, occ, area, n - d);
            mov(k + 1, seen, occ, area, d);
        }
    }
    void mov(int k, const std::string &h, int occ, int X, double n) {
        double a = ctx_.binoml(n, ctx_.eta(occ, X)[k - 2]);
        change(k, h, occ, X, 0, a);
        change(k, h, occ, X, 1, n - a);
    }
    void change(int k, const std::string &h, int occ, int X, int Y, double n) {
        double o = occ ? ctx_.binoml(n, 1 - block(ctx_.epsB, X, Y, k - 2))
                       : ctx_.binoml(n, block(ctx_.gamB, X, Y, k - 2));
        cap(k, h, 1, Y, o);
        cap(k, h, 0, Y, n - o);
    }

    Context &ctx_;
    int T_;
};

} // namespace occusim::testing
