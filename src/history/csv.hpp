// Analysis-ready data: the histories of a run as comma-separated rows, for
// analysis in R or Python without a parser for the history file.
//
// Two layouts, chosen by the writer that reports the histories:
//   site level  site,y1,...,yT,cov1,...,covK,pcov1_1,...,pcov1_T,pcov2_1,...
//               one row per line the history file lists (copies included);
//   frequency   y1,...,yT,freq
//               one row per history with its frequency.
// A survey symbol is written as it stands (0, 1, 2, 3, or a count), a removed
// ('-') or unsurveyed ('.') survey as NA; numbers other than symbols are the
// shortest decimal that reads back to the same double.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "core/context.hpp"

namespace occusim {

// The header line (with its newline) of the layout `shape` describes; `lead`,
// when not empty, is a leading column name (a batch's "rep").
std::string csv_header(const HistoryShape &shape, std::string_view lead = {});

// Renders the histories a run reports into CSV rows on `out`. `lead` is the
// text of a leading column put before every row (without its comma; empty for
// none), so that a batch can render each replicate's rows with its number and
// write one header for all. Rows are buffered and written in large blocks.
class CsvWriter : public HistorySink {
  public:
    // write_header: the header goes out with the first row (or at finish).
    // A shape announcing 0 surveys takes the number of the first history.
    CsvWriter(std::FILE *out, std::string lead = {}, bool write_header = true);
    ~CsvWriter() override;

    void begin(const HistoryShape &shape) override;
    void site(std::span<const double> covs, std::span<const double> pcovs) override;
    void history(std::string_view fields, double count) override;

    // Writes what is buffered (and the header of a data set without rows,
    // sized by `surveys` when no writer announced its shape). False when the
    // stream reports a write error.
    bool finish(int surveys);

    const HistoryShape &shape() const { return shape_; }
    long long rows() const { return rows_; }

  private:
    void start(const HistoryShape &shape);
    void put_header();
    void flush();

    std::FILE *out_;
    std::string lead_;
    bool write_header_;
    bool started_ = false;
    bool header_done_ = false;
    HistoryShape shape_;
    std::string buf_;
    std::string row_;  // the row being rendered (symbols, covariates)
    std::string covs_; // ",cov1,...,pcovK_T" of the announced site
    bool have_site_ = false;
    long long site_no_ = 0; // number of the last site a row was written for
    long long rows_ = 0;
};

// The files of a FORMAT=csv run. The history file is still produced, under a
// scratch name next to it that is removed at the end, so that every model
// keeps writing (and reading back) its file as it does; the CSV is written
// under "<stem>.csv.part" and takes its name "<stem>.csv" only once the run
// has succeeded.
class CsvRun {
  public:
    CsvRun() = default;
    CsvRun(const CsvRun &) = delete;
    CsvRun &operator=(const CsvRun &) = delete;
    ~CsvRun();

    // Opens the CSV, points ctx.outfile at the scratch name and installs the
    // writer as the run's sink. A CSV that cannot be created ends the run.
    void start(Context &ctx);
    // Completes the CSV (status 0) and removes the scratch file; returns the
    // run's final status (1 when the CSV could not be written). A failed run's
    // CSV is removed with the context's other unfinished files.
    int end(Context &ctx, int status);

    bool active() const { return writer_ != nullptr; }
    const std::string &stem() const { return stem_; }
    const std::string &csv_name() const { return csv_name_; }
    const std::string &history_name() const { return history_name_; }
    const CsvWriter *writer() const { return writer_.get(); }

  private:
    std::string stem_, csv_name_, history_name_, scratch_name_;
    std::FILE *file_ = nullptr; // a stream of the context, which owns it
    std::unique_ptr<CsvWriter> writer_;
};

// "<stem>.<ext>" -> "<stem>" (an extension only counts in the last path
// component and not as its first character).
std::string file_stem(const std::string &name);

} // namespace occusim
