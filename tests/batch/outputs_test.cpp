// The outputs of a whole batch: the batch CSV (rows of every replicate behind
// a "rep" column, in replicate order, the same for every thread count and
// shard split, the same histories as the replicates' history files) and the
// run metadata (the seed that repeats the batch, what was written, how far a
// failed batch got).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "batch/outputs.hpp"
#include "batch/replicates.hpp"
#include "cli/run.hpp"
#include "support/cli.hpp"
#include "support/history.hpp"

using namespace occusim::testing;
using occusim::BatchCsv;
using occusim::BatchHook;
using occusim::BatchMetadata;
using occusim::BatchPlan;
using occusim::Context;
using occusim::ReplicateTask;
using Json = nlohmann::json;

namespace {

namespace fs = std::filesystem;

const Args kSites = {"T=3", "N=30", "p=.4", "NCOVS=1", "coef=0,1", "SIMTYPE=2", "SEED=17", "QUIET"};

// File name -> contents of every file (at any depth) of a directory.
std::map<std::string, std::string> files_of(const std::string &dir) {
    std::map<std::string, std::string> files;
    for (const auto &e : fs::recursive_directory_iterator(dir))
        files[fs::relative(e.path(), dir).string()] = e.is_regular_file() ? read_file(e.path().string()) : "<dir>";
    return files;
}

std::vector<std::string> names_of(const std::map<std::string, std::string> &files) {
    std::vector<std::string> n;
    for (const auto &f : files) n.push_back(f.first);
    return n;
}

std::string header_of(const std::string &csv) { return csv.substr(0, csv.find('\n') + 1); }
std::string body_of(const std::string &csv) { return csv.substr(csv.find('\n') + 1); }

// The rows of one replicate, without the leading "r,".
std::string rows_of(const std::string &csv, long r) {
    std::string rows, lead = std::to_string(r) + ",";
    for (const std::string &line : lines_of(body_of(csv)))
        if (line.rfind(lead, 0) == 0) rows += line.substr(lead.size()) + "\n";
    return rows;
}

Json json_of(const std::string &text) {
    Json j = Json::parse(text, nullptr, /*allow_exceptions=*/false);
    EXPECT_FALSE(j.is_discarded()) << text;
    return j;
}

TEST(BatchCsv, OneFileInReplicateOrderTheSameForEveryThreadCount) {
    const Args args = with(kSites, {"REPS=6", "FORMAT=csv"});
    auto one = run_cli(with(args, {"THREADS=1"}));
    auto two = run_cli(with(args, {"THREADS=2"}));
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_EQ(two.status, 0) << two.err;
    // No history files, no spools or part files left behind.
    const auto files = files_of(one.dir);
    EXPECT_EQ(names_of(files), (std::vector<std::string>{"occusim.csv", "occusim.json", "occusim_replicates.csv"}));
    EXPECT_EQ(names_of(files_of(two.dir)), names_of(files));
    const std::string &csv = files.at("occusim.csv");
    EXPECT_EQ(two.file("occusim.csv"), csv);
    EXPECT_EQ(two.file("occusim_replicates.csv"), files.at("occusim_replicates.csv"));
    EXPECT_EQ(two.err.rfind("occusim8: 6 replicates written (occusim.csv, manifest occusim_replicates.csv), seed 17, "
                            "2 threads, ",
                            0),
              0u)
        << two.err;

    // rep runs 1..6 in blocks, each block listing sites 1..30 once.
    EXPECT_EQ(header_of(csv), "rep,site,y1,y2,y3,cov1\n");
    const auto rows = lines_of(body_of(csv));
    ASSERT_EQ(rows.size(), 180u);
    for (std::size_t i = 0; i < rows.size(); i++)
        EXPECT_EQ(rows[i].rfind(stringf("%zu,%zu,", i / 30 + 1, i % 30 + 1), 0), 0u) << rows[i];

    // The manifest points at the batch CSV.
    EXPECT_NE(files.at("occusim_replicates.csv").find("\n6,occusim.csv,30,30,"), std::string::npos);

    // Replicate r's rows hold the histories of replicate r's history file,
    // and replicate 1 is what a single run drawing replicate 1's numbers
    // writes.
    auto pao = run_cli(with(args, {"FORMAT=pao"}));
    ASSERT_EQ(pao.status, 0) << pao.err;
    for (long r = 1; r <= 6; r++) {
        SCOPED_TRACE(r);
        const auto lines = history_lines(pao.file(stringf("occusim_%ld.pao", r)));
        const auto csv_rows = lines_of(rows_of(csv, r));
        ASSERT_EQ(lines.size(), csv_rows.size());
        for (std::size_t i = 0; i < lines.size(); i++) {
            std::string symbols;
            std::istringstream in(lines[i]);
            for (std::string s; in >> s;) symbols += "," + s;
            EXPECT_EQ(csv_rows[i].rfind(std::to_string(i + 1) + symbols + ",", 0), 0u) << csv_rows[i];
        }
    }
    auto single = run_cli(with(kSites, {"FORMAT=csv", "RNG=philox"}));
    ASSERT_EQ(single.status, 0) << single.err;
    EXPECT_EQ(body_of(single.file("occusim.csv")), rows_of(csv, 1));
}

TEST(BatchCsv, ShardsTogetherAreTheBatch) {
    const Args args = with(kSites, {"REPS=7", "FORMAT=csv", "THREADS=2"});
    auto whole = run_cli(args);
    ASSERT_EQ(whole.status, 0) << whole.err;
    const std::string csv = whole.file("occusim.csv");
    std::string bodies;
    for (int i = 1; i <= 3; i++) {
        auto shard = run_cli(with(args, {stringf("SHARD=%d/3", i)}));
        ASSERT_EQ(shard.status, 0) << shard.err;
        EXPECT_EQ(names_of(files_of(shard.dir)),
                  (std::vector<std::string>{stringf("occusim_%dof3.csv", i), stringf("occusim_%dof3.json", i),
                                            stringf("occusim_replicates_%dof3.csv", i)}));
        const std::string part = shard.file(stringf("occusim_%dof3.csv", i));
        EXPECT_EQ(header_of(part), header_of(csv));
        bodies += body_of(part);
        EXPECT_EQ(json_of(shard.file(stringf("occusim_%dof3.json", i)))["batch"]["shard"],
                  (Json{{"i", i}, {"k", 3}}));
    }
    EXPECT_EQ(bodies, body_of(csv));
}

// Data with a frequency per history: every replicate's histories add up to
// the sites, the outfile's directory and stem name the files.
TEST(BatchCsv, FrequencyLayoutAndOutfileDirectory) {
    auto r = run_cli({"T=2", "N=60", "psi0=.6", "R0=.5", "p1=.5", "p2=.7", "dlta=.4", "STOCH", "SEED=4", "QUIET",
                      "REPS=3", "FORMAT=csv", "outfile=out/ms.pao"},
                     "", [](const std::string &d) { fs::create_directory(d + "/out"); });
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(names_of(files_of(r.dir)),
              (std::vector<std::string>{"out", "out/ms.csv", "out/ms.json", "out/ms_replicates.csv"}));
    const std::string csv = r.file("out/ms.csv");
    EXPECT_EQ(header_of(csv), "rep,y1,y2,freq\n");
    std::map<long, double> sites;
    long last = 0;
    for (const std::string &line : lines_of(body_of(csv))) {
        long rep = std::stol(line);
        EXPECT_GE(rep, last);
        last = rep;
        sites[rep] += std::stod(line.substr(line.rfind(',') + 1));
    }
    EXPECT_EQ(sites, (std::map<long, double>{{1, 60}, {2, 60}, {3, 60}}));
    const Json meta = json_of(r.file("out/ms.json"));
    EXPECT_EQ(meta["files"][0]["name"], "out/ms.csv");
    EXPECT_EQ(meta["files"][0]["layout"], "frequency");
    EXPECT_EQ(meta["files"][0]["columns"][0]["name"], "rep");
}

// The metadata of a clock-seeded batch holds the seed that repeats it.
TEST(BatchMetadata, RecordsTheSeedThatRepeatsTheBatch) {
    const Args clock = {"T=3", "N=25", "psi=.5", "p=.4", "SIMTYPE=2", "QUIET", "REPS=4", "FORMAT=csv"};
    auto first = run_cli(clock);
    ASSERT_EQ(first.status, 0) << first.err;
    const Json meta = json_of(first.file("occusim.json"));
    ASSERT_TRUE(meta["seed"].is_number_integer()) << meta.dump();
    const long seed = meta["seed"].get<long>();
    EXPECT_EQ(meta["seed_given"], -1);
    EXPECT_EQ(meta["generator"], "philox");
    EXPECT_EQ(meta["mode"], "stochastic");
    EXPECT_NE(first.err.find(stringf(", seed %ld, ", seed)), std::string::npos) << first.err;
    EXPECT_EQ(meta["batch"]["replicates"], 4);
    EXPECT_EQ(meta["batch"]["completed"], 4);
    EXPECT_EQ(meta["batch"]["status"], "complete");
    EXPECT_EQ(meta["files"][0]["rows"], 100);
    EXPECT_EQ(meta["files"][1]["name"], "occusim_replicates.csv");

    auto again = run_cli(with(clock, {stringf("SEED=%ld", seed)}));
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.file("occusim.csv"), first.file("occusim.csv"));
    EXPECT_EQ(again.file("occusim_replicates.csv"), first.file("occusim_replicates.csv"));
}

