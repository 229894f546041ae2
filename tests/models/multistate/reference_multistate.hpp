// Path-by-path reference for the psi/R model: the depth-first recursion over
// every path of states and codes, each path's expected count added into its
// history as it ends (no rounding). The tree of history prefixes must give the
// same counts.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "core/context.hpp"

namespace occusim::testing {

class PsiRPaths {
  public:
    PsiRPaths(const Context &ctx, int T) : ctx_(ctx), T_(T) {}
    // Expected count per history (codes separated by tabs) for N sites.
    std::map<std::string, double> run(double N) {
        counts_.clear();
        state_step(1, std::string(), 0, N);
        return counts_;
    }
    long paths() const { return paths_; }

  private:
    void state_step(int c, const std::string &h, int s, double x) {
        if (x == 0) return;
        const double occ = x * ctx_.psiMS[0][s][c - 1];
        const double brd = occ * ctx_.psiMS[1][s][c - 1];
        observe(c, h, 0, x - occ);
        observe(c, h, 1, occ - brd);
        observe(c, h, 2, brd);
    }
    void observe(int c, const std::string &h, int s, double x) {
        if (x == 0) return;
        const double det = x * ctx_.pMS[0][s][c - 1];
        double young = det * ctx_.dlta[c - 1];
        if (s == 1) young = 0;
        const double by_code[3] = {x - det, det - young, young};
        for (int code = 0; code < 3; code++) {
            std::string next = h + (h.empty() ? "" : "\t") + static_cast<char>('0' + code);
            if (c == T_) {
                if (by_code[code] > 0) {
                    counts_[next] += by_code[code];
                    paths_++;
                }
            } else {
                state_step(c + 1, next, s, by_code[code]);
            }
        }
    }
    const Context &ctx_;
    int T_;
    long paths_ = 0;
    std::map<std::string, double> counts_;
};

} // namespace occusim::testing
