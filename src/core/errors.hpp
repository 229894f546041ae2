// How a run ends. A model never calls exit(): it throws RunFinished with the
// status the process should end with (its messages are already printed), or
// InputError when the command line asks for something the program cannot do
// safely. The one boundary that catches both is occusim::execute (cli/run.cpp).
#pragma once

#include <stdexcept>
#include <string>

namespace occusim {

struct RunFinished {
    int status;
};

class InputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] inline void finish(int status) {
    throw RunFinished{status};
}

// Printf-style message for an InputError; the boundary prints it as one line on
// standard error and the run ends with status 1.
[[noreturn]] void input_error(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

} // namespace occusim
