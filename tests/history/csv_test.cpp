// CSV data sets: the row writer on hand-made histories (symbols, NA, counts,
// frequencies, covariates, batch rows), and every model family end to end:
// the same run and seed written as a history file and as CSV give the same
// histories in the same order with the same counts and covariate values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run.hpp"
#include "core/errors.hpp"
#include "history/csv.hpp"
#include "support/cli.hpp"
#include "support/history.hpp"

using namespace occusim::testing;
using occusim::CsvWriter;
using occusim::HistoryShape;

namespace {

std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (true) {
        std::size_t j = s.find(sep, i);
        out.push_back(s.substr(i, j == std::string::npos ? std::string::npos : j - i));
        if (j == std::string::npos) break;
        i = j + 1;
    }
    return out;
}

// What a CsvWriter renders into a temporary stream.
struct Rendered {
    std::FILE *f = std::tmpfile();
    CsvWriter w;
    explicit Rendered(std::string lead = {}, bool header = true) : w(f, std::move(lead), header) {}
    ~Rendered() { std::fclose(f); }
    std::string text(int surveys = 0) {
        EXPECT_TRUE(w.finish(surveys));
        return read_stream(f);
    }
};

TEST(CsvWriter, SiteRowsMapRemovedAndUnsurveyedToNaAndKeepCounts) {
    Rendered r;
    r.w.begin(HistoryShape{true, 3, 0, 0});
    r.w.history("1\t-\t-\t", 2);  // two sites listed
    r.w.history("0\t.\t12\t", 1); // abundance counts keep their digits
    EXPECT_EQ(r.text(), "site,y1,y2,y3\n1,1,NA,NA\n2,1,NA,NA\n3,0,NA,12\n");
}

TEST(CsvWriter, CopiesOfOneSiteShareItsNumberAndCovariates) {
    Rendered r;
    r.w.begin(HistoryShape{true, 2, 1, 1});
    const double cov[] = {0.5};
    const double pcov[] = {-1.25, 0.1 + 0.2};
    r.w.site(cov, pcov);
    r.w.history("0\t1\t", 2);
    r.w.site(cov, pcov);
    r.w.history("1\t1\t", 0); // NOBS=0: the site has no row but keeps its number
    r.w.site(cov, pcov);
    r.w.history("1\t0\t", 1);
    EXPECT_EQ(r.text(), "site,y1,y2,cov1,pcov1_1,pcov1_2\n"
                        "1,0,1,0.5,-1.25,0.30000000000000004\n"
                        "1,0,1,0.5,-1.25,0.30000000000000004\n"
                        "3,1,0,0.5,-1.25,0.30000000000000004\n");
    EXPECT_EQ(r.w.rows(), 3);
}

TEST(CsvWriter, FrequencyRowsUseTheShortestRoundTripDecimal) {
    Rendered r;
    r.w.begin(HistoryShape{false, 0, 0, 0}); // surveys from the first history
    r.w.history("0\t1", 60.8);
    r.w.history("1\t1", 7.199999999999999);
    r.w.history("2\t3", 1e-12);
    std::string text = r.text();
    EXPECT_EQ(text, "y1,y2,freq\n0,1,60.8\n1,1,7.199999999999999\n2,3,1e-12\n");
    EXPECT_EQ(std::strtod(split(split(text, '\n')[2], ',')[2].c_str(), nullptr), 7.199999999999999);
}

TEST(CsvWriter, HeaderWithoutRowsAndBatchRows) {
    Rendered empty;
    EXPECT_EQ(empty.text(4), "y1,y2,y3,y4,freq\n");

    // A batch renders each replicate with its number in front; the header,
    // written once, names the column.
    EXPECT_EQ(occusim::csv_header(HistoryShape{true, 2, 1, 0}, "rep"), "rep,site,y1,y2,cov1\n");
    Rendered rep("7", false);
    rep.w.begin(HistoryShape{true, 2, 0, 0});
    rep.w.history("0\t1\t", 2);
    EXPECT_EQ(rep.text(), "7,1,0,1\n7,2,0,1\n");
}

TEST(CsvWriter, RefusesAHistoryOfAnotherLength) {
    Rendered r;
    r.w.begin(HistoryShape{false, 3, 0, 0});
    EXPECT_THROW(r.w.history("0\t1\t", 1), occusim::InputError);
}

