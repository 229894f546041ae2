// The run context: every parameter, switch, design vector, the generator, the
// count table and the open streams of one run travel together in this object.
// Names follow the model notation of the simulator (nper, ns, gam, eps, pa, ...).
#pragma once

#include <array>
#include <atomic>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/arguments.hpp"
#include "core/count_table.hpp"
#include "core/output_file.hpp"
#include "core/rngs.hpp"

namespace occusim {

// Sizes of the parameter vectors as the option table sees them (lists longer
// than these are refused). The storage behind each vector is larger
// (kStorage), zero beyond the nominal size, so that models reading survey
// positions past 1000 in long site-by-site runs never leave the vector.
inline constexpr int kVecLen = 1000;
inline constexpr int kPaLen = 3200;
inline constexpr int kBlockVecLen = 4000; // gamB, epsB: four blocks of 1000
inline constexpr int kStorage = 4096;
inline constexpr int kBlockStorage = 8192;
inline constexpr int kMaxStates = 6;
inline constexpr int kArgBufLen = 512;  // argument work buffer (511 characters + NUL)
inline constexpr int kOutfileLen = 256; // outfile buffer (255 characters + NUL)

using Vec = std::vector<double>;
using IVec = std::vector<int>;

// Receives every history that the run's history file gets, in file order, with
// its exact count: the expected number of sites before any rounding to text,
// or the number of times a stochastic run lists it. `fields` is the survey
// part of the line as the file shows it (symbols with the file's separators,
// no count, no newline). CSV output, design evaluation and model fitting read
// the data through this instead of parsing the file back.
//
// A writer first tells the shape of what follows (begin). Site-level writers
// (one line per site, `count` = the lines listed) pass per_site; writers that
// know a site's covariate values pass them (site) just before its history, and
// the `count` lines of that history are then copies of that one site.
struct HistoryShape {
    bool per_site = false; // lines listed site by site, not one line per history with its frequency
    int surveys = 0;       // symbols per history
    int site_covs = 0;     // values per site passed to site(): site covariates
    int survey_covs = 0;   // detection covariates: survey_covs * surveys values per site
};

struct HistorySink {
    virtual ~HistorySink() = default;
    virtual void begin(const HistoryShape &) {}
    // Site covariates, then detection covariates covariate by covariate, survey by survey.
    virtual void site(std::span<const double> covs, std::span<const double> pcovs) {
        (void)covs;
        (void)pcovs;
    }
    virtual void history(std::string_view fields, double count) = 0;
};

// Hands every history on to several sinks, in the order they were added
// (a batch that writes CSV and fits each replicate needs both to see it).
class HistoryTee final : public HistorySink {
  public:
    void add(HistorySink *s) { sinks_.push_back(s); }
    void begin(const HistoryShape &shape) override {
        for (HistorySink *s : sinks_) s->begin(shape);
    }
    void site(std::span<const double> covs, std::span<const double> pcovs) override {
        for (HistorySink *s : sinks_) s->site(covs, pcovs);
    }
    void history(std::string_view fields, double count) override {
        for (HistorySink *s : sinks_) s->history(fields, count);
    }

  private:
    std::vector<HistorySink *> sinks_;
};

// Files kept in memory instead of on disk: a run whose context points at one
// of these creates, writes and reads back its files (the temporary history
// file, the history file, the error file) here, so that repeated internal
// evaluations of a model leave the working directory alone.
struct MemoryFiles {
    std::map<std::string, std::string> files;
};

// A square of kMaxStates x kMaxStates survey vectors (the multistate
// transition and detection tables psiMS and pMS). A run uses a few of the
// 36 tables or none, so each comes into being, kStorage zeros, the first time
// it is reached through a non-const context; until then a const context reads
// it as zeros. Indexing works as on the plain array: t[i][j] is the table,
// t[i][j][k] its survey k.
class StateTables {
  public:
    using Array = std::array<std::array<Vec, kMaxStates>, kMaxStates>;

    class Row {
      public:
        Row(StateTables &t, std::size_t i) : t_(t), i_(i) {}
        Vec &operator[](std::size_t j) const { return t_.at(i_, j); }

      private:
        StateTables &t_;
        std::size_t i_;
    };
    class ConstRow {
      public:
        ConstRow(const StateTables &t, std::size_t i) : t_(t), i_(i) {}
        const Vec &operator[](std::size_t j) const { return t_.at(i_, j); }

      private:
        const StateTables &t_;
        std::size_t i_;
    };

    Row operator[](std::size_t i) { return Row(*this, i); }
    ConstRow operator[](std::size_t i) const { return ConstRow(*this, i); }

