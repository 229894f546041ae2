// Design evaluation: standard errors against the closed form of the
// single-season model and, family by family, against information worked out
// here from history probabilities written from the model definitions; the
// singular and structural cases; the switch end to end.
#include "study/design.hpp"

#include <gtest/gtest.h>

#include "core/errors.hpp"
#include "support/cli.hpp"
#include "study_test_support.hpp"

using namespace occusim;
using namespace occusim::testing;

namespace {

std::vector<DesignRow> design(std::vector<std::string> options) {
    return evaluate_design(kPrepare, command(std::move(options)));
}

// Compares the program's standard errors of the estimated rows with the
// independent ones, in order.
void expect_se(const std::vector<DesignRow> &rows, const std::vector<double> &expected, double rel) {
    std::vector<double> got;
    for (const auto &r : rows)
        if (r.note.empty()) got.push_back(r.se);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); i++) EXPECT_NEAR(got[i], expected[i], rel * expected[i]) << i;
}

double closed_form_se(double psi, double p, int K, double s) {
    const double pstar = 1 - std::pow(1 - p, K);
    const double var = psi / s * ((1 - psi) + (1 - pstar) / (pstar - K * p * std::pow(1 - p, K - 1)));
    return std::sqrt(var);
}

TEST(DesignEvaluation, SingleSeasonConstantDetectionMatchesClosedForm) {
    auto rows = design({"T=5", "N=100", "psi=.6", "p=.3"});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "psi");
    EXPECT_NEAR(rows[0].se, closed_form_se(.6, .3, 5, 100), 1e-3 * rows[0].se);
    EXPECT_NEAR(rows[0].se, 0.067361, 5e-7);
    rows = design({"T=3", "N=60", "psi=.3", "p=.5"});
    EXPECT_NEAR(rows[0].se, closed_form_se(.3, .5, 3, 60), 1e-3 * rows[0].se);
}

// Two seasons of two surveys with false positives and certain detections;
// colonisation and extinction only between the seasons (the zeros inside a
// season are structural).
TEST(DesignEvaluation, MultiSeasonFalsePositivesMatchEnumeration) {
    auto rows = design({"T=4", "N=100", "SRVYPERSEASN=2,2", "psi=.6", "p=.4", "p10=.1", "b=.3", "gam=0,.2,0",
                        "eps=0,.3,0"});
    std::vector<std::string> names, notes;
    for (auto &r : rows) names.push_back(r.name), notes.push_back(r.note);
    EXPECT_EQ(names, (std::vector<std::string>{"psi", "p", "p10", "b", "gam[1]", "gam[2]", "gam[3]", "eps[1]",
                                               "eps[2]", "eps[3]"}));
    EXPECT_EQ(notes, (std::vector<std::string>{"", "", "", "", "fixed", "", "fixed", "fixed", "", "fixed"}));
    HandModel model = [](const std::vector<double> &t) {
        const double psi = t[0], p = t[1], p10 = t[2], b = t[3], gam = t[4], eps = t[5];
        std::map<std::string, double> out;
        for (const auto &h : all_histories(4, 3)) {
            double f0 = 1 - psi, f1 = psi; // forward probabilities of unoccupied / occupied
            for (int k = 0; k < 4; k++) {
                if (k == 2) {
                    const double g0 = f0 * (1 - gam) + f1 * eps;
                    f1 = f0 * gam + f1 * (1 - eps);
                    f0 = g0;
                }
                const char y = h[2 * k];
                f1 *= y == '0' ? 1 - p : y == '1' ? p * (1 - b) : p * b;
                f0 *= y == '0' ? 1 - p10 : y == '1' ? p10 : 0;
            }
            out[h] = f0 + f1;
        }
        return out;
    };
    expect_se(rows, hand_se(model, {.6, .4, .1, .3, .2, .3}, 100), 1e-4);
}

