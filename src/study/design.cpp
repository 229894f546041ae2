// Design evaluation: expected information from the history probabilities,
// its inverse, and the two reports (console table and CSV file).
#include "study/design.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <new>

#include "core/errors.hpp"
#include "study/covariates.hpp"

namespace occusim {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Eigenvalues of the information in correlation form below this (relative to
// the largest) span its singular part: the differences carry relative errors
// near 1e-8, so anything smaller cannot be told from an exact zero.
constexpr double kSingularEigen = 1e-6;
// A parameter whose squared loading on the singular part exceeds this is
// caught in it.
constexpr double kSingularLoading = 1e-4;

} // namespace

bool expected_information(HistoryProbabilities &model, const std::vector<double> &values, double sites,
                          Eigen::MatrixXd &info, double step) {
    const auto &params = model.parameters();
    std::vector<std::size_t> est;
    for (std::size_t j = 0; j < params.size(); j++)
        if (!params[j].fixed) est.push_back(j);
    const std::size_t k = est.size();
    std::vector<double> centre, plus, minus;
    if (!model.evaluate(values.data(), centre)) return false;

    std::vector<std::vector<double>> grad(k);
    std::vector<char> dropped;
    std::vector<double> v = values;
    for (std::size_t a = 0; a < k; a++) {
        const std::size_t j = est[a];
        const Parameter &p = params[j];
        const double eta = p.to_free(values[j]);
        v[j] = p.from_free(eta + step);
        const bool up = model.evaluate(v.data(), plus);
        v[j] = p.from_free(eta - step);
        const bool down = model.evaluate(v.data(), minus);
        v[j] = values[j];
        if (!up && !down) return false;
        const std::size_t H = model.histories();
        dropped.resize(H, 0);
        grad[a].assign(H, 0.0);
        auto at = [](const std::vector<double> &x, std::size_t h) { return h < x.size() ? x[h] : 0.0; };
        for (std::size_t h = 0; h < H; h++) {
            const double c = at(centre, h), hi = at(plus, h), lo = at(minus, h);
            if (up && down) {
                grad[a][h] = (hi - lo) / (2 * step);
                // A history the model keeps only above a storage threshold
                // can vanish on one side; its difference would be that
                // threshold, not a derivative.
                if (c > 0 && (hi <= 0 || lo <= 0)) dropped[h] = 1;
            } else {
                grad[a][h] = up ? (hi - c) / step : (c - lo) / step;
            }
        }
    }
    info = Eigen::MatrixXd::Zero(static_cast<Eigen::Index>(k), static_cast<Eigen::Index>(k));
    for (std::size_t h = 0; h < centre.size(); h++) {
        const double c = centre[h];
        if (!(c > 0) || (h < dropped.size() && dropped[h])) continue;
        for (std::size_t a = 0; a < k; a++) {
            const double ga = grad[a][h] / c;
            if (ga == 0) continue;
            for (std::size_t b = 0; b <= a; b++) info(a, b) += ga * grad[b][h];
        }
    }
    for (std::size_t a = 0; a < k; a++)
        for (std::size_t b = 0; b < a; b++) info(b, a) = info(a, b);
    info *= sites;
    return true;
}

std::vector<double> information_variances(const Eigen::MatrixXd &info) {
    const auto k = static_cast<std::size_t>(info.rows());
    std::vector<double> var(k, kNaN);
    double maxdiag = 0;
    for (std::size_t i = 0; i < k; i++) {
        double d = info(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(i));
        if (!std::isfinite(d)) return var;
        maxdiag = std::max(maxdiag, d);
    }
    if (!(maxdiag > 0)) return var;
    // Parameters the data say nothing about are left out; the rest are
    // scaled to unit diagonal so that the tolerances do not depend on units.
    std::vector<Eigen::Index> keep;
    for (std::size_t i = 0; i < k; i++) {
        auto ii = static_cast<Eigen::Index>(i);
        if (info(ii, ii) > 1e-12 * maxdiag) keep.push_back(ii);
    }
    const auto m = static_cast<Eigen::Index>(keep.size());
    Eigen::VectorXd d(m);
    for (Eigen::Index i = 0; i < m; i++) d(i) = std::sqrt(info(keep[i], keep[i]));
    Eigen::MatrixXd S(m, m);
    for (Eigen::Index i = 0; i < m; i++)
        for (Eigen::Index j = 0; j < m; j++) S(i, j) = info(keep[i], keep[j]) / (d(i) * d(j));
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> es(S);
    if (es.info() != Eigen::Success) return var;
    const Eigen::VectorXd &lambda = es.eigenvalues();
    const Eigen::MatrixXd &V = es.eigenvectors();
    const double tol = kSingularEigen * std::max(1.0, lambda(m - 1));
    for (Eigen::Index i = 0; i < m; i++) {
        double loading = 0, v = 0;
        for (Eigen::Index c = 0; c < m; c++) {
            double w = V(i, c) * V(i, c);
            if (lambda(c) <= tol)
                loading += w;
            else
                v += w / lambda(c);
        }
        if (loading <= kSingularLoading) var[static_cast<std::size_t>(keep[i])] = v / (d(i) * d(i));
    }
    return var;
}

std::vector<DesignRow> evaluate_design(const Preparer &prepare, const Args &args) {
    {
        QuietContext probe;
        prepare(probe.ctx, args);
        if (has_covariates(probe.ctx)) return covariate_design(prepare, args);
    }
    std::vector<Parameter> params = study_parameters(prepare, args);
    HistoryProbabilities model(prepare, args, params);
    const std::vector<double> values = given_values(params);
    Eigen::MatrixXd info;
    if (!expected_information(model, values, model.sites(), info))
        input_error("DESIGN: the model cannot be evaluated at the given values");
    return design_rows(params, info);
}

std::vector<DesignRow> design_rows(const std::vector<Parameter> &params, const Eigen::MatrixXd &info) {
    const std::vector<double> var = information_variances(info);
    std::vector<DesignRow> rows;
    std::size_t a = 0;
    for (const Parameter &p : params) {
        DesignRow r{p.name, p.value, kNaN, ""};
        if (p.fixed) {
            r.note = "fixed";
        } else {
            const double v = var[a++];
            if (std::isnan(v))
                r.note = "not estimable";
            else
                r.se = std::sqrt(v) * p.derivative(p.to_free(p.value));
        }
        rows.push_back(std::move(r));
    }
    return rows;
}

std::vector<std::optional<double>> design_nulls(const std::vector<DesignRow> &rows, const WaldTests &tests) {
    std::vector<Parameter> params(rows.size());
    for (std::size_t i = 0; i < rows.size(); i++) {
        params[i].name = rows[i].name;
        params[i].value = rows[i].value;
        params[i].scale = rows[i].slope ? Scale::Linear : Scale::Logit;
        params[i].fixed = rows[i].note == "fixed";
    }
    return parameter_nulls(params, tests);
}

void add_design_power(std::vector<DesignRow> &rows, const WaldTests &tests) {
    const std::vector<std::optional<double>> nulls = design_nulls(rows, tests);
    for (std::size_t i = 0; i < rows.size(); i++)
        if (nulls[i]) rows[i].power = wald_power(rows[i].value - *nulls[i], rows[i].se, tests.alpha);
}

void print_design(std::FILE *out, const std::vector<DesignRow> &rows) {
    std::fprintf(out, "design evaluation:\n");
    std::fprintf(out, "%-12s %12s %12s %12s %12s %12s  %s\n", "parameter", "value", "se", "cv", "ci95",
                 "power", "note");
    for (const DesignRow &r : rows) {
        char power[32] = "-";
        if (!std::isnan(r.power)) std::snprintf(power, sizeof power, "%.6f", r.power);
        if (std::isnan(r.se))
            std::fprintf(out, "%-12s %12.6f %12s %12s %12s %12s  %s\n", r.name.c_str(), r.value, "-", "-",
                         "-", power, r.note.c_str());
        else if (r.value == 0) // no coefficient of variation about 0
            std::fprintf(out, "%-12s %12.6f %12.6f %12s %12.6f %12s\n", r.name.c_str(), r.value, r.se, "-",
                         1.96 * r.se, power);
        else
            std::fprintf(out, "%-12s %12.6f %12.6f %12.6f %12.6f %12s\n", r.name.c_str(), r.value, r.se,
                         r.se / r.value, 1.96 * r.se, power);
    }
}

std::string csv_number(double v) {
    if (std::isnan(v)) return "";
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

std::string design_csv(const std::vector<DesignRow> &rows) {
    std::string text = "parameter,value,se,cv,ci95,note,power\n";
    for (const DesignRow &r : rows) {
        const bool has = !std::isnan(r.se);
        text += r.name + "," + csv_number(r.value) + "," + csv_number(r.se) + "," +
                (has && r.value != 0 ? csv_number(r.se / r.value) : "") + "," +
                (has ? csv_number(1.96 * r.se) : "") + "," + r.note + "," + csv_number(r.power) + "\n";
    }
    return text;
}

std::string output_stem(const std::string &outfile) {
    std::size_t dot = outfile.rfind('.');
    std::size_t slash = outfile.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return outfile;
    return outfile.substr(0, dot);
}

int report_design(Context &ctx, const Args &args, const Preparer &prepare) {
    std::vector<DesignRow> rows;
    try {
        rows = evaluate_design(prepare, args);
        add_design_power(rows, WaldTests{ctx.NULLS, ctx.ALPHA});
    } catch (const InputError &e) {
        std::fprintf(ctx.err, "occusim8: error: %s\n", e.what());
        return 1;
    } catch (const RunFinished &) {
        std::fprintf(ctx.err, "occusim8: error: DESIGN: the model cannot be evaluated\n");
        return 1;
    } catch (const std::bad_alloc &) {
        std::fprintf(ctx.err, "occusim8: error: out of memory\n");
        return 1;
    }
    print_design(ctx.out, rows);
    const std::string name = output_stem(ctx.outfile) + "_design.csv";
    const std::string text = design_csv(rows);
    try {
        ctx.write_file(name, text);
    } catch (const FileError &e) {
        std::fflush(ctx.out);
        std::fprintf(ctx.err, "occusim8: %s\n", e.what());
        return 1;
    }
    return 0;
}

void refuse_study(const Context &ctx) {
    std::string why;
    if (ctx.DESIGN) why = design_refusal(ctx);
    if (why.empty() && ctx.FIT) why = fit_refusal(ctx);
    if (!why.empty()) input_error("%s", why.c_str());
}

} // namespace occusim
