/* Stand-in for the NLopt optimiser in the browser build: the one place where
 * the fitting of simulated replicates is left out of the WebAssembly module.
 * The explorer evaluates designs (expected information, analytic power),
 * which never fit anything; a fit reached anyway finds every search failing,
 * so its replicate is reported as not converged, never as a number. The
 * native build links the real NLopt. */
#include <nlopt.h>
#include <stdlib.h>

struct nlopt_opt_s {
    unsigned n;
};

static const char kNoFit[] = "model fitting is not part of the browser build";

nlopt_opt nlopt_create(nlopt_algorithm algorithm, unsigned n) {
    (void)algorithm;
    nlopt_opt o = malloc(sizeof *o);
    if (o) o->n = n;
    return o;
}

void nlopt_destroy(nlopt_opt opt) { free(opt); }

nlopt_opt nlopt_copy(const nlopt_opt opt) {
    if (!opt) return NULL;
    nlopt_opt o = malloc(sizeof *o);
    if (o) *o = *opt;
    return o;
}

unsigned nlopt_get_dimension(const nlopt_opt opt) { return opt ? opt->n : 0; }

const char *nlopt_get_errmsg(nlopt_opt opt) {
    (void)opt;
    return kNoFit;
}

void nlopt_set_munge(nlopt_opt opt, nlopt_munge munge_on_destroy, nlopt_munge munge_on_copy) {
    (void)opt;
    (void)munge_on_destroy;
    (void)munge_on_copy;
}

nlopt_result nlopt_optimize(nlopt_opt opt, double *x, double *opt_f) {
    (void)opt;
    (void)x;
    (void)opt_f;
    return NLOPT_FAILURE;
}

/* Settings are accepted and have no effect. */
nlopt_result nlopt_set_lower_bounds(nlopt_opt opt, const double *lb) {
    (void)opt;
    (void)lb;
    return NLOPT_SUCCESS;
}
nlopt_result nlopt_set_upper_bounds(nlopt_opt opt, const double *ub) {
    (void)opt;
    (void)ub;
    return NLOPT_SUCCESS;
}
nlopt_result nlopt_set_min_objective(nlopt_opt opt, nlopt_func f, void *f_data) {
    (void)opt;
    (void)f;
    (void)f_data;
    return NLOPT_SUCCESS;
}
nlopt_result nlopt_set_xtol_abs1(nlopt_opt opt, double tol) {
    (void)opt;
    (void)tol;
    return NLOPT_SUCCESS;
}
nlopt_result nlopt_set_ftol_abs(nlopt_opt opt, double tol) {
    (void)opt;
    (void)tol;
    return NLOPT_SUCCESS;
}
nlopt_result nlopt_set_maxeval(nlopt_opt opt, int maxeval) {
    (void)opt;
    (void)maxeval;
    return NLOPT_SUCCESS;
}
nlopt_result nlopt_set_force_stop(nlopt_opt opt, int val) {
    (void)opt;
    (void)val;
    return NLOPT_SUCCESS;
}
nlopt_result nlopt_set_initial_step(nlopt_opt opt, const double *dx) {
    (void)opt;
    (void)dx;
    return NLOPT_SUCCESS;
}
