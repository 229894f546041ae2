#include "history/csv.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/errors.hpp"

namespace occusim {

namespace {

constexpr std::size_t kFlushAt = 1 << 16;

void append_number(std::string &s, double v) {
    if (!std::isfinite(v)) {
        s += "NA";
        return;
    }
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    s.append(buf, res.ptr);
}

void append_integer(std::string &s, long long v) {
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    s.append(buf, res.ptr);
}

// Appends the survey symbols of a history's fields to `out`, comma-separated:
// the tokens between tabs (blanks around them and empty tokens, such as after
// a trailing tab, dropped), '-' and '.' as NA. Returns the number of symbols.
int render_symbols(std::string &out, std::string_view fields) {
    int n = 0;
    const char *p = fields.data(), *end = p + fields.size();
    while (p < end) {
        while (p < end && (*p == '\t' || *p == ' ')) p++;
        if (p == end) break;
        const char *q = p;
        while (q < end && *q != '\t') q++;
        const char *e = q;
        while (e > p && e[-1] == ' ') e--;
        if (n++ > 0) out += ',';
        if (e - p == 1 && (*p == '-' || *p == '.'))
            out += "NA";
        else
            out.append(p, static_cast<std::size_t>(e - p));
        p = q;
    }
    return n;
}

} // namespace

std::string file_stem(const std::string &name) {
    std::size_t slash = name.rfind('/');
    std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot <= base) return name;
    return name.substr(0, dot);
}

std::string csv_header(const HistoryShape &shape, std::string_view lead) {
    std::string h;
    if (!lead.empty()) {
        h.append(lead);
        h += ',';
    }
    if (shape.per_site) h += "site,";
    for (int j = 1; j <= shape.surveys; j++) {
        if (j > 1) h += ',';
        h += 'y';
        append_integer(h, j);
    }
    if (shape.per_site) {
        for (int k = 1; k <= shape.site_covs; k++) {
            h += ",cov";
            append_integer(h, k);
        }
        for (int k = 1; k <= shape.survey_covs; k++)
            for (int j = 1; j <= shape.surveys; j++) {
                h += ",pcov";
                append_integer(h, k);
                h += '_';
                append_integer(h, j);
            }
    } else {
        h += ",freq";
    }
    h += '\n';
    return h;
}

CsvWriter::CsvWriter(std::FILE *out, std::string lead, bool write_header)
    : out_(out), lead_(std::move(lead)), write_header_(write_header) {
    buf_.reserve(kFlushAt + 4096);
}

CsvWriter::~CsvWriter() = default;

void CsvWriter::start(const HistoryShape &shape) {
    shape_ = shape;
    started_ = true;
}

void CsvWriter::put_header() {
    if (write_header_ && !header_done_)
        buf_ += csv_header(shape_, lead_.empty() ? std::string_view{} : "rep");
    header_done_ = true;
}

void CsvWriter::begin(const HistoryShape &shape) {
    if (!started_) start(shape);
}

void CsvWriter::site(std::span<const double> covs, std::span<const double> pcovs) {
    have_site_ = true;
    site_no_++;
    covs_.clear();
    for (double v : covs) {
        covs_ += ',';
        append_number(covs_, v);
    }
    for (double v : pcovs) {
        covs_ += ',';
        append_number(covs_, v);
    }
}

void CsvWriter::history(std::string_view fields, double count) {
    row_.clear();
    const int symbols = render_symbols(row_, fields);
    if (!started_) start(HistoryShape{});
    if (!header_done_) {
        if (shape_.surveys == 0) shape_.surveys = symbols;
        put_header();
    }
    if (symbols != shape_.surveys)
        input_error("history \"%.*s\" has %d surveys where the data set has %d",
                    static_cast<int>(fields.size()), fields.data(), symbols, shape_.surveys);
    if (shape_.per_site) {
        if (have_site_) row_ += covs_;
        row_ += '\n';
        double r = std::floor(count + 0.5);
        long long copies = r > 0 && r < 9e18 ? static_cast<long long>(r) : 0;
        for (long long c = 0; c < copies; c++) {
            if (!lead_.empty()) {
                buf_ += lead_;
                buf_ += ',';
            }
            append_integer(buf_, have_site_ ? site_no_ : ++site_no_);
            buf_ += ',';
            buf_ += row_;
            rows_++;
            if (buf_.size() >= kFlushAt) flush();
        }
        have_site_ = false;
        return;
    }
    if (!lead_.empty()) {
        buf_ += lead_;
        buf_ += ',';
    }
    buf_ += row_;
    buf_ += ',';
    append_number(buf_, count);
    buf_ += '\n';
    rows_++;
    if (buf_.size() >= kFlushAt) flush();
}

void CsvWriter::flush() {
    if (!buf_.empty()) std::fwrite(buf_.data(), 1, buf_.size(), out_);
    buf_.clear();
}

bool CsvWriter::finish(int surveys) {
    if (!started_) start(HistoryShape{});
    if (!header_done_) {
        if (shape_.surveys == 0) shape_.surveys = surveys;
        put_header();
    }
    flush();
    return std::fflush(out_) == 0 && !std::ferror(out_);
}

// ---- the files of a FORMAT=csv run ----

CsvRun::~CsvRun() = default;

void CsvRun::start(Context &ctx) {
    history_name_ = ctx.outfile;
    stem_ = file_stem(ctx.outfile);
    csv_name_ = stem_ + ".csv";
    scratch_name_ = ctx.outfile + ".scratch";
    file_ = ctx.create(csv_name_);
    writer_ = std::make_unique<CsvWriter>(file_);
    ctx.attach_sink(writer_.get());
    ctx.outfile = scratch_name_;
}

int CsvRun::end(Context &ctx, int status) {
    if (!writer_) return status;
    ctx.sink = nullptr;
    // The second stream of the history writers is always on "occusim.pao";
    // when that is the history file's own name it is left behind empty.
    if (ctx.memory) {
        // A run that keeps its files in memory tidies them there, by name.
        auto &files = ctx.memory->files;
        files.erase(scratch_name_);
        const auto second = files.find("occusim.pao");
        if (second != files.end() && history_name_ == "occusim.pao" && second->second.empty()) files.erase(second);
    } else {
        std::error_code ec;
        namespace fs = std::filesystem;
        fs::remove(ctx.path(scratch_name_), ec);
        const fs::path hist = ctx.path(history_name_), second = ctx.path("occusim.pao");
        if (fs::exists(second, ec) && fs::equivalent(hist, second, ec) && fs::file_size(second, ec) == 0)
            fs::remove(second, ec);
    }
    // A failed run leaves the CSV to the context, which removes it.
    if (status != 0) return status;
    writer_->finish(ctx.nper);
    try {
        ctx.close(file_);
    } catch (const FileError &e) {
        std::fflush(ctx.out);
        std::fprintf(ctx.err, "occusim8: %s\n", e.what());
        return 1;
    }
    return status;
}

} // namespace occusim