TEST(DesignEvaluation, DetectionMixtureMatchesEnumeration) {
    // Three surveys would leave four parameters to three frequencies of
    // detections (the histories differ only in their number of detections).
    auto rows = design({"T=5", "N=100", "psi=.6", "p=.5", "pB=.1", "pi=.4", "HET"});
    HandModel model = [](const std::vector<double> &t) {
        const double psi = t[0], pa = t[1], pb = t[2], pi = t[3];
        std::map<std::string, double> out;
        for (const auto &h : all_histories(5, 2)) {
            double a = 1, b = 1;
            bool none = true;
            for (int k = 0; k < 5; k++) {
                const bool y = h[2 * k] == '1';
                none = none && !y;
                a *= y ? pa : 1 - pa;
                b *= y ? pb : 1 - pb;
            }
            out[h] = psi * (pi * a + (1 - pi) * b) + (none ? 1 - psi : 0);
        }
        return out;
    };
    expect_se(rows, hand_se(model, {.6, .5, .1, .4}, 100), 1e-4);
}

// Two visits with two methods each: availability per visit, then each
// method detects an available site on its own.
TEST(DesignEvaluation, MultiMethodMatchesEnumeration) {
    auto rows = design({"T=2", "N=100", "psi=.6", "METH=2", "p1=.3", "p2=.5", "theta=.7"});
    HandModel model = [](const std::vector<double> &t) {
        const double psi = t[0], p1 = t[1], p2 = t[2], th = t[3];
        std::map<std::string, double> out;
        for (const auto &h : all_histories(4, 2)) {
            double occ = 1;
            bool none = true;
            for (int v = 0; v < 2; v++) {
                const bool y1 = h[4 * v] == '1', y2 = h[4 * v + 2] == '1';
                const double seen = (y1 ? p1 : 1 - p1) * (y2 ? p2 : 1 - p2);
                occ *= th * seen + (!y1 && !y2 ? 1 - th : 0);
                none = none && !y1 && !y2;
            }
            out[h] = psi * occ + (none ? 1 - psi : 0);
        }
        return out;
    };
    expect_se(rows, hand_se(model, {.6, .3, .5, .7}, 100), 1e-4);
}

// Counts of individuals at two surveys (the history shows survey 2 first);
// abundance Poisson, truncated at 100 as the model does.
TEST(DesignEvaluation, RoyleNicholsMatchesEnumeration) {
    auto rows = design({"T=2", "N=100", "psi=.8", "Lambda=2", "r=.3"});
    HandModel model = [](const std::vector<double> &t) {
        const double psi = t[0], lam = t[1], r = t[2];
        std::map<std::string, double> out;
        std::vector<double> pois(101);
        std::vector<std::vector<double>> bin(26, std::vector<double>(101));
        for (int n = 0; n <= 100; n++) {
            pois[n] = std::exp(n * std::log(lam) - lam - std::lgamma(n + 1.0));
            for (int c = 0; c <= 25; c++) bin[c][n] = binom_pmf(c, n, r);
        }
        for (int c2 = 0; c2 <= 25; c2++)
            for (int c1 = 0; c1 <= 25; c1++) {
                double s = 0;
                for (int n = std::max(c1, c2); n <= 100; n++) s += pois[n] * bin[c1][n] * bin[c2][n];
                out[std::to_string(c2) + "\t" + std::to_string(c1)] =
                    psi * s + (c1 == 0 && c2 == 0 ? 1 - psi : 0);
            }
        return out;
    };
    // The model keeps only pairs above 5e-7; they carry all but a trace of
    // the information.
    expect_se(rows, hand_se(model, {.8, 2, .3}, 100), 2e-3);
}

TEST(DesignEvaluation, TwoSpeciesMatchesEnumeration) {
    auto rows = design({"T=2", "N=100", "psiA=.6", "psiBA=.4", "psiBa=.3", "pA=.5", "pB=.4", "rA=.6", "rBA=.5",
                        "rBa=.3"});
    HandModel model = [](const std::vector<double> &t) {
        const double psiA = t[0], psiBA = t[1], psiBa = t[2], pA = t[3], pB = t[4], rA = t[5], rBA = t[6],
                     rBa = t[7];
        std::map<std::string, double> out;
        for (const auto &h : all_histories(2, 4)) {
            double onlyA = 1, onlyB = 1, both = 1, neither = 1;
            for (int k = 0; k < 2; k++) {
                const int d = h[2 * k] - '0';
                const bool a = d & 1, b = d & 2;
                onlyA *= b ? 0 : a ? pA : 1 - pA;
                onlyB *= a ? 0 : b ? pB : 1 - pB;
                both *= (a ? rA : 1 - rA) * (a ? (b ? rBA : 1 - rBA) : (b ? rBa : 1 - rBa));
                neither *= d == 0 ? 1 : 0;
            }
            out[h] = psiA * psiBA * both + psiA * (1 - psiBA) * onlyA + (1 - psiA) * psiBa * onlyB +
                     (1 - psiA) * (1 - psiBa) * neither;
        }
        return out;
    };
    expect_se(rows, hand_se(model, {.6, .4, .3, .5, .4, .6, .5, .3}, 100), 1e-4);
}

