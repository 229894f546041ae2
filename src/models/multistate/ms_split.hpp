// Division of one group of sites among several outcomes (states or recorded
// codes) whose probabilities are each given for the whole group, the last
// outcome (state or code 0) taking what is left.
#pragma once

#include "core/context.hpp"

namespace occusim {

// Expected-value mode gives each outcome x * p. Stochastic mode draws the
// outcomes one after another from what is left of the group, each with its
// probability conditional on the outcomes before it, so that the counts
// always add up to the group: separate draws from the whole group could
// together exceed it and create sites out of nothing.
class OutcomeSplit {
  public:
    OutcomeSplit(Context &ctx, double x) : ctx_(ctx), x_(x), left_(x) {}
    // Count of the next outcome, whose probability for the whole group is p.
    double next(double p);
    // Sites given to the outcomes so far.
    double taken() const { return taken_; }
    // What is left of the group for the remainder outcome, as the group less
    // the sum of the outcomes ...
    double rest() const { return x_ - taken_; }
    // ... or as the group less each outcome in turn (the two differ only by
    // rounding in expected-value mode).
    double left() const { return left_; }

  private:
    Context &ctx_;
    double x_;
    double taken_ = 0;
    double left_;
    double p_before_ = 0; // sum of the probabilities of the earlier outcomes
};

} // namespace occusim
