// The multistate history line shared by the multistate models and the
// integrated model: a decimal history code (one digit per survey, the first
// survey most significant) written as its survey digits separated by tabs,
// with the expected count after a further tab in expected-value mode; and the
// temporary history file the multistate models write these lines to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <memory>
#include <unordered_map>

#include "core/context.hpp"
#include "core/progress.hpp"

namespace occusim {

// What the summariser needs of the temporary history file, gathered while the
// lines are written: per history code the sum of its lines' counts as the
// lines show them (in millionths, so the sum is exact) and the number of
// lines. From it the history file is written without reading the temporary
// file back and sorting its lines; the bytes are the summariser's. Also draws
// the progress line of a long run.
class MsTally {
  public:
    // `sites`: all sites of the run, for the share of the work done.
    MsTally(Context &ctx, double sites);
    // A line of history `code` whose count reads text[0..len) (expected-value
    // mode), or `copies` lines without a count (stochastic mode, one site
    // each); x is the count before rounding, for the progress line.
    void add_text(std::int64_t code, const char *text, int len, double x);
    void add_copies(std::int64_t code, double copies);
    // Writes the history file and the summariser's console lines as the
    // summariser would from the temporary file. Returns false, having written
    // nothing, where it cannot vouch for that (a count it cannot hold exactly,
    // or sums so large that the summariser's own rounding could show); the
    // caller then summarises the temporary file.
    bool summarise(int T);

  private:
    struct Sum {
        std::int64_t micro = 0; // sum of the shown counts, in millionths
        std::int64_t lines = 0;
        double size = 0; // sum of the shown counts as numbers
    };
    Context &ctx_;
    double sites_, done_ = 0;
    std::unordered_map<std::int64_t, Sum> sums_;
    std::int64_t lines_ = 0;
    bool exact_ = true;
    Progress progress_;
};

// Decimal history codes of this family hold at most this many surveys.
inline constexpr int kMaxMsSurveys = 9;

// Writes the multistate history line(s) of decimal history code `code` with
// count x to the temporary history file (fp2) and counts them in nout.
void print_mscaphis(Context &ctx, std::int64_t code, double x);
// The same, also adding the line(s) to the run's tally when there is one.
void print_mscaphis(Context &ctx, std::int64_t code, double x, MsTally *tally);

// Writes x as printf's "%f" would (six decimals) into buf, which has room
// characters, and returns the number of characters written (no NUL).
int format_count(char *buf, std::size_t room, double x);

// Refuses a multistate run whose T surveys do not fit a decimal history code.
void require_ms_surveys(int T);

// Opens `name` for writing. A file that cannot be opened ends the run with
// status 1 and "error opening <name>" in the error file.
std::FILE *open_for_writing(Context &ctx, const char *name);

// Closes the temporary history file (fp2), writes the history file of
// T-survey histories from the tally (or, without one or where the tally
// declines, has the summariser write it from the temporary file), prints
// `farewell` on the console and ends the run with status 0.
[[noreturn]] void summarise_ms_histories(Context &ctx, int T, const char *farewell, MsTally *tally = nullptr);

// 10 to the power e (0 <= e <= 9): the place value of a survey's digit.
inline std::int64_t place_value(int e) {
    std::int64_t v = 1;
    for (int i = 0; i < e; i++) v *= 10;
    return v;
}

} // namespace occusim
