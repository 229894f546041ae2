// Parameters of a study, found on the command line, and the places in a run
// context where each of them lives.
#include "study/parameters.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "core/arguments.hpp"

namespace occusim {

namespace {

// Options whose values are model probabilities or rates. Design options
// (T, N, SRVYPERSEASN, METH, ...) and switches are not parameters.
struct ParameterOption {
    const char *name;
    Scale scale;
};

constexpr ParameterOption kParameterOptions[] = {
    {"psi", Scale::Logit},    {"p", Scale::Logit},      {"r", Scale::Logit},      {"c", Scale::Logit},
    {"gam", Scale::Logit},    {"eps", Scale::Logit},    {"b", Scale::Logit},      {"p10", Scale::Logit},
    {"pi", Scale::Logit},     {"pA", Scale::Logit},     {"pB", Scale::Logit},     {"theta", Scale::Logit},
    {"th0", Scale::Logit},    {"th1", Scale::Logit},    {"th0pi", Scale::Logit},  {"psiA", Scale::Logit},
    {"PsiA", Scale::Logit},   {"psiBA", Scale::Logit},  {"psiBa", Scale::Logit},  {"psiB", Scale::Logit},
    {"rA", Scale::Logit},     {"rBA", Scale::Logit},    {"rBa", Scale::Logit},    {"rB", Scale::Logit},
    {"dlta", Scale::Logit},   {"p1", Scale::Logit},     {"p2", Scale::Logit},     {"p3", Scale::Logit},
    {"Cpsi0", Scale::Logit},  {"Cpsi1", Scale::Logit},  {"Cpsi2", Scale::Logit},  {"psi0", Scale::Logit},
    {"psi1", Scale::Logit},   {"psi2", Scale::Logit},   {"R0", Scale::Logit},     {"cR0", Scale::Logit},
    {"cR1", Scale::Logit},    {"CR1", Scale::Logit},    {"cR2", Scale::Logit},    {"CR2", Scale::Logit},
    {"Lambda", Scale::Log},   {"u", Scale::Log},        {"a", Scale::Log},        {"phi", Scale::Log},
};

const ParameterOption *parameter_option(std::string_view name) {
    for (const auto &o : kParameterOptions)
        if (name == o.name) return &o;
    return nullptr;
}

// A value no command line gives by chance; whatever takes it in a probe run
// belongs to the value it replaced.
constexpr double kMarker = 0.37777777777777771;

bool structural(Scale scale, double v) {
    if (scale == Scale::Linear) return false;
    if (scale == Scale::Logit) return !(v > 0 && v < 1);
    return !(v > 0 && std::isfinite(v));
}

template <typename T> void add_prefix(std::vector<T *> &out, std::vector<T> &v, int prefix) {
    for (int k = 0; k < prefix; k++) out.push_back(&v[static_cast<std::size_t>(k)]);
}

} // namespace

double Parameter::to_free(double v) const {
    if (scale == Scale::Linear) return v;
    return scale == Scale::Logit ? std::log(v / (1 - v)) : std::log(v);
}

double Parameter::from_free(double eta) const {
    if (scale == Scale::Linear) return eta;
    return scale == Scale::Logit ? 1 / (1 + std::exp(-eta)) : std::exp(eta);
}

double Parameter::derivative(double eta) const {
    if (scale == Scale::Linear) return 1;
    double v = from_free(eta);
    return scale == Scale::Logit ? v * (1 - v) : v;
}

ContextSlots::ContextSlots(Context &c, int prefix) {
    for (double *d : {&c.ns, &c.psi, &c.npresnt, &c.psiA, &c.psiBA, &c.psiBa, &c.phi}) reals_.push_back(d);
    for (Vec *v : {&c.gam, &c.eps, &c.b, &c.p10, &c.pi, &c.th0pi, &c.epsAb, &c.epsAB, &c.gamAb, &c.gamAB, &c.pa,
                   &c.pA, &c.pB, &c.rA, &c.rBA, &c.rBa, &c.rB, &c.dlta, &c.psiB})
        add_prefix(reals_, *v, prefix);
    for (int i = 0; i < 2; i++) {
        add_prefix(reals_, c.theta[i], prefix);
        add_prefix(reals_, c.thA[i], prefix);
        add_prefix(reals_, c.gameps[i], prefix);
        for (int j = 0; j < 2; j++) add_prefix(reals_, c.thB[i][j], prefix);
    }
    // Of the multistate tables, those the command line reached: an option
    // can set no other, and the rest stay unmade (a model writes them only
    // with values it derives afresh on every run).
    for (int i = 0; i < kMaxStates; i++)
        for (int j = 0; j < kMaxStates; j++) {
            if (c.psiMS.allocated(i, j)) add_prefix(reals_, c.psiMS[i][j], prefix);
            if (c.pMS.allocated(i, j)) add_prefix(reals_, c.pMS[i][j], prefix);
        }
    for (int *n : {&c.determ, &c.nseasns, &c.nper, &c.num_srvys, &c.ncovs, &c.new_pao_opt, &c.nout, &c.iseasn,
                   &c.MSCD, &c.NEGBIN, &c.NICHOLS, &c.ROYLE, &c.SPADEP, &c.P0MISS, &c.MS2, &c.STAG, &c.HET,
                   &c.REMOVAL, &c.FALSEPOS, &c.METH, &c.MULTISTATE, &c.QUIET, &c.LIST, &c.TWOSP, &c.SIMTYPE,
                   &c.NOBS, &c.NSTATES, &c.INTEGRATED, &c.ilmt})
        ints_.push_back(n);
    for (IVec *v : {&c.SRVYPERSEASN, &c.Season, &c.newSeason, &c.newSurvey, &c.Survey})
        add_prefix(ints_, *v, prefix);
    save();
}

void ContextSlots::save() {
    saved_reals_.resize(reals_.size());
    saved_ints_.resize(ints_.size());
    for (std::size_t i = 0; i < reals_.size(); i++) saved_reals_[i] = *reals_[i];
    for (std::size_t i = 0; i < ints_.size(); i++) saved_ints_[i] = *ints_[i];
}

void ContextSlots::restore() {
    for (std::size_t i = 0; i < reals_.size(); i++) *reals_[i] = saved_reals_[i];
    for (std::size_t i = 0; i < ints_.size(); i++) *ints_[i] = saved_ints_[i];
}

int slot_prefix(const Context &ctx) {
    long methods = ctx.METH > 1 ? ctx.METH : 1;
    long reach = std::max<long>(static_cast<long>(ctx.nper) * methods, ctx.nseasns) + 2;
    return static_cast<int>(std::min<long>(reach, kStorage));
}

QuietContext::QuietContext() {
    ctx.out = open_null_stream();
    ctx.err = open_null_stream();
    ctx.in = nullptr;
    ctx.memory = &files;
    ctx.advise = false;
}

QuietContext::~QuietContext() {
    ctx.close_streams();
    if (ctx.out) std::fclose(ctx.out);
    if (ctx.err) std::fclose(ctx.err);
    ctx.out = ctx.err = nullptr;
}

std::vector<Parameter> study_parameters(const Preparer &prepare, const Args &args) {
    auto base = std::make_unique<QuietContext>();
    prepare(base->ctx, args);
    const int prefix = slot_prefix(base->ctx);
    ContextSlots base_slots(base->ctx, prefix);

    std::vector<Parameter> params;
    for (const Argument &arg : read_arguments(args)) {
        const std::size_t a = static_cast<std::size_t>(arg.position);
        const std::string &name = arg.name;
        const ParameterOption *option = parameter_option(name);
        if (!option) continue;
        const std::vector<std::string> &values = arg.tokens;
        for (std::size_t t = 0; t < values.size(); t++) {
            Args probe_args = args;
            std::string text = name + "=";
            for (std::size_t u = 0; u < values.size(); u++) {
                if (u > 0) text += ',';
                if (u == t) {
                    char marker[32];
                    std::snprintf(marker, sizeof marker, "%.17g", kMarker);
                    text += marker;
                } else {
                    text += values[u];
                }
            }
            probe_args[a] = text;
            auto probe = std::make_unique<QuietContext>();
            prepare(probe->ctx, probe_args);
            ContextSlots probe_slots(probe->ctx, prefix);
            Parameter p;
            for (int s = 0; s < static_cast<int>(probe_slots.size()); s++)
                if (probe_slots.saved(s) == kMarker && base_slots.saved(s) != kMarker) p.slots.push_back(s);
            // A value a later option overrides everywhere is no parameter.
            if (p.slots.empty()) continue;
            p.name = values.size() == 1 ? name : name + "[" + std::to_string(t + 1) + "]";
            p.value = arg.numbers[t];
            p.scale = option->scale;
            // In the two-species phi parameterisation dlta is a factor on
            // B's detection (like phi on its occupancy), not a probability.
            if (name == "dlta" && base->ctx.TWOSP > 0 && base->ctx.phi >= 0) p.scale = Scale::Log;
            p.fixed = structural(p.scale, p.value);
            params.push_back(std::move(p));
        }
    }
    return params;
}

std::vector<double> given_values(const std::vector<Parameter> &params) {
    std::vector<double> v;
    v.reserve(params.size());
    for (const auto &p : params) v.push_back(p.value);
    return v;
}

} // namespace occusim
