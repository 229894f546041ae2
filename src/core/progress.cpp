// Progress line: drawn with a carriage return so that it overwrites itself,
// and cleared when the work ends.
#include "core/progress.hpp"

#include <unistd.h>

namespace occusim {

Progress::Progress(std::FILE *err, const char *what)
    : err_(err), what_(what), active_(err != nullptr && isatty(fileno(err)) != 0),
      start_(std::chrono::steady_clock::now()), last_(start_) {}

Progress::~Progress() {
    if (drawn_) {
        std::fprintf(err_, "\r%60s\r", "");
        std::fflush(err_);
    }
}

void Progress::redraw(double fraction_done, bool force) {
    using namespace std::chrono;
    const auto now = steady_clock::now();
    const double elapsed = duration<double>(now - start_).count();
    if (elapsed < 1.0 || (!force && duration<double>(now - last_).count() < 0.25)) return;
    last_ = now;
    if (fraction_done < 0) fraction_done = 0;
    if (fraction_done > 1) fraction_done = 1;
    const double left = fraction_done > 0 ? elapsed * (1 - fraction_done) / fraction_done : 0;
    std::fprintf(err_, "\r%s: %5.1f%% done, %.0f s left   ", what_, 100 * fraction_done, left);
    std::fflush(err_);
    drawn_ = true;
}

} // namespace occusim
