// The rules by which the expected-value forms of the two-species family go
// over the tree of history prefixes.
//
// A node of the tree is a history of the first j surveys together with the
// expected number of sites in each hidden state (occupancy, availability)
// that have that history so far: a handful of numbers. Extending a node by one
// survey splits those numbers among the four digits of that survey, and at the
// last survey they go into the count table. However many sequences of hidden
// states lead to a history, it is reached once, so the work is a few
// operations per history prefix and hidden state.
//
// Children are visited in ascending digit order, which is ascending code
// order, the order in which the writers list the histories. A child without
// sites (as the model's live() judges) is not visited.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/prefix_tree.hpp"
#include "core/progress.hpp"

namespace occusim {

// A model of the walk provides
//   static constexpr int K;                              number of hidden states
//   void extend(int j, const double *m, double (*child)[K]);
//       splits the sites m[0..K) of a node at survey j (from 0) among the four
//       digits of that survey (child rows start at 0 and are added to);
//   bool live(const double *m) const;                    whether a child is walked;
//   void last(int j, std::int64_t code, const double *m);
//       adds the node's sites into the count table at the last survey, under
//       code | digit.
// The digit of survey j sits at bits 2 * (T - 1 - j) of the code.
//
// These are the family's rules for the forward pass over history prefixes
// (ForwardPass), which does the walking.
template <class Model> class FourDigitRules {
  public:
    static constexpr int kStates = Model::K;
    static constexpr int kSymbols = 4;

    FourDigitRules(Model &model, int T) : model_(model), T_(T) {}

    bool last(int k) const { return k == T_ - 1; }
    void split(int k, const double *in, double (*out)[kStates]) {
        for (int d = 0; d < kSymbols; d++)
            for (int s = 0; s < kStates; s++) out[d][s] = 0;
        model_.extend(k, in, out);
    }
    bool live(const double *counts) const { return model_.live(counts); }
    std::int64_t child(std::int64_t code, int k, int digit) const {
        return code | (static_cast<std::int64_t>(digit) << (2 * (T_ - 1 - k)));
    }
    void leaf(std::int64_t code, int k, const double *in) { model_.last(k, code, in); }

  private:
    Model &model_;
    int T_;
};

// Walks the whole tree from the sites `root` of the empty history, with a
// progress line on the run's error stream when the tree is large.
template <class Model> void walk_history_tree(Model &model, std::FILE *err, int T, const double *root) {
    if (T < 1) return;
    FourDigitRules<Model> rules(model, T);
    // From 4^10 histories on a walk can take more than a moment.
    if (T >= 10) {
        Progress progress(err, "expected histories");
        ForwardPass<FourDigitRules<Model>>(rules, &progress).run(0, 0, root);
    } else {
        ForwardPass<FourDigitRules<Model>>(rules).run(0, 0, root);
    }
}

} // namespace occusim
