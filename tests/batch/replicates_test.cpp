// Replicate batches end to end: file names and the manifest, byte-identical
// output for every thread count and shard split, replicate r on its own,
// every model family, refusals, failures part-way, the hook API, and a
// seeded statistical check across replicates.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "batch/replicates.hpp"
#include "cli/run.hpp"
#include "support/cli.hpp"
#include "support/history.hpp"

using namespace occusim::testing;
using occusim::BatchHook;
using occusim::BatchPlan;
using occusim::BatchReport;
using occusim::Context;
using occusim::ReplicateTask;

namespace {

namespace fs = std::filesystem;

const Args kCohort = {"T=3", "N=40", "psi=.5", "p=.4", "STOCH", "SEED=11", "QUIET"};

// Every entry of a directory (recursively), name -> contents; the run
// metadata (which records the command line, THREADS and SHARD included) only
// when asked for.
std::map<std::string, std::string> tree(const std::string &dir, bool metadata = false) {
    std::map<std::string, std::string> files;
    for (const auto &e : fs::recursive_directory_iterator(dir)) {
        std::string rel = fs::relative(e.path(), dir).string();
        if (!metadata && e.path().extension() == ".json") continue;
        files[rel] = e.is_regular_file() ? read_file(e.path().string()) : "<dir>";
    }
    return files;
}

std::vector<std::string> names(const std::map<std::string, std::string> &t) {
    std::vector<std::string> n;
    for (const auto &[k, v] : t) n.push_back(k);
    return n;
}

struct Row {
    long r = 0;
    std::string file;
    long lines = 0;
    double sites = 0, detected = 0, naive = 0;
};

std::vector<Row> manifest_rows(const std::string &csv) {
    std::vector<Row> rows;
    auto lines = lines_of(csv);
    EXPECT_FALSE(lines.empty());
    if (lines.empty()) return rows;
    EXPECT_EQ(lines[0], "replicate,file,history_lines,sites,detected_sites,naive_occupancy");
    for (std::size_t i = 1; i < lines.size(); i++) {
        std::replace(lines[i].begin(), lines[i].end(), ',', ' ');
        std::istringstream in(lines[i]);
        Row row;
        in >> row.r >> row.file >> row.lines >> row.sites >> row.detected >> row.naive;
        EXPECT_FALSE(in.fail()) << lines[i];
        rows.push_back(row);
    }
    return rows;
}

TEST(Batch, WritesNumberedFilesAManifestAndOneSummaryAndNothingElse) {
    auto r = run_cli(with(kCohort, {"REPS=12", "THREADS=2"}));
    ASSERT_EQ(r.status, 0) << r.err;
    auto files = tree(r.dir, true);
    std::vector<std::string> expect{"occusim.json"};
    for (int i = 1; i <= 12; i++) expect.push_back(stringf("occusim_%02d.pao", i));
    expect.push_back("occusim_replicates.csv");
    EXPECT_EQ(names(files), expect); // no scratch, no fixed-name files

    // The echo once, the summary once.
    EXPECT_EQ(r.out.rfind("OCCUSIM ver8"), 0u);
    EXPECT_EQ(r.out.find("OCCUSIM ver8", 1), std::string::npos);
    EXPECT_EQ(r.out.find("prnt_caphis"), std::string::npos);
    EXPECT_EQ(r.err.rfind("occusim8: 12 replicates written (occusim_01.pao to occusim_12.pao, manifest "
                          "occusim_replicates.csv), seed 11, 2 threads, ",
                          0),
              0u)
        << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);

    auto rows = manifest_rows(files["occusim_replicates.csv"]);
    ASSERT_EQ(rows.size(), 12u);
    std::set<std::string> distinct;
    for (int i = 0; i < 12; i++) {
        const Row &row = rows[i];
        EXPECT_EQ(row.r, i + 1);
        EXPECT_EQ(row.file, stringf("occusim_%02d.pao", i + 1));
        const std::string &pao = files[row.file];
        distinct.insert(pao);
        EXPECT_EQ(row.lines, static_cast<long>(history_lines(pao).size()));
        EXPECT_EQ(row.sites, 40);
        double seen = 0;
        for (const auto &[h, n] : history_counts(pao))
            if (h.find_first_not_of('0') != std::string::npos) seen += n;
        EXPECT_EQ(row.detected, seen);
        EXPECT_NEAR(row.naive, seen / 40, 5e-7);
    }
    EXPECT_EQ(distinct.size(), 12u);
}

