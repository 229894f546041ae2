#include "batch/replicates.hpp"

#include <fcntl.h>
#include <sys/stat.h>
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
#include <functional>
#include <mutex>
#include <thread>

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

// A text file ("" when it cannot be read).
std::string read_text(const std::string &path) {
    std::string text;
    if (std::FILE *f = std::fopen(path.c_str(), "r")) {
        char buf[4096];
        std::size_t got;
        while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, got);
        std::fclose(f);
    }
    return text;
}

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
    std::string history;             // the text of its history file
    std::vector<std::string> chunks; // one per hook
};

// What a worker keeps from one replicate to the next: its console streams,
// and either the files of its replicates in memory or its scratch directory.
struct Batch::Worker {
    std::string scratch; // "" when the replicates keep their files in memory
    MemoryFiles files;
    std::FILE *null_out = nullptr;
    std::FILE *null_in = nullptr;
    Worker() : null_out(open_null_stream()), null_in(std::fopen("/dev/null", "r")) {}
    ~Worker() {
        if (null_out) std::fclose(null_out);
        if (null_in) std::fclose(null_in);
    }
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;
    // A file the last replicate wrote ("" when it wrote none).
    std::string file(const std::string &name) const {
        if (scratch.empty()) {
            auto it = files.files.find(name);
            return it == files.files.end() ? std::string() : it->second;
        }
        return read_text(scratch + "/" + name);
    }
    bool has(const std::string &name) const {
        if (scratch.empty()) return files.files.count(name) > 0;
        std::error_code ec;
        return std::filesystem::exists(scratch + "/" + name, ec);
    }
};

Batch::Batch(Context &ctx, const Args &args, const BatchPlan &plan, const Program &program)
    : ctx_(ctx), args_(args), plan_(plan), program_(program) {}