// One season: unoccupied, occupied without breeding, breeding; young are
// seen only at detected breeding sites.
TEST(DesignEvaluation, MultistateMatchesEnumeration) {
    auto rows = design({"T=2", "N=100", "psi0=.6", "R0=.4", "p1=.5", "p2=.6", "dlta=.7", "MULTISTATE"});
    HandModel model = [](const std::vector<double> &t) {
        const double psi = t[0], R = t[1], p1 = t[2], p2 = t[3], d = t[4];
        std::map<std::string, double> out;
        for (const auto &h : all_histories(2, 3)) {
            double s0 = 1, s1 = 1, s2 = 1;
            for (int k = 0; k < 2; k++) {
                const char y = h[2 * k];
                s0 *= y == '0' ? 1 : 0;
                s1 *= y == '0' ? 1 - p1 : y == '1' ? p1 : 0;
                s2 *= y == '0' ? 1 - p2 : y == '1' ? p2 * (1 - d) : p2 * d;
            }
            out[h] = (1 - psi) * s0 + psi * (1 - R) * s1 + psi * R * s2;
        }
        return out;
    };
    expect_se(rows, hand_se(model, {.6, .4, .5, .6, .7}, 100), 1e-4);
}

TEST(DesignEvaluation, SharedAndPerSurveyDetection) {
    auto shared = design({"T=3", "N=80", "psi=.5", "p=.4"});
    auto listed = design({"T=3", "N=80", "psi=.5", "p=.4,.4,.4"});
    ASSERT_EQ(shared.size(), 2u);
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[2].name, "p[2]");
    // One detection probability estimated from all surveys is more precise
    // than one per survey, and so is psi when fewer parameters compete.
    for (int k = 1; k <= 3; k++) EXPECT_GT(listed[k].se, 1.3 * shared[1].se);
    EXPECT_GT(listed[0].se, shared[0].se);
}

TEST(DesignEvaluation, SingularInformationLeavesOtherParametersTheirErrors) {
    auto one_survey = design({"T=1", "N=100", "psi=.6", "p=.3"});
    ASSERT_EQ(one_survey.size(), 2u);
    EXPECT_EQ(one_survey[0].note, "not estimable");
    EXPECT_EQ(one_survey[1].note, "not estimable");
    EXPECT_TRUE(std::isnan(one_survey[0].se));
    // theta plays no part in this model: nothing can be learnt about it, and
    // psi and p keep the errors they have without it.
    auto plain = design({"T=4", "N=100", "psi=.6", "p=.3"});
    auto extra = design({"T=4", "N=100", "psi=.6", "p=.3", "theta=.5"});
    ASSERT_EQ(extra.size(), 3u);
    EXPECT_EQ(extra[2].note, "not estimable");
    EXPECT_NEAR(extra[0].se, plain[0].se, 1e-9);
    EXPECT_NEAR(extra[1].se, plain[1].se, 1e-9);
}

TEST(DesignEvaluation, GeneralisedInverseSeparatesConfoundedPair) {
    // Parameters 0 and 1 enter only through their sum; 2 is independent.
    Eigen::MatrixXd info(3, 3);
    info << 4, 4, 0, 4, 4, 0, 0, 0, 25;
    auto var = information_variances(info);
    EXPECT_TRUE(std::isnan(var[0]));
    EXPECT_TRUE(std::isnan(var[1]));
    EXPECT_NEAR(var[2], 1.0 / 25, 1e-12);
    Eigen::MatrixXd ok(2, 2);
    ok << 2, 1, 1, 3;
    var = information_variances(ok);
    EXPECT_NEAR(var[0], 3.0 / 5, 1e-12);
    EXPECT_NEAR(var[1], 2.0 / 5, 1e-12);
}

