// Run metadata: "<stem>.json" says how a data set was made (program, command
// line, model family, generator and the seed actually used, design, every
// option with its parsed values) and what each file written holds, column by
// column. Single FORMAT=csv runs write it at their end; a replicate batch
// builds the same document with run_metadata, adds its files and writes it
// with write_metadata.
#pragma once

#include <string>

#include "core/context.hpp"
#include "history/json_record.hpp"

namespace occusim {

class CsvRun;

// The model family dispatch() hands the run to ("single-species", "royle", ...).
const char *model_family(const Context &ctx);

// The document for a run whose options are parsed and whose generator is
// planted: everything but the files.
Json run_metadata(const Context &ctx, const Args &args);

// The end of a single FORMAT=csv run: the document for the CSV just completed.
// Returns the run's status (1, with a message on ctx.err, when the file cannot
// be written).
int write_csv_metadata(Context &ctx, const Args &args, const CsvRun &csv);

} // namespace occusim