TEST(BatchMetadata, HistoryFileBatchesListTheirFiles) {
    auto r = run_cli({"T=3", "N=25", "psi=.5", "p=.4", "STOCH", "SEED=8", "QUIET", "REPS=12", "SHARD=2/3"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Json meta = json_of(r.file("occusim_2of3.json"));
    EXPECT_EQ(meta["seed"], 8);
    EXPECT_EQ(meta["batch"]["first"], 5);
    EXPECT_EQ(meta["batch"]["last"], 8);
    ASSERT_EQ(meta["files"].size(), 2u);
    EXPECT_EQ(meta["files"][0]["name"], "occusim_<r>.pao");
    EXPECT_EQ(meta["files"][0]["first"], "occusim_05.pao");
    EXPECT_EQ(meta["files"][0]["last"], "occusim_08.pao");
    EXPECT_EQ(meta["files"][1]["name"], "occusim_replicates_2of3.csv");
    EXPECT_FALSE(r.exists("occusim.json"));
}

// ---- a batch that stops part-way, driven through the hooks ----

// Fails replicate `bad` after it ran.
struct Failing : BatchHook {
    long bad;
    explicit Failing(long r) : bad(r) {}
    struct Task : ReplicateTask {
        bool fail;
        explicit Task(bool f) : fail(f) {}
        std::string after(Context &, const std::string &) override {
            if (fail) throw std::runtime_error("made to fail");
            return {};
        }
    };
    std::unique_ptr<ReplicateTask> before(long r, Context &) override { return std::make_unique<Task>(r == bad); }
};

TEST(BatchOutputs, FailedBatchKeepsTheRowsOfTheReplicatesBeforeIt) {
    const Args args = with({"occusim8"}, with(kSites, {"REPS=9", "FORMAT=csv"}));
    auto full = run_cli(with(kSites, {"REPS=9", "FORMAT=csv", "THREADS=1"}));
    ASSERT_EQ(full.status, 0) << full.err;
    for (int threads : {1, 3}) {
        SCOPED_TRACE(threads);
        TempDir dir;
        std::FILE *err = std::tmpfile();
        Context ctx;
        ctx.workdir = dir.path;
        ctx.err = err;
        BatchPlan plan;
        plan.n = 9;
        plan.first = 1;
        plan.last = 9;
        plan.seed = 17;
        plan.threads = threads;
        plan.stem = "occusim";
        plan.ext = ".pao";
        plan.csv = true;
        const occusim::Program program = occusim::command_line_program();
        occusim::Batch batch(ctx, args, plan, program);
        BatchCsv csv(ctx);
        Failing failing(5);
        BatchMetadata metadata(ctx, args, program, &csv);
        batch.add(csv);
        batch.add(failing);
        batch.add(metadata);
        batch.publish_history_files(false);
        const auto rep = batch.run();
        EXPECT_EQ(rep.failed, 5);
        EXPECT_EQ(rep.completed, 4);
        EXPECT_TRUE(csv.written());
        EXPECT_EQ(csv.error(), "");
        EXPECT_EQ(metadata.error(), "");

        // Exactly replicates 1-4, as the whole batch has them; nothing else.
        const auto files = files_of(dir.path);
        EXPECT_EQ(names_of(files), (std::vector<std::string>{"occusim.csv", "occusim.json"}));
        const std::string whole = full.file("occusim.csv");
        EXPECT_EQ(files.at("occusim.csv"), whole.substr(0, whole.find("\n5,") + 1));
        EXPECT_EQ(csv.rows(), 120);

        const Json meta = json_of(files.at("occusim.json"));
        EXPECT_EQ(meta["batch"]["status"], "failed");
        EXPECT_EQ(meta["batch"]["completed"], 4);
        EXPECT_EQ(meta["batch"]["failed_replicate"], 5);
        EXPECT_EQ(meta["batch"]["error"], "made to fail");
        EXPECT_EQ(meta["files"][0]["rows"], 120);
        std::fclose(err);
    }
}

// A batch whose first replicate fails leaves no data file at all.
TEST(BatchOutputs, NoDataFileWithoutACompletedReplicate) {
    auto r = run_cli({"T=12", "N=10", "pi=.5", "psiA=.5", "pA=.4", "eta0AA=.7", "STOCH", "SEED=2", "REPS=3", "QUIET",
                      "FORMAT=csv"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("occusim8: error: replicate 1 failed: ", 0), 0u) << r.err;
    EXPECT_EQ(names_of(files_of(r.dir)), (std::vector<std::string>{"occusim.json", "occusim_replicates.csv"}));
    const Json meta = json_of(r.file("occusim.json"));
    EXPECT_EQ(meta["batch"]["completed"], 0);
    EXPECT_EQ(meta["files"].size(), 1u); // the manifest only
}

} // namespace
