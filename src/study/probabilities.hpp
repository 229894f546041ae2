// History probabilities of a model: for given parameter values, the exact
// probability of every detection history, taken from the model's own
// expected-value computation (the expected number of sites with the history
// over the number of sites, before any rounding to text). One context is
// prepared once and reused for every evaluation; nothing is echoed and no
// file is touched.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "study/parameters.hpp"

namespace occusim {

// The model families the probabilities can be computed for, and the rest.
enum class Family { Occupancy, Mixture, MultiMethod, Abundance, TwoSpecies, Multistate, Other };

// The family that takes a run of this prepared context (the dispatch order).
Family family_of(const Context &ctx);
// The family's name as messages show it.
const char *family_name(const Context &ctx);

// Why the design evaluation cannot take this prepared run ("" when it can).
std::string design_refusal(const Context &ctx);
// Why replicates of this prepared run cannot be fitted ("" when they can).
std::string fit_refusal(const Context &ctx);

// The history text as matching uses it: the survey fields as the writers
// pass them to a HistorySink, without trailing separators.
std::string_view history_key(std::string_view fields);

class HistoryProbabilities {
  public:
    // Prepares the run of `args` in expected-value mode. `params` are the
    // study parameters of the same command line.
    HistoryProbabilities(const Preparer &prepare, const Args &args, std::vector<Parameter> params);
    ~HistoryProbabilities();
    HistoryProbabilities(const HistoryProbabilities &) = delete;
    HistoryProbabilities &operator=(const HistoryProbabilities &) = delete;

    // Probabilities of the histories for parameter values `values` (one per
    // parameter, natural scale; fixed ones are written as given). probs[i]
    // belongs to history(i); histories first met in this evaluation are
    // appended. Returns false when the model refuses the values (the run
    // ended with an error), probs then undefined.
    bool evaluate(const double *values, std::vector<double> &probs);

    const std::vector<Parameter> &parameters() const { return params_; }
    std::size_t histories() const { return keys_.size(); }
    const std::string &history(std::size_t i) const { return keys_[i]; }
    // Index of a history given as sink fields, -1 when the model never gave it.
    int find(std::string_view fields) const;
    // Number of sites of the run.
    double sites() const { return sites_; }
    Family family() const { return family_; }
    // Evaluations made so far.
    long evaluations() const { return evaluations_; }

  private:
    struct Sink;
    int slot_of_key(std::string_view key);
    int slot_of_code(std::int64_t code);
    void run_model();
    void fresh_table(std::int64_t entries);
    void collect_table(std::vector<double> &probs);

    std::vector<Parameter> params_;
    std::unique_ptr<QuietContext> quiet_;
    std::unique_ptr<ContextSlots> slots_;
    std::unique_ptr<Sink> sink_;
    Family family_ = Family::Other;
    double sites_ = 0;
    double cohort_ = 0; // sites the model is run with
    long evaluations_ = 0;
    std::vector<std::string> keys_;
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, int, KeyHash, std::equal_to<>> key_slot_;
    std::unordered_map<std::int64_t, int> code_slot_;
    std::vector<std::pair<std::int64_t, int>> recent_codes_; // code and slot met in table order
    std::vector<double> *out_ = nullptr;
};

} // namespace occusim