TEST(CsvWriter, FileStem) {
    EXPECT_EQ(occusim::file_stem("occusim.pao"), "occusim");
    EXPECT_EQ(occusim::file_stem("out/run.1.pao"), "out/run.1");
    EXPECT_EQ(occusim::file_stem("dir.d/plain"), "dir.d/plain");
    EXPECT_EQ(occusim::file_stem(".hidden"), ".hidden");
}

// ---- history file against CSV, family by family ----

struct Data {
    bool per_site = false;
    std::vector<std::vector<std::string>> y; // per line or row, NA for '-' and '.'
    std::vector<double> count;
    std::vector<long> site;                 // CSV site numbers
    std::vector<std::vector<double>> covs;  // by covariate, by site
    std::vector<std::vector<double>> pcovs; // by covariate, by site * T + survey
};

std::vector<std::string> tokens(const std::string &line) {
    std::vector<std::string> out;
    for (std::string t : split(line, '\t')) {
        while (!t.empty() && t.front() == ' ') t.erase(t.begin());
        while (!t.empty() && t.back() == ' ') t.pop_back();
        if (!t.empty()) out.push_back(t);
    }
    return out;
}

// The history file read back: symbols, the line's frequency (1 without one),
// and the covariate blocks (one line per site: `nobs` history lines each).
Data read_pao(const std::string &pao, int nobs) {
    Data d;
    std::vector<std::string> lines = lines_of(pao);
    const int T = std::atoi(lines.at(0).c_str() + lines.at(0).find('\t') + 1);
    std::size_t i = 1;
    for (; i < lines.size() && lines[i].find('\t') != std::string::npos; i++) {
        std::vector<std::string> t = tokens(lines[i]);
        std::vector<std::string> y;
        for (int j = 0; j < T; j++) y.push_back(t.at(j) == "-" || t.at(j) == "." ? "NA" : t.at(j));
        d.y.push_back(y);
        d.count.push_back(static_cast<int>(t.size()) > T ? std::strtod(t[T].c_str(), nullptr) : 1.0);
    }
    const std::size_t nsites = d.y.size() / static_cast<std::size_t>(nobs);
    // "K" then per covariate its name and one line per site.
    auto block = [&](std::vector<std::vector<double>> &out, const char *name) {
        if (i >= lines.size()) return;
        int K = std::atoi(lines[i++].c_str());
        for (int k = 0; k < K && i < lines.size(); k++) {
            EXPECT_EQ(lines[i++], name + std::to_string(k + 1));
            out.emplace_back();
            while (i < lines.size() &&
                   (lines[i].empty() || lines[i][0] == '-' || std::isdigit(lines[i][0])) &&
                   out.back().size() < nsites * static_cast<std::size_t>(name[0] == 'p' ? T : 1))
                for (const auto &v : tokens(lines[i++]))
                    out.back().push_back(std::strtod(v.c_str(), nullptr));
        }
    };
    block(d.covs, "cov");
    block(d.pcovs, "pcov");
    return d;
}

Data read_csv(const std::string &csv) {
    Data d;
    std::vector<std::string> lines = lines_of(csv);
    std::vector<std::string> head = split(lines.at(0), ',');
    d.per_site = head[0] == "site";
    int T = 0, K = 0, P = 0;
    for (const auto &h : head) {
        if (h[0] == 'y') T++;
        if (h.starts_with("cov")) K++;
        if (h.starts_with("pcov")) P++;
    }
    const int first = d.per_site ? 1 : 0;
    d.covs.resize(K);
    d.pcovs.resize(T > 0 ? P / T : 0);
    for (std::size_t r = 1; r < lines.size(); r++) {
        std::vector<std::string> f = split(lines[r], ',');
        EXPECT_EQ(f.size(), head.size()) << lines[r];
        d.y.emplace_back(f.begin() + first, f.begin() + first + T);
        if (!d.per_site) {
            d.count.push_back(std::strtod(f.at(T).c_str(), nullptr));
            continue;
        }
        d.count.push_back(1);
        long s = std::atol(f[0].c_str());
        d.site.push_back(s);
        // Covariates land at their site's place (copies of a site repeat them).
        for (int k = 0; k < K; k++) {
            d.covs[k].resize(static_cast<std::size_t>(s));
            d.covs[k][s - 1] = std::strtod(f.at(1 + T + k).c_str(), nullptr);
        }
        for (int v = 0; v < P; v++) {
            auto &row = d.pcovs[v / T];
            row.resize(static_cast<std::size_t>(s) * T);
            row[(s - 1) * T + v % T] = std::strtod(f.at(1 + T + K + v).c_str(), nullptr);
        }
    }
    return d;
}

