#include "support/cli.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/run.hpp"

namespace occusim::testing {

std::string read_stream(std::FILE *f) {
    std::string s;
    std::rewind(f);
    char buf[4096];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, got);
    return s;
}

std::string make_temp_dir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "occusim-test-XXXXXX").string();
    char *made = mkdtemp(tmpl.data());
    return made ? std::string(made) : std::string();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

CliRun::CliRun(CliRun &&other) noexcept
    : status(other.status), out(std::move(other.out)), err(std::move(other.err)), dir(std::move(other.dir)) {
    other.dir.clear();
}

CliRun::~CliRun() {
    if (!dir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
}

std::string CliRun::file(const std::string &name) const {
    return read_file(dir + "/" + name);
}

bool CliRun::exists(const std::string &name) const {
    return std::filesystem::exists(dir + "/" + name);
}

Setup blocking(const std::string &name) {
    return [name](const std::string &dir) { std::filesystem::create_directory(dir + "/" + name); };
}

Args with(Args base, const Args &more) {
    base.insert(base.end(), more.begin(), more.end());
    return base;
}

std::string from_marker(const std::string &text, const std::string &marker) {
    std::size_t at = text.find(marker);
    return at == std::string::npos ? std::string() : text.substr(at);
}

CliRun run_cli(const Args &args, const std::string &input, const Setup &setup) {
    CliRun r;
    r.dir = make_temp_dir();
    if (setup) setup(r.dir);
    std::FILE *out = std::tmpfile();
    std::FILE *err = std::tmpfile();
    std::FILE *in = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    {
        Context ctx;
        ctx.out = out;
        ctx.err = err;
        ctx.in = in;
        ctx.workdir = r.dir;
        Args full{"occusim8"};
        full.insert(full.end(), args.begin(), args.end());
        r.status = execute(ctx, full);
    }
    r.out = read_stream(out);
    r.err = read_stream(err);
    std::fclose(out);
    std::fclose(err);
    std::fclose(in);
    return r;
}

} // namespace occusim::testing
