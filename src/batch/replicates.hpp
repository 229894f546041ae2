// Replicate batches: REPS=n runs the configured random model n times, each
// replicate on its own Philox counter (replicate r of seed s draws the same
// numbers on any thread, in any shard, on any machine), and writes replicate
// r's history file as <stem>_<r>.<ext> beside the outfile, with a manifest
// <stem>_replicates.csv. THREADS=k runs them on k worker threads, SHARD=i/k
// runs the i-th of k contiguous blocks; files are byte-identical either way.
//
// Each replicate runs a fresh context on the same arguments, its console
// discarded. Most families write nothing but their history file (and the
// empty second stream): such a replicate keeps all its files in memory, and
// its history file reaches the disk once, written under a part name beside
// its final name and renamed, on the calling thread, strictly in replicate
// order. Families that spool their sites through temporary files under fixed
// names (uses_temporary_files) run in their worker's private scratch
// directory beside the output instead, so that those files never meet; the
// scratch directories are removed at the end.
//
// Other outputs plug in as hooks (BatchHook): per-replicate work on the worker
// thread, an ordered commit on the calling thread, and the batch's end.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "batch/program.hpp"
#include "core/context.hpp"

namespace occusim {

// Whether a run configured like ctx draws random numbers at all (an
// expected-value run gives the same data set every time).
bool draws_random_numbers(const Context &ctx);

// Whether the family a run configured like ctx goes to writes temporary files
// under fixed names (one line per site, read back to make the history file):
// the multistate families, the integrated model and the spatial model.
bool uses_temporary_files(const Context &ctx);

// Validates the batch and generator options (REPS, THREADS, SHARD, RNG) once
// the run's settings are final, refuses a batch of an expected-value run, and
// selects the generator; on a replicate's context it names the history file
// as the replicate's. Refusals end the run (InputError).
void check_batch(Context &ctx, const Args &args);

// What a batch will do, fixed before its first replicate.
struct BatchPlan {
    long n = 0;           // replicates of the whole batch (REPS)
    long first = 1;       // this shard's first and last replicate
    long last = 0;
    long shard_i = 0;     // SHARD=i/k (0: the whole batch)
    long shard_k = 0;
    long seed = 0;        // key of every replicate's generator
    int threads = 1;      // worker threads actually used
    std::string dir;      // directory part of outfile ("" or ending in '/'), relative to the batch
    std::string stem;     // outfile's base name without its extension
    std::string ext;      // ".pao", or "" when outfile has none
    bool csv = false;     // FORMAT=csv: the replicates' rows go to one CSV instead of history files
    // "<stem>_<r><ext>", r zero-padded to the digits of n.
    std::string file_name(long r) const;
    // "<stem>_replicates.csv", or "<stem>_replicates_<i>of<k>.csv" for a shard.
    std::string manifest_name() const;
    // A file of the whole batch: "<stem><suffix>", or "<stem>_<i>of<k><suffix>"
    // for a shard (".csv", ".json").
    std::string batch_file(const std::string &suffix) const;
    // Where replicate r's data set goes: its history file, or the batch CSV.
    std::string data_file(long r) const { return csv ? batch_file(".csv") : file_name(r); }
    long count() const { return last - first + 1; }
};

// How a batch ended, for the hooks' end().
struct BatchReport {
    const BatchPlan *plan = nullptr;
    const Context *batch = nullptr; // the batch's own context (settings after its parse)
    const Args *args = nullptr;     // the command line
    long completed = 0;             // replicates committed (plan->first .. first+completed-1)
    long failed = 0;                // the replicate that stopped the batch (0: none)
    std::string error;              // its error message
    double elapsed = 0;             // seconds since the batch started
};

// A hook's work on one replicate, living on the worker thread that runs it
// from before() to after(); it owns whatever it attached to the context.
class ReplicateTask {
  public:
    virtual ~ReplicateTask() = default;
    // The replicate ran successfully; `history` is the whole text of its
    // history file (not yet on disk). Returns the chunk that
    // BatchHook::commit receives. May throw InputError to fail the replicate.
    virtual std::string after(Context &ctx, const std::string &history) = 0;
};

class BatchHook {
  public:
    virtual ~BatchHook() = default;
    // Calling thread, once, before any replicate runs. May throw InputError
    // to refuse the batch (nothing has been written yet).
    virtual void begin(const BatchPlan &) {}
    // Worker thread, replicate r about to run on its fresh context (the
    // arguments not yet read; ctx.sink may be attached here, owned by the
    // task; ctx.memory is set when the replicate keeps its files in memory,
    // else ctx.workdir is the worker's scratch directory). Several workers
    // call this at once. Null: nothing per replicate.
    virtual std::unique_ptr<ReplicateTask> before(long /*r*/, Context & /*ctx*/) { return nullptr; }
    // Calling thread, strictly in increasing replicate order without gaps,
    // once per successful replicate, after its history file has its final
    // name: the chunk its task returned ("" without a task).
    virtual void commit(long /*r*/, std::string /*chunk*/) {}
    // Calling thread, once at the end, whether the batch succeeded or not.
    virtual void end(const BatchReport &) {}
};

// Runs a batch from its context after the parse pass. Hooks run in the order
// added (run_batch: the batch CSV, the manifest, then the metadata last).
class Batch {
  public:
    Batch(Context &ctx, const Args &args, const BatchPlan &plan, const Program &program);
    void add(BatchHook &hook) { hooks_.push_back(&hook); }
    // false: history files are never written out (for hooks that gather
    // every replicate into one file instead).
    void publish_history_files(bool publish) { publish_ = publish; }
    // Runs the replicates and returns the report; on failure report.failed is
    // set and every replicate before it is committed.
    BatchReport run();

  private:
    struct Done;
    struct Worker;
    Done run_one(long r, Worker &worker);
    bool commit(Done &done);

    Context &ctx_;
    const Args &args_;
    BatchPlan plan_;
    const Program &program_;
    std::vector<BatchHook *> hooks_;
    bool publish_ = true;
};

// The plan of the batch configured in ctx (seed resolved by the caller).
BatchPlan plan_batch(const Context &ctx, long seed);

} // namespace occusim