TEST(Batch, OutfileDirectoryAndExtensionShapeTheNames) {
    auto sub = run_cli(with(kCohort, {"REPS=3", "outfile=out/sim.data.txt"}),
                       "", [](const std::string &d) { fs::create_directory(d + "/out"); });
    ASSERT_EQ(sub.status, 0) << sub.err;
    EXPECT_EQ(names(tree(sub.dir)), (std::vector<std::string>{"out", "out/sim.data_1.txt", "out/sim.data_2.txt",
                                                               "out/sim.data_3.txt", "out/sim.data_replicates.csv"}));
    EXPECT_NE(sub.file("out/sim.data_replicates.csv").find("\n2,sim.data_2.txt,"), std::string::npos);

    auto bare = run_cli(with(kCohort, {"REPS=2", "outfile=data", "THREADS=1"}));
    ASSERT_EQ(bare.status, 0) << bare.err;
    EXPECT_EQ(names(tree(bare.dir)), (std::vector<std::string>{"data_1", "data_2", "data_replicates.csv"}));
}

// THREADS and SHARD change how the work is spread, never a byte: thread
// counts give identical directories, the union of the shards' files is the
// batch, and REPS=n SHARD=r/n is replicate r alone.
TEST(Batch, ThreadsAndShardsGiveTheSameBytes) {
    const Args args = with(kCohort, {"REPS=7", "SIMTYPE=2"});
    auto one = run_cli(with(args, {"THREADS=1"}));
    auto two = run_cli(with(args, {"THREADS=2"}));
    auto five = run_cli(with(args, {"THREADS=5"}));
    ASSERT_EQ(one.status, 0);
    const auto batch = tree(one.dir);
    EXPECT_EQ(tree(two.dir), batch);
    EXPECT_EQ(tree(five.dir), batch);

    std::string rows;
    std::map<std::string, std::string> united;
    for (int i = 1; i <= 3; i++) {
        auto shard = run_cli(with(args, {stringf("SHARD=%d/3", i)}));
        ASSERT_EQ(shard.status, 0) << shard.err;
        for (auto &[name, text] : tree(shard.dir)) {
            if (name.find("_replicates_") != std::string::npos) {
                EXPECT_EQ(name, stringf("occusim_replicates_%dof3.csv", i));
                rows += text.substr(text.find('\n') + 1);
            } else {
                united[name] = text;
            }
        }
    }
    // Blocks of 7 in 3: replicates 1-2, 3-4, 5-7.
    auto manifest = batch.at("occusim_replicates.csv");
    EXPECT_EQ(rows, manifest.substr(manifest.find('\n') + 1));
    united["occusim_replicates.csv"] = manifest;
    EXPECT_EQ(united, batch);

    auto alone = run_cli(with(args, {"SHARD=5/7"}));
    ASSERT_EQ(alone.status, 0);
    EXPECT_EQ(names(tree(alone.dir)), (std::vector<std::string>{"occusim_5.pao", "occusim_replicates_5of7.csv"}));
    EXPECT_EQ(alone.file("occusim_5.pao"), batch.at("occusim_5.pao"));
}

