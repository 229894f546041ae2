// Forward pass over the tree of history prefixes. Every node is a history
// written up to some survey, and carries the expected number of sites in each
// hidden state at that point (occupied or not, locally present or not, which
// detection class...): a handful of numbers. A model splits those numbers
// survey by survey into one child per symbol the survey can show; children
// that hold no sites are not visited, and at the last survey the model adds
// the node's counts into the count table. Work and memory therefore follow
// the number of distinct histories (times the few hidden states), not the
// number of sequences of hidden states that lead to them, and nothing is
// allocated: the nodes of the current path live on the stack.
//
// This is the one pass every model family's expected values go through; a
// family brings only its rules (how sites move between hidden states and what
// each survey shows of them), never a walk of its own.
#pragma once

#include <cstdint>

#include "core/context.hpp"
#include "core/progress.hpp"

namespace occusim {

// A model for the pass provides
//   static constexpr int kStates, kSymbols;
//   bool last(int k) const;                     // k is the last survey
//   void split(int k, const double *in, double (*out)[kStates]);
//   std::int64_t child(std::int64_t code, int k, int symbol) const;
//   void leaf(std::int64_t code, int k, const double *in);
// split() fills out[symbol][state] for survey k from the counts `in` just
// before it; leaf() does the same for the last survey and stores the counts.
// A model may also provide
//   bool live(const double *counts) const;      // the child is visited
// to say which children hold sites; by default it is those with a positive
// count in some state.
template <class Model> class ForwardPass {
  public:
    explicit ForwardPass(Model &model, Progress *progress = nullptr) : model_(model), progress_(progress) {}

    // Walks the subtree below the node `code` whose counts before survey k
    // are `in`.
    void run(int k, std::int64_t code, const double *in) { visit(k, code, in, 0.0, 1.0); }

    // Nodes visited so far (every prefix that holds sites, leaves included).
    std::int64_t nodes() const { return nodes_; }

  private:
    bool holds_sites(const double *counts) const {
        if constexpr (requires { model_.live(counts); }) {
            return model_.live(counts);
        } else {
            for (int s = 0; s < Model::kStates; s++)
                if (counts[s] > 0) return true;
            return false;
        }
    }

    void visit(int k, std::int64_t code, const double *in, double done, double share) {
        nodes_++;
        if (progress_) progress_->update(done);
        if (model_.last(k)) {
            model_.leaf(code, k, in);
            return;
        }
        double out[Model::kSymbols][Model::kStates];
        model_.split(k, in, out);
        share /= Model::kSymbols;
        for (int d = 0; d < Model::kSymbols; d++)
            if (holds_sites(out[d])) visit(k + 1, model_.child(code, k, d), out[d], done + d * share, share);
    }

    Model &model_;
    Progress *progress_;
    std::int64_t nodes_ = 0;
};

// True when every value lies in [0, 1] (NaN does not).
inline bool is_probability(double p) {
    return p >= 0.0 && p <= 1.0;
}

// The cohort walk adds the expected counts in the order the model was first
// written in, the pass in another: the printed values can differ in their
// last digit where a count falls on a decimal tie. Expected values therefore
// go path by path wherever that stays cheap: when the walk makes at most
// kWalkCallBudget calls (up to about 150 ns a call with its table writes, so
// ten milliseconds at most), and by the pass above. Each family bounds its
// walk's calls from the design alone, before it starts; ordinary designs (a
// dozen surveys in a few seasons) stay well inside.
inline constexpr double kWalkCallBudget = 1 << 16;

// Whether expected values that the pass could compute go path by path
// instead; `walk_calls()` bounds the calls of the walk.
template <class Bound> bool walk_chosen(const Context &ctx, Bound walk_calls) {
    switch (ctx.expected_by) {
    case Context::ExpectedBy::Walk: return true;
    case Context::ExpectedBy::Pass: return false;
    case Context::ExpectedBy::Cheapest: break;
    }
    return walk_calls() <= kWalkCallBudget;
}

// Calls of a walk that makes every one of `children` calls at each of the
// surveys from..last (a walk that does not leave out empty cohorts).
inline double full_tree_calls(int children, int from, int last) {
    double calls = 0, level = 1;
    for (int k = from; k <= last && calls <= kWalkCallBudget; k++) {
        calls += level;
        level *= children;
    }
    return calls;
}

} // namespace occusim
