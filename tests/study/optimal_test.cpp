// The design search: the optimal number of visits at fixed effort against
// the closed-form variance of the single-season model (with and without a
// first-visit cost), the best design's figures against a design evaluation of
// that design, budget and target modes agreeing, and the refusals end to end.
#include "study/optimal.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/errors.hpp"
#include "support/cli.hpp"
#include "study_test_support.hpp"

using namespace occusim;
using namespace occusim::testing;

namespace {

// Var(psi-hat) of S sites visited K times with constant detection p.
double closed_form_var(double psi, double p, int K, double S) {
    const double pstar = 1 - std::pow(1 - p, K);
    return psi / S * ((1 - psi) + (1 - pstar) / (pstar - K * p * std::pow(1 - p, K - 1)));
}

OptimalRequest budget(std::string name, double E, DesignCosts costs = {}, int kmax = 10) {
    OptimalRequest r;
    r.parameter = std::move(name);
    r.by_budget = true;
    r.limit = E;
    r.costs = costs;
    r.kmax = kmax;
    return r;
}

std::string psi_text(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "psi=%g", v);
    return buf;
}

// At a fixed budget the search picks, for psi, the K (and the sites the
// budget pays for) that the closed form says gives the least variance.
TEST(OptimalDesign, VisitsAtFixedEffortFollowTheClosedForm) {
    struct Case {
        double first; // cost of the first visit; each further visit costs 1
    };
    const double E = 2520; // divisible by every K up to 10
    for (const Case c : {Case{1}, Case{3}, Case{6}}) {
        for (double psi : {0.2, 0.5, 0.8}) {
            for (double p : {0.15, 0.3, 0.5, 0.7}) {
                char pt[32];
                std::snprintf(pt, sizeof pt, "p=%g", p);
                const OptimalSearch s = search_designs(kPrepare, command({"T=3", "N=100", psi_text(psi), pt}),
                                                       budget("psi", E, DesignCosts{0, c.first, 1}));
                int best_k = 0;
                double best_var = INFINITY;
                for (int K = 2; K <= 10; K++) {
                    const double S = std::floor(E / (c.first + K - 1));
                    const double v = closed_form_var(psi, p, K, S);
                    if (v < best_var) best_var = v, best_k = K;
                }
                SCOPED_TRACE(::testing::Message() << "first " << c.first << " psi " << psi << " p " << p);
                EXPECT_EQ(s.best().visits, best_k);
                EXPECT_EQ(s.best().sites, static_cast<long>(std::floor(E / (c.first + best_k - 1))));
                EXPECT_NEAR(s.best().se, std::sqrt(best_var), 1e-6 * std::sqrt(best_var));
                EXPECT_LE(s.best().cost, E);
                EXPECT_EQ(s.evaluations, 9);
            }
        }
    }
}

// What the search reports for its best design is what a design evaluation
// of that design says, family by family (the information of S sites is S
// times that of one; the command line of a candidate replaces the surveys,
// seasons and sites).
TEST(OptimalDesign, BestDesignMatchesItsDesignEvaluation) {
    struct Case {
        std::vector<std::string> options;
        OptimalRequest request;
    };
    OptimalRequest power = budget("psi(cov1)", 900, DesignCosts{5, 2, 1}, 6);
    OptimalRequest target = budget("p10", 0, DesignCosts{1, 1, .5}, 6);
    target.by_budget = false;
    target.limit = 0.01;
    const Case cases[] = {
        {{"T=3", "N=50", "psi=.4", "p=.3"}, budget("p", 1000, DesignCosts{2, 1, 1})},
        {{"T=4", "N=50", "SRVYPERSEASN=2", "psi=.6", "p=.4", "gam=.2", "eps=.3"},
         budget("eps", 3000, DesignCosts{0, 2, 1}, 5)},
        {{"T=4", "N=50", "psi=.6", "p=.4", "p10=.05"}, target},
        {{"T=4", "N=200", "p=.5", "NCOVS=1", "coef=0,-.4", "SIMTYPE=2", "SEED=1"}, power},
    };
    for (const Case &c : cases) {
        const Args args = command(c.options);
        const OptimalSearch s = search_designs(kPrepare, args, c.request);
        const CandidateDesign &b = s.best();
        SCOPED_TRACE(c.request.parameter);
        const auto rows =
            evaluate_design(kPrepare, design_arguments(args, b.visits, s.seasons, b.sites));
        bool found = false;
        for (const DesignRow &r : rows)
            if (r.name == c.request.parameter) {
                found = true;
                EXPECT_NEAR(r.se, b.se, 1e-6 * b.se);
            }
        EXPECT_TRUE(found);
        EXPECT_NEAR(b.cost, b.sites * c.request.costs.per_site(b.visits, s.seasons), 1e-9 * b.cost);
        if (c.request.by_budget) {
            EXPECT_LE(b.cost, c.request.limit);
        }
        EXPECT_EQ(s.by_power, !std::isnan(b.power));
    }
}

