// Single-species occupancy simulated one site at a time. Each site draws its
// true occupancy, from the first-season psi or, with site covariates, from a
// logistic regression on standard-normal covariate values; then, survey by
// survey, its local availability (spatial dependence or the visit of a
// multi-method design), a detection that may be certain, a false-positive
// detection when the site is unoccupied or unavailable, and the colonisation
// or extinction before the next survey. Each site's history is written
// straight into the history file (NOBS copies per site), followed by the
// covariate values. With a removal design a site is not surveyed any more once
// it has been detected: every later survey of it reads '-'.
//
// Detection covariates (NPCOVS=K, pcoef=a1..aK) vary detection from visit to
// visit: each site-survey gets K standard-normal values x_kij, drawn for a
// site (covariate by covariate, survey by survey) just before that site is
// simulated, after all site covariates, and survey j of site i detects with
// logistic(logit(p_j) + sum_k a_k x_kij); a p_j of exactly 0 or 1 stays. They
// follow the site covariates in the history file's sampling-covariate block,
// one line per site holding its T values; until then each covariate's lines
// wait in a temporary file. Without them no value is drawn.
#include "models/single/by_indiv.hpp"

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "random/variates.hpp"

namespace occusim {

namespace {

// theta row 1 reads gam up to entry 2 * nper, the last of gam's 1000 entries
// for 499 surveys.
constexpr int kMaxSurveys = 499;

// Number of sites: the site count truncated toward zero, refused when it has
// no integer value.
int site_count(double n) {
    if (!(n > -2147483648.0 && n < 2147483648.0))
        input_error("N=%g: site-by-site simulation needs a site count that fits an integer", n);
    return static_cast<int>(n);
}

// Standard-normal covariate values, covariate by covariate and site by site
// within each covariate; the first draws of the simulation. Every row has at
// least one entry, so the first site's occupancy can be shown even without
// sites.
void draw_covariates(Context &ctx, int nsites) {
    int rows = ctx.ncovs > 0 ? ctx.ncovs : 0;
    // Row by row: a run without covariates allocates nothing per site.
    ctx.cov.clear();
    ctx.cov.resize(static_cast<std::size_t>(rows));
    for (int k = 0; k < rows; k++) {
        ctx.cov[k].assign(static_cast<std::size_t>(nsites > 0 ? nsites : 1), 0.0);
        for (int i = 0; i < nsites; i++) ctx.cov[k][i] = rand_norm(ctx.rng);
    }
}

// Detection covariates of the run: the values of the site being simulated
// (covariate by covariate, survey by survey), its detection probability per
// survey, and for the history file's sampling-covariate block each
// covariate's lines written so far, kept in a temporary file per covariate so
// that memory does not grow with the number of sites.
struct DetectionCovariates {
    int K = 0;
    int T = 0;
    Vec x;       // K * T values of the current site
    Vec logit_p; // logit of p_j (surveys with p_j strictly inside (0, 1))
    Vec p;       // detection probability per survey at the current site
    struct Closer {
        void operator()(std::FILE *f) const { std::fclose(f); }
    };
    std::vector<std::unique_ptr<std::FILE, Closer>> lines; // per covariate: one line per site so far
    std::string line;

