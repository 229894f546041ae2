// The design explorer's way into the program: one call runs a whole command
// line through the same driver as occusim8, with its console captured in
// memory and every file it writes kept in memory, and hands back what a
// terminal user would have seen and found: exit status, standard output,
// standard error and the files by name, as one JSON text.
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/run.hpp"
#include "core/captured_stream.hpp"
#include "core/context.hpp"
#include "study/power.hpp"

namespace {


std::string last_result; // the text handed to the caller, valid until the next call

} // namespace

extern "C" {

// `args_json`: the command line as a JSON array of strings, program name
// first. Returns {"status", "out", "err", "files": {name: text}}; a text
// that is not such an array gives status 2 and says why in "err".
const char *occusim_run(const char *args_json) {
    nlohmann::json result;
    occusim::Args args;
    try {
        const nlohmann::json parsed = nlohmann::json::parse(args_json ? args_json : "");
        if (!parsed.is_array() || parsed.empty()) throw std::invalid_argument("expected a list of arguments");
        for (const auto &a : parsed) args.push_back(a.get<std::string>());
    } catch (const std::exception &e) {
        result = {{"status", 2}, {"out", ""}, {"err", std::string("bad argument list: ") + e.what()},
                  {"files", nlohmann::json::object()}};
        last_result = result.dump();
        return last_result.c_str();
    }

    occusim::MemoryFiles files;
    occusim::CapturedStream out, err;
    std::FILE *no_input = occusim::open_null_stream();
    int status = 1;
    {
        occusim::Context ctx;
        ctx.out = out.stream;
        ctx.err = err.stream;
        ctx.in = no_input; // a run that asks for a seed finds the input at its end
        ctx.memory = &files;
        status = occusim::execute(ctx, args);
        ctx.out = stdout; // the context must not keep the captured streams
        ctx.err = stderr;
        ctx.in = stdin;
    }
    if (no_input) std::fclose(no_input);
    nlohmann::json named = nlohmann::json::object();
    for (const auto &[name, text] : files.files) named[name] = text;
    result = {{"status", status}, {"out", out.take()}, {"err", err.take()}, {"files", named}};
    last_result = result.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return last_result.c_str();
}

// The power of the two-sided Wald test as DESIGN reports it, for curves over
// numbers of sites: the information of S sites is S times that of one, so
// the standard error of any number of sites follows from one evaluation.
double occusim_wald_power(double effect, double se, double alpha) {
    return occusim::wald_power(effect, se, alpha);
}

} // extern "C"