// The cheapest design reaching what the best design at a budget reaches
// costs that budget or less, and reaches it.
TEST(OptimalDesign, BudgetAndTargetAgree) {
    struct Case {
        std::vector<std::string> options;
        std::string parameter;
        bool by_power;
    };
    const Case cases[] = {
        {{"T=3", "N=100", "psi=.5", "p=.3"}, "psi", false},
        {{"T=3", "N=100", "psi=.5", "p=.3", "NULLS=psi:.4"}, "psi", true},
        {{"T=3", "N=100", "psi=.7", "p=.2", "p10=.05"}, "p", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.parameter);
        OptimalRequest r = budget(c.parameter, 777, DesignCosts{3, 2, 1}, 8);
        QuietContext q;
        kPrepare(q.ctx, command(c.options));
        r.tests.nulls = q.ctx.NULLS;
        const OptimalSearch at_budget = search_designs(kPrepare, command(c.options), r);
        r.by_budget = false;
        r.limit = at_budget.by_power ? at_budget.best().power : at_budget.best().se;
        const OptimalSearch at_target = search_designs(kPrepare, command(c.options), r);
        EXPECT_LE(at_target.best().cost, at_budget.best().cost);
        if (at_target.by_power) {
            EXPECT_GE(at_target.best().power, r.limit);
        } else {
            EXPECT_LE(at_target.best().se, r.limit);
        }
        EXPECT_EQ(at_budget.by_power, c.by_power);
    }
}

// Refused with one line and status 1, leaving no file.
TEST(OptimalDesign, RefusalsLeaveNoFile) {
    const Args base{"T=3", "N=100", "psi=.5", "p=.3"};
    struct Case {
        Args more;
        std::string message;
    };
    const Case cases[] = {
        {{"OPTIMIZE=psi", "BUDGET=1.5"}, "BUDGET=1.5 affords no design with at least two visits"},
        {{"OPTIMIZE=psi", "NULLS=psi:.5", "TARGET=.8"}, "no design up to KMAX=16 visits"},
        {{"OPTIMIZE=psi", "TARGET=0.00001", "KMAX=4", "COST=1,1,1"}, "(best found: 1000000000 sites"},
        {{"OPTIMIZE=q", "BUDGET=100"}, "OPTIMIZE=q is not a parameter of the design table (psi, p)"},
        {{"OPTIMIZE=psi", "BUDGET=100", "STOCH", "SEED=2"}, "OPTIMIZE needs an expected-value run"},
        {{"OPTIMIZE=psi"}, "give either BUDGET=E"},
        {{"OPTIMIZE=psi", "BUDGET=100", "TARGET=.1"}, "give either BUDGET=E"},
        {{"BUDGET=100"}, "BUDGET is read by the design search only"},
        {{"OPTIMIZE=psi", "BUDGET=100", "p=.3,.4,.5"}, "p is given per survey"},
        {{"OPTIMIZE=psi", "BUDGET=100", "COST=0,0,0"}, "a site visited twice must cost something"},
        {{"OPTIMIZE=psi", "BUDGET=100", "COST=1,2"}, "COST=1,2: give three costs"},
        {{"OPTIMIZE=psi", "BUDGET=-5"}, "BUDGET=-5: the budget is a positive number"},
        {{"OPTIMIZE=psi", "NULLS=psi:.3", "TARGET=1.5"}, "the target is a power, which lies below 1"},
        {{"OPTIMIZE=psi", "BUDGET=100", "KMAX=1"}, "KMAX=1: the most visits"},
        {{"OPTIMIZE=psi", "BUDGET=100", "VERIFY=0"}, "VERIFY=0: give at least one"},
        {{"OPTIMIZE=psi", "BUDGET=100", "MSCD"}, "OPTIMIZE is not available"},
    };
    for (const Case &c : cases) {
        const CliRun r = run_cli(with(base, c.more));
        SCOPED_TRACE(c.more.front() + " " + c.message);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("occusim8: error: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(r.exists("occusim.pao"));
        EXPECT_FALSE(r.exists("occusim_optimal.csv"));
    }
}

// The report lists the best design and the five next best; the table file
// lists every design evaluated with the best one marked.
TEST(OptimalDesign, ReportAndTableAgree) {
    const CliRun r = run_cli({"T=3", "N=100", "psi=.5", "p=.3", "OPTIMIZE=psi", "BUDGET=600", "KMAX=9", "QUIET"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string report = from_marker(r.out, "optimal design:");
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 3 + 6);
    const std::string csv = r.file("occusim_optimal.csv");
    EXPECT_EQ(csv.substr(0, csv.find('\n')), "sites,visits,cost,se,power,best");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 8);
    // The best row of the table is the first of the report.
    std::size_t at = csv.find(",1\n");
    ASSERT_NE(at, std::string::npos);
    const std::size_t start = csv.rfind('\n', at) + 1;
    const std::string best = csv.substr(start, csv.find(',', start) - start);
    const std::string first = report.substr(report.find("\n1 ") + 1);
    EXPECT_EQ(std::stol(first.substr(1)), std::stol(best));
    EXPECT_EQ(csv.find(",1\n", at + 1), std::string::npos);
}

} // namespace
