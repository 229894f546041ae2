// Cost-optimal study designs: how to split a study's effort between sites and
// repeat visits. A design of S sites visited K times (K times in each season
// of a multi-season study) costs
//   S * (site + seasons * (first + (K - 1) * repeat)),
// the cost of taking on a site once and, season by season, of its first and
// of each further visit. The search serves one parameter of the design table:
//   with a budget E, the design of cost at most E with the least standard
//   error, or the most power when the parameter has a null;
//   with a target x, the cheapest design with a standard error of at most x,
//   or a power of at least x when the parameter has a null.
// For each number of visits the expected information of one site is computed
// once (S sites carry S times that information), so the best number of sites
// for those visits follows in closed form; one evaluation per visit count.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "study/design.hpp"

namespace occusim {

struct DesignCosts {
    double site = 0, first = 1, repeat = 1;
    // The cost of one site visited `visits` times in each of `seasons` seasons.
    double per_site(int visits, int seasons) const {
        return site + seasons * (first + (visits - 1) * repeat);
    }
};

// What the search is asked.
struct OptimalRequest {
    std::string parameter; // a name of the design table: psi, p, psi(cov1), eps, ...
    bool by_budget = true; // a budget (the least se or most power) or a target (the cheapest)
    double limit = 0;      // the budget, or the se or power to reach
    DesignCosts costs;
    int kmax = 16; // most visits per site (per season)
    WaldTests tests;
};

// The most sites a design may have: a target out of reach below this many
// sites is out of reach.
inline constexpr long kMaxDesignSites = 1000000000;

// One design of the search: the best number of sites for its visits.
struct CandidateDesign {
    long sites = 0;
    int visits = 0; // per season
    double cost = 0;
    double se = 0;
    double power = 0; // NaN when the parameter has no null
    bool reaches = true; // within the budget, or reaching the target
};

struct OptimalSearch {
    OptimalRequest request;
    int seasons = 1;
    bool by_power = false; // the parameter has a null: power is the measure
    double value = 0;      // the parameter's value
    std::vector<CandidateDesign> designs; // every design evaluated, by visits
    std::vector<std::size_t> ranking;     // the designs that qualify, best first
    long evaluations = 0;                 // expected-information evaluations made
    const CandidateDesign &best() const { return designs[ranking.front()]; }
};

// The request of a command line read into ctx (OPTIMIZE and its options).
OptimalRequest optimal_request(const Context &ctx);

// Why this prepared context cannot run the search it asks for ("" when it
// can, or when it asks for none): the options of the search without
// OPTIMIZE, OPTIMIZE without exactly one of BUDGET and TARGET, a power target
// outside 0..1, costs under which a site visited twice costs nothing, a
// stochastic run or a family without design evaluation.
std::string optimal_refusal(const Context &ctx);

// The command line `args` with its number of surveys, seasons and sites
// replaced: `visits` per season in `seasons` seasons of equal length, and
// `sites` sites; the options of the search and DESIGN left out.
Args design_arguments(const Args &args, int visits, int seasons, long sites);

// Searches the designs of the command line `args` (an expected-value run of
// a family that DESIGN evaluates, every per-survey value a single value).
// Throws InputError with one line when the search cannot be made or finds
// nothing: a parameter not in the design table or fixed, a per-survey list,
// a budget that affords no site with two visits, a target no design reaches
// (naming the best one found).
OptimalSearch search_designs(const Preparer &prepare, const Args &args, const OptimalRequest &request);

// The console report headed "optimal design:": what was asked, then the best
// design and the five next best.
void print_optimal(std::FILE *out, const OptimalSearch &search);
// <stem>_optimal.csv: sites,visits,cost,se,power,best, every design evaluated.
std::string optimal_csv(const OptimalSearch &search);

} // namespace occusim
