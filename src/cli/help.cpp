// The option reference and the version line. Both are read from the option
// table, so a new row appears in --help and in the README reference without
// further editing.
#include "cli/help.hpp"

#include "cli/option_table.hpp"

#ifndef OCCUSIM_VERSION
#define OCCUSIM_VERSION "8.0"
#endif

namespace occusim {

namespace {

// "p=a,b,... (also r, c)" / "STOCH..." / "phi(i,j)=a,b,...": how a row is written.
std::string synopsis(const OptionRow &row) {
    std::string s = row.names[0];
    if (row.prefix) s += s.back() == '(' ? "i,j)" : "...";
    if (row.kind != ValueKind::None) s += std::string("=") + row.value_help;
    std::string also;
    for (const char *n : row.names)
        if (n && n != row.names[0]) also += (also.empty() ? "" : ", ") + std::string(n);
    if (!also.empty()) s += " (also " + also + ")";
    return s;
}

std::string description(const OptionRow &row) {
    std::string d = row.help;
    if (row.probability) d += " [0..1]";
    return d;
}

// Words of `text` in lines of at most `width` characters, every line after
// the first led by `indent`.
std::string wrapped(const std::string &text, std::size_t width, const std::string &indent) {
    std::string out, line;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t j = text.find(' ', i);
        if (j == std::string::npos) j = text.size();
        std::string word = text.substr(i, j - i);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += line + "\n" + indent;
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        i = j + 1;
    }
    return out + line;
}

constexpr std::size_t kSynopsisColumn = 24;
constexpr std::size_t kHelpWidth = 100;

} // namespace

const char *program_version() {
    return OCCUSIM_VERSION;
}

std::string help_text() {
    std::string s = "usage: occusim8 T=n N=x psi=x p=a,b,... [options]   (at least four arguments)\n"
                    "       occusim8 --help | -h    this reference\n"
                    "       occusim8 --version      program name and version\n"
                    "Options are NAME=value or bare switches, applied in command-line order; a list\n"
                    "a,b,... gives one value per survey, and a single value is copied to every survey\n"
                    "T has set so far. Values marked [0..1] are probabilities.\n";
    for (int f = 0; f < kFamilies; f++) {
        bool any = false;
        for (const OptionRow &row : option_table()) {
            if (static_cast<int>(row.family) != f) continue;
            if (!any) s += std::string("\n") + family_title(row.family) + ":\n";
            any = true;
            const std::string indent(kSynopsisColumn, ' ');
            std::string left = "  " + synopsis(row);
            if (left.size() < kSynopsisColumn) left.resize(kSynopsisColumn, ' ');
            else left += "\n" + indent;
            s += left + wrapped(description(row), kHelpWidth - kSynopsisColumn, indent) + "\n";
        }
    }
    return s;
}

std::string option_reference_markdown() {
    std::string s;
    for (int f = 0; f < kFamilies; f++) {
        bool any = false;
        for (const OptionRow &row : option_table()) {
            if (static_cast<int>(row.family) != f) continue;
            if (!any) s += std::string("\n**") + family_title(row.family) + "**\n\n| option | meaning |\n|---|---|\n";
            any = true;
            std::string desc = description(row);
            std::string escaped;
            for (char c : desc) {
                if (c == '|') escaped += "\\|";
                else escaped += c;
            }
            std::string syn = synopsis(row);
            std::string esc_syn;
            for (char c : syn) {
                if (c == '|') esc_syn += "\\|";
                else esc_syn += c;
            }
            s += "| `" + esc_syn + "` | " + escaped + " |\n";
        }
    }
    return s;
}

bool answer_help_or_version(Context &ctx, const Args &args) {
    for (std::size_t i = 1; i < args.size(); i++) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(help_text().c_str(), ctx.out);
            return true;
        }
        if (args[i] == "--version") {
            std::fprintf(ctx.out, "occusim8 %s\n", program_version());
            return true;
        }
    }
    return false;
}

} // namespace occusim
