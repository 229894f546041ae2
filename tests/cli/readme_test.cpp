// The README's examples, run and compared, so that the README cannot drift
// from the program. README.md marks what it shows with HTML comments, which do
// not show when it is rendered:
//
//   Every line of a code block that begins with `occusim8` is a command. It
//   runs in-process in a fresh scratch directory (words split as a POSIX
//   shell splits them; a trailing backslash joins the next line) and must end
//   with status 0 unless `<!-- status: N -->` comes before it.
//   <!-- output: NAME -->  the next code block shows what the last command
//       above it wrote to the file NAME, or printed on `stdout` or `stderr`.
//       A last line "..." shows only the first lines; otherwise the block is
//       the whole text. A "…" inside a line stands for any text (a timing).
//   <!-- sketch -->        the next command runs and must succeed; nothing
//       shown after it is compared.
//   <!-- synopsis -->      the next code block shows the form of a command
//       line with placeholders (for the reader, a scheduler or the shell to
//       fill in); it is not run.
//   A line `# a, b ... c` right below a command in its block names files the
//   command writes (separated by commas, spaces or "..."); each must exist.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/cli.hpp"

using occusim::testing::run_cli;

namespace {

struct Shown {
    std::string what; // file name, "stdout" or "stderr"
    std::vector<std::string> lines;
    int line = 0; // where the block starts in the README
};

struct Example {
    int line = 0;
    std::string command;
    bool sketch = false;
    int status = 0;
    std::vector<std::string> files; // named in a comment below the command
    std::vector<Shown> shown;
};

std::string trimmed(const std::string &s) {
    const std::size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t") + 1 - a);
}

bool starts_with(const std::string &s, const std::string &prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// The words of a command line as a POSIX shell reads them (quotes, backslashes).
std::vector<std::string> shell_words(const std::string &line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    for (std::size_t i = 0; i < line.size(); i++) {
        const char c = line[i];
        if (c == '\'') {
            const std::size_t end = line.find('\'', i + 1);
            word += line.substr(i + 1, end - i - 1);
            i = end;
            in_word = true;
        } else if (c == '"') {
            for (i++; i < line.size() && line[i] != '"'; i++) {
                if (line[i] == '\\' && i + 1 < line.size() && std::string("$`\"\\").find(line[i + 1]) != std::string::npos)
                    i++;
                word += line[i];
            }
            in_word = true;
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line[++i];
            in_word = true;
        } else if (c == ' ' || c == '\t') {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (in_word) words.push_back(word);
    return words;
}

// The README's examples with what it shows of each.
std::vector<Example> read_examples(const std::string &path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);

    std::vector<Example> examples;
    std::string output_of; // set by an output comment: the next block is shown output
    bool sketch = false, synopsis = false;
    int status = 0;
    std::size_t i = 0;
    // A code block from line i on (fenced or indented); i ends after it.
    auto read_block = [&](std::vector<std::string> &block) {
        const std::string t = trimmed(lines[i]);
        if (starts_with(t, "```")) {
            const std::size_t indent = lines[i].find('`');
            for (i++; i < lines.size() && !starts_with(trimmed(lines[i]), "```"); i++)
                block.push_back(lines[i].size() >= indent ? lines[i].substr(indent) : "");
            i++;
        } else {
            for (; i < lines.size() && starts_with(lines[i], "    "); i++) block.push_back(lines[i].substr(4));
        }
    };
    for (bool blank_before = true; i < lines.size();) {
        const std::string t = trimmed(lines[i]);
        const bool opens_block = starts_with(t, "```") || (blank_before && starts_with(lines[i], "    ") && !t.empty());
        if (starts_with(t, "<!-- output: ")) {
            output_of = t.substr(13, t.size() - 13 - 4);
        } else if (t == "<!-- sketch -->") {
            sketch = true;
        } else if (t == "<!-- synopsis -->") {
            synopsis = true;
        } else if (starts_with(t, "<!-- status: ")) {
            status = std::stoi(t.substr(13));
        }
        if (!opens_block) {
            // A marker, like a blank line, may stand right before an indented block.
            blank_before = t.empty() || starts_with(t, "<!-- ");
            i++;
            continue;
        }
        const int first = static_cast<int>(i) + 1;
        std::vector<std::string> block;
        read_block(block);
        blank_before = false;
        if (!output_of.empty()) {
            if (examples.empty()) ADD_FAILURE() << "README.md:" << first << ": output shown before any command";
            else examples.back().shown.push_back({output_of, block, first});
            output_of.clear();
            continue;
        }
        if (synopsis) {
            synopsis = false;
            continue;
        }
        for (std::size_t k = 0; k < block.size(); k++) {
            std::string cmd = trimmed(block[k]);
            if (!starts_with(cmd + " ", "occusim8 ")) continue;
            while (!cmd.empty() && cmd.back() == '\\' && k + 1 < block.size())
                cmd = cmd.substr(0, cmd.size() - 1) + " " + trimmed(block[++k]);
            Example e;
            e.line = first + static_cast<int>(k);
            e.command = cmd;
            e.sketch = sketch;
            e.status = status;
            sketch = false;
            status = 0;
            while (k + 1 < block.size() && starts_with(trimmed(block[k + 1]), "#")) {
                std::string names = trimmed(block[++k]).substr(1);
                for (char &c : names)
                    if (c == ',') c = ' ';
                std::istringstream words(names);
                for (std::string w; words >> w;)
                    if (w != "..." && w != "…") e.files.push_back(w);
            }
            examples.push_back(e);
        }
    }
    return examples;
}

std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        out.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return out;
}

// Whether a line matches one shown, where "…" stands for any text.
bool line_matches(const std::string &shown, const std::string &line) {
    const std::string any = "…";
    std::size_t at = 0, from = 0;
    for (bool first = true;; first = false) {
        const std::size_t gap = shown.find(any, from);
        const std::string piece = shown.substr(from, gap == std::string::npos ? std::string::npos : gap - from);
        if (gap == std::string::npos) {
            if (first) return line == piece;
            return line.size() >= at + piece.size() && line.compare(line.size() - piece.size(), piece.size(), piece) == 0;
        }
        if (first) {
            if (!starts_with(line, piece)) return false;
            at = piece.size();
        } else {
            const std::size_t found = line.find(piece, at);
            if (found == std::string::npos) return false;
            at = found + piece.size();
        }
        from = gap + any.size();
    }
}

TEST(Readme, EveryExampleRunsAndShowsWhatTheProgramWrites) {
    const auto readme = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "README.md";
    const std::vector<Example> examples = read_examples(readme.string());
    ASSERT_GE(examples.size(), 20u) << "the README's examples were not found";
    for (const Example &e : examples) {
        SCOPED_TRACE("README.md:" + std::to_string(e.line) + ": " + e.command);
        std::vector<std::string> words = shell_words(e.command);
        words.erase(words.begin()); // the program name
        const auto r = run_cli(words);
        EXPECT_EQ(r.status, e.status) << r.err;
        for (const std::string &f : e.files) EXPECT_TRUE(r.exists(f)) << f << " was not written";
        if (e.sketch) continue;
        for (const Shown &s : e.shown) {
            SCOPED_TRACE("shown at README.md:" + std::to_string(s.line) + " (" + s.what + ")");
            if (s.what != "stdout" && s.what != "stderr") {
                ASSERT_TRUE(r.exists(s.what)) << s.what << " was not written";
            }
            const std::vector<std::string> got =
                split_lines(s.what == "stdout" ? r.out : s.what == "stderr" ? r.err : r.file(s.what));
            const bool head = !s.lines.empty() && s.lines.back() == "...";
            const std::size_t n = s.lines.size() - (head ? 1 : 0);
            if (head) EXPECT_GE(got.size(), n);
            else EXPECT_EQ(got.size(), n);
            for (std::size_t k = 0; k < n && k < got.size(); k++)
                EXPECT_TRUE(line_matches(s.lines[k], got[k]))
                    << "line " << k + 1 << "\n  shown: " << s.lines[k] << "\n  wrote: " << got[k];
        }
    }
}

TEST(Readme, CommandWordsSplitAsTheShellSplitsThem) {
    const struct {
        const char *line;
        std::vector<std::string> words;
    } cases[] = {
        {"occusim8 T=3  N=100", {"occusim8", "T=3", "N=100"}},
        {"occusim8 'thA'\"'\"'=.8' x", {"occusim8", "thA'=.8", "x"}},
        {"occusim8 \"p(1,1)=.5\" a\\ b", {"occusim8", "p(1,1)=.5", "a b"}},
    };
    for (const auto &c : cases) EXPECT_EQ(shell_words(c.line), c.words) << c.line;
    EXPECT_TRUE(line_matches("seed 2024, 4 threads, … s", "seed 2024, 4 threads, 1.52 s"));
    EXPECT_FALSE(line_matches("seed 2024, 4 threads, … s", "seed 2025, 4 threads, 1.52 s"));
    EXPECT_FALSE(line_matches("0\t1", "0\t1\t"));
}

} // namespace
