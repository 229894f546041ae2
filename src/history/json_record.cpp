// The JSON record written beside a data set: the entries that say what each
// file holds, column by column, and the writing of the record itself.
#include "history/json_record.hpp"

#include <string>

namespace occusim {

namespace {

Json column(std::string name, std::string meaning) {
    return Json{{"name", std::move(name)}, {"meaning", std::move(meaning)}};
}

} // namespace

void add_csv_file(Json &meta, const std::string &name, const HistoryShape &shape, long long rows,
                  std::string_view lead) {
    Json cols = Json::array();
    if (!lead.empty()) cols.push_back(column(std::string(lead), "replicate number, from 1"));
    if (shape.per_site)
        cols.push_back(
            column("site", "site number, from 1 (the copies of a site listed NOBS times share it)"));
    for (int j = 1; j <= shape.surveys; j++)
        cols.push_back(column("y" + std::to_string(j),
                              "symbol of survey " + std::to_string(j) +
                                  " as the history file shows it (0 not detected, 1 detected, 2 and 3 as the "
                                  "model family defines them, or a count of individuals); NA: removed or not "
                                  "surveyed"));
    if (shape.per_site) {
        for (int k = 1; k <= shape.site_covs; k++)
            cols.push_back(column("cov" + std::to_string(k), "site covariate " + std::to_string(k)));
        for (int k = 1; k <= shape.survey_covs; k++)
            for (int j = 1; j <= shape.surveys; j++)
                cols.push_back(
                    column("pcov" + std::to_string(k) + "_" + std::to_string(j),
                           "detection covariate " + std::to_string(k) + " at survey " + std::to_string(j)));
    } else {
        cols.push_back(column("freq", "number of sites with this history (expected value in an "
                                      "expected-value run)"));
    }
    Json f;
    f["name"] = name;
    f["format"] = "csv";
    f["layout"] = shape.per_site ? "site" : "frequency";
    f["rows"] = rows;
    f["columns"] = cols;
    meta["files"].push_back(f);
}

void add_file(Json &meta, const std::string &name, const std::string &format, const std::string &contents) {
    meta["files"].push_back(Json{{"name", name}, {"format", format}, {"contents", contents}});
}

void write_metadata(Context &ctx, const std::string &stem, const Json &meta) {
    const std::string name = stem + ".json";
    // Arguments are bytes from the command line, not always UTF-8: invalid
    // sequences are written as U+FFFD instead of failing the whole run.
    ctx.write_file(name, meta.dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
}

} // namespace occusim
