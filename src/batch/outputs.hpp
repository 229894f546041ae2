// Outputs a replicate batch writes for the batch as a whole, beside its
// manifest:
//
//   the batch CSV (FORMAT=csv)  every replicate's rows in one file,
//       "<stem>.csv" ("<stem>_<i>of<k>.csv" for a shard), behind a leading
//       "rep" column, in replicate order, in place of the per-replicate
//       history files;
//   the run metadata            "<stem>.json" ("<stem>_<i>of<k>.json" for a
//       shard): how the batch was made, the seed of its generator, how far
//       it got, and the files it wrote.
//
// Both are written under a part name (core/output_file) and take their final
// names when the batch ends. A batch that stops at a failed replicate still gives
// them their names: the CSV then holds exactly the rows of the replicates
// completed before it (the ones its manifest lists), and the metadata says
// which replicate failed and why.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "batch/replicates.hpp"
#include "core/output_file.hpp"

namespace occusim {

// The manifest: one row per committed replicate, written under a part name
// and renamed when the batch ends, so that its final name never holds half a
// manifest.
//   replicate,file,history_lines,sites,detected_sites,naive_occupancy
class Manifest final : public BatchHook {
  public:
    Manifest(const Context &ctx, bool area_coded) : ctx_(ctx), area_coded_(area_coded) {}

    void begin(const BatchPlan &plan) override;
    std::unique_ptr<ReplicateTask> before(long r, Context &) override;
    void commit(long, std::string chunk) override;
    void end(const BatchReport &) override;
    // Why the manifest could not be written ("" when it was).
    const std::string &error() const { return error_; }

  private:
    struct Row;

    const Context &ctx_;
    bool area_coded_;
    const BatchPlan *plan_ = nullptr;
    OutputFile file_;
    std::string name_, error_;
};

class BatchCsv final : public BatchHook {
  public:
    explicit BatchCsv(const Context &ctx) : ctx_(ctx) {}
    BatchCsv(const BatchCsv &) = delete;
    BatchCsv &operator=(const BatchCsv &) = delete;

    // Creates the part file; a file that cannot be created refuses the
    // batch.
    void begin(const BatchPlan &plan) override;
    // Renders replicate r's histories in memory ("rep,..." header, then
    // rows "r,...").
    std::unique_ptr<ReplicateTask> before(long r, Context &ctx) override;
    // Appends the replicate's rows to the part file. A write error leaves
    // the part file as it was before this replicate and fails the replicate.
    void commit(long r, std::string rows) override;
    // Gives the part file its final name when it holds any replicate's rows
    // and removes it otherwise.
    void end(const BatchReport &report) override;

    // After end(): whether the file now has its final name, that name (as
    // the outfile gives it, directory included), its rows and their layout.
    bool written() const { return written_; }
    // Rows were committed but the file could not be completed: why ("" otherwise).
    const std::string &error() const { return error_; }
    const std::string &name() const { return name_; }
    long long rows() const { return rows_; }
    HistoryShape shape() const;

  private:
    class Spool;
    void note_shape(const HistoryShape &shape);

    const Context &ctx_;
    std::string name_;
    OutputFile file_;
    std::string header_;   // the header line the first replicate wrote
    long long rows_ = 0;
    long committed_ = 0;
    bool written_ = false;
    std::string error_;
    mutable std::mutex shape_mutex_;
    std::optional<HistoryShape> shape_;
};

class BatchMetadata final : public BatchHook {
  public:
    // csv: the batch CSV hook when the batch writes one (its end() must run
    // before this hook's).
    BatchMetadata(Context &ctx, const Args &args, const Program &program, const BatchCsv *csv)
        : ctx_(ctx), args_(args), program_(program), csv_(csv) {}

    void end(const BatchReport &report) override;

    // Why the metadata could not be written ("" when it was).
    const std::string &error() const { return error_; }

  private:
    Context &ctx_;
    const Args &args_;
    const Program &program_;
    const BatchCsv *csv_;
    std::string error_;
};

} // namespace occusim
