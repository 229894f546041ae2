#include "batch/outputs.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/errors.hpp"
#include "history/csv.hpp"

namespace occusim {

namespace {

constexpr std::size_t kCopyBlock = 1 << 16;

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

// Header "lines<TAB>surveys", then the history lines (T symbols, each
// followed by a tab, then the line's frequency if it has one) up to the
// first line without a tab (the trailer).
bool tally_history_file(const std::string &path, bool area_coded, HistoryTally &t) {
    std::FILE *f = std::fopen(path.c_str(), "r");
    if (!f) return false;
    char *line = nullptr;
    std::size_t cap = 0;
    ssize_t len = getline(&line, &cap, f);
    long T = 0;
    if (len > 0) {
        const char *tab = std::strchr(line, '\t');
        if (tab) T = std::strtol(tab + 1, nullptr, 10);
    }
    bool ok = len > 0 && T > 0;
    while (ok && (len = getline(&line, &cap, f)) > 0) {
        if (!std::memchr(line, '\t', static_cast<std::size_t>(len))) break;
        const char *p = line;
        const char *end = line + len;
        bool detected = false;
        for (long k = 0; k < T && p < end; k++) {
            const char *q = static_cast<const char *>(std::memchr(p, '\t', static_cast<std::size_t>(end - p)));
            if (!q) q = end;
            detected = detected || symbol_detects(p, static_cast<std::size_t>(q - p), area_coded);
            p = q < end ? q + 1 : end;
        }
        while (p < end && (*p == '\t' || *p == ' ')) p++;
        double freq = 1;
        if (p < end && *p != '\n') freq = std::strtod(p, nullptr);
        t.lines++;
        t.sites += freq;
        if (detected) t.detected += freq;
    }
    std::free(line);
    std::fclose(f);
    return ok;
}

} // namespace

// ---- the manifest ----

struct Manifest::Row final : ReplicateTask {
    Row(long r, std::string file, bool area_coded) : r_(r), file_(std::move(file)), area_coded_(area_coded) {}
    std::string after(Context &, const std::string &history) override {
        HistoryTally t;
        if (!tally_history_file(history, area_coded_, t))
            input_error("its history file %s cannot be read back", file_.c_str());
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

// One replicate's rows, rendered on its worker into a file of the worker's
// scratch directory, so that neither the replicate nor the replicates
// waiting for their turn to be committed hold their rows in memory.
class BatchCsv::Spool final : public ReplicateTask {
  public:
    Spool(BatchCsv &owner, long r, Context &ctx)
        : owner_(owner), path_(ctx.path(".rows-" + std::to_string(r) + ".csv")) {
        file_ = std::fopen(path_.c_str(), "wb");
        if (!file_) input_error("cannot create its rows %s: %s", path_.c_str(), std::strerror(errno));
        writer_.emplace(file_, std::to_string(r), /*write_header=*/true);
        ctx.attach_sink(&*writer_);
    }
    ~Spool() override {
        if (file_) {
            std::fclose(file_);
            std::remove(path_.c_str());
        }
    }

    std::string after(Context &ctx, const std::string &) override {
        bool ok = writer_->finish(ctx.nper);
        ok = std::fclose(file_) == 0 && ok;
        file_ = nullptr;
        if (!ok) {
            std::remove(path_.c_str());
            input_error("cannot write its rows %s", path_.c_str());
        }
        owner_.note_shape(writer_->shape());
        return path_;
    }

  private:
    BatchCsv &owner_;
    std::string path_;
    std::FILE *file_ = nullptr;
    std::optional<CsvWriter> writer_;
};

BatchCsv::~BatchCsv() {
    if (fd_ >= 0) {
        ::close(fd_);
        std::remove(part_.c_str());
    }
}

void BatchCsv::begin(const BatchPlan &plan) {
    name_ = plan.dir + plan.batch_file(".csv");
    final_ = ctx_.path(name_);
    part_ = ctx_.path(plan.dir + "." + plan.batch_file(".csv") + ".part-" + std::to_string(getpid()));
    fd_ = ::open(part_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throw_file_error("create", name_, errno);
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

// Writes all of data at the end of the part file, or throws with the part
// file cut back to its replicates before this one.
void BatchCsv::append(const char *data, std::size_t size) {
    while (size > 0) {
        ssize_t put = ::write(fd_, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            const int e = put < 0 ? errno : ENOSPC;
            if (::ftruncate(fd_, size_) != 0 || ::lseek(fd_, size_, SEEK_SET) != size_) {
                // The part file cannot be restored: it is given up.
                ::close(fd_);
                fd_ = -1;
                std::remove(part_.c_str());
                if (committed_ > 0) error_ = file_error_text("write", name_, e);
            }
            throw_file_error("write", name_, e);
        }
        data += put;
        size -= static_cast<std::size_t>(put);
    }
}

void BatchCsv::commit(long, std::string spool) {
    if (fd_ < 0) input_error("the data file %s could not be kept", final_.c_str());
    struct Input {
        std::FILE *f;
        const std::string &path;
        ~Input() {
            if (f) std::fclose(f);
            std::remove(path.c_str());
        }
    } in{std::fopen(spool.c_str(), "rb"), spool};
    if (!in.f) input_error("cannot read back its rows: %s", std::strerror(errno));

    // The header: the first replicate's goes into the file, every later
    // replicate must have the same columns.
    char *line = nullptr;
    std::size_t cap = 0;
    ssize_t len = getline(&line, &cap, in.f);
    std::string header = len > 0 ? std::string(line, static_cast<std::size_t>(len)) : std::string();
    std::free(line);
    if (header.empty() || header.back() != '\n') input_error("its rows have no header");
    const bool first = header_.empty();
    if (!first && header != header_) {
        header.pop_back();
        input_error("its columns (%s) differ from those of the replicates before it", header.c_str());
    }

    long long rows = 0, bytes = 0;
    if (first) {
        append(header.data(), header.size());
        bytes += static_cast<long long>(header.size());
    }
    char buf[kCopyBlock];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, in.f)) > 0) {
        rows += std::count(buf, buf + got, '\n');
        append(buf, got);
        bytes += static_cast<long long>(got);
    }
    if (std::ferror(in.f)) {
        // Not one of this replicate's rows may stay.
        if (::ftruncate(fd_, size_) != 0 || ::lseek(fd_, size_, SEEK_SET) != size_) {
            ::close(fd_);
            fd_ = -1;
            std::remove(part_.c_str());
            if (committed_ > 0) error_ = file_error_text("write", name_, errno);
        }
        input_error("cannot read back its rows");
    }
    if (first) header_ = std::move(header);
    size_ += bytes;
    rows_ += rows;
    committed_++;
}

void BatchCsv::end(const BatchReport &) {
    if (fd_ < 0) return;
    const int closed = ::close(fd_) == 0 ? 0 : errno;
    fd_ = -1;
    if (committed_ == 0) {
        std::remove(part_.c_str());
        return;
    }
    const int e = closed ? closed : std::rename(part_.c_str(), final_.c_str()) == 0 ? 0 : errno;
    if (e) {
        std::remove(part_.c_str());
        error_ = file_error_text("write", name_, e);
        return;
    }
    written_ = true;
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
