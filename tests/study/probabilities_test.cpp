// History probabilities: they reproduce the expected-value history files of
// the families, repeat exactly from one evaluation to the next (models that
// re-lay or overwrite their vectors included), touch no file, and report
// values the model refuses.
#include "study/probabilities.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "models/multistate/multistate.hpp"

#include "support/cli.hpp"
#include "support/history.hpp"
#include "study_test_support.hpp"

using namespace occusim;
using namespace occusim::testing;

namespace {

std::string squeezed(const std::string &key) {
    std::string s;
    for (char c : key)
        if (c != '\t') s.push_back(c);
    return s;
}

// The probabilities times N against the counts of the run's own history file.
void expect_file_counts(std::vector<std::string> options, double N) {
    auto r = run_cli(options);
    ASSERT_EQ(r.status, 0) << r.err;
    const Counts file = history_counts(r.pao());
    HistoryProbabilities model(kPrepare, command(options), study_parameters(kPrepare, command(options)));
    std::vector<double> probs;
    auto values = given_values(model.parameters());
    ASSERT_TRUE(model.evaluate(values.data(), probs));
    double sum = 0;
    std::size_t listed = 0;
    for (std::size_t h = 0; h < probs.size(); h++) {
        sum += probs[h];
        auto it = file.find(squeezed(model.history(h)));
        if (probs[h] * N < 5e-7) continue; // below the six decimals of the file
        listed++;
        ASSERT_NE(it, file.end()) << model.history(h);
        EXPECT_NEAR(probs[h] * N, it->second, 1e-6) << model.history(h);
    }
    EXPECT_EQ(listed, file.size());
    EXPECT_NEAR(sum, 1, 1e-12);
}

TEST(HistoryProbabilities, ReproduceTheExpectedValueFiles) {
    expect_file_counts({"T=3", "N=100", "psi=.6", "p=.4", "p10=.05", "b=.4"}, 100);
    expect_file_counts({"T=3", "N=100", "psiA=.6", "psiBA=.4", "psiBa=.3", "pA=.5", "pB=.4", "rA=.6", "rBA=.5",
                        "rBa=.3"},
                       100);
    expect_file_counts({"T=3", "N=100", "psi0=.6", "R0=.4", "p1=.5", "p2=.6", "dlta=.7", "MULTISTATE"}, 100);
}

// The multistate probabilities are the model's exact expected counts from its
// forward pass, to the last bit, not the sums of a history file's rounded
// path counts.
TEST(HistoryProbabilities, MultistateComesFromTheExactForwardPass) {
    const std::vector<std::string> options = {"T=4",  "N=50",    "SRVYPERSEASN=2,2", "psi0=.6",   "R0=.4",
                                              "p1=.5", "p2=.6", "dlta=.7",          "MULTISTATE"};
    HistoryProbabilities model(kPrepare, command(options), study_parameters(kPrepare, command(options)));
    std::vector<double> probs;
    auto values = given_values(model.parameters());
    ASSERT_TRUE(model.evaluate(values.data(), probs));

    struct Exact : HistorySink {
        std::map<std::string, double> counts;
        void history(std::string_view fields, double count) override { counts[std::string(fields)] = count; }
    } exact;
    QuietContext q;
    kPrepare(q.ctx, command(options));
    const double sites = 1e9;
    ms_expected_histories(q.ctx, sites, exact);
    ASSERT_EQ(probs.size(), exact.counts.size());
    for (const auto &[fields, count] : exact.counts) {
        const int h = model.find(fields);
        ASSERT_GE(h, 0) << fields;
        EXPECT_EQ(probs[static_cast<std::size_t>(h)], count / sites) << fields;
    }
}

TEST(HistoryProbabilities, RepeatExactlyAndLeaveNoFiles) {
    namespace fs = std::filesystem;
    for (const auto &options : std::vector<std::vector<std::string>>{
             {"T=2", "N=50", "psi=.6", "METH=2", "p1=.3", "p2=.5", "theta=.7", "SRVYPERSEASN=1,1",
              "gam=.2", "eps=.3"},
             {"T=4", "N=50", "SRVYPERSEASN=2,2", "psi0=.6", "R0=.4", "p1=.5", "p2=.6", "dlta=.7", "MULTISTATE"},
             {"T=2", "N=50", "psi=.8", "Lambda=2", "r=.3"}}) {
        const bool before = fs::exists("occusim.tmp") || fs::exists("occusim.pao") || fs::exists("occusim.inp");
        HistoryProbabilities model(kPrepare, command(options), study_parameters(kPrepare, command(options)));
        auto values = given_values(model.parameters());
        std::vector<double> first, other, again;
        ASSERT_TRUE(model.evaluate(values.data(), first));
        auto moved = values;
        for (auto &v : moved) v = v < 1 ? v * 0.9 : v * 1.1;
        ASSERT_TRUE(model.evaluate(moved.data(), other));
        ASSERT_TRUE(model.evaluate(values.data(), again));
        again.resize(first.size());
        EXPECT_EQ(first, again) << options[4];
        EXPECT_NE(first, std::vector<double>(other.begin(), other.begin() + first.size()));
        if (!before) {
            EXPECT_FALSE(fs::exists("occusim.tmp"));
            EXPECT_FALSE(fs::exists("occusim.pao"));
            EXPECT_FALSE(fs::exists("occusim.inp"));
        }
    }
}

TEST(HistoryProbabilities, ValuesTheModelRefuses) {
    // psiBA = phi * psiB must stay a probability.
    const Args args = command({"T=2", "N=50", "psiA=.6", "psiB=.5", "phi=1.5", "pA=.5", "pB=.4", "rA=.6",
                               "rB=.5", "dlta=1.2"});
    HistoryProbabilities model(kPrepare, args, study_parameters(kPrepare, args));
    auto values = given_values(model.parameters());
    std::vector<double> probs;
    EXPECT_TRUE(model.evaluate(values.data(), probs));
    for (const auto &p : model.parameters()) EXPECT_FALSE(p.fixed) << p.name;
    for (std::size_t j = 0; j < values.size(); j++)
        if (model.parameters()[j].name == "phi") values[j] = 3;
    EXPECT_FALSE(model.evaluate(values.data(), probs));
}

TEST(HistoryProbabilities, HistoryKeysIgnoreTrailingSeparators) {
    EXPECT_EQ(history_key("1\t0\t2\t"), "1\t0\t2");
    EXPECT_EQ(history_key("1\t0"), "1\t0");
    EXPECT_EQ(history_key(""), "");
}

} // namespace
