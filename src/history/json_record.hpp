// The JSON record written beside a data set ("<stem>.json"): a document
// built by the run that made the data, to which each file written adds an
// entry saying what it holds, column by column.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/context.hpp"

namespace occusim {

using Json = nlohmann::ordered_json;

// Adds a CSV data file of the given shape (`lead`: a leading column such as a
// batch's "rep"), with the meaning of each column.
void add_csv_file(Json &meta, const std::string &name, const HistoryShape &shape, long long rows,
                  std::string_view lead = {});
// Adds any other file with a free description of its contents.
void add_file(Json &meta, const std::string &name, const std::string &format, const std::string &contents);

// Writes meta to "<stem>.json" as a file of the context; FileError when it
// cannot be written.
void write_metadata(Context &ctx, const std::string &stem, const Json &meta);

} // namespace occusim
