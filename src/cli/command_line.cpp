// Reading the command line: defaults, the banner, the arguments read once
// and applied row by row in command-line order (with their echo), the season
// layout, the covariate set-up and the checks of the design and of what the
// chosen model reads.
#include <cmath>
#include <cstdio>

#include "cli/diagnostics.hpp"
#include "cli/dispatch.hpp"
#include "cli/help.hpp"
#include "cli/model_reads.hpp"
#include "cli/option_table.hpp"
#include "cli/options.hpp"
#include "cli/run.hpp"
#include "core/errors.hpp"
#include "core/seasons.hpp"

namespace occusim {

void read_command_line(Context &ctx, const Args &args) {
    ctx.determ = 1;
    ctx.nseasns = 1;
    ctx.outfile = "occusim.pao";
    if (answer_help_or_version(ctx, args)) finish(0);
    std::fprintf(ctx.out, "OCCUSIM ver8 %s\n", kBuildStamp);
    int argc = static_cast<int>(args.size());
    if (argc <= 4) {
        std::fputs(kUsageText, ctx.err);
        finish(1);
    }
    for (int i = 1; i < argc; i++)
        if (args[i].size() >= static_cast<std::size_t>(kArgBufLen))
            input_error("argument %d (\"%.20s...\") is longer than %d characters", i, args[i].c_str(),
                        kArgBufLen - 1);
    const CommandLine line = parse_command_line(args);
    if (ctx.advise) report_diagnostics(ctx, line);
    ctx.set_vector_defaults();
    for (const ParsedArgument &p : line)
        if (is_quiet_switch(p.arg.text)) ctx.QUIET = 1;
    for (const ParsedArgument &p : line) {
        if (!ctx.QUIET) std::fprintf(ctx.out, "\nARG[%d]:%s\n", p.arg.position, p.arg.text.c_str());
        for (const OptionRow *row : p.rows) row->apply(ctx, p.arg);
    }
    lay_out_seasons(ctx);
    setup_coefficients(ctx);
    check_data_options(ctx);
    if (ctx.nper > 30 && ctx.SIMTYPE <= 1) {
        std::fprintf(ctx.err, "\nT must be < 30\n");
        std::fprintf(ctx.err, "occusim8: error: T=%d: expected values are computed for at most 30 surveys; "
                              "SIMTYPE=2 simulates longer designs site by site\n",
                     ctx.nper);
        finish(1);
    }
    if (ctx.nper > kMaxSurveys) input_error("T=%d: at most %d surveys are supported", ctx.nper, kMaxSurveys);
    // An infinite or undefined number of sites cannot be split into cohorts
    // (a stochastic split of it would never finish).
    if (!std::isfinite(ctx.ns)) input_error("N=%f: the number of sites must be a finite number", ctx.ns);
    if (ctx.advise) check_model_reads(ctx, line);
}

} // namespace occusim
