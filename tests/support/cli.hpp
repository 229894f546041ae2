// Runs the whole program in-process in a fresh temporary directory and keeps
// what it printed and wrote, for end-to-end tests; and the small helpers
// around such runs (argument lists, temporary directories, console text).
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "core/context.hpp"

namespace occusim::testing {

using occusim::Args;

class CliRun {
  public:
    CliRun() = default;
    CliRun(CliRun &&other) noexcept;
    CliRun &operator=(CliRun &&) = delete;
    CliRun(const CliRun &) = delete;
    ~CliRun();

    int status = -1;
    std::string out; // standard output
    std::string err; // standard error
    std::string dir; // the run's working directory

    // Contents of a file the run left in its directory ("" when missing).
    std::string file(const std::string &name) const;
    bool exists(const std::string &name) const;
    // The history file "occusim.pao".
    std::string pao() const { return file("occusim.pao"); }
};

using Setup = std::function<void(const std::string &dir)>;

// Runs occusim8 with the given arguments (program name not included).
// `input` is what standard input holds; `setup`, when given, is called with
// the working directory before the run (to place files there).
CliRun run_cli(const Args &args, const std::string &input = "", const Setup &setup = nullptr);

// A setup that makes `name` a directory, so that the run cannot create the
// file of that name.
Setup blocking(const std::string &name);

// The arguments of base followed by those of more.
Args with(Args base, const Args &more);

// What a text holds from the first occurrence of `marker` on ("" without it).
std::string from_marker(const std::string &text, const std::string &marker);

// Creates an empty temporary directory and returns its path.
std::string make_temp_dir();

// A temporary directory removed with everything in it at the end of scope.
struct TempDir {
    std::string path = make_temp_dir();
    TempDir() = default;
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    ~TempDir();
};

// Reads a whole file ("" when it cannot be opened).
std::string read_file(const std::string &path);

// Everything written to a stream, read from its start.
std::string read_stream(std::FILE *f);

} // namespace occusim::testing
