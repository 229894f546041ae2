#include "cli/metadata.hpp"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/model_reads.hpp"
#include "cli/options.hpp"
#include "cli/run.hpp"
#include "history/csv.hpp"

namespace occusim {

namespace {

// A token of an option value as the option table reads it: a number when the
// whole token is one, the text otherwise.
Json parsed_token(const std::string &t) {
    double v = 0;
    auto res = std::from_chars(t.data(), t.data() + t.size(), v);
    if (res.ec == std::errc() && res.ptr == t.data() + t.size()) return v;
    return t;
}

Json parsed_value(const Argument &a) {
    if (a.value.find(',') == std::string::npos) return parsed_token(a.value);
    Json list = Json::array();
    for (const auto &t : a.tokens) list.push_back(parsed_token(t));
    return list;
}

Json first_values(const Vec &v, int count) {
    Json a = Json::array();
    for (int k = 0; k < count && k < static_cast<int>(v.size()); k++) a.push_back(v[k]);
    return a;
}

} // namespace

const char *model_family(const Context &ctx) {
    return model_family_of(ctx).name;
}

Json run_metadata(const Context &ctx, const Args &args) {
    Json meta;
    meta["program"] = "occusim8";
    meta["version"] = std::string("8 ") + kBuildStamp;
    Json argv = Json::array();
    for (const auto &a : args) argv.push_back(a);
    meta["arguments"] = argv;
    meta["model_family"] = model_family(ctx);
    // The mode actually run: an expected-value run that its model simulated
    // instead is stochastic, and site by site when the model went that way.
    meta["mode"] = ctx.determ && !ctx.simulated_instead ? "expected" : "stochastic";
    meta["site_by_site"] = ctx.SIMTYPE > 1 || ctx.by_site_instead;
    meta["generator"] = ctx.RNG.empty() ? "lehmer" : ctx.RNG;
    // The seed the generator was planted with (a clock or prompted seed as
    // drawn); a run that never planted it but drew from it used the default.
    Json seed = nullptr;
    if (ctx.determ == 0 || ctx.rng.draws > 0) seed = ctx.rng.planted_seed();
    meta["seed"] = seed;
    meta["seed_given"] = ctx.seed_value;

    Json design;
    design["T"] = ctx.nper;
    design["N"] = ctx.ns;
    Json sps = Json::array();
    for (int s = 0; s < ctx.nseasns && s < static_cast<int>(ctx.SRVYPERSEASN.size()); s++)
        sps.push_back(ctx.SRVYPERSEASN[s]);
    design["surveys_per_season"] = sps;
    design["seasons"] = ctx.nseasns;
    design["NOBS"] = ctx.NOBS;
    design["SIMTYPE"] = ctx.SIMTYPE;
    design["p"] = first_values(ctx.pa, ctx.nper);
    design["NCOVS"] = ctx.ncovs;
    design["coef"] = first_values(ctx.coef, ctx.ncovs > 0 ? ctx.ncovs + 1 : 0);
    design["NPCOVS"] = ctx.NPCOVS;
    design["pcoef"] = ctx.pcoef;
    design["REMOVAL"] = ctx.REMOVAL != 0;
    design["P0MISS"] = ctx.P0MISS != 0;
    meta["design"] = design;

    // Every argument with the value(s) the option table reads from it.
    Json options = Json::array();
    for (const Argument &a : read_arguments(args)) {
        Json o;
        o["argument"] = a.text;
        o["name"] = a.name;
        if (!a.has_value)
            o["value"] = true;
        else
            o["value"] = parsed_value(a);
        options.push_back(o);
    }
    meta["options"] = options;
    meta["files"] = Json::array();
    return meta;
}

int write_csv_metadata(Context &ctx, const Args &args, const CsvRun &csv) {
    Json meta = run_metadata(ctx, args);
    add_csv_file(meta, csv.csv_name(), csv.writer()->shape(), csv.writer()->rows());
    try {
        write_metadata(ctx, csv.stem(), meta);
    } catch (const FileError &e) {
        std::fflush(ctx.out);
        std::fprintf(ctx.err, "occusim8: %s\n", e.what());
        return 1;
    }
    return 0;
}

} // namespace occusim