// Every family with a random form: REPS=3 writes three distinct, well-formed
// files, and replicate 1 is exactly the file a single run with RNG=philox
// (which draws replicate 1's numbers) writes under the default name.
TEST(Batch, EveryModelFamilyReplicates) {
    const Args two_species = {"psiA=.6", "psiBA=.5", "psiBa=.25", "pA=.5", "pB=.4", "rA=.8", "rBA=.5", "rBa=.25"};
    const Args spatial_block{"4",  "200", ".7", ".5", ".6", ".7", ".8", ".3", ".2", ".3", ".4", ".8", ".9",
                             ".6", ".7",  ".6", ".5", ".4", ".3", "0",  ".1", "0",  "0",  ".2", "0"};
    std::istringstream corr_words("2 300 .3 .2 .1 .5 .3 .2 0 .4 .3 0 0 .4 .6 .7 .3 .2 .5 .2 .2 .6 .2 .2 .2 .4 .2 "
                                  ".1 .1 .5 .2 .1 .2 .6 .5 .3 .3 .2 .3 .3 MSCD");
    Args ms_corr;
    for (std::string w; corr_words >> w;) ms_corr.push_back(w);
    struct Family {
        const char *name;
        Args args;
        double sites;
        // Random by nature: a single run seeds only when asked for random
        // data, so its file is compared with STOCH added.
        bool add_stoch = false;
    };
    const std::vector<Family> families = {
        {"cohorts", {"T=3", "N=60", "psi=.5", "p=.4", "gam=.2", "eps=.3", "STOCH"}, 60},
        {"negative T", {"T=-3", "N=60", "psi=.5", "p=.4,.4,.4"}, 60},
        {"site by site", {"T=3", "N=60", "psi=.6", "p=.5", "gam=.2", "eps=.3", "SIMTYPE=2"}, 60},
        {"false positives", {"T=2", "N=60", "psi=.5", "p=.5,0", "p10=.2", "b=.5", "STOCH", "P0MISS"}, 60},
        {"heterogeneity",
         {"T=4", "SPS=2", "N=60", "psi=.6", "pi=.4", "p=.7", "pB=.3", "gam=.2,.3,.1", "eps=.2,.1,.3", "STOCH"},
         60},
        {"multi-method", {"T=2", "METH=2", "N=60", "psi=.7", "th0=.8", "p1=.6", "p2=.4", "STOCH"}, 60},
        {"spatial", {"T=2", "N=60", "psi=.6", "p=.5", "th0=.3", "th1=.7", "th0pi=.4", "STOCH"}, 60},
        {"spatial records", with(spatial_block, {"T=4", "SPADMS", "SIMTYPE=2"}), 200},
        {"staggered entry", {"T=3", "N=60", "psi=.7", "p=.8", "Ent=.5", "Dep=.5", "SIMTYPE=2", "STAG"}, 60},
        {"abundance", {"T=3", "N=60", "Lambda=1", "r=.5"}, 60, true},
        {"multistate", {"T=2", "N=60", "psi0=.6", "R0=.5", "p1=.5", "p2=.7", "dlta=.4", "STOCH"}, 60},
        {"multistate phi", {"T=1", "N=60", "NSTATES=3", "Psi=.3,.4", "p(1,1)=.5", "p(1,2)=.2", "p(2,2)=.6", "STOCH"},
         60},
        {"multistate corr", with(ms_corr, {"STOCH"}), 300},
        {"integrated",
         {"T=2", "pi=.5", "psiA=.5", "pA=.4", "eta0AA=.7", "eta1AA=.8", "eta0BA=.3", "eta1BA=.4", "gamAA=.2",
          "epsAA=.1", "N=60", "SIMTYPE=2"},
         60},
        {"two species", with({"T=2", "N=60", "STOCH"}, two_species), 60},
        {"two species site by site", with({"T=3", "N=60", "SIMTYPE=2"}, two_species), 60},
    };
    for (const Family &f : families) {
        SCOPED_TRACE(f.name);
        const Args args = with(f.args, {"SEED=5", "QUIET"});
        auto r = run_cli(with(args, {"REPS=3", "THREADS=2"}));
        ASSERT_EQ(r.status, 0) << r.err;
        auto files = tree(r.dir);
        ASSERT_EQ(names(files), (std::vector<std::string>{"occusim_1.pao", "occusim_2.pao", "occusim_3.pao",
                                                          "occusim_replicates.csv"}));
        std::set<std::string> distinct;
        for (int i = 1; i <= 3; i++) {
            const std::string &pao = files[stringf("occusim_%d.pao", i)];
            distinct.insert(pao);
            EXPECT_NEAR(total(history_counts(pao)), f.sites, 1e-6) << pao;
        }
        EXPECT_EQ(distinct.size(), 3u);
        for (const Row &row : manifest_rows(files["occusim_replicates.csv"])) {
            EXPECT_NEAR(row.sites, f.sites, 1e-6);
            EXPECT_GT(row.detected, 0);
            EXPECT_LE(row.detected, row.sites);
        }
        auto single = run_cli(with(args, f.add_stoch ? Args{"RNG=philox", "STOCH"} : Args{"RNG=philox"}));
        ASSERT_EQ(single.status, 0);
        EXPECT_EQ(single.pao(), files["occusim_1.pao"]);
    }
}

