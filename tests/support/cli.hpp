// Runs the whole program in-process in a fresh temporary directory and keeps
// what it printed and wrote, for end-to-end tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace occusim::testing {

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

// Runs occusim8 with the given arguments (program name not included).
// `input` is what standard input holds; `setup`, when given, is called with
// the working directory before the run (to place files there).
CliRun run_cli(const std::vector<std::string> &args, const std::string &input = "",
               const std::function<void(const std::string &dir)> &setup = nullptr);

// Creates an empty temporary directory and returns its path.
std::string make_temp_dir();

// Reads a whole file ("" when it cannot be opened).
std::string read_file(const std::string &path);

} // namespace occusim::testing
