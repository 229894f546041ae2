#include "batch/outputs.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/errors.hpp"
#include "history/csv.hpp"

namespace occusim {

namespace {

// Counts of a history file read back: its history lines, the sites they
// stand for (a line's frequency where the file lists one, else one site) and
// the sites detected at least once.
struct HistoryTally {
    long lines = 0;
    double sites = 0;
    double detected = 0;
};

// A survey symbol shows a detection when its number is positive; in the
// integrated model the digit is 2 * area + detected, so odd digits do.
bool symbol_detects(const char *s, std::size_t len, bool area_coded) {
    long v = 0;
    std::size_t i = 0;
    bool digits = false;
    while (i < len && s[i] >= '0' && s[i] <= '9') {
        v = std::min(v * 10 + (s[i] - '0'), 1000000L);
        digits = true;
        i++;
    }
    if (!digits) return false;
    return area_coded ? (v % 2) == 1 : v > 0;
}

// The next line of text from pos (without its newline); false at the end.
bool next_line(const std::string &text, std::size_t &pos, std::string_view &line) {
    if (pos >= text.size()) return false;
    std::size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    line = std::string_view(text).substr(pos, nl - pos);
    pos = nl + 1;
    return true;
}

// Header "lines<TAB>surveys", then the history lines (T symbols, each
// followed by a tab, then the line's frequency if it has one) up to the
// first line without a tab (the trailer).
bool tally_history(const std::string &text, bool area_coded, HistoryTally &t) {
    std::size_t pos = 0;
    std::string_view line;
    long T = 0;
    if (next_line(text, pos, line)) {
        const std::size_t tab = line.find('\t');
        if (tab != std::string_view::npos) T = std::strtol(std::string(line.substr(tab + 1)).c_str(), nullptr, 10);
    }
    if (T <= 0) return false;
    while (next_line(text, pos, line)) {
        if (line.find('\t') == std::string_view::npos) break;
        const char *p = line.data();
        const char *end = p + line.size();
        bool detected = false;
        for (long k = 0; k < T && p < end; k++) {
            const char *q = static_cast<const char *>(std::memchr(p, '\t', static_cast<std::size_t>(end - p)));
            if (!q) q = end;
            detected = detected || symbol_detects(p, static_cast<std::size_t>(q - p), area_coded);
            p = q < end ? q + 1 : end;
        }
        while (p < end && (*p == '\t' || *p == ' ')) p++;
        double freq = 1;
        if (p < end) freq = std::strtod(std::string(p, end).c_str(), nullptr);
        t.lines++;
        t.sites += freq;
        if (detected) t.detected += freq;
    }
    return true;
}

} // namespace

// ---- the manifest ----

struct Manifest::Row final : ReplicateTask {
    Row(long r, std::string file, bool area_coded) : r_(r), file_(std::move(file)), area_coded_(area_coded) {}
    std::string after(Context &, const std::string &history) override {
        HistoryTally t;
        if (!tally_history(history, area_coded_, t))
            input_error("its history file %s has no header line", file_.c_str());
        char row[512];
        std::snprintf(row, sizeof row, "%ld,%s,%ld,%.15g,%.15g,%.6f\n", r_, file_.c_str(), t.lines, t.sites,
                      t.detected, t.sites > 0 ? t.detected / t.sites : 0.0);
        return row;
    }
    long r_;
    std::string file_;
    bool area_coded_;
};

void Manifest::begin(const BatchPlan &plan) {
    name_ = plan.dir + plan.manifest_name();
    file_.create_or_throw(ctx_.path(name_), name_);
    std::fputs("replicate,file,history_lines,sites,detected_sites,naive_occupancy\n", file_.stream());
    plan_ = &plan;
}

std::unique_ptr<ReplicateTask> Manifest::before(long r, Context &) {
    return std::make_unique<Row>(r, plan_->data_file(r), area_coded_);
}

void Manifest::commit(long, std::string chunk) { std::fputs(chunk.c_str(), file_.stream()); }

void Manifest::end(const BatchReport &) {
    if (!file_.open()) return;
    try {
        file_.commit();
    } catch (const FileError &e) {
        error_ = e.what();
    }
}

// ---- the batch CSV ----

// One replicate's rows, rendered in memory on its worker ("rep,..." header,
// then rows "r,..."); the chunk handed to commit is their text.
class BatchCsv::Spool final : public ReplicateTask {
  public:
    Spool(BatchCsv &owner, long r, Context &ctx) : owner_(owner) {
        file_ = open_memstream(&text_, &size_);
        if (!file_) input_error("cannot hold its rows: %s", std::strerror(errno));
        writer_.emplace(file_, std::to_string(r), /*write_header=*/true);
        ctx.attach_sink(&*writer_);
    }
    ~Spool() override {
        if (file_) std::fclose(file_);
        std::free(text_);
    }

