// The search over numbers of sites and visits: one expected-information
// evaluation of a single site per number of visits, the sites that budget or
// target call for in closed form, the ranking and the two reports.
#include "study/optimal.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "core/errors.hpp"
#include "study/covariates.hpp"

namespace occusim {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Relative slack when a cost is held against the budget, so that a design
// costing the budget exactly is not lost to the rounding of decimal costs.
constexpr double kCostSlack = 1e-9;
// The designs the report lists: the best and the five next best.
constexpr std::size_t kReported = 6;

// Options the search reads; a candidate design's command line leaves them out,
// with the design options it replaces.
bool replaced_option(const std::string &name) {
    static const char *const names[] = {"T",    "N",     "SRVYPERSEASN", "SPS",    "OPTIMIZE", "BUDGET",
                                        "TARGET", "COST", "KMAX",         "VERIFY", "DESIGN"};
    for (const char *n : names)
        if (name == n) return true;
    return false;
}

// "DESIGN needs ..." said of the search.
std::string as_search(std::string why) {
    if (why.rfind("DESIGN", 0) == 0) why.replace(0, 6, "OPTIMIZE");
    return why;
}

// The design table of one site of a candidate, or why the candidate cannot be
// evaluated.
struct SiteTable {
    std::vector<DesignRow> rows;
    std::string refusal;
};

SiteTable evaluate_site(const Preparer &prepare, const Args &args) {
    SiteTable t;
    bool covariates = false;
    {
        QuietContext probe;
        prepare(probe.ctx, args);
        if (probe.ctx.SIMTYPE > 1) probe.ctx.determ = 0;
        t.refusal = design_refusal(probe.ctx);
        if (!t.refusal.empty()) return t;
        covariates = has_covariates(probe.ctx);
    }
    Eigen::MatrixXd info;
    if (covariates) {
        const CovariateLayout L = covariate_layout(prepare, args);
        info = covariate_site_information(L);
        t.rows = design_rows(L.params, info);
        for (std::size_t i = 0; i < t.rows.size(); i++) {
            const Parameter &p = L.params[i];
            t.rows[i].slope = p.scale == Scale::Linear && p.name.find("(Int)") == std::string::npos;
        }
        return t;
    }
    const std::vector<Parameter> params = study_parameters(prepare, args);
    HistoryProbabilities model(prepare, args, params);
    if (!expected_information(model, given_values(params), 1.0, info)) {
        t.refusal = "OPTIMIZE: the model cannot be evaluated at the given values";
        return t;
    }
    t.rows = design_rows(params, info);
    return t;
}

// The fewest sites whose standard error se1/sqrt(S) reaches the target (the
// power of the parameter's test: at least the target; otherwise: at most it),
// kMaxDesignSites + 1 when none up to that many does.
long sites_for_target(double se1, const OptimalSearch &s, double effect) {
    auto reaches = [&](long n) {
        const double se = se1 / std::sqrt(static_cast<double>(n));
        if (s.by_power) return wald_power(effect, se, s.request.tests.alpha) >= s.request.limit;
        return se <= s.request.limit;
    };
    if (!reaches(kMaxDesignSites)) return kMaxDesignSites + 1;
    long lo = 0, hi = kMaxDesignSites; // reaches(hi), not reaches(lo) (lo = 0: no sites)
    if (!s.by_power) {
        // Closed form, then settled against rounding.
        const double r = se1 / s.request.limit;
        hi = std::clamp(static_cast<long>(std::ceil(r * r)), 1L, kMaxDesignSites);
        while (hi < kMaxDesignSites && !reaches(hi)) hi++;
        while (hi > 1 && reaches(hi - 1)) hi--;
        return hi;
    }
    while (hi - lo > 1) {
        const long mid = lo + (hi - lo) / 2;
        (reaches(mid) ? hi : lo) = mid;
    }
    return hi;
}

// The most sites a budget pays for at `per_site` each.
long affordable_sites(double budget, double per_site) {
    const double most = budget * (1 + kCostSlack);
    double s = std::floor(most / per_site);
    if (s > static_cast<double>(kMaxDesignSites)) return kMaxDesignSites;
    if (s > 0 && s * per_site > most) s -= 1;
    return static_cast<long>(s);
}

std::string number_text(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

std::string measure_name(const OptimalSearch &s) {
    return s.by_power ? "power" : "se";
}

} // namespace

OptimalRequest optimal_request(const Context &ctx) {
    OptimalRequest r;
    r.parameter = ctx.OPTIMIZE;
    r.by_budget = !std::isnan(ctx.BUDGET);
    r.limit = r.by_budget ? ctx.BUDGET : ctx.TARGET;
    if (ctx.COST.size() == 3) r.costs = DesignCosts{ctx.COST[0], ctx.COST[1], ctx.COST[2]};
    if (ctx.KMAX > 0) r.kmax = ctx.KMAX;
    r.tests = WaldTests{ctx.NULLS, ctx.ALPHA};
    return r;
}

std::string optimal_refusal(const Context &ctx) {
    if (ctx.OPTIMIZE.empty()) {
        const char *given = !std::isnan(ctx.BUDGET) ? "BUDGET"
                            : !std::isnan(ctx.TARGET) ? "TARGET"
                            : !ctx.COST.empty()       ? "COST"
                            : ctx.KMAX > 0            ? "KMAX"
                            : ctx.VERIFY > 0          ? "VERIFY"
                                                      : nullptr;
        if (!given) return "";
        return std::string(given) + " is read by the design search only: give OPTIMIZE=name";
    }
    if (std::isnan(ctx.BUDGET) == std::isnan(ctx.TARGET))
        return "OPTIMIZE=" + ctx.OPTIMIZE + ": give either BUDGET=E (the best design it pays for) or TARGET=x (the "
               "cheapest design that reaches x)";
    const OptimalRequest r = optimal_request(ctx);
    if (!(r.costs.per_site(2, 1) > 0)) return "COST: a site visited twice must cost something";
    return as_search(design_refusal(ctx));
}

Args design_arguments(const Args &args, int visits, int seasons, long sites) {
    Args out;
    out.reserve(args.size() + 3);
    if (!args.empty()) out.push_back(args[0]);
    out.push_back("T=" + std::to_string(visits * seasons));
    if (seasons > 1) out.push_back("SRVYPERSEASN=" + std::to_string(visits));
    out.push_back("N=" + std::to_string(sites));
    for (std::size_t i = 1; i < args.size(); i++)
        if (!replaced_option(read_argument(args[i]).name)) out.push_back(args[i]);
    return out;
}

OptimalSearch search_designs(const Preparer &prepare, const Args &args, const OptimalRequest &request) {
    OptimalSearch s;
    s.request = request;
    const DesignCosts &costs = request.costs;
    {
        QuietContext base;
        prepare(base.ctx, args);
        s.seasons = std::max(1, base.ctx.nseasns);
    }
    // Per-survey values cannot follow the number of visits.
    for (const Parameter &p : study_parameters(prepare, args))
        if (p.name.find('[') != std::string::npos) {
            const std::string option = p.name.substr(0, p.name.find('['));
            input_error("OPTIMIZE: %s is given per survey; give it one value, which every visit takes",
                        option.c_str());
        }
    if (request.by_budget && affordable_sites(request.limit, costs.per_site(2, s.seasons)) < 1)
        input_error("BUDGET=%s affords no design with at least two visits (a site visited twice costs %s)",
                    number_text(request.limit).c_str(), number_text(costs.per_site(2, s.seasons)).c_str());

    std::size_t row = 0;
    double effect = 0;
    for (int k = 2; k <= request.kmax; k++) {
        const double per_site = costs.per_site(k, s.seasons);
        long sites = 1;
        if (request.by_budget) {
            sites = affordable_sites(request.limit, per_site);
            if (sites < 1) break; // dearer designs only from here on
        }
        const SiteTable t = evaluate_site(prepare, design_arguments(args, k, s.seasons, 1));
        if (!t.refusal.empty()) {
            // The limits of the expected values only tighten with more visits.
            if (k == 2) input_error("%s", as_search(t.refusal).c_str());
            break;
        }
        s.evaluations++;
        if (k == 2) {
            auto it = std::find_if(t.rows.begin(), t.rows.end(),
                                   [&](const DesignRow &r) { return r.name == request.parameter; });
            if (it == t.rows.end()) {
                std::string names;
                for (const DesignRow &r : t.rows) {
                    if (!names.empty()) names += ", ";
                    names += r.name;
                }
                input_error("OPTIMIZE=%s is not a parameter of the design table (%s)", request.parameter.c_str(),
                            names.c_str());
            }
            if (it->note == "fixed")
                input_error("OPTIMIZE=%s: the parameter is fixed at %s, not estimated", request.parameter.c_str(),
                            number_text(it->value).c_str());
            row = static_cast<std::size_t>(it - t.rows.begin());
            s.value = it->value;
            const auto nulls = design_nulls(t.rows, request.tests);
            s.by_power = nulls[row].has_value();
            if (s.by_power) effect = s.value - *nulls[row];
            if (s.by_power && !request.by_budget && !(request.limit < 1))
                input_error("TARGET=%s: %s has a null, so the target is a power, which lies below 1",
                            number_text(request.limit).c_str(), request.parameter.c_str());
        }
        const double se1 = t.rows[row].se;
        if (!(se1 > 0) || !std::isfinite(se1)) continue; // not estimable with these visits
        CandidateDesign d;
        d.visits = k;
        if (!request.by_budget) {
            sites = sites_for_target(se1, s, effect);
            d.reaches = sites <= kMaxDesignSites;
            sites = std::min(sites, kMaxDesignSites);
        }
        d.sites = sites;
        d.cost = static_cast<double>(sites) * per_site;
        d.se = se1 / std::sqrt(static_cast<double>(sites));
        d.power = s.by_power ? wald_power(effect, d.se, request.tests.alpha) : kNaN;
        s.designs.push_back(d);
    }
    if (s.designs.empty())
        input_error("OPTIMIZE=%s: the parameter is not estimable with 2 to %d visits", request.parameter.c_str(),
                    request.kmax);

    for (std::size_t i = 0; i < s.designs.size(); i++)
        if (s.designs[i].reaches) s.ranking.push_back(i);
    // The better measure first; at equal measure the cheaper design, then the
    // one with fewer visits.
    auto better = [&](std::size_t a, std::size_t b) {
        const CandidateDesign &x = s.designs[a], &y = s.designs[b];
        auto measure = [&](const CandidateDesign &d) { return s.by_power ? -d.power : d.se; };
        if (!request.by_budget) {
            if (x.cost != y.cost) return x.cost < y.cost;
            if (measure(x) != measure(y)) return measure(x) < measure(y);
            return x.visits < y.visits;
        }
        if (measure(x) != measure(y)) return measure(x) < measure(y);
        if (x.cost != y.cost) return x.cost < y.cost;
        return x.visits < y.visits;
    };
    std::stable_sort(s.ranking.begin(), s.ranking.end(), better);
    if (s.ranking.empty()) {
        // A target out of reach: the design that comes closest at the most sites.
        std::size_t closest = 0;
        for (std::size_t i = 1; i < s.designs.size(); i++)
            if (s.by_power ? s.designs[i].power > s.designs[closest].power
                           : s.designs[i].se < s.designs[closest].se)
                closest = i;
        const CandidateDesign &c = s.designs[closest];
        input_error("TARGET=%s: no design up to KMAX=%d visits and %ld sites reaches %s %s for %s (best found: %ld "
                    "sites, %d visits, %s %s)",
                    number_text(request.limit).c_str(), request.kmax, kMaxDesignSites,
                    s.by_power ? "a power of" : "an se of", number_text(request.limit).c_str(),
                    request.parameter.c_str(), c.sites, c.visits, measure_name(s).c_str(),
                    number_text(s.by_power ? c.power : c.se).c_str());
    }
    return s;
}

void print_optimal(std::FILE *out, const OptimalSearch &s) {
    const OptimalRequest &r = s.request;
    std::fprintf(out, "optimal design:\n");
    const std::string measure = s.by_power ? "most power" : "least se";
    if (r.by_budget)
        std::fprintf(out, "%s of %s at a cost of at most %s", measure.c_str(), r.parameter.c_str(),
                     number_text(r.limit).c_str());
    else
        std::fprintf(out, "cheapest design with %s %s %s for %s", measure_name(s).c_str(),
                     s.by_power ? "at least" : "at most", number_text(r.limit).c_str(), r.parameter.c_str());
    std::fprintf(out, " (cost: site %s, first visit %s, each further visit %s", number_text(r.costs.site).c_str(),
                 number_text(r.costs.first).c_str(), number_text(r.costs.repeat).c_str());
    if (s.seasons > 1) std::fprintf(out, "; %d seasons, visits per season", s.seasons);
    std::fprintf(out, ")\n");
    std::fprintf(out, "%-6s %12s %8s %14s %12s %12s\n", "rank", "sites", "visits", "cost", "se", "power");
    const std::size_t shown = std::min(kReported, s.ranking.size());
    for (std::size_t i = 0; i < shown; i++) {
        const CandidateDesign &d = s.designs[s.ranking[i]];
        char power[32] = "-";
        if (!std::isnan(d.power)) std::snprintf(power, sizeof power, "%.6f", d.power);
        std::fprintf(out, "%-6zu %12ld %8d %14s %12.6f %12s\n", i + 1, d.sites, d.visits, number_text(d.cost).c_str(),
                     d.se, power);
    }
}

std::string optimal_csv(const OptimalSearch &s) {
    std::string text = "sites,visits,cost,se,power,best\n";
    const std::size_t best = s.ranking.empty() ? s.designs.size() : s.ranking.front();
    for (std::size_t i = 0; i < s.designs.size(); i++) {
        const CandidateDesign &d = s.designs[i];
        text += std::to_string(d.sites) + "," + std::to_string(d.visits) + "," + csv_number(d.cost) + "," +
                csv_number(d.se) + "," + csv_number(d.power) + "," + (i == best ? "1" : "0") + "\n";
    }
    return text;
}

} // namespace occusim
