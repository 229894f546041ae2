// The design search's report and its check by simulation: the best design's
// command line run as a FIT batch (only its study tables kept), its study row
// of the searched parameter set beside the asymptotic figures.
#include "batch/verify.hpp"

#include <cmath>
#include <cstdio>
#include <new>

#include "batch/fits.hpp"
#include "batch/replicates.hpp"
#include "core/errors.hpp"
#include "study/covariates.hpp"

namespace occusim {

namespace {

// Monte Carlo standard errors a simulated figure may lie from its
// asymptotic counterpart before the two are said to disagree.
constexpr double kMonteCarloZ = 3;
constexpr double kNominalCoverage = 0.95;

std::string figure(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4g", v);
    return buf;
}

// A context of the check: console discarded, files where the run puts its own.
struct CheckContext {
    Context ctx;
    CheckContext(const Context &parent) {
        ctx.out = open_null_stream();
        ctx.err = open_null_stream();
        ctx.in = nullptr;
        ctx.workdir = parent.workdir;
        ctx.memory = parent.memory;
        ctx.advise = false;
    }
    ~CheckContext() {
        ctx.discard_streams();
        std::fclose(ctx.out);
        std::fclose(ctx.err);
        ctx.out = ctx.err = nullptr;
    }
    CheckContext(const CheckContext &) = delete;
    CheckContext &operator=(const CheckContext &) = delete;
};

void print_check(std::FILE *out, const OptimalSearch &s, const DesignCheck &c) {
    const CandidateDesign &best = s.best();
    const StudySummary::Row &r = c.simulated;
    std::fprintf(out, "check by simulation (%ld replicates of %ld sites, %d visits; seed %ld):\n", r.n, best.sites,
                 best.visits, c.seed);
    std::fprintf(out, "%-12s %12s %12s %12s %12s\n", s.request.parameter.c_str(), "se", "bias", "coverage",
                 "power");
    auto cell = [](double v) {
        char buf[32] = "-";
        if (!std::isnan(v)) std::snprintf(buf, sizeof buf, "%.6f", v);
        return std::string(buf);
    };
    std::fprintf(out, "%-12s %12s %12s %12s %12s\n", "asymptotic", cell(c.se).c_str(), cell(0).c_str(),
                 cell(kNominalCoverage).c_str(), cell(c.power).c_str());
    std::fprintf(out, "%-12s %12s %12s %12s %12s\n", "simulated", cell(r.sd).c_str(), cell(r.bias).c_str(),
                 cell(r.coverage).c_str(), cell(r.power).c_str());
    std::fprintf(out, "fits used: %ld of %ld (simulated se: the SD of the estimates)\n", r.used, r.n);
}

} // namespace

Args verify_arguments(const Context &ctx, const Args &args, const OptimalSearch &search) {
    const CandidateDesign &best = search.best();
    Args v = design_arguments(args, best.visits, search.seasons, best.sites);
    v.push_back(has_covariates(ctx) ? "SIMTYPE=2" : "STOCH");
    v.push_back("REPS=" + std::to_string(ctx.VERIFY));
    v.push_back("FIT");
    v.push_back("FORMAT=pao");
    v.push_back("QUIET");
    const std::string stem = output_stem(ctx.outfile);
    v.push_back("outfile=" + stem + "_verify" + ctx.outfile.substr(stem.size()));
    return v;
}

void prepare_verify(Context &vctx, const Args &vargs, const Program &program) {
    try {
        program.read_command_line(vctx, vargs);
        if (vctx.SIMTYPE > 1) vctx.determ = 0;
        refuse_study(vctx);
        check_batch(vctx, vargs);
    } catch (const InputError &e) {
        input_error("VERIFY: %s", e.what());
    }
}

void refuse_verify(const Context &ctx, const Args &args, const OptimalSearch &search, const Program &program) {
    CheckContext check(ctx);
    prepare_verify(check.ctx, verify_arguments(ctx, args, search), program);
}

std::vector<std::string> check_disagreements(const StudySummary::Row &r, double se, double power) {
    std::vector<std::string> out;
    const double used = static_cast<double>(r.used);
    if (r.used < r.n) out.push_back(std::to_string(r.n - r.used) + " of " + std::to_string(r.n) + " fits failed");
    if (r.used < 2) return out;
    if (std::abs(r.sd - se) > kMonteCarloZ * se / std::sqrt(2 * (used - 1)))
        out.push_back("SD of the estimates " + figure(r.sd) + " against se " + figure(se));
    if (std::abs(r.bias) > kMonteCarloZ * r.sd / std::sqrt(used))
        out.push_back("bias " + figure(r.bias));
    if (!std::isnan(r.coverage) &&
        std::abs(r.coverage - kNominalCoverage) >
            kMonteCarloZ * std::sqrt(kNominalCoverage * (1 - kNominalCoverage) / used))
        out.push_back("coverage " + figure(r.coverage));
    if (!std::isnan(power) && !std::isnan(r.power) &&
        std::abs(r.power - power) > kMonteCarloZ * std::sqrt(power * (1 - power) / used) + 1 / used)
        out.push_back("power " + figure(r.power) + " against " + figure(power));
    return out;
}

DesignCheck verify_design(Context &ctx, const Args &args, const OptimalSearch &search, const Program &program) {
    const Args vargs = verify_arguments(ctx, args, search);
    CheckContext check(ctx);
    Context &v = check.ctx;
    v.rng.prompt_in = ctx.in;
    v.rng.prompt_out = ctx.out;
    prepare_verify(v, vargs, program);
    v.rng.SelectStream(0);
    v.rng.PlantSeeds(v.seed_value);
    const BatchPlan plan = plan_batch(v, v.rng.planted_seed());
    Batch batch(v, vargs, plan, program);
    batch.publish_history_files(false);
    FitHook fits(v, vargs, program);
    batch.add(fits);
    const BatchReport rep = batch.run();
    if (rep.failed > 0) input_error("VERIFY: replicate %ld failed: %s", rep.failed, rep.error.c_str());
    if (!fits.error().empty()) throw FileError(fits.error());

    DesignCheck c;
    c.seed = plan.seed;
    const CandidateDesign &best = search.best();
    c.se = best.se;
    c.power = best.power;
    for (const StudySummary::Row &r : fits.summary().rows())
        if (r.name == search.request.parameter) c.simulated = r;
    if (c.simulated.name.empty())
        input_error("VERIFY: the fits have no parameter %s", search.request.parameter.c_str());
    c.disagreements = check_disagreements(c.simulated, c.se, c.power);
    return c;
}

int report_optimal(Context &ctx, const Args &args, const OptimalSearch &search, const Program &program) {
    try {
        print_optimal(ctx.out, search);
        ctx.write_file(output_stem(ctx.outfile) + "_optimal.csv", optimal_csv(search));
        if (ctx.VERIFY > 0) {
            std::fflush(ctx.out);
            const DesignCheck c = verify_design(ctx, args, search, program);
            print_check(ctx.out, search, c);
            if (!c.disagreements.empty()) {
                std::string why;
                for (const std::string &d : c.disagreements) {
                    if (!why.empty()) why += "; ";
                    why += d;
                }
                std::fflush(ctx.out);
                std::fprintf(ctx.err,
                             "occusim8: warning: VERIFY: at %ld sites and %d visits the simulation disagrees with "
                             "the asymptotic figures beyond Monte Carlo error (%s)\n",
                             search.best().sites, search.best().visits, why.c_str());
            }
        }
    } catch (const InputError &e) {
        std::fflush(ctx.out);
        std::fprintf(ctx.err, "occusim8: error: %s\n", e.what());
        return 1;
    } catch (const FileError &e) {
        std::fflush(ctx.out);
        std::fprintf(ctx.err, "occusim8: %s\n", e.what());
        return 1;
    } catch (const std::bad_alloc &) {
        std::fflush(ctx.out);
        std::fprintf(ctx.err, "occusim8: error: out of memory\n");
        return 1;
    }
    return 0;
}

} // namespace occusim
