// The parameters of a study: the probabilities and rates of the model that the
// command line gives. An option given as one value (replicated over the
// surveys) is one parameter shared by every survey, named as the option
// ("p"); a list gives one parameter per listed value, named by its position
// from 1 ("p[2]", "gam[3]"). Values of exactly 0 or 1 are structural (a
// season boundary, a certain detection) and stay fixed.
//
// A parameter writes its value into a run context exactly where its option
// puts it (list offsets, replication over surveys, options that fill several
// vectors): the places are found once by reading the command line with that
// value replaced by a marker and noting every model quantity that took it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/context.hpp"

namespace occusim {

// Reads a command line into a fresh context up to (not including) the model
// run: the defaults, the options, the season layout. The run driver provides
// it; study code never parses options itself.
using Preparer = std::function<void(Context &, const Args &)>;

// Estimation scale: probabilities on the logit scale, rates (abundance,
// dispersion, interaction factors) on the log scale; the coefficients of a
// logistic regression (intercept and slopes) are estimated as they are.
enum class Scale { Logit, Log, Linear };

struct Parameter {
    std::string name;    // "p", "p[2]"
    double value = 0;    // the value given on the command line
    Scale scale = Scale::Logit;
    bool fixed = false;  // structural value, not estimated
    std::vector<int> slots; // places in ContextSlots::reals it writes

    // The estimation scale and back.
    double to_free(double v) const;
    double from_free(double eta) const;
    // d value / d eta at eta.
    double derivative(double eta) const;
};

// Every model quantity that an option can set, in a fixed order: the scalar
// parameters and the first `prefix` entries of each parameter and design
// vector, with the integer design quantities. Saving them after the command
// line is read and restoring them before each evaluation undoes whatever a
// model changed in the context during a run (layouts, flipped vectors).
class ContextSlots {
  public:
    ContextSlots(Context &ctx, int prefix);
    void save();
    void restore();
    std::size_t size() const { return reals_.size(); }
    double &real(int i) { return *reals_[static_cast<std::size_t>(i)]; }
    double saved(int i) const { return saved_reals_[static_cast<std::size_t>(i)]; }

  private:
    std::vector<double *> reals_;
    std::vector<int *> ints_;
    std::vector<double> saved_reals_;
    std::vector<int> saved_ints_;
};

// Vector entries a model of this prepared context can reach.
int slot_prefix(const Context &ctx);

// A context prepared for internal evaluations: console to null streams,
// files in memory.
struct QuietContext {
    MemoryFiles files;
    Context ctx;
    QuietContext();
    ~QuietContext();
    QuietContext(const QuietContext &) = delete;
    QuietContext &operator=(const QuietContext &) = delete;
};

// The parameters the command line gives, in command-line order.
std::vector<Parameter> study_parameters(const Preparer &prepare, const Args &args);

// Values of the parameters as given.
std::vector<double> given_values(const std::vector<Parameter> &params);

} // namespace occusim