// Refusals: one line on standard error, status 1, nothing written.
TEST(Batch, RefusesBadSettingsWithoutWritingAnything) {
    struct Case {
        Args args;
        const char *says;
    };
    const std::vector<Case> cases = {
        {{"T=3", "N=40", "psi=.5", "p=.4", "REPS=5"}, "REPS=5: an expected-value run gives the same data set"},
        {{"T=2", "N=40", "Lambda=1", "r=.5", "STOCH", "REPS=5"}, "an expected-value run"},
        {with(kCohort, {"REPS=0"}), "REPS=0: the number of replicates must be a whole number from 1 to"},
        {with(kCohort, {"REPS=3x"}), "REPS=3x:"},
        {with(kCohort, {"REPS=5000000000"}), "REPS=5000000000:"},
        {with(kCohort, {"REPS=5", "THREADS=0"}), "THREADS=0: the number of threads"},
        {with(kCohort, {"REPS=5", "SHARD=0/3"}), "SHARD=0/3: give i/k"},
        {with(kCohort, {"REPS=5", "SHARD=4/3"}), "SHARD=4/3: give i/k"},
        {with(kCohort, {"REPS=5", "SHARD=2"}), "SHARD=2: give i/k"},
        {with(kCohort, {"REPS=5", "SHARD=2/6"}), "SHARD=2/6: 6 blocks of 5 replicates"},
        {with(kCohort, {"SHARD=1/2"}), "SHARD=1/2 needs REPS=n"},
        {{"T=3", "N=40", "psi=.5", "p=.4", "STOCH", "REPS=4", "SHARD=1/2"}, "must share a seed; give SEED=s"},
        {with(kCohort, {"RNG=mt"}), "RNG=mt: unknown generator"},
        {with(kCohort, {"REPS=2", "RNG=lehmer"}), "RNG=lehmer: replicate batches draw from philox"},
        {with(kCohort, {"REPS=2", "outfile=missing/x.pao"}),
         "error: cannot create 'missing/x_replicates.csv': No such file or directory"},
        {with(kCohort, {"REPS=2", "outfile=/dev/full"}), "error: cannot write '/dev/full': No space left on device"},
        {with(kCohort, {"REPS=2", "outfile=/dev/null"}), "cannot write '/dev/null': a batch writes its files beside"},
    };
    for (const Case &c : cases) {
        auto r = run_cli(c.args);
        SCOPED_TRACE(c.says);
        EXPECT_EQ(r.status, 1);
        // Argument warnings (advice, e.g. '3x' read as 3) may come first; the
        // refusal itself is one line.
        std::string refusal = r.err;
        while (refusal.rfind("occusim8: warning: ", 0) == 0) refusal.erase(0, refusal.find('\n') + 1);
        EXPECT_EQ(refusal.rfind("occusim8: ", 0), 0u) << r.err;
        EXPECT_NE(refusal.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(std::count(refusal.begin(), refusal.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(tree(r.dir).empty());
    }
}

// A replicate that fails stops the batch with one line naming it; the
// replicates before it keep their files and manifest rows, later ones leave
// nothing, whatever the thread count.
TEST(Batch, FailingReplicateStopsTheBatchAfterTheOnesBeforeIt) {
    for (const char *threads : {"THREADS=1", "THREADS=3"}) {
        SCOPED_TRACE(threads);
        auto r = run_cli(with(kCohort, {"REPS=9", threads}), "", blocking("occusim_4.pao"));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("occusim8: error: replicate 4 failed: cannot create 'occusim_4.pao': Is a directory", 0),
                  0u)
            << r.err;
        EXPECT_NE(r.err.find("(replicates 1 to 3 were written)\n"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
        auto files = tree(r.dir);
        EXPECT_EQ(names(files), (std::vector<std::string>{"occusim_1.pao", "occusim_2.pao", "occusim_3.pao",
                                                          "occusim_4.pao", "occusim_replicates.csv"}));
        auto rows = manifest_rows(files["occusim_replicates.csv"]);
        ASSERT_EQ(rows.size(), 3u);
        EXPECT_EQ(rows[2].file, "occusim_3.pao");
    }
    // A run that fails inside the model fails at replicate 1 with its message.
    auto model = run_cli({"T=12", "N=10", "pi=.5", "psiA=.5", "pA=.4", "eta0AA=.7", "STOCH", "SEED=2", "REPS=3",
                          "QUIET"});
    EXPECT_EQ(model.status, 1);
    EXPECT_EQ(model.err, "occusim8: error: replicate 1 failed: the integrated model by cohort handles at most 9 surveys "
                         "(T=12); use SIMTYPE=2 for longer designs\n");
    EXPECT_EQ(names(tree(model.dir)), std::vector<std::string>{"occusim_replicates.csv"});
}

// Naive occupancy across 500 seeded replicates: the mean within its
// standard-error band of psi (1 - (1-p)^T), neighbours uncorrelated.
TEST(Batch, ReplicatesAreIndependentDrawsOfTheModel) {
    auto r = run_cli({"T=3", "N=50", "psi=.5", "p=.4", "STOCH", "SEED=2024", "QUIET", "REPS=500", "THREADS=2"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto rows = manifest_rows(r.file("occusim_replicates.csv"));
    ASSERT_EQ(rows.size(), 500u);
    const double expect = .5 * (1 - std::pow(.6, 3));
    double sum = 0;
    for (const Row &row : rows) sum += row.naive;
    const double mean = sum / 500;
    const double se = std::sqrt(expect * (1 - expect) / 50 / 500);
    EXPECT_NEAR(mean, expect, 3.5 * se);
    double sxx = 0, sxy = 0;
    for (int i = 0; i < 500; i++) {
        double d = rows[i].naive - mean;
        sxx += d * d;
        if (i > 0) sxy += d * (rows[i - 1].naive - mean);
    }
    EXPECT_LT(std::fabs(sxy / sxx), 3.5 / std::sqrt(500.0));
}

TEST(Batch, ClockSeedIsReportedAndRepeatsTheBatch) {
    auto clock = run_cli({"T=3", "N=40", "psi=.5", "p=.4", "STOCH", "REPS=3"});
    ASSERT_EQ(clock.status, 0);
    long seed = 0;
    ASSERT_EQ(std::sscanf(clock.err.c_str(), "seed=-1\noccusim8: seed %ld (give SEED=", &seed), 1) << clock.err;
    EXPECT_NE(clock.err.find(stringf(", seed %ld, ", seed)), std::string::npos);
    auto again = run_cli({"T=3", "N=40", "psi=.5", "p=.4", "STOCH", "REPS=3", stringf("SEED=%ld", seed)});
    EXPECT_EQ(tree(again.dir), tree(clock.dir));
    // Under QUIET the summary still names the seed.
    auto quiet = run_cli({"T=3", "N=40", "psi=.5", "p=.4", "STOCH", "REPS=2", "QUIET"});
    EXPECT_EQ(quiet.err.rfind("occusim8: 2 replicates written", 0), 0u) << quiet.err;
    EXPECT_NE(quiet.err.find(", seed "), std::string::npos);
}

// ---- the hook API, driven directly ----

// Collects every history a replicate writes through the context's sink.
struct CountingSink : occusim::HistorySink {
    double sites = 0;
    void history(std::string_view, double count) override { sites += count; }
};

struct SinkTask : ReplicateTask {
    long r;
    CountingSink sink;
    std::thread::id worker = std::this_thread::get_id();
    explicit SinkTask(long rep) : r(rep) {}
    std::string after(Context &ctx, const std::string &history) override {
        EXPECT_EQ(ctx.sink, &sink);
        EXPECT_EQ(std::this_thread::get_id(), worker);
        EXPECT_NE(history.find("\t3\n"), std::string::npos) << history; // its text: "<lines>\t3\n..."
        return stringf("%ld:%g", r, sink.sites);
    }
};

struct RecordingHook : BatchHook {
    std::mutex m;
    std::set<std::thread::id> workers;
    std::vector<std::pair<long, std::string>> commits;
    std::thread::id caller = std::this_thread::get_id();
    int begun = 0, ended = 0;
    BatchReport report;
    void begin(const BatchPlan &) override { begun++; }
    std::unique_ptr<ReplicateTask> before(long r, Context &ctx) override {
        auto t = std::make_unique<SinkTask>(r);
        ctx.sink = &t->sink;
        std::lock_guard lk(m);
        workers.insert(std::this_thread::get_id());
        return t;
    }
    void commit(long r, std::string chunk) override {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        commits.emplace_back(r, std::move(chunk));
    }
    void end(const BatchReport &rep) override {
        ended++;
        report = rep;
    }
};

TEST(BatchHooks, OrderedCommitsOnTheCallingThreadWhateverTheThreads) {
    for (int threads : {1, 3}) {
        SCOPED_TRACE(threads);
        TempDir dir;
        std::FILE *out = std::tmpfile();
        Context ctx;
        ctx.workdir = dir.path;
        ctx.err = out;
        const Args args = {"occusim8", "T=3", "N=25", "psi=.5", "p=.4", "STOCH", "SEED=3", "REPS=20", "QUIET"};
        BatchPlan plan;
        plan.n = 20;
        plan.first = 4;
        plan.last = 17;
        plan.seed = 3;
        plan.threads = threads;
        plan.stem = "occusim";
        plan.ext = ".pao";
        const occusim::Program program = occusim::command_line_program();
        occusim::Batch batch(ctx, args, plan, program);
        RecordingHook hook;
        batch.add(hook);
        batch.publish_history_files(false);
        auto rep = batch.run();
        EXPECT_EQ(rep.failed, 0);
        EXPECT_EQ(rep.completed, 14);
        ASSERT_EQ(hook.commits.size(), 14u);
        for (long i = 0; i < 14; i++) {
            EXPECT_EQ(hook.commits[i].first, 4 + i);
            EXPECT_EQ(hook.commits[i].second, stringf("%ld:25", 4 + i));
        }
        EXPECT_EQ(hook.begun, 1);
        EXPECT_EQ(hook.ended, 1);
        EXPECT_EQ(hook.report.completed, 14);
        EXPECT_LE(hook.workers.size(), static_cast<std::size_t>(threads));
        if (threads == 1) {
            EXPECT_EQ(*hook.workers.begin(), std::this_thread::get_id());
        }
        // Not publishing: the histories never reached the disk.
        EXPECT_TRUE(tree(dir.path).empty());
        std::fclose(out);
    }
}

} // namespace

namespace {

// Watches, as each replicate starts, where its files go: in memory, or into a
// scratch directory that exists beside the output.
struct WhereFilesGo : BatchHook {
    std::string dir;
    std::mutex m;
    std::set<std::string> seen; // "memory", "scratch"
    std::unique_ptr<ReplicateTask> before(long, Context &ctx) override {
        bool scratch = false;
        for (const auto &e : fs::directory_iterator(dir))
            scratch = scratch || e.path().filename().string().rfind(".occusim-", 0) == 0;
        std::lock_guard lk(m);
        seen.insert(ctx.memory ? "memory" : "");
        seen.insert(scratch && ctx.workdir != dir ? "scratch" : "");
        seen.erase("");
        return nullptr;
    }
};

// Families that write nothing but their history file keep their replicates
// in memory and create no scratch directory; those with temporary files
// under fixed names run in one.
TEST(Batch, ScratchDirectoriesOnlyForFamiliesWithTemporaryFiles) {
    const struct {
        const char *name;
        Args args;
        const char *where;
    } cases[] = {
        {"cohorts", {"T=3", "N=30", "psi=.5", "p=.4", "STOCH"}, "memory"},
        {"site by site", {"T=3", "N=30", "psi=.5", "p=.4", "SIMTYPE=2"}, "memory"},
        {"abundance", {"T=3", "N=30", "Lambda=1", "r=.5", "STOCH"}, "memory"},
        {"staggered entry", {"T=3", "N=30", "psi=.7", "p=.8", "Ent=.5", "Dep=.5", "SIMTYPE=2", "STAG"}, "memory"},
        {"multistate", {"T=2", "N=30", "psi0=.6", "R0=.5", "p1=.5", "p2=.7", "dlta=.4", "STOCH"}, "scratch"},
        {"integrated",
         {"T=2", "pi=.5", "psiA=.5", "pA=.4", "eta0AA=.7", "eta1AA=.8", "eta0BA=.3", "eta1BA=.4", "N=30",
          "SIMTYPE=2"},
         "scratch"},
        {"spatial", {"T=2", "N=30", "psi=.6", "p=.5", "th0=.3", "th1=.7", "th0pi=.4", "STOCH"}, "scratch"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::FILE *err = std::tmpfile();
        Context ctx;
        ctx.workdir = dir.path;
        ctx.out = ctx.err = err;
        const Args args = with(with({"occusim8"}, c.args), {"SEED=3", "QUIET", "REPS=4"});
        const occusim::Program program = occusim::command_line_program();
        program.read_command_line(ctx, args);
        BatchPlan plan = occusim::plan_batch(ctx, 3);
        plan.threads = 2;
        occusim::Batch batch(ctx, args, plan, program);
        WhereFilesGo hook;
        hook.dir = dir.path;
        batch.add(hook);
        const auto rep = batch.run();
        EXPECT_EQ(rep.failed, 0) << rep.error;
        EXPECT_EQ(hook.seen, std::set<std::string>{c.where});
        EXPECT_EQ(names(tree(dir.path)), (std::vector<std::string>{"occusim_1.pao", "occusim_2.pao",
                                                                   "occusim_3.pao", "occusim_4.pao"}));
        std::fclose(err);
    }
}

} // namespace

// A host that sets the context's stop flag gets its prompt back: no further
// replicate is handed out and the batch ends as a failed one (keeping the
// replicates already committed, none when it was stopped before it began),
// its scratch directories removed.
TEST(Batch, StopsWhenTheHostAsksAndEndsAsAFailedBatch) {
    struct Case {
        const char *threads;
        int stop_after_ms; // -1: the flag is set before the run starts
    };
    for (const Case c : {Case{"THREADS=1", -1}, Case{"THREADS=2", -1}, Case{"THREADS=1", 50}, Case{"THREADS=2", 50}}) {
        SCOPED_TRACE(std::string(c.threads) + " after " + std::to_string(c.stop_after_ms) + " ms");
        TempDir dir;
        Context ctx;
        std::FILE *out = std::tmpfile(), *err = std::tmpfile();
        ctx.out = out;
        ctx.err = err;
        ctx.workdir = dir.path;
        std::atomic<bool> stop{c.stop_after_ms < 0};
        ctx.stop = &stop;
        std::thread host;
        if (c.stop_after_ms >= 0)
            host = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(c.stop_after_ms));
                stop = true;
            });
        const Args args = with({"occusim8"}, with(kCohort, {"N=2000", "REPS=100000", "FORMAT=csv", c.threads}));
        const int status = occusim::execute(ctx, args);
        if (host.joinable()) host.join();
        const std::string text = read_stream(err);
        std::fclose(out);
        std::fclose(err);
        EXPECT_EQ(status, 1);
        EXPECT_NE(text.find("failed: interrupted"), std::string::npos) << text;
        if (c.stop_after_ms < 0) {
            EXPECT_FALSE(fs::exists(dir.path + "/occusim.csv"));
        }
        for (const auto &e : fs::directory_iterator(dir.path))
            EXPECT_EQ(e.path().filename().string().rfind(".occusim-", 0), std::string::npos) << e.path();
    }
}
