// Run metadata: "<stem>.json" says how a data set was made (program, command
// line, model family, generator and the seed actually used, design, every
// option with its parsed values) and what each file written holds, column by
// column. Single FORMAT=csv runs write it at their end; a replicate batch
// builds the same document with run_metadata, adds its files and writes it
// with write_metadata.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/context.hpp"

namespace occusim {

class CsvRun;

using Json = nlohmann::ordered_json;

// The model family dispatch() hands the run to ("single-species", "royle", ...).
const char *model_family(const Context &ctx);

// The document for a run whose options are parsed and whose generator is
// planted: everything but the files.
Json run_metadata(const Context &ctx, const Args &args);

// Adds a CSV data file of the given shape (`lead`: a leading column such as a
// batch's "rep"), with the meaning of each column.
void add_csv_file(Json &meta, const std::string &name, const HistoryShape &shape, long long rows,
                  std::string_view lead = {});
// Adds any other file with a free description of its contents.
void add_file(Json &meta, const std::string &name, const std::string &format, const std::string &contents);

// Writes meta to "<stem>.json" as a file of the context; FileError when it
// cannot be written.
void write_metadata(Context &ctx, const std::string &stem, const Json &meta);

// The end of a single FORMAT=csv run: the document for the CSV just completed.
// Returns the run's status (1, with a message on ctx.err, when the file cannot
// be written).
int write_csv_metadata(Context &ctx, const Args &args, const CsvRun &csv);

} // namespace occusim
