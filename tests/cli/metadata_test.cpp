// Run metadata: the document of a CSV run parses and holds the seed actually
// used, so that a clock-seeded run can be repeated byte for byte; the model
// family, the options with their values and the columns of the data file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/metadata.hpp"
#include "support/cli.hpp"

using namespace occusim::testing;
using nlohmann::json;

namespace {

json metadata_of(const CliRun &r) {
    return json::parse(r.file("occusim.json"));
}

TEST(RunMetadata, ClockSeedIsRecordedAndRepeatsTheRun) {
    const Args design = {"T=4",      "N=200",     "psi=.6", "p=.4",      "NCOVS=1",
                         "coef=0,1", "SIMTYPE=2", "QUIET",  "FORMAT=csv"};
    auto clock = run_cli(design); // no SEED: the seed comes from the clock
    ASSERT_EQ(clock.status, 0) << clock.err;
    json meta = metadata_of(clock);
    ASSERT_TRUE(meta["seed"].is_number_integer());
    const long seed = meta["seed"].get<long>();
    EXPECT_GT(seed, 0);
    EXPECT_EQ(meta["seed_given"], -1);
    EXPECT_EQ(meta["generator"], "lehmer");

    auto again = run_cli(with(design, {"SEED=" + std::to_string(seed)}));
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.file("occusim.csv"), clock.file("occusim.csv"));
    EXPECT_EQ(metadata_of(again)["seed"], seed);
}

TEST(RunMetadata, DescribesTheRunAndItsFile) {
    auto r = run_cli({"T=3", "N=50", "psi=.5", "p=.5,.4,.3", "SPS=2,1", "NPCOVS=1", "pcoef=.8", "SIMTYPE=2",
                      "SEED=3000000000", "QUIET", "FORMAT=csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    json meta = metadata_of(r);
    EXPECT_EQ(meta["program"], "occusim8");
    EXPECT_EQ(meta["arguments"].size(), 12u);
    EXPECT_EQ(meta["model_family"], "single-species");
    EXPECT_EQ(meta["mode"], "stochastic");
    // A seed beyond the generator's range is used reduced; the reduced value is recorded.
    EXPECT_EQ(meta["seed"], 3000000000L % 2147483647L);
    EXPECT_EQ(meta["design"]["T"], 3);
    EXPECT_EQ(meta["design"]["N"], 50.0);
    EXPECT_EQ(meta["design"]["surveys_per_season"], json::array({2, 1}));
    EXPECT_EQ(meta["design"]["pcoef"], json::array({0.8}));

    const json &opts = meta["options"];
    ASSERT_EQ(opts.size(), 11u);
    EXPECT_EQ(opts[3]["name"], "p");
    EXPECT_EQ(opts[3]["value"], json::array({0.5, 0.4, 0.3}));
    EXPECT_EQ(opts[9]["value"], true);   // QUIET
    EXPECT_EQ(opts[10]["value"], "csv"); // FORMAT

    const json &file = meta["files"].at(0);
    EXPECT_EQ(file["name"], "occusim.csv");
    EXPECT_EQ(file["layout"], "site");
    EXPECT_EQ(file["rows"], 50);
    std::string names;
    for (const auto &c : file["columns"]) names += c["name"].get<std::string>() + ",";
    EXPECT_EQ(names, "site,y1,y2,y3,pcov1_1,pcov1_2,pcov1_3,");
    EXPECT_EQ(r.file("occusim.csv").substr(0, names.size()), names.substr(0, names.size() - 1) + "\n");
}

TEST(RunMetadata, ExpectedValueRunsHaveNoSeedAndFamiliesAreNamed) {
    auto r = run_cli({"T=2", "N=100", "psi=.8", "Lambda=.5", "r=.4,.6", "QUIET", "FORMAT=csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    json meta = metadata_of(r);
    EXPECT_TRUE(meta["seed"].is_null());
    EXPECT_EQ(meta["mode"], "expected");
    EXPECT_EQ(meta["model_family"], "royle-nichols");
    EXPECT_EQ(meta["files"][0]["layout"], "frequency");

    // Without FORMAT=csv no document is written.
    auto pao = run_cli({"T=2", "N=100", "psi=.8", "p=.5", "QUIET"});
    EXPECT_FALSE(pao.exists("occusim.json"));
}

// Expected-value runs that the model simulates instead record what they did:
// a random data set, site by site when handed over to that simulation.
TEST(RunMetadata, SimulatedExpectedValueRunsAreStochastic) {
    struct Case {
        Args args;
        bool by_site;
    };
    for (const Case &c : std::vector<Case>{{{"T=3", "N=20", "Lambda=1.5", "r=.3", "SEED=4"}, false},
                                           {{"T=17", "N=20", "psi=.5", "p=.3", "SEED=4"}, true}}) {
        auto r = run_cli(with(c.args, {"QUIET", "FORMAT=csv"}));
        ASSERT_EQ(r.status, 0) << r.err;
        json meta = metadata_of(r);
        EXPECT_EQ(meta["mode"], "stochastic");
        EXPECT_EQ(meta["site_by_site"], c.by_site);
        EXPECT_EQ(meta["seed"], 4);
    }
}

TEST(RunMetadata, BatchDocumentWithItsOwnFiles) {
    occusim::Context ctx;
    occusim::Json meta = occusim::run_metadata(ctx, {"occusim8", "REPS=3"});
    occusim::add_csv_file(meta, "b.csv", occusim::HistoryShape{false, 2, 0, 0}, 12, "rep");
    occusim::add_file(meta, "b_replicates.csv", "csv", "one row per replicate");
    TempDir dir;
    ctx.workdir = dir.path;
    ASSERT_NO_THROW(occusim::write_metadata(ctx, "b", meta));
    json back = json::parse(read_file(dir.path + "/b.json"));
    EXPECT_EQ(back["files"][0]["columns"][0]["name"], "rep");
    EXPECT_EQ(back["files"][0]["columns"].size(), 4u); // rep, y1, y2, freq
    EXPECT_EQ(back["files"][1]["name"], "b_replicates.csv");
    EXPECT_EQ(back["options"][0]["value"], 3.0);
}

} // namespace

// Arguments are raw bytes: one that is not UTF-8 must not abort the run when
// the metadata is written (found by fuzzing); it is shown as U+FFFD.
TEST(Metadata, ArgumentsThatAreNotUtf8AreWrittenReplaced) {
    auto r = run_cli({"T=3", "N=20", "psi=.5", "p=.4", "x\x9f", "STOCH", "SEED=3", "FORMAT=csv"});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto meta = nlohmann::json::parse(r.file("occusim.json"));
    EXPECT_EQ(meta["arguments"][5], "x\xEF\xBF\xBD");
}