    std::string after(Context &ctx, const std::string &) override {
        bool ok = writer_->finish(ctx.nper);
        ok = std::fclose(file_) == 0 && ok;
        file_ = nullptr;
        if (!ok) input_error("cannot hold its rows: out of memory");
        owner_.note_shape(writer_->shape());
        return std::string(text_, size_);
    }

  private:
    BatchCsv &owner_;
    char *text_ = nullptr;
    std::size_t size_ = 0;
    std::FILE *file_ = nullptr;
    std::optional<CsvWriter> writer_;
};

void BatchCsv::begin(const BatchPlan &plan) {
    name_ = plan.dir + plan.batch_file(".csv");
    file_.create_or_throw(ctx_.path(name_), name_);
}

std::unique_ptr<ReplicateTask> BatchCsv::before(long r, Context &ctx) {
    return std::make_unique<Spool>(*this, r, ctx);
}

void BatchCsv::note_shape(const HistoryShape &shape) {
    std::lock_guard lk(shape_mutex_);
    if (!shape_) shape_ = shape;
}

HistoryShape BatchCsv::shape() const {
    std::lock_guard lk(shape_mutex_);
    return shape_.value_or(HistoryShape{});
}

void BatchCsv::commit(long, std::string rows) {
    if (!file_.open()) input_error("the data file %s could not be kept", name_.c_str());
    // The header: the first replicate's goes into the file, every later
    // replicate must have the same columns.
    const std::size_t nl = rows.find('\n');
    if (nl == std::string::npos || nl == 0) input_error("its rows have no header");
    const std::string_view header(rows.data(), nl + 1);
    const bool first = header_.empty();
    if (!first && header != header_) {
        const std::string columns(header.substr(0, nl));
        input_error("its columns (%s) differ from those of the replicates before it", columns.c_str());
    }
    const std::string_view body = first ? std::string_view(rows) : std::string_view(rows).substr(nl + 1);
    try {
        file_.append_whole(body);
    } catch (const FileError &e) {
        // A file given up after rows were committed cannot be completed.
        if (!file_.open() && committed_ > 0) error_ = e.what();
        throw;
    }
    if (first) header_ = std::string(header);
    rows_ += static_cast<long long>(std::count(body.begin(), body.end(), '\n')) - (first ? 1 : 0);
    committed_++;
}

void BatchCsv::end(const BatchReport &) {
    if (!file_.open()) return;
    if (committed_ == 0) {
        file_.discard();
        return;
    }
    try {
        file_.commit();
        written_ = true;
    } catch (const FileError &e) {
        error_ = e.what();
    }
}

// ---- the run metadata ----

void BatchMetadata::end(const BatchReport &report) {
    const BatchPlan &plan = *report.plan;

    Json meta = program_.run_metadata(*report.batch, *report.args);
    // Every replicate draws from Philox under the batch's seed, whatever the
    // family's mode in a single run.
    meta["mode"] = "stochastic";
    meta["generator"] = "philox";
    meta["seed"] = plan.seed;

    Json batch;
    batch["replicates"] = plan.n;
    batch["shard"] = plan.shard_k > 0 ? Json{{"i", plan.shard_i}, {"k", plan.shard_k}} : Json(nullptr);
    batch["first"] = plan.first;
    batch["last"] = plan.last;
    batch["completed"] = report.completed;
    batch["status"] = report.failed > 0 ? "failed" : "complete";
    if (report.failed > 0) {
        batch["failed_replicate"] = report.failed;
        batch["error"] = report.error;
    }
    batch["streams"] = "Philox4x32-10, key = seed, counter = (block number: 64 bits, replicate number, stream); "
                       "replicate r of this seed draws the same numbers in any batch, shard or thread";
    Json files = std::move(meta["files"]);
    meta.erase("files");
    meta["batch"] = std::move(batch);
    meta["files"] = std::move(files);

    const long last_done = plan.first + report.completed - 1;
    if (csv_) {
        if (csv_->written()) add_csv_file(meta, csv_->name(), csv_->shape(), csv_->rows(), "rep");
    } else if (report.completed > 0) {
        Json f;
        f["name"] = plan.dir + plan.stem + "_<r>" + plan.ext;
        f["format"] = "history";
        f["contents"] = "the history file of replicate r, r zero-padded to the digits of " +
                        std::to_string(plan.n) + ", as a single run of this model writes it";
        f["first"] = plan.dir + plan.file_name(plan.first);
        f["last"] = plan.dir + plan.file_name(last_done);
        meta["files"].push_back(f);
    }
    add_file(meta, plan.dir + plan.manifest_name(), "csv",
             "one row per replicate written, in replicate order: replicate, file (" +
                 std::string(csv_ ? "the batch CSV" : "its history file") +
                 "), history_lines, sites (frequencies added up), detected_sites (at least one detection), "
                 "naive_occupancy (detected_sites / sites)");
    try {
        write_metadata(ctx_, plan.dir + plan.batch_file(""), meta);
    } catch (const FileError &e) {
        error_ = e.what();
    }
}

} // namespace occusim
