// Random variates and probability mass functions of the abundance model and
// the standard-normal draw of the site covariates. All draws come from the
// current stream of the generator.
#pragma once

#include "core/rngs.hpp"

namespace occusim {

int geom(Rngs &rng, double p);
int negbin(Rngs &rng, double mu, double a);
int pois(Rngs &rng, double lambda);
double rand_norm(Rngs &rng);
double dbinom(int k, int n, double p);
double dpois(int k, double lambda);
double dnegbin(int k, double mu, double a);

} // namespace occusim
