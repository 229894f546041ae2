// A grid of designs run point by point: every point's command line prepared
// and checked first, then each point's design evaluation or replicate batch,
// its rows gathered into the grid table (and the fits table), which take
// their names once every point has run.
#include "batch/grid.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <string_view>

#include "batch/fits.hpp"
#include "batch/replicates.hpp"
#include "core/errors.hpp"
#include "core/output_file.hpp"
#include "study/design.hpp"
#include "study/parameters.hpp"

namespace occusim {

namespace {

// The replicate number is one 32-bit word of the generator's counter.
constexpr long kMaxReplicates = 4294967295L;

// "N=50 T=8": a point as messages name it.
std::string point_label(const std::vector<Context::GridAxis> &axes, const std::vector<std::string> &point) {
    std::string label;
    for (std::size_t a = 0; a < axes.size(); a++) label += (a ? " " : "") + axes[a].name + "=" + point[a];
    return label;
}

// A number for the console table: six decimals, "-" for none.
void print_number(std::FILE *out, double v) {
    if (std::isnan(v))
        std::fprintf(out, " %10s", "-");
    else
        std::fprintf(out, " %10.6f", v);
}

// One point's rows of the grid table, as CSV (after the grid columns) and
// as the console shows them (after the point's values).
struct PointRows {
    std::vector<std::string> csv;
    std::vector<std::string> console;
};

std::string console_line(const std::string &name, std::initializer_list<double> numbers, const char *tail) {
    char *text = nullptr;
    std::size_t size = 0;
    std::FILE *f = open_memstream(&text, &size);
    if (!f) throw std::bad_alloc();
    std::fprintf(f, " %-12s", name.c_str());
    for (double v : numbers) print_number(f, v);
    std::fputs(tail, f);
    std::fclose(f);
    std::string line(text, size);
    std::free(text);
    return line;
}

PointRows design_point(const Program &program, const Args &args, const Context &point) {
    std::vector<DesignRow> rows = evaluate_design(program.read_command_line, args);
    add_design_power(rows, WaldTests{point.NULLS, point.ALPHA});
    PointRows out;
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    for (const DesignRow &r : rows) {
        const bool has = !std::isnan(r.se);
        const double cv = has && r.value != 0 ? r.se / r.value : nan;
        out.csv.push_back(r.name + "," + csv_number(r.value) + "," + csv_number(r.se) + "," + csv_number(cv) +
                          "," + csv_number(r.power));
        out.console.push_back(console_line(r.name, {r.value, r.se, cv, r.power}, ""));
    }
    return out;
}

PointRows study_rows(const StudySummary &summary) {
    PointRows out;
    for (const StudySummary::Row &r : summary.rows()) {
        out.csv.push_back(r.name + "," + csv_number(r.truth) + "," + csv_number(r.mean) + "," +
                          csv_number(r.bias) + "," + csv_number(r.rmse) + "," + csv_number(r.sd) + "," +
                          csv_number(r.mean_se) + "," + csv_number(r.coverage) + "," + csv_number(r.power) +
                          "," + csv_number(r.type_s) + "," + csv_number(r.type_m) + "," +
                          std::to_string(r.used) + "," + std::to_string(r.n));
        char used[48];
        std::snprintf(used, sizeof used, " %11s",
                      (std::to_string(r.used) + "/" + std::to_string(r.n)).c_str());
        out.console.push_back(console_line(
            r.name,
            {r.truth, r.mean, r.bias, r.rmse, r.sd, r.mean_se, r.coverage, r.power, r.type_s, r.type_m},
            used));
    }
    return out;
}

// A point's context, read and checked as its run would be; refusals name the
// point. The warnings its reading gives are added to `warnings` when asked.
std::unique_ptr<QuietContext> prepare_point(const Context &ctx, const Program &program, const Args &args,
                                            const std::string &label,
                                            std::vector<std::string> *warnings = nullptr) {
    auto q = std::make_unique<QuietContext>();
    q->ctx.workdir = ctx.workdir;
    q->ctx.advise = true; // the model's checks of what it reads
    char *text = nullptr;
    std::size_t size = 0;
    std::FILE *captured = warnings ? open_memstream(&text, &size) : nullptr;
    std::FILE *own = q->ctx.err;
    if (captured) q->ctx.err = captured;
    struct Restore {
        QuietContext &q;
        std::FILE *own, *captured;
        char *&text;
        ~Restore() {
            q.ctx.err = own;
            if (captured) std::fclose(captured);
            std::free(text);
        }
    } restore{*q, own, captured, text};
    try {
        program.prepare_run(q->ctx, args);
    } catch (const InputError &e) {
        input_error("GRID %s: %s", label.c_str(), e.what());
    } catch (const RunFinished &) {
        input_error("GRID %s: the model refuses this design", label.c_str());
    }
    if (captured) {
        std::fflush(captured);
        const std::string lead = "occusim8: warning: ";
        std::size_t at = 0;
        for (std::size_t end;
             at < size && (end = std::string_view(text, size).find('\n', at)) != std::string::npos;
             at = end + 1) {
            const std::string line(text + at, end - at);
            if (line.rfind(lead, 0) == 0) warnings->push_back(line.substr(lead.size()));
        }
    }
    q->ctx.workdir = ctx.workdir;
    return q;
}

} // namespace

void check_grid(const Context &ctx) {
    if (!ctx.DESIGN && !ctx.FIT)
        input_error(
            "GRID runs a study at every point: add DESIGN (an expected-value run) or FIT (with REPS=n)");
    if (ctx.shard_k > 0)
        input_error(
            "GRID with SHARD=%ld/%ld: a grid runs whole; shard a point's batch on its own command line",
            ctx.shard_i, ctx.shard_k);
    long points = 1;
    for (const Context::GridAxis &axis : ctx.GRID) points *= static_cast<long>(axis.values.size());
    if (ctx.FIT && ctx.REPS > 0 && points > kMaxReplicates / ctx.REPS)
        input_error("GRID: %ld points of %ld replicates exceed the %ld replicates a seed numbers", points,
                    ctx.REPS, kMaxReplicates);
}

std::vector<std::vector<std::string>> grid_points(const std::vector<Context::GridAxis> &axes) {
    std::vector<std::vector<std::string>> points{{}};
    for (const Context::GridAxis &axis : axes) {
        std::vector<std::vector<std::string>> next;
        next.reserve(points.size() * axis.values.size());
        for (const auto &p : points)
            for (const std::string &v : axis.values) {
                next.push_back(p);
                next.back().push_back(v);
            }
        points = std::move(next);
    }
    return points;
}

Args grid_point_args(const Args &args, const std::vector<Context::GridAxis> &axes,
                     const std::vector<std::string> &point,
                     bool (*same_option)(const std::string &, const std::string &)) {
    Args out;
    std::vector<bool> set(axes.size(), false);
    for (std::size_t i = 1; i < args.size(); i++) {
        const Argument a = read_argument(args[i], static_cast<int>(i));
        if (a.name == "GRID") continue;
        std::string text = args[i];
        for (std::size_t x = 0; x < axes.size(); x++)
            if (a.has_value && same_option(a.name, axes[x].name)) {
                text = with_value(a, point[x]);
                set[x] = true;
            }
        out.push_back(std::move(text));
    }
    Args first{args.empty() ? std::string("occusim8") : args[0]};
    for (std::size_t x = 0; x < axes.size(); x++)
        if (!set[x]) first.push_back(axes[x].name + "=" + point[x]);
    first.insert(first.end(), out.begin(), out.end());
    return first;
}

int run_grid(Context &ctx, const Args &args, const Program &program) {
    const std::vector<Context::GridAxis> &axes = ctx.GRID;
    const std::vector<std::vector<std::string>> points = grid_points(axes);
    const long G = static_cast<long>(points.size());
    std::vector<Args> point_args;
    std::vector<std::string> labels;
    // Every point is read and checked before the first one runs.
    // A point's warnings that the command line itself does not give (an
    // option the model does not read, say) are shown once, naming the point.
    std::vector<std::string> shown;
    prepare_point(ctx, program, grid_point_args(args, {}, {}, program.same_option), "", &shown);
    for (const auto &p : points) {
        point_args.push_back(grid_point_args(args, axes, p, program.same_option));
        labels.push_back(point_label(axes, p));
        std::vector<std::string> warnings;
        auto q = prepare_point(ctx, program, point_args.back(), labels.back(), &warnings);
        for (const std::string &w : warnings)
            if (std::find(shown.begin(), shown.end(), w) == shown.end()) {
                std::fprintf(ctx.err, "occusim8: warning: GRID %s: %s\n", labels.back().c_str(), w.c_str());
                shown.push_back(w);
            }
        if (ctx.FIT) try {
                FitHook probe(q->ctx, point_args.back(), program);
            } catch (const InputError &e) {
                input_error("GRID %s: %s", labels.back().c_str(), e.what());
            }
    }

    // The seed of the whole grid, as a batch takes it.
    if (ctx.determ != 0) ctx.rng.PlantSeeds(ctx.seed_value);
    const long seed = ctx.rng.planted_seed();
    const BatchPlan names = plan_batch(ctx, seed);
    const std::string grid_name = names.dir + names.stem + "_grid.csv";
    const std::string fits_name = names.dir + names.stem + "_fits.csv";
    OutputFile fits;
    std::string lead_header;
    for (const Context::GridAxis &axis : axes) lead_header += axis.name + ",";
    if (ctx.FIT) {
        fits.create_or_throw(ctx.path(fits_name), fits_name);
        std::fputs((lead_header + kFitsHeader).c_str(), fits.stream());
    }
    std::fflush(ctx.out);

    std::vector<PointRows> results;
    int threads = 1;
    double elapsed = 0;
    for (long g = 0; g < G; g++) {
        const Args &pa = point_args[static_cast<std::size_t>(g)];
        const std::string &label = labels[static_cast<std::size_t>(g)];
        auto q = prepare_point(ctx, program, pa, label);
        Context &pc = q->ctx;
        try {
            if (ctx.DESIGN) {
                results.push_back(design_point(program, pa, pc));
                continue;
            }
        } catch (const InputError &e) {
            input_error("GRID %s: %s", label.c_str(), e.what());
        } catch (const RunFinished &) {
            input_error("GRID %s: DESIGN: the model cannot be evaluated", label.c_str());
        }
        // The progress line goes to the grid's console; the point's own
        // null stream is put back before its context closes it.
        struct Console {
            Context &c;
            std::FILE *own;
            ~Console() { c.err = own; }
        } console{pc, pc.err};
        pc.err = ctx.err;
        BatchPlan plan = plan_batch(pc, seed);
        plan.n = G * ctx.REPS;
        plan.first = g * ctx.REPS + 1;
        plan.last = (g + 1) * ctx.REPS;
        threads = plan.threads;
        std::string lead;
        for (const std::string &v : points[static_cast<std::size_t>(g)]) lead += v + ",";
        FitHook hook(pc, pa, program);
        hook.gather_into(fits.stream(), lead);
        Batch batch(pc, pa, plan, program);
        batch.publish_history_files(false);
        batch.add(hook);
        const BatchReport rep = batch.run();
        if (rep.failed > 0)
            input_error("GRID %s: replicate %ld failed: %s", label.c_str(), rep.failed, rep.error.c_str());
        elapsed += rep.elapsed;
        results.push_back(study_rows(hook.summary()));
    }
    if (fits.open()) fits.commit();

    std::string text = lead_header + (ctx.DESIGN ? "parameter,true,se,cv,power\n"
                                                 : "parameter,true,mean,bias,rmse,sd,mean_se,coverage,power,"
                                                   "type_s,type_m,used,n\n");
    for (long g = 0; g < G; g++) {
        std::string lead;
        for (const std::string &v : points[static_cast<std::size_t>(g)]) lead += v + ",";
        for (const std::string &row : results[static_cast<std::size_t>(g)].csv) text += lead + row + "\n";
    }
    ctx.write_file(grid_name, text);

    std::fprintf(ctx.out, ctx.DESIGN ? "design grid:\n" : "simulation study grid:\n");
    for (const Context::GridAxis &axis : axes) std::fprintf(ctx.out, "%8s ", axis.name.c_str());
    if (ctx.DESIGN)
        std::fprintf(ctx.out, " %-12s %10s %10s %10s %10s\n", "parameter", "true", "se", "cv", "power");
    else
        std::fprintf(ctx.out, " %-12s %10s %10s %10s %10s %10s %10s %10s %10s %10s %10s %11s\n", "parameter",
                     "true", "mean", "bias", "rmse", "sd", "mean_se", "coverage", "power", "type_s", "type_m",
                     "used/n");
    for (long g = 0; g < G; g++)
        for (const std::string &line : results[static_cast<std::size_t>(g)].console) {
            for (const std::string &v : points[static_cast<std::size_t>(g)])
                std::fprintf(ctx.out, "%8s ", v.c_str());
            std::fprintf(ctx.out, "%s\n", line.c_str());
        }
    if (ctx.FIT) {
        std::fflush(ctx.out);
        std::fprintf(
            ctx.err,
            "occusim8: %ld grid points of %ld replicates fitted (%s, fits %s), seed %ld, %d thread%s, "
            "%.2f s\n",
            G, ctx.REPS, grid_name.c_str(), fits_name.c_str(), seed, threads, threads == 1 ? "" : "s",
            elapsed);
    }
    return 0;
}

} // namespace occusim