// Runs replicate r on its worker. Files a run writes under fixed names stay
// (in memory or in the scratch directory) for the worker's next replicate,
// which rewrites them; the error file is removed first, so that only this
// replicate's can explain its failure.
Batch::Done Batch::run_one(long r, Worker &w) {
    Done d;
    d.r = r;
    if (ctx_.stop_requested()) {
        d.error = "interrupted";
        return d;
    }
    if (w.scratch.empty())
        w.files.files.erase("occusim.err");
    else
        std::remove((w.scratch + "/occusim.err").c_str());
    char *err_text = nullptr;
    std::size_t err_len = 0;
    std::FILE *err = open_memstream(&err_text, &err_len);
    if (!w.null_out || !w.null_in || !err) {
        d.error = std::string("cannot open its console streams: ") + std::strerror(errno);
    } else {
        Context rc;
        rc.out = w.null_out;
        rc.err = err;
        rc.in = w.null_in;
        if (w.scratch.empty()) {
            rc.workdir = ctx_.workdir;
            rc.memory = &w.files;
        } else {
            rc.workdir = w.scratch;
        }
        rc.replicate = r;
        rc.advise = false; // the batch's own reading of the command line gave the warnings
        rc.replicate_outfile = plan_.file_name(r);
        rc.rng.UsePhilox(static_cast<std::uint32_t>(r));
        rc.rng.PlantSeeds(plan_.seed);
        std::vector<std::unique_ptr<ReplicateTask>> tasks;
        try {
            for (BatchHook *h : hooks_) tasks.push_back(h->before(r, rc));
            int status = program_.execute(rc, args_);
            std::fflush(err);
            if (status != 0) {
                std::string msg = last_line(std::string(err_text, err_len));
                for (const char *lead : {"occusim8: error: ", "occusim8: "})
                    if (msg.rfind(lead, 0) == 0) {
                        msg.erase(0, std::char_traits<char>::length(lead));
                        break;
                    }
                if (msg.empty()) msg = last_line(w.file("occusim.err"));
                if (msg.empty()) msg = "exit status " + std::to_string(status);
                d.error = msg;
            } else if (!w.has(rc.replicate_outfile)) {
                d.error = "it wrote no history file";
            } else {
                d.history = w.file(rc.replicate_outfile);
                for (auto &t : tasks) d.chunks.push_back(t ? t->after(rc, d.history) : std::string());
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
        if (w.scratch.empty())
            w.files.files.erase(rc.replicate_outfile);
        else
            std::remove((w.scratch + "/" + rc.replicate_outfile).c_str());
    }
    if (err) std::fclose(err);
    std::free(err_text);
    return d;
}

// Writes the replicate's history file under its final name and hands its
// chunks to the hooks; false when the file cannot be written.
bool Batch::commit(Done &d) {
    try {
        if (publish_) {
            const std::string name = plan_.dir + plan_.file_name(d.r);
            OutputFile file;
            file.create_or_throw(ctx_.path(name), name);
            std::fwrite(d.history.data(), 1, d.history.size(), file.stream());
            file.commit();
        }
        d.history.clear();
        for (std::size_t h = 0; h < hooks_.size(); h++) hooks_[h]->commit(d.r, std::move(d.chunks[h]));
    } catch (const FileError &e) {
        // The batch's own line says "error:" once.
        d.error = e.what();
        if (d.error.rfind("error: ", 0) == 0) d.error.erase(0, 7);
        return false;
    } catch (const std::exception &e) {
        d.error = e.what();
        return false;
    }
    return true;
}

namespace {

// A batch names its files after outfile and writes them beside it, so an
// outfile that is a device, pipe or directory (/dev/full, /dev/stdout) would
// scatter them into that one's directory: the batch is refused before it
// writes anything, with the system's reason when the outfile refuses writes.
void check_outfile(const Context &ctx) {
    const std::string path = ctx.path(ctx.outfile);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return;
    int e = S_ISDIR(st.st_mode) ? EISDIR : 0;
    if (!e) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            e = errno;
        else if (::write(fd, "", 0) < 0)
            e = errno;
        if (fd >= 0) ::close(fd);
    }
    if (e) throw_file_error("write", ctx.outfile, e);
    throw FileError("error: cannot write '" + ctx.outfile +
                    "': a batch writes its files beside the outfile, and this one is not a regular file");
}

} // namespace

bool uses_temporary_files(const Context &ctx) {
    return ctx.MSCD > 0 || ctx.INTEGRATED || ctx.MULTISTATE > 0 || ctx.MS2 > 0 || ctx.SPADEP != 0;
}

BatchReport Batch::run() {
    const auto start = Clock::now();
    BatchReport rep;
    rep.plan = &plan_;
    rep.batch = &ctx_;
    rep.args = &args_;
    check_outfile(ctx_);
    // Families with temporary files get one scratch directory per worker,
    // beside the output.
    std::vector<std::unique_ptr<Worker>> workers;
    struct Cleanup {
        std::vector<std::unique_ptr<Worker>> &workers;
        ~Cleanup() {
            std::error_code ec;
            for (const auto &w : workers)
                if (!w->scratch.empty()) std::filesystem::remove_all(w->scratch, ec);
        }
    } cleanup{workers};
    const bool scratch = uses_temporary_files(ctx_);
    for (int t = 0; t < plan_.threads; t++) {
        workers.push_back(std::make_unique<Worker>());
        if (!scratch) continue;
        std::string tmpl = ctx_.path(plan_.dir + ".occusim-" + plan_.stem + "-XXXXXX");
        if (!mkdtemp(tmpl.data()))
            input_error("cannot create a scratch directory beside %s: %s",
                        ctx_.path(plan_.dir + plan_.file_name(plan_.first)).c_str(), std::strerror(errno));
        workers.back()->scratch = tmpl;
    }
    for (BatchHook *h : hooks_) h->begin(plan_);
    Progress progress(ctx_.err, plan_.count());

    auto fail = [&](Done &d) {
        rep.failed = d.r;
        rep.error = d.error;
    };

    if (plan_.threads <= 1) {
        for (long r = plan_.first; r <= plan_.last; r++) {
            Done d = run_one(r, *workers[0]);
            if (!d.ok || !commit(d)) {
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
        auto worker = [&](Worker &w) {
            for (;;) {
                long r;
                {
                    std::unique_lock lk(m);
                    work_cv.wait(lk, [&] { return stop || next > plan_.last || next < committed_to + window; });
                    if (stop || next > plan_.last) return;
                    r = next++;
                }
                Done d = run_one(r, w);
                std::lock_guard lk(m);
                if (!d.ok) stop = true;
                finished.emplace(r, std::move(d));
                done_cv.notify_one();
            }
        };
        std::vector<std::thread> pool;
        for (int t = 0; t < plan_.threads; t++) pool.emplace_back(worker, std::ref(*workers[static_cast<std::size_t>(t)]));
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
    }
    progress.clear();
    rep.elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    for (BatchHook *h : hooks_) h->end(rep);
    return rep;
}

} // namespace occusim
