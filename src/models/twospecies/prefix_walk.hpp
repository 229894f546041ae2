// The walk over the tree of history prefixes that the expected-value forms of
// the two-species family use.
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
// sites is not visited. The walk keeps one node per survey on the stack and
// allocates nothing.
#pragma once

#include <cstdint>
#include <cstdio>

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
template <class Model>
void walk_prefixes(Model &model, int T, int j, std::int64_t code, const double *m, Progress *progress) {
    if (j == T - 1) {
        model.last(j, code, m);
        return;
    }
    double child[4][Model::K] = {};
    model.extend(j, m, child);
    const int shift = 2 * (T - 1 - j);
    for (int c = 0; c < 4; c++)
        if (model.live(child[c]))
            walk_prefixes(model, T, j + 1, code | (static_cast<std::int64_t>(c) << shift), child[c],
                          progress);
    if (progress) {
        // This node's histories fill codes code .. code + 4^(T-j) - 1.
        const double done = static_cast<double>(code + (std::int64_t{4} << shift));
        progress->update(done / static_cast<double>(std::int64_t{1} << (2 * T)));
    }
}

// Walks the whole tree from the sites `root` of the empty history, with a
// progress line on the run's error stream when the tree is large.
template <class Model> void walk_history_tree(Model &model, std::FILE *err, int T, const double *root) {
    if (T < 1) return;
    // From 4^10 histories on a walk can take more than a moment.
    if (T >= 10) {
        Progress progress(err, "expected histories");
        walk_prefixes(model, T, 0, 0, root, &progress);
    } else {
        walk_prefixes(model, T, 0, 0, root, nullptr);
    }
}

} // namespace occusim