    explicit DetectionCovariates(const Context &ctx) : K(ctx.NPCOVS > 0 ? ctx.NPCOVS : 0), T(ctx.nper) {
        if (K == 0) return;
        x.assign(static_cast<std::size_t>(K) * static_cast<std::size_t>(T), 0.0);
        logit_p.assign(static_cast<std::size_t>(T), 0.0);
        p.assign(static_cast<std::size_t>(T), 0.0);
        for (int j = 0; j < T; j++) {
            const double pj = ctx.pa[j];
            if (pj > 0 && pj < 1) logit_p[j] = std::log(pj / (1 - pj));
        }
        for (int k = 0; k < K; k++) {
            lines.emplace_back(std::tmpfile());
            if (!lines.back())
                input_error("NPCOVS=%d: no temporary file for detection covariate %d", K, k + 1);
        }
    }
    // Draws the current site's values, sets its detection probabilities and
    // keeps its lines.
    void draw(Context &ctx) {
        for (double &v : x) v = rand_norm(ctx.rng);
        for (int j = 0; j < T; j++) {
            const double pj = ctx.pa[j];
            if (!(pj > 0 && pj < 1)) {
                p[j] = pj;
                continue;
            }
            double eta = logit_p[j];
            for (int k = 0; k < K; k++) eta += ctx.pcoef[k] * x[static_cast<std::size_t>(k) * T + j];
            p[j] = 1 / (1 + std::exp(-eta));
        }
        char num[400];
        for (int k = 0; k < K; k++) {
            line.clear();
            for (int j = 0; j < T; j++) {
                std::snprintf(num, sizeof num, j > 0 ? "\t%f" : "%f", x[static_cast<std::size_t>(k) * T + j]);
                line += num;
            }
            line += '\n';
            if (std::fwrite(line.data(), 1, line.size(), lines[k].get()) != line.size())
                input_error("NPCOVS=%d: cannot keep the detection covariate values (temporary file full)", K);
        }
    }

    // Copies covariate k's lines into the history file.
    void copy_lines(int k, std::FILE *f) const {
        std::FILE *src = lines[k].get();
        // Lines still buffered must reach the file before it is read back.
        if (std::fflush(src) != 0 || std::ferror(src))
            input_error("NPCOVS=%d: cannot keep the detection covariate values (temporary file full)", K);
        std::rewind(src);
        char chunk[65536];
        std::size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, src)) > 0) std::fwrite(chunk, 1, got, f);
        if (std::ferror(src)) input_error("NPCOVS=%d: cannot read the detection covariate values back", K);
    }
};

void print_row(Context &ctx, const char *label, const Vec &row) {
    std::fprintf(ctx.out, "%s", label);
    for (int j = 0; j < ctx.nper; j++) std::fprintf(ctx.out, " %f", row[j]);
    std::fprintf(ctx.out, "\n");
}

// Simulates one site and fills the survey characters of `line` (each followed
// by a tab, the line closed by a newline).
void simulate_site(Context &ctx, int i, std::string &line, const Vec &p) {
    ctx.psi = get_occ_with_covs(ctx, i);
    int z = ctx.Random() > ctx.psi ? 0 : 1;   // occupied
    int s = ctx.Random() < ctx.pi[0] ? 1 : 0; // local state
    char miss = '0';
    char hit = '1';
    bool removed = false; // detected in a removal design: no longer surveyed
    int a = 1;            // available
    for (int j = 0; j < ctx.nper; j++) {
        char ch = miss;
        if (ctx.SPADEP > 0) {
            a = ctx.Random() <= ctx.theta[s][j] ? 1 : 0;
            s = a;
        }
        if (ctx.METH > 1 && j % ctx.METH == 0) a = ctx.Random() <= ctx.theta[0][ctx.Survey[j]] ? 1 : 0;
        if (z >= 1 && a >= 1) {
            if (ctx.Random() < p[j]) {
                ch = hit;
                double u = ctx.Random();
                if (u < ctx.b[j] && !removed) ch = '2';
                if (ctx.REMOVAL) {
                    miss = hit = '-';
                    removed = true;
                }
            }
        } else {
            double u = ctx.Random();
            if (u < ctx.p10[j] && !removed) ch = '1';
        }
        double e = ctx.eps[j];
        if (z == 0 && ctx.SPADEP == 0) e = ctx.gam[j + 1];
        if (ctx.Random() < e) z = 1 - z;
        line[2 * static_cast<std::size_t>(j)] = ch;
    }
}