void expect_near_all(const std::vector<std::vector<double>> &a, const std::vector<std::vector<double>> &b,
                     const char *what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    for (std::size_t k = 0; k < a.size(); k++) {
        ASSERT_EQ(a[k].size(), b[k].size()) << what << k + 1;
        for (std::size_t i = 0; i < a[k].size(); i++) EXPECT_NEAR(a[k][i], b[k][i], 5.1e-7) << what << k + 1;
    }
}

struct Family {
    const char *name;
    Args args;
    bool per_site;
};

// One case per writer that reaches the data: cohort and site-by-site forms,
// expected values and random data sets.
const Family kFamilies[] = {
    {"single expected", {"T=3", "N=100", "psi=.5", "p=.4", "QUIET"}, false},
    {"single stochastic, removal and P0MISS",
     {"T=4", "N=60", "psi=.8", "p=.5,0,.6,.5", "REMOVAL", "P0MISS", "STOCH", "SEED=3", "QUIET"},
     true},
    {"single by site, covariates and copies",
     {"T=3", "N=40", "psi=.6", "p=.5", "NCOVS=2", "coef=0,1,-1", "NOBS=2", "NPCOVS=2", "pcoef=1,-.5",
      "SIMTYPE=2", "SEED=41", "QUIET"},
     true},
    {"single by site, removal",
     {"T=4", "N=50", "psi=.7", "p=.6", "REMOVAL", "SIMTYPE=2", "SEED=8", "QUIET"},
     true},
    {"false positive",
     {"T=2", "N=50", "psi=.5", "p=.5,0", "p10=.2", "b=.5", "STOCH", "SEED=3", "P0MISS", "QUIET"},
     false},
    {"heterogeneity", {"T=3", "N=100", "psi=.5", "p=.4", "pi=.4", "pB=.2", "QUIET"}, false},
    {"multi-method",
     {"T=2", "METH=2", "N=20", "psi=.7", "th0=.8", "p1=.6", "p2=.4", "STOCH", "SEED=12345", "QUIET"},
     true},
    {"spatial", {"T=3", "N=100", "psi=.5", "p=.4", "th0=.6", "th1=.8", "QUIET"}, false},
    {"spatial by site",
     {"T=6", "N=40", "psi=.5", "SPS=3,3", "p=.5", "th1=.5", "gam=.3", "SIMTYPE=2", "SEED=1", "QUIET"},
     false},
    {"spatial records",
     with(Args{"4",  "200", ".7", ".5", ".6", ".7", ".8", ".3", ".2", ".3", ".4", ".8", ".9",
               ".6", ".7",  ".6", ".5", ".4", ".3", "0",  ".1", "0",  "0",  ".2", "0"},
          {"T=4", "SPADMS", "QUIET"}),
     false},
    {"spatial records by site",
     with(Args{"4",  "200", ".7", ".5", ".6", ".7", ".8", ".3", ".2", ".3", ".4", ".8", ".9",
               ".6", ".7",  ".6", ".5", ".4", ".3", "0",  ".1", "0",  "0",  ".2", "0"},
          {"T=4", "SPADMS", "SIMTYPE=2", "SEED=5", "QUIET"}),
     false},
    {"royle expected", {"T=2", "N=100", "psi=.8", "Lambda=.5", "r=.4,.6", "QUIET"}, false},
    {"royle counts", {"T=3", "N=30", "psi=.8", "Lambda=30", "r=.5", "SEED=4", "QUIET"}, true},
    {"two species",
     {"T=2", "N=100", "psiA=.5", "psiBA=.6", "psiBa=.2", "pA=.5", "pB=.4", "rA=.6", "QUIET"},
     false},
    {"two species by site",
     {"T=3", "N=30", "psiA=.5", "psiBA=.6", "psiBa=.2", "pA=.5", "pB=.4", "SIMTYPE=2", "SEED=6", "QUIET"},
     true},
    {"two species seasons",
     {"T=2", "SPS=1", "N=100", "psiA=.6", "psiBA=.5", "psiBa=.25", "pA=.5", "pB=.4", "gamAb=.2", "epsAB=.1",
      "QUIET"},
     false},
    {"two species seasons by site",
     {"T=3", "SPS=2,1", "N=30", "psiA=.6", "psiBA=.5", "psiBa=.25", "pA=.5", "pB=.4", "gamAb=.2", "epsAB=.1",
      "SIMTYPE=2", "SEED=7", "QUIET"},
     true},
    {"two species correlated",
     {"T=2", "N=100", "psiA=.6", "psiBA=.5", "psiBa=.25", "pA=.5", "pB=.4", "thA=.5", "thBA=.6", "QUIET"},
     false},
    {"two species correlated by site",
     {"T=3", "N=40", "psiA=.6", "psiBA=.5", "psiBa=.25", "pA=.5", "pB=.4", "thA=.5", "thBA=.6", "SIMTYPE=2",
      "SEED=14", "QUIET"},
     false},
    {"staggered entry", {"T=3", "N=100", "psi=.5", "p=.5", "STAG", "QUIET"}, false},
    {"staggered entry by site",
     {"T=3", "N=8", "psi=.7", "p=.8", "Ent=.5", "Dep=.5", "SIMTYPE=2", "SEED=2", "STAG", "QUIET"},
     false},
    {"integrated",
     {"T=2", "N=100", "pi=.5", "psiA=.5", "psiB=.5", "pA=.5", "pB=.7", "INTEGRATED", "QUIET"},
     false},
    {"integrated stochastic",
     {"T=2", "N=30", "pi=.5", "psiA=.5", "psiB=.5", "pA=.5", "pB=.7", "STOCH", "SEED=3", "INTEGRATED",
      "QUIET"},
     true},
    {"integrated by unit",
     {"T=3", "N=20", "pi=.5", "psiA=.5", "psiB=.5", "pA=.5", "pB=.7", "SIMTYPE=2", "SEED=3", "INTEGRATED",
      "QUIET"},
     true},
    {"multistate", {"T=2", "N=100", "MULTISTATE", "psi0=.5", "R0=.4", "p1=.5", "p2=.8", "QUIET"}, false},
    {"multistate by site",
     {"T=3", "N=30", "psi0=.6", "R0=.5", "p1=.5", "p2=.7", "dlta=.4", "SIMTYPE=2", "SEED=11", "QUIET"},
     false},
    {"multistate states", {"T=2", "N=100", "NSTATES=3", "Psi=.6", "p(1,1)=.5", "p(2,1)=.2", "QUIET"}, false},
    {"multistate correlated",
     {"1",  "100", ".5", "0", "0", ".6", "0",  "0", "0", "0", "0", "0", "0",    "0",
      ".5", ".8",  "0",  "0", "0", "0",  "0",  "0", "0", "0", "0", "0", "0",    "0",
      "0",  "0",   "0",  "0", "0", "0",  ".4", "0", "0", "0", "0", "0", "MSCD", "QUIET"},
     false},
};

