// A progress line for long runs: the share of the work done and the time
// left, redrawn in place on standard error, and only when that is a terminal
// (files, pipes and tests never see it). Runs shorter than a second show
// nothing.
#pragma once

#include <chrono>
#include <cstdio>

namespace occusim {

class Progress {
  public:
    // `what` names the work ("expected histories", "replicates"); `err` is the
    // run's error stream.
    Progress(std::FILE *err, const char *what);
    ~Progress();
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    // Cheap to call often: the line is redrawn at most a few times a second.
    void update(double fraction_done) {
        if (!active_ || ++calls_ % 1024 != 0) return;
        redraw(fraction_done, false);
    }
    // Redraws now (for callers that count in large steps, e.g. replicates).
    void show(double fraction_done) {
        if (active_) redraw(fraction_done, true);
    }
    bool active() const { return active_; }

  private:
    void redraw(double fraction_done, bool force);
    std::FILE *err_;
    const char *what_;
    bool active_;
    bool drawn_ = false;
    unsigned long calls_ = 0;
    std::chrono::steady_clock::time_point start_, last_;
};

} // namespace occusim
