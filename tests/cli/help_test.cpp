// --help, -h and --version: generated from the option table, on standard
// output with status 0, writing no file; and the README option reference,
// which must be the one the table generates (OCCUSIM_UPDATE_README=1 makes
// this test rewrite it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "cli/help.hpp"
#include "cli/option_table.hpp"
#include "support/cli.hpp"

using occusim::testing::read_file;
using occusim::testing::run_cli;

namespace {

TEST(Help, ListsEveryRowUnderItsFamilyOnStandardOutput) {
    for (const char *flag : {"--help", "-h"}) {
        auto r = run_cli({flag});
        EXPECT_EQ(r.status, 0) << flag;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, occusim::help_text());
        EXPECT_TRUE(std::filesystem::is_empty(r.dir));
    }
    // Every line fits 100 columns; a row's text may go on over several lines.
    std::string help = occusim::help_text();
    std::size_t start = 0;
    for (std::size_t nl; (nl = help.find('\n', start)) != std::string::npos; start = nl + 1)
        EXPECT_LE(nl - start, 100u) << help.substr(start, nl - start);
    const std::string continuation = "\n" + std::string(24, ' ');
    for (std::size_t at; (at = help.find(continuation)) != std::string::npos;) help.replace(at, 25, " ");
    for (const occusim::OptionRow &row : occusim::option_table()) {
        // The row's line: under its family heading, with every name, the help
        // and the probability mark.
        std::size_t heading = help.find(std::string("\n") + occusim::family_title(row.family) + ":\n");
        ASSERT_NE(heading, std::string::npos) << row.names[0];
        std::size_t at = help.find(" " + std::string(row.help) + (row.probability ? " [0..1]\n" : "\n"), heading);
        ASSERT_NE(at, std::string::npos) << row.names[0];
        std::size_t line = at;
        do line = help.rfind("\n  ", line - 1); // the synopsis line (a long one wraps)
        while (help[line + 3] == ' ');
        for (const char *n : row.names) {
            if (!n) continue;
            EXPECT_NE(help.substr(line, at - line).find(n), std::string::npos) << n;
        }
    }
}

TEST(Help, HelpAnywhereOnACommandLineAnswersInsteadOfRunning) {
    auto r = run_cli({"T=3", "N=100", "psi=.5", "p=.4", "-h"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, occusim::help_text());
    EXPECT_FALSE(r.exists("occusim.pao"));
}

TEST(Help, VersionIsOneLineWithProgramNameAndVersion) {
    auto r = run_cli({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("occusim8 ") + occusim::program_version() + "\n");
    EXPECT_EQ(r.out, "occusim8 8.0\n");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(std::filesystem::is_empty(r.dir));
}

TEST(Help, ReadmeOptionReferenceIsTheOneTheTableGenerates) {
    const auto readme = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "README.md";
    const std::string text = read_file(readme.string());
    const std::string begin = "<!-- option reference: generated from the option table -->\n";
    const std::string end = "<!-- end of option reference -->\n";
    std::size_t a = text.find(begin);
    std::size_t b = text.find(end);
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    a += begin.size();
    const std::string want = occusim::option_reference_markdown();
    if (text.substr(a, b - a) != want && std::getenv("OCCUSIM_UPDATE_README")) {
        std::ofstream(readme, std::ios::binary) << text.substr(0, a) << want << text.substr(b);
        return;
    }
    EXPECT_EQ(text.substr(a, b - a), want)
        << "README.md option reference is out of date: run this test with OCCUSIM_UPDATE_README=1";
}

} // namespace
