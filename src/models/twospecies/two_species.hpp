// Two-species co-occurrence models: the family entry, the single-season model
// and the pieces its two variants (correlated detections, several seasons)
// share with it.
#pragma once

#include <cstdio>

#include "driver/context.hpp"

namespace occusim {

// Longest history a site-by-site two-species run builds (one site's line
// holds at most 511 survey characters).
inline constexpr int kMaxSiteSurveys = 511;

// Entry of the two-species family; returns only after site-by-site simulation
// of the single-season model.
void do_two_species(Context &ctx);

// Cohort recursion of the single-season model: n sites in true state `state`
// (1 A only, 2 B only, 3 both) with base-4 history `code` so far, at survey d
// (from 1). Adds the final cohort sizes into nx.
void caphis2(Context &ctx, int code, int d, int state, double n);

// ---- shared by the family ----

// The number of sites as a whole number (ns truncated, held to the int range).
int site_count(double ns);

// Sites of a cohort run split by true occupancy state.
struct TwoSpeciesOccupancy {
    double nAonly = 0, nBonly = 0, nAB = 0, neither = 0;
};
// Splits the ns sites by A's and then B's presence (three binoml calls).
TwoSpeciesOccupancy split_occupancy(Context &ctx);
// Draws one site's presence of A and then of B (two uniforms).
void draw_site_occupancy(Context &ctx, bool &A, bool &B);

// The phi parameterisation: recomputes psiBa, psiBA, rBa and rBA from psiB,
// phi, rB and dlta after echoing the given values on `echo`. Returns true when
// a recomputed detection probability lies outside [0, 1].
bool apply_phi_parameterisation(Context &ctx, std::FILE *echo);

// label, then " %lf" for entries offset .. offset+T-1 of v (no newline).
void print_survey_values(std::FILE *f, const char *label, const Vec &v, int T, int offset = 0);
// The same followed by a newline.
void print_survey_line(std::FILE *f, const char *label, const Vec &v, int T);

// Trailer of a site-by-site history file: "0\n0\n", the surveys per season of
// the nseasns seasons and the closing text.
void write_site_trailer(Context &ctx, std::FILE *f);

} // namespace occusim