// Site covariates (count, then each covariate's values one site a line), the
// sampling covariates (count, then each covariate's values one site a line,
// the site's T values tab-separated), the surveys-per-season list and the
// closing text.
void write_trailer(Context &ctx, int nsites, const DetectionCovariates &dc) {
    std::FILE *f = ctx.fp2;
    std::fprintf(f, "%d\n", ctx.ncovs);
    for (int k = 0; k < ctx.ncovs; k++) {
        std::fprintf(f, "cov%d\n", k + 1);
        for (int i = 0; i < nsites; i++) std::fprintf(f, "%f\n", ctx.cov[k][i]);
    }
    ctx.cov.clear();
    ctx.cov.shrink_to_fit();
    std::fprintf(f, "%d\n", dc.K);
    for (int k = 0; k < dc.K; k++) {
        std::fprintf(f, "pcov%d\n", k + 1);
        dc.copy_lines(k, f);
    }
    std::fprintf(f, "%d", ctx.SRVYPERSEASN[0]);
    for (int k = 1; k < ctx.nseasns; k++) std::fprintf(f, ",%d", ctx.SRVYPERSEASN[k]);
    std::fprintf(f, "\nsimulated data from occusim8\n");
}

} // namespace

void hand_over_to_sites(Context &ctx) {
    if (ctx.determ != 0 && ctx.replicate == 0 && ctx.advise)
        std::fprintf(ctx.err,
                     "occusim8: warning: expected values are computed for at most 16 surveys (this design has "
                     "%d); this run simulates one random data set site by site instead\n",
                     ctx.nper);
    ctx.simulate_instead(true);
}

double get_occ_with_covs(Context &ctx, int i) {
    if (ctx.ncovs <= 0) return ctx.gam[0];
    double x = ctx.coef[0];
    for (int k = 0; k < ctx.ncovs; k++) x += ctx.cov[k][i] * ctx.coef[k + 1];
    return 1 / (std::exp(-x) + 1);
}

void caphis_by_indiv(Context &ctx, double n) {
    if (ctx.nper > kMaxSurveys)
        input_error("%d surveys: site-by-site simulation handles at most %d surveys", ctx.nper, kMaxSurveys);
    int nsites = site_count(n);
    if (!ctx.QUIET) std::fprintf(ctx.out, "caphis_by_indiv(n=%f nper=%d)\n", n, ctx.nper);
    draw_covariates(ctx, nsites);
    ctx.psi = get_occ_with_covs(ctx, 0);

    // Availability: row r, entry j given local state r before survey j; with
    // several methods row 0, entry v is the availability at visit v.
    for (int j = 0; j < ctx.nper; j++) {
        ctx.theta[0][j] = ctx.gam[j + 1];
        ctx.theta[1][j] = ctx.gam[ctx.nper + j + 1];
    }
    if (!ctx.QUIET) {
        std::fprintf(ctx.out, "NOBS=%d METH=%d psi=%f gam=%f %f %f\n", ctx.NOBS, ctx.METH, ctx.psi,
                     ctx.gam[0], ctx.gam[1], ctx.gam[2]);
        print_row(ctx, "theta :", ctx.theta[0]);
        print_row(ctx, "theta':", ctx.theta[1]);
    }

    std::FILE *f = ctx.fp2;
    std::fprintf(f, "%lld%c%d\n", static_cast<long long>(nsites) * ctx.NOBS, '\t', ctx.nper);
    std::string line(2 * static_cast<std::size_t>(ctx.nper) + 1, '\t');
    line.back() = '\n';
    DetectionCovariates dc(ctx);
    const Vec &p = dc.K > 0 ? dc.p : ctx.pa;
    Vec site_covs(static_cast<std::size_t>(ctx.ncovs > 0 ? ctx.ncovs : 0));
    if (ctx.sink) ctx.sink->begin(HistoryShape{true, ctx.nper, ctx.ncovs > 0 ? ctx.ncovs : 0, dc.K});
    const std::string_view fields(line.data(), line.size() - 1);
    for (int i = 0; i < nsites; i++) {
        if (dc.K > 0) dc.draw(ctx);
        simulate_site(ctx, i, line, p);
        for (int c = 0; c < ctx.NOBS; c++) std::fwrite(line.data(), 1, line.size(), f);
        if (ctx.sink) {
            for (std::size_t k = 0; k < site_covs.size(); k++) site_covs[k] = ctx.cov[k][i];
            ctx.sink->site(site_covs, dc.x);
            ctx.sink->history(fields, ctx.NOBS);
        }
    }
    write_trailer(ctx, nsites, dc);

    ctx.history_written = true;
    ctx.close(ctx.fp2);
    ctx.close(ctx.fp);
    finish(0);
}

} // namespace occusim
