// The bridge between R and the simulator: one call runs one whole command
// line of the library, in a directory the R side chose, with its console
// captured in memory. The run goes on a thread of its own so that R's main
// thread can watch for the user's interrupt and ask the run to stop.
#include <Rcpp.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "cli/run.hpp"
#include "core/captured_stream.hpp"

namespace {


void check_interrupt(void *) {
    R_CheckUserInterrupt();
}

// Whether the user has pressed Ctrl-C: R's own check, kept from jumping
// out of this function (it may only be asked on R's main thread).
bool user_interrupted() {
    return R_ToplevelExec(check_interrupt, nullptr) == FALSE;
}

} // namespace

// [[Rcpp::export(.occusim_execute)]]
Rcpp::List occusim_execute(Rcpp::CharacterVector args, std::string dir) {
    occusim::Args line;
    for (R_xlen_t i = 0; i < args.size(); i++) line.push_back(Rcpp::as<std::string>(args[i]));
    occusim::CapturedStream out, err;
    std::FILE *in = std::fopen("/dev/null", "r");
    if (!out.stream || !err.stream || !in) {
        if (in) std::fclose(in);
        Rcpp::stop("cannot open the console streams of a run");
    }
    std::atomic<bool> stop{false};
    int status = 1;
    bool interrupted = false;
    {
        occusim::Context ctx;
        ctx.out = out.stream;
        ctx.err = err.stream;
        ctx.in = in;
        ctx.workdir = dir;
        ctx.stop = &stop;
        std::packaged_task<int()> task([&] { return occusim::execute(ctx, line); });
        std::future<int> done = task.get_future();
        std::thread runner(std::move(task));
        while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
            if (!interrupted && user_interrupted()) {
                interrupted = true;
                stop = true;
            }
        runner.join();
        status = done.get();
    }
    std::fclose(in);
    if (interrupted) throw Rcpp::internal::InterruptedException();
    return Rcpp::List::create(Rcpp::Named("status") = status, Rcpp::Named("out") = out.take(),
                              Rcpp::Named("err") = err.take());
}