TEST(CsvData, EveryFamilyWritesTheHistoryFileData) {
    for (const Family &fam : kFamilies) {
        SCOPED_TRACE(fam.name);
        auto pao = run_cli(fam.args);
        auto csv = run_cli(with(fam.args, {"FORMAT=csv"}));
        ASSERT_EQ(pao.status, 0) << pao.err;
        ASSERT_EQ(csv.status, 0) << csv.err;
        // The CSV replaces the history file; nothing else is left behind.
        EXPECT_FALSE(csv.exists("occusim.pao"));
        EXPECT_FALSE(csv.exists("occusim.pao.scratch"));
        EXPECT_FALSE(csv.exists("occusim.csv.part"));
        EXPECT_TRUE(csv.exists("occusim.json"));
        EXPECT_FALSE(pao.exists("occusim.csv"));

        int nobs = 1;
        for (const auto &a : fam.args)
            if (a.starts_with("NOBS=")) nobs = std::atoi(a.c_str() + 5);
        Data want = read_pao(pao.pao(), nobs);
        Data got = read_csv(csv.file("occusim.csv"));
        EXPECT_EQ(got.per_site, fam.per_site);
        ASSERT_EQ(got.y.size(), want.y.size());
        EXPECT_EQ(got.y, want.y);
        for (std::size_t r = 0; r < want.count.size(); r++)
            EXPECT_NEAR(got.count[r], want.count[r], 5.1e-7 + 1e-9 * want.count[r]) << "row " << r + 1;
        expect_near_all(got.covs, want.covs, "cov");
        expect_near_all(got.pcovs, want.pcovs, "pcov");
    }
}

