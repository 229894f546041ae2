// The binomial split through which every model divides a group of sites: the
// expected count n*p in expected-value mode, a binomial draw otherwise.
#pragma once

#include "core/rngs.hpp"

namespace occusim {

double binoml(Rngs &rng, int determ, double n, double p);

} // namespace occusim