    Vec &at(std::size_t i, std::size_t j) {
        Vec &v = t_[i][j];
        if (v.empty()) v.assign(kStorage, 0.0);
        return v;
    }
    const Vec &at(std::size_t i, std::size_t j) const {
        const Vec &v = t_[i][j];
        return v.empty() ? zeros() : v;
    }
    // Whether table (i, j) has been reached for writing.
    bool allocated(std::size_t i, std::size_t j) const { return !t_[i][j].empty(); }
    // The whole square, every table in being (for code that takes the array).
    operator Array &() {
        for (std::size_t i = 0; i < std::size_t{kMaxStates}; i++)
            for (std::size_t j = 0; j < std::size_t{kMaxStates}; j++) at(i, j);
        return t_;
    }

  private:
    static const Vec &zeros();
    Array t_;
};

// A stream that accepts everything written to it and keeps none of it.
std::FILE *open_null_stream();

struct Context {
    Context();
    ~Context();
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;

    // ---- console and working directory ----
    std::FILE *out = stdout; // running commentary
    std::FILE *err = stderr; // usage text, seed line, warnings
    std::FILE *in = stdin;   // seed prompt only
    std::string workdir;     // prefix for relative file names ("" = current directory)
    MemoryFiles *memory = nullptr; // when set, open() works on these instead of disk (not owned)
    // Whether reading the command line looks for doubtful arguments; off for
    // the silent re-reads of a command line that was checked once already.
    bool advise = true;
    // Set by a host program (another thread, e.g. on the user's interrupt) to
    // ask a long run to stop: a replicate batch hands out no further
    // replicate and ends as a failed batch would ("interrupted"). Not owned.
    const std::atomic<bool> *stop = nullptr;
    bool stop_requested() const { return stop && stop->load(std::memory_order_relaxed); }

