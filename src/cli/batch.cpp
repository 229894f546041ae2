#include "cli/batch.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <mutex>
#include <thread>

#include "cli/batch_fit.hpp"
#include "cli/batch_outputs.hpp"
#include "cli/options.hpp"
#include "cli/run.hpp"
#include "core/errors.hpp"

namespace occusim {

namespace {

using Clock = std::chrono::steady_clock;

// A whole number written with nothing else around it.
bool whole_number(const std::string &text, long &v) {
    if (text.empty()) return false;
    errno = 0;
    char *end = nullptr;
    v = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

constexpr long kMaxReplicates = 4294967295L;

// Generators a run can name; a batch draws from Philox only.
constexpr const char *kGenerators[] = {"philox", "lehmer"};

void check_option_values(const Context &ctx, const Args &args) {
    bool shard_given = false;
    for (const Argument &arg : read_arguments(args)) {
        const std::string &name = arg.name;
        const std::string &value = arg.value;
        long v = 0;
        // The replicate number is one 32-bit word of the generator's counter.
        if (name == "REPS" && !(whole_number(value, v) && v >= 1 && v <= kMaxReplicates))
            input_error("REPS=%s: the number of replicates must be a whole number from 1 to %ld", value.c_str(),
                        kMaxReplicates);
        if (name == "THREADS" && !(whole_number(value, v) && v >= 1 && v <= 4096))
            input_error("THREADS=%s: the number of threads must be a whole number from 1 to 4096", value.c_str());
        if (name == "SHARD") {
            shard_given = true;
            std::size_t slash = value.find('/');
            long a = 0, b = 0;
            if (slash == std::string::npos || !whole_number(value.substr(0, slash), a) ||
                !whole_number(value.substr(slash + 1), b) || a < 1 || a > b)
                input_error("SHARD=%s: give i/k, block i of k, with 1 <= i <= k", value.c_str());
        }
        if (name == "RNG" && std::find_if(std::begin(kGenerators), std::end(kGenerators), [&](const char *g) {
                                 return value == g;
                             }) == std::end(kGenerators))
            input_error("RNG=%s: unknown generator (known: philox, lehmer)", value.c_str());
    }
    if (shard_given && ctx.REPS < 1) input_error("SHARD=%ld/%ld needs REPS=n", ctx.shard_i, ctx.shard_k);
    if (ctx.REPS < 1) return;
    if (ctx.shard_k > ctx.REPS)
        input_error("SHARD=%ld/%ld: %ld blocks of %ld replicates would leave blocks empty", ctx.shard_i, ctx.shard_k,
                    ctx.shard_k, ctx.REPS);
    if (ctx.RNG == "lehmer")
        input_error("RNG=lehmer: replicate batches draw from philox, which gives every replicate its own numbers");
    if (!draws_random_numbers(ctx))
        input_error("REPS=%ld: an expected-value run gives the same data set every time; ask for random data "
                    "(STOCH, a negative T or SIMTYPE=2) to replicate it",
                    ctx.REPS);
    // Shards of one batch run apart (other processes, other machines); each
    // would read its own clock.
    if (ctx.shard_k > 0 && ctx.seed_value < 0)
        input_error("SHARD=%ld/%ld: the shards of one batch must share a seed; give SEED=s", ctx.shard_i,
                    ctx.shard_k);
}

// Replicates floor((i-1)n/k)+1 .. floor(in/k) form block i of k; with n and
// k below 2^32 the products fit 64 unsigned bits.
long block_start(long i, long n, long k) {
    return static_cast<long>(static_cast<std::uint64_t>(i - 1) * static_cast<std::uint64_t>(n) /
                             static_cast<std::uint64_t>(k)) +
           1;
}
long block_end(long i, long n, long k) {
    return static_cast<long>(static_cast<std::uint64_t>(i) * static_cast<std::uint64_t>(n) /
                             static_cast<std::uint64_t>(k));
}

int digits_of(long n) {
    int d = 1;
    while (n >= 10) {
        n /= 10;
        d++;
    }
    return d;
}

std::string last_line(const std::string &text) {
    std::size_t end = text.find_last_not_of("\n\r ");
    if (end == std::string::npos) return "";
    std::size_t start = text.rfind('\n', end);
    start = start == std::string::npos ? 0 : start + 1;
    return text.substr(start, end - start + 1);
}

// A small text file ("" when it cannot be read).
std::string read_text(const std::string &path) {
    std::string text;
    if (std::FILE *f = std::fopen(path.c_str(), "r")) {
        char buf[4096];
        std::size_t got;
        while ((got = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() < 65536) text.append(buf, got);
        std::fclose(f);
    }
    return text;
}

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

// The manifest: one row per committed replicate, written under a hidden name
// and renamed when the batch ends, so that its final name never holds half a
// manifest.
//   replicate,file,history_lines,sites,detected_sites,naive_occupancy
class Manifest final : public BatchHook {
  public:
    Manifest(const Context &ctx, bool area_coded) : ctx_(ctx), area_coded_(area_coded) {}

    void begin(const BatchPlan &plan) override {
        name_ = plan.dir + plan.manifest_name();
        file_.create_or_throw(ctx_.path(name_), name_);
        std::fputs("replicate,file,history_lines,sites,detected_sites,naive_occupancy\n", file_.stream());
        plan_ = &plan;
    }

    std::unique_ptr<ReplicateTask> before(long r, Context &) override {
        return std::make_unique<Row>(r, plan_->data_file(r), area_coded_);
    }

    void commit(long, std::string chunk) override { std::fputs(chunk.c_str(), file_.stream()); }

    void end(const BatchReport &) override {
        if (!file_.open()) return;
        try {
            file_.commit();
        } catch (const FileError &e) {
            error_ = e.what();
        }
    }
    // Why the manifest could not be written ("" when it was).
    const std::string &error() const { return error_; }

  private:
    struct Row final : ReplicateTask {
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

    const Context &ctx_;
    bool area_coded_;
    const BatchPlan *plan_ = nullptr;
    OutputFile file_;
    std::string name_, error_;
};

// "12/250 replicates, 41.3/s, 6 s left" on a terminal, redrawn in place.
class Progress {
  public:
    Progress(std::FILE *err, long total) : err_(err), total_(total), on_(isatty(fileno(err)) != 0) {}
    void update(long done, Clock::time_point start) {
        if (!on_) return;
        auto now = Clock::now();
        if (done < total_ && now - shown_ < std::chrono::milliseconds(200)) return;
        shown_ = now;
        double secs = std::chrono::duration<double>(now - start).count();
        double rate = secs > 0 ? static_cast<double>(done) / secs : 0;
        double left = rate > 0 ? static_cast<double>(total_ - done) / rate : 0;
        std::fprintf(err_, "\roccusim8: %ld/%ld replicates, %.1f/s, %.0f s left   ", done, total_, rate, left);
        std::fflush(err_);
        drawn_ = true;
    }
    void clear() {
        if (!drawn_) return;
        std::fprintf(err_, "\r%*s\r", 70, "");
        std::fflush(err_);
    }

  private:
    std::FILE *err_;
    long total_;
    bool on_;
    bool drawn_ = false;
    Clock::time_point shown_{};
};

// Whether an expected-value run goes to a single-species recursion with more
// than 16 surveys (a multi-method design counting METH surveys per visit),
// which hands it over to site-by-site simulation. Families in dispatch order.
bool handed_over(const Context &ctx) {
    if (ctx.HET > 0) return false;
    if (ctx.FALSEPOS > 0) return ctx.nper > 16;
    if (ctx.TWOSP > 0 || ctx.SPADEP != 0) return false;
    if (ctx.METH > 1) return static_cast<long>(ctx.nper) * ctx.METH > 16;
    return ctx.nper > 16;
}

} // namespace

bool draws_random_numbers(const Context &ctx) {
    // The families ahead of the abundance model in the dispatch order follow
    // determ; the abundance model simulates unless it takes its expected form
    // (two surveys and no seed).
    if (ctx.MSCD > 0 || ctx.STAG > 0 || ctx.INTEGRATED || ctx.MULTISTATE > 0 || ctx.MS2 > 0)
        return ctx.determ == 0;
    if (ctx.ROYLE > 0) return !(ctx.seed_value < 0 && ctx.nper == 2);
    return ctx.determ == 0 || handed_over(ctx);
}

void check_batch(Context &ctx, const Args &args) {
    if (ctx.replicate > 0) {
        ctx.outfile = ctx.replicate_outfile;
        return;
    }
    check_option_values(ctx, args);
    if (ctx.REPS > 0 || ctx.RNG == "philox") ctx.rng.UsePhilox(1);
}

std::string BatchPlan::file_name(long r) const {
    char num[32];
    std::snprintf(num, sizeof num, "_%0*ld", digits_of(n), r);
    return stem + num + ext;
}

std::string BatchPlan::manifest_name() const {
    if (shard_k == 0) return stem + "_replicates.csv";
    char part[64];
    std::snprintf(part, sizeof part, "_replicates_%ldof%ld.csv", shard_i, shard_k);
    return stem + part;
}

std::string BatchPlan::batch_file(const std::string &suffix) const {
    if (shard_k == 0) return stem + suffix;
    char part[64];
    std::snprintf(part, sizeof part, "_%ldof%ld", shard_i, shard_k);
    return stem + part + suffix;
}

BatchPlan plan_batch(const Context &ctx, long seed) {
    BatchPlan p;
    p.n = ctx.REPS;
    p.shard_i = ctx.shard_k > 0 ? ctx.shard_i : 0;
    p.shard_k = ctx.shard_k > 0 ? ctx.shard_k : 0;
    p.first = p.shard_k > 0 ? block_start(p.shard_i, p.n, p.shard_k) : 1;
    p.last = p.shard_k > 0 ? block_end(p.shard_i, p.n, p.shard_k) : p.n;
    p.seed = seed;
    long threads = ctx.THREADS > 0 ? ctx.THREADS : static_cast<long>(std::thread::hardware_concurrency());
    p.threads = static_cast<int>(std::clamp(threads, 1L, std::max(1L, p.count())));
    std::size_t slash = ctx.outfile.rfind('/');
    p.dir = slash == std::string::npos ? "" : ctx.outfile.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? ctx.outfile : ctx.outfile.substr(slash + 1);
    std::size_t dot = base.rfind('.');
    if (dot == std::string::npos || dot == 0) dot = base.size();
    p.stem = base.substr(0, dot);
    p.ext = base.substr(dot);
    p.csv = ctx.FORMAT == "csv";
    return p;
}

// ---- the runner ----

struct Batch::Done {
    long r = 0;
    bool ok = false;
    std::string error;
    std::string history;            // its history file, in its worker's scratch directory
    std::vector<std::string> chunks; // one per hook
};

Batch::Batch(Context &ctx, const Args &args, const BatchPlan &plan) : ctx_(ctx), args_(args), plan_(plan) {}

// Runs replicate r in the worker's scratch directory. Files a run writes
// under fixed names stay there for the worker's next replicate, which
// rewrites them (creating them anew for every replicate costs more than the
// replicate itself); the error file is removed first, so that only this
// replicate's can explain its failure.
Batch::Done Batch::run_one(long r, const std::string &scratch) {
    Done d;
    d.r = r;
    if (ctx_.stop_requested()) {
        d.error = "interrupted";
        return d;
    }
    std::remove((scratch + "/occusim.err").c_str());
    std::FILE *null_out = std::fopen("/dev/null", "w");
    std::FILE *null_in = std::fopen("/dev/null", "r");
    char *err_text = nullptr;
    std::size_t err_len = 0;
    std::FILE *err = open_memstream(&err_text, &err_len);
    if (!null_out || !null_in || !err) {
        d.error = std::string("cannot open its console streams: ") + std::strerror(errno);
    } else {
        Context rc;
        rc.out = null_out;
        rc.err = err;
        rc.in = null_in;
        rc.workdir = scratch;
        rc.replicate = r;
        rc.advise = false; // the batch's own reading of the command line gave the warnings
        rc.replicate_outfile = plan_.file_name(r);
        rc.rng.UsePhilox(static_cast<std::uint32_t>(r));
        rc.rng.PlantSeeds(plan_.seed);
        std::vector<std::unique_ptr<ReplicateTask>> tasks;
        try {
            for (BatchHook *h : hooks_) tasks.push_back(h->before(r, rc));
            int status = execute(rc, args_);
            std::fflush(err);
            const std::string history = scratch + "/" + rc.replicate_outfile;
            if (status == 0) d.history = history;
            if (status != 0) {
                std::string msg = last_line(std::string(err_text, err_len));
                for (const char *lead : {"occusim8: error: ", "occusim8: "})
                    if (msg.rfind(lead, 0) == 0) {
                        msg.erase(0, std::char_traits<char>::length(lead));
                        break;
                    }
                if (msg.empty()) msg = last_line(read_text(scratch + "/occusim.err"));
                if (msg.empty()) msg = "exit status " + std::to_string(status);
                d.error = msg;
            } else if (std::error_code ec; !std::filesystem::exists(history, ec)) {
                d.error = "it wrote no history file";
            } else {
                for (auto &t : tasks) d.chunks.push_back(t ? t->after(rc, history) : std::string());
                d.ok = true;
            }
        } catch (const InputError &e) {
            d.error = e.what();
        } catch (const std::bad_alloc &) {
            d.error = "out of memory";
        } catch (const std::exception &e) {
            d.error = e.what();
        } catch (...) {
            d.error = "unexpected error";
        }
        rc.sink = nullptr;
    }
    if (null_out) std::fclose(null_out);
    if (null_in) std::fclose(null_in);
    if (err) std::fclose(err);
    std::free(err_text);
    return d;
}

void Batch::discard(Done &d) {
    if (d.history.empty()) return;
    std::remove(d.history.c_str());
    d.history.clear();
}

// Gives the replicate's history file its final name and hands its chunks to
// the hooks; false when the file cannot be moved.
bool Batch::commit(Done &d) {
    if (publish_) {
        const std::string to = ctx_.path(plan_.dir + plan_.file_name(d.r));
        if (std::rename(d.history.c_str(), to.c_str()) != 0) {
            d.error = "cannot move its history file to " + to + ": " + std::strerror(errno);
            discard(d);
            return false;
        }
        d.history.clear();
    }
    discard(d);
    try {
        for (std::size_t h = 0; h < hooks_.size(); h++) hooks_[h]->commit(d.r, std::move(d.chunks[h]));
    } catch (const std::exception &e) {
        d.error = e.what();
        return false;
    }
    return true;
}

BatchReport Batch::run() {
    const auto start = Clock::now();
    BatchReport rep;
    rep.plan = &plan_;
    rep.batch = &ctx_;
    rep.args = &args_;
    // One scratch directory per worker, beside the output so that a history
    // file reaches its final name by rename.
    std::vector<std::string> scratch;
    struct Cleanup {
        std::vector<std::string> &dirs;
        ~Cleanup() {
            std::error_code ec;
            for (const auto &d : dirs) std::filesystem::remove_all(d, ec);
        }
    } cleanup{scratch};
    for (int t = 0; t < plan_.threads; t++) {
        std::string tmpl = ctx_.path(plan_.dir + ".occusim-" + plan_.stem + "-XXXXXX");
        if (!mkdtemp(tmpl.data()))
            input_error("cannot create a scratch directory beside %s: %s",
                        ctx_.path(plan_.dir + plan_.file_name(plan_.first)).c_str(), std::strerror(errno));
        scratch.push_back(tmpl);
    }
    for (BatchHook *h : hooks_) h->begin(plan_);
    Progress progress(ctx_.err, plan_.count());

    auto fail = [&](Done &d) {
        rep.failed = d.r;
        rep.error = d.error;
    };

    if (plan_.threads <= 1) {
        for (long r = plan_.first; r <= plan_.last; r++) {
            Done d = run_one(r, scratch[0]);
            if (!d.ok || !commit(d)) {
                discard(d);
                fail(d);
                break;
            }
            rep.completed++;
            progress.update(rep.completed, start);
        }
    } else {
        // Workers take replicates in increasing order, at most `window`
        // ahead of the next one to commit; the calling thread commits them
        // in order. A failure stops the hand-out: every replicate before it
        // has been handed out already, so the committed set does not depend
        // on the thread count.
        const long window = 2L * plan_.threads;
        std::mutex m;
        std::condition_variable work_cv, done_cv;
        std::map<long, Done> finished;
        long next = plan_.first;
        long committed_to = plan_.first; // next replicate to commit
        bool stop = false;
        auto worker = [&](const std::string &dir) {
            for (;;) {
                long r;
                {
                    std::unique_lock lk(m);
                    work_cv.wait(lk, [&] { return stop || next > plan_.last || next < committed_to + window; });
                    if (stop || next > plan_.last) return;
                    r = next++;
                }
                Done d = run_one(r, dir);
                std::lock_guard lk(m);
                if (!d.ok) stop = true;
                finished.emplace(r, std::move(d));
                done_cv.notify_one();
            }
        };
        std::vector<std::thread> pool;
        for (int t = 0; t < plan_.threads; t++) pool.emplace_back(worker, scratch[t]);
        for (long r = plan_.first; r <= plan_.last; r++) {
            Done d;
            {
                std::unique_lock lk(m);
                while (!finished.count(r)) {
                    done_cv.wait_for(lk, std::chrono::milliseconds(200));
                    if (!finished.count(r)) {
                        lk.unlock();
                        progress.update(rep.completed, start);
                        lk.lock();
                    }
                }
                d = std::move(finished.at(r));
                finished.erase(r);
            }
            bool ok = d.ok && commit(d);
            {
                std::lock_guard lk(m);
                committed_to = r + 1;
                if (!ok) stop = true;
            }
            work_cv.notify_all();
            if (!ok) {
                discard(d);
                fail(d);
                break;
            }
            rep.completed++;
            progress.update(rep.completed, start);
        }
        {
            std::lock_guard lk(m);
            stop = true;
        }
        work_cv.notify_all();
        for (auto &t : pool) t.join();
        for (auto &[r, d] : finished) discard(d);
    }
    progress.clear();
    rep.elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    for (BatchHook *h : hooks_) h->end(rep);
    return rep;
}

int run_batch(Context &ctx, const Args &args) {
    // The parse pass planted the seed of a random run (printing it when it
    // came from the clock); a model that is random by nature plants it here.
    if (ctx.determ != 0) ctx.rng.PlantSeeds(ctx.seed_value);
    const BatchPlan plan = plan_batch(ctx, ctx.rng.planted_seed());
    std::fflush(ctx.out);

    Batch batch(ctx, args, plan);
    // The batch CSV commits ahead of the manifest: a row it cannot write fails
    // its replicate before the manifest lists it.
    BatchCsv csv(ctx);
    if (plan.csv) {
        batch.add(csv);
        batch.publish_history_files(false);
    }
    Manifest manifest(ctx, ctx.INTEGRATED != 0);
    batch.add(manifest);
    // Further outputs of a batch are added here as hooks.
    std::optional<FitHook> fits;
    if (ctx.FIT) batch.add(fits.emplace(ctx, args));
    BatchMetadata metadata(ctx, args, plan.csv ? &csv : nullptr);
    batch.add(metadata); // last: it lists what the others wrote
    const BatchReport rep = batch.run();

    const std::string data = plan.csv ? plan.batch_file(".csv")
                                      : plan.file_name(plan.first) + " to " + plan.file_name(plan.last);
    if (rep.failed > 0) {
        const std::string where = csv.written() ? " to " + data : "";
        if (rep.completed > 0)
            input_error("replicate %ld failed: %s (replicates %ld to %ld were written%s)", rep.failed,
                        rep.error.c_str(), plan.first, plan.first + rep.completed - 1, where.c_str());
        input_error("replicate %ld failed: %s", rep.failed, rep.error.c_str());
    }
    const std::string none;
    for (const std::string *error : {&manifest.error(), &csv.error(), fits ? &fits->error() : &none,
                                     &metadata.error()})
        if (!error->empty()) throw FileError(*error);
    std::fprintf(ctx.err, "occusim8: %ld replicate%s written (%s, manifest %s), seed %ld, %d thread%s, %.2f s\n",
                 rep.completed, rep.completed == 1 ? "" : "s", data.c_str(), plan.manifest_name().c_str(),
                 plan.seed, plan.threads, plan.threads == 1 ? "" : "s", rep.elapsed);
    return 0;
}

} // namespace occusim