TEST(DesignEvaluation, NumbersAndStem) {
    EXPECT_EQ(csv_number(0.1), "0.1");
    EXPECT_EQ(csv_number(1.0 / 3), "0.3333333333333333");
    EXPECT_EQ(csv_number(std::nan("")), "");
    EXPECT_EQ(output_stem("occusim.pao"), "occusim");
    EXPECT_EQ(output_stem("out/run.1/data"), "out/run.1/data");
    EXPECT_EQ(output_stem("a.b.txt"), "a.b");
}

TEST(DesignSwitch, ReportFollowsTheUsualOutput) {
    auto plain = run_cli({"T=5", "N=100", "psi=.6", "p=.3"});
    auto r = run_cli({"T=5", "N=100", "psi=.6", "p=.3", "DESIGN", "outfile=study.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.file("study.txt"), plain.pao());
    EXPECT_EQ(r.err, "");
    const std::string table = from_marker(r.out, "design evaluation:");
    EXPECT_EQ(table, "design evaluation:\n"
                     "parameter           value           se           cv         ci95        power  note\n"
                     "psi              0.600000     0.067361     0.112268     0.132027            -\n"
                     "p                0.300000     0.035134     0.117112     0.068862            -\n");
    // Nothing of the console echo repeats after the table starts.
    EXPECT_EQ(r.out.find("OCCUSIM ver8", 1), std::string::npos);
    const std::string csv = r.file("study_design.csv");
    EXPECT_EQ(csv.substr(0, csv.find('\n')), "parameter,value,se,cv,ci95,note,power");
    EXPECT_NE(csv.find("\npsi,0.6,0.0673608"), std::string::npos);
    EXPECT_FALSE(r.exists("occusim.tmp"));
}

TEST(DesignSwitch, FixedAndNotEstimableRowsInTheFile) {
    auto r = run_cli({"T=1", "N=100", "psi=.6", "p=.3", "b=1", "DESIGN"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.file("occusim_design.csv"), "parameter,value,se,cv,ci95,note,power\n"
                                            "psi,0.6,,,,not estimable,\n"
                                            "p,0.3,,,,not estimable,\n"
                                            "b,1,,,,fixed,\n");
}

TEST(DesignSwitch, Refusals) {
    auto stoch = run_cli({"T=4", "N=100", "psi=.6", "p=.3", "STOCH", "SEED=5", "DESIGN"});
    EXPECT_EQ(stoch.status, 1);
    EXPECT_EQ(stoch.err, "occusim8: error: DESIGN needs an expected-value run, not a random data set\n");
    EXPECT_FALSE(stoch.exists("occusim.pao"));
    EXPECT_FALSE(stoch.exists("occusim_design.csv"));
    auto bysite = run_cli({"T=4", "N=100", "psi=.6", "p=.3", "SIMTYPE=2", "SEED=5", "DESIGN"});
    EXPECT_EQ(bysite.status, 1);
    EXPECT_EQ(bysite.err, stoch.err);
    auto stag = run_cli({"T=4", "N=100", "psi=.6", "p=.3", "STAG", "DESIGN"});
    EXPECT_EQ(stag.status, 1);
    EXPECT_EQ(stag.err, "occusim8: error: DESIGN is not available for the staggered-entry model\n");
    EXPECT_FALSE(stag.exists("occusim.pao"));
    auto royle = run_cli({"T=3", "N=100", "Lambda=2", "r=.3", "DESIGN"});
    EXPECT_EQ(royle.status, 1);
    EXPECT_EQ(royle.err, "occusim8: error: DESIGN: the Royle-Nichols model has expected values for two surveys only\n");
}

TEST(DesignSwitch, UnwritableReportFails) {
    auto r = run_cli({"T=3", "N=100", "psi=.6", "p=.3", "DESIGN"}, "", blocking("occusim_design.csv"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "occusim8: error: cannot create 'occusim_design.csv': Is a directory\n");
}

} // namespace