    // Opens a file named relative to the working directory of the run. A file
    // opened for writing is an OutputFile: it takes its name at close(), and
    // one that cannot be created is reported on the error stream (nullptr).
    std::FILE *open(const std::string &name, const char *mode);
    // Opens a file for writing as open() does; one that cannot be created
    // throws FileError instead.
    std::FILE *create(const std::string &name);
    // Writes a whole file of the given text (FileError when it cannot).
    void write_file(const std::string &name, std::string_view text);
    std::string path(const std::string &name) const;
    // Closes a stream of open(); a written file is checked and committed
    // (FileError when any of it failed).
    void close(std::FILE *&f);
    // Writes one line into a freshly created "occusim.err".
    void write_error_file(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
    // Closes fp, fp2 and fp3 as close() does.
    void close_streams();
    // Closes every stream of a failed run; files being written are removed.
    void discard_streams() noexcept;

    // ---- output streams of the run ----
    std::FILE *fp = nullptr;  // second stream, always on "occusim.pao"
    std::FILE *fp2 = nullptr; // history file (outfile) or temporary history file
    std::FILE *fp3 = nullptr; // error file
    std::string outfile = "occusim.pao";
    bool history_opened = false;  // outfile was opened for writing by this run
    bool history_written = false; // set once a history file has been completed

    // Files opened for writing and not yet closed.
    std::vector<std::unique_ptr<OutputFile>> writing;

    // ---- run scalars ----
    int determ = 1;
    int nseasns = 1;
    int nper = 0;
    int num_srvys = 0;
    double ns = 0;
    double psi = 0;
    double npresnt = 0;
    int ncovs = 0;
    int new_pao_opt = 0;
    int nout = 0;
    int iseasn = 0; // season index left by the season layout

    // ---- switches ----
    int MSCD = 0, NEGBIN = 0, NICHOLS = 0, ROYLE = 0, SPADEP = 0, P0MISS = 0, MS2 = 0, STAG = 0, HET = 0,
        REMOVAL = 0, FALSEPOS = 0, METH = 0, MULTISTATE = 0, QUIET = 0, LIST = 0, TWOSP = 0;
    int SIMTYPE = 1;
    int NOBS = 1;
    int NSTATES = 3;
    int INTEGRATED = 0; // integrated-model switch
    double phi = -1;
    long seed_value = -1;

    // ---- two-species scalars ----
    double psiA = 0, psiBA = 0, psiBa = 0;

    // ---- fixed-size parameter vectors ----
    Vec gam, eps, b, p10, pi, th0pi, epsAb, epsAB, gamAb, gamAB;
    Vec gamB, epsB; // four blocks of 1000
    Vec pa;         // detection per survey (3200 after a multi-method expansion)

    // ---- design vectors ----
    IVec SRVYPERSEASN, Season, newSeason, newSurvey, Survey;

    // ---- heap-held vectors of the model families ----
    std::array<Vec, 2> theta, thA, gameps;
    std::array<std::array<Vec, 2>, 2> thB;
    StateTables psiMS, pMS;
    Vec pA, pB, rA, rBA, rBa, rB, dlta, psiB;
    // eta[i][j] shares its storage with psiMS[i][j].
    Vec &eta(int i, int j) { return psiMS[i][j]; }

    // ---- site covariates ----
    Vec coef;                       // intercept then one slope per covariate
    std::vector<double> coef_given; // values listed by the coef option, in order
    bool coef_seen = false;
    bool ncovs_seen = false;
    std::vector<Vec> cov; // covariate values by covariate, then site

    // ---- simulation-study settings (all off unless their option is given) ----
    bool STRICT = false;      // any diagnostic ends the run before a file is written
    long REPS = 0;            // replicate data sets of a batch (0: a single run)
    int THREADS = 0;          // worker threads of a batch (0: every core)
    long shard_i = 0;         // SHARD=i/k: this block i of k (0: no sharding)
    long shard_k = 0;
    std::string RNG;          // generator: "" (the specified one) or "philox"
    std::string FORMAT = "pao"; // data layout: "pao" or "csv"
    int NPCOVS = 0;           // detection covariates per site-survey
    std::vector<double> pcoef; // their logistic coefficients
    bool DESIGN = false;      // report the design's asymptotic precision
    bool FIT = false;         // fit every replicate of a batch
    std::vector<std::pair<std::string, double>> NULLS; // null values of the Wald tests, by parameter name
    double ALPHA = 0.05;      // level of the Wald tests
    std::string FITMODEL;     // "" (the generating model) or "standard"
    std::string FITP;         // detection of FITMODEL=standard: "" (shared) or "survey"
    // GRID=NAME:v1,v2,...: the study runs at every combination of the values
    // of up to three options (values as given, in command-line order).
    struct GridAxis {
        std::string name;
        std::vector<std::string> values;
    };
    std::vector<GridAxis> GRID;
    // Cost-optimal designs: the parameter whose precision or power the search
    // serves ("" : no search), a budget or a target (NaN: not given), the costs
    // of a site, of its first visit and of each further visit (empty: 0,1,1),
    // the most visits per season (0: 16) and the replicates of the check by
    // simulation (0: none).
    std::string OPTIMIZE;
    double BUDGET = std::numeric_limits<double>::quiet_NaN();
    double TARGET = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> COST;
    int KMAX = 0;
    long VERIFY = 0;
    HistorySink *sink = nullptr; // sees every history written (not owned)
    // Adds a sink beside any already attached (through a tee the context owns).
    void attach_sink(HistorySink *s) {
        if (!sink) {
            sink = s;
            return;
        }
        if (sink != tee.get()) {
            tee = std::make_unique<HistoryTee>();
            tee->add(sink);
            sink = tee.get();
        }
        tee->add(s);
    }
    std::unique_ptr<HistoryTee> tee;
    // How expected values are computed: path by path (every sequence of
    // hidden states a call of its own, adding the counts in the order the
    // model was first written in), or by the forward pass over history
    // prefixes (same terms, other order of addition, far less work). Cheapest
    // takes the walk where its calls stay within kWalkCallBudget and the pass
    // above; the tests force either way, and the model evaluations of fits
    // and design reports take the pass.
    enum class ExpectedBy { Cheapest, Walk, Pass };
    ExpectedBy expected_by = ExpectedBy::Cheapest;
    // Set by a batch on the context of each replicate it runs: the replicate
    // number (0: not a replicate) and its history file name in its scratch
    // directory. Such a run neither seeds its generator nor starts a batch.
    long replicate = 0;
    std::string replicate_outfile;

    // ---- random numbers and count table ----
    Rngs rng;
    CountTable nx;
    int ilmt = 0;

    // An expected-value run that a model simulates instead (the abundance
    // model beyond its expected form, a design too long for the expected
    // recursion) draws from the seed given, as a stochastic run does: under
    // Philox that makes it replicate 1 of the seed. Without a seed the
    // generator keeps its default state, and a warning says so. `by_site`:
    // the simulation goes site by site, as SIMTYPE=2 would.
    void simulate_instead(bool by_site);
    bool simulated_instead = false;
    bool by_site_instead = false;

    // Expected-value mode asks binoml for n*p; stochastic mode draws.
    double binoml(double n, double p);
    double Random() { return rng.Random(); }

    // Sets the vector defaults of a run that has enough arguments.
    void set_vector_defaults();
};

} // namespace occusim