TEST(CsvData, NaStandsForRemovedAndUnsurveyed) {
    auto r = run_cli({"T=4", "N=60", "psi=.8", "p=.5,0,.6,.5", "REMOVAL", "P0MISS", "STOCH", "SEED=3",
                      "QUIET", "FORMAT=csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string csv = r.file("occusim.csv");
    EXPECT_EQ(csv.find('-'), std::string::npos);
    EXPECT_EQ(csv.find('.'), std::string::npos);
    // Survey 2 is never surveyed; after a detection every later survey is removed.
    for (const auto &line : lines_of(csv)) {
        if (line.starts_with("site")) continue;
        auto f = split(line, ',');
        EXPECT_EQ(f[2], "NA") << line;
        if (f[1] == "1") {
            EXPECT_EQ(f[3] + f[4], "NANA") << line;
        }
    }
}

TEST(CsvData, OutfileNamesTheStemAndRefusals) {
    auto r = run_cli({"T=2", "N=10", "psi=.5", "p=.5", "outfile=study.run.pao", "FORMAT=csv", "QUIET"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.exists("study.run.csv"));
    EXPECT_TRUE(r.exists("study.run.json"));
    EXPECT_FALSE(r.exists("study.run.pao"));

    auto bad = run_cli({"T=2", "N=10", "psi=.5", "p=.5", "FORMAT=xlsx", "QUIET"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "occusim8: error: FORMAT=xlsx: the data layout is pao or csv\n");
    EXPECT_FALSE(bad.exists("occusim.pao"));

    // A run that fails leaves no data file.
    auto fails = run_cli({"T=2", "N=10", "psi=.5", "p=.5", "FORMAT=csv", "QUIET"}, "", blocking("occusim.csv"));
    EXPECT_EQ(fails.status, 1);
    EXPECT_EQ(fails.err, "occusim8: error: cannot create 'occusim.csv': Is a directory\n");
    auto late = run_cli({"T=3", "N=10", "psi=.5", "p=.5", "SIMTYPE=2", "SEED=1", "FORMAT=csv", "QUIET"}, "",
                        blocking("occusim.pao.scratch"));
    EXPECT_EQ(late.status, 1);
    EXPECT_FALSE(late.exists("occusim.csv"));
    EXPECT_FALSE(late.exists("occusim.csv.part"));
}

// A run that keeps its files in memory (internal evaluations, the browser
// build) ends with the files a run on disk leaves: no scratch file, no empty
// second stream.
TEST(CsvData, FilesKeptInMemoryAreThoseLeftOnDisk) {
    const std::vector<Args> lines = {
        {"T=3", "N=10", "psi=.5", "p=.5", "FORMAT=csv", "QUIET"},
        {"T=3", "N=10", "psi=.5", "p=.5", "FORMAT=csv", "QUIET", "outfile=study.pao"},
        {"T=3", "N=10", "psi=.5", "p=.5", "SIMTYPE=2", "SEED=4", "FORMAT=csv", "QUIET", "outfile=s.pao"},
    };
    for (const Args &line : lines) {
        auto disk = run_cli(line);
        ASSERT_EQ(disk.status, 0) << disk.err;
        std::vector<std::string> on_disk;
        for (const auto &e : std::filesystem::directory_iterator(disk.dir)) on_disk.push_back(e.path().filename());
        std::sort(on_disk.begin(), on_disk.end());

        occusim::MemoryFiles memory;
        occusim::Context ctx;
        ctx.out = occusim::open_null_stream();
        ctx.err = occusim::open_null_stream();
        ctx.memory = &memory;
        const int status = occusim::execute(ctx, with({"occusim8"}, line));
        std::fclose(ctx.out);
        std::fclose(ctx.err);
        ctx.out = stdout;
        ctx.err = stderr;
        EXPECT_EQ(status, 0);
        std::vector<std::string> in_memory;
        for (const auto &[name, text] : memory.files) in_memory.push_back(name);
        EXPECT_EQ(in_memory, on_disk) << line.back();
    }
}

} // namespace
