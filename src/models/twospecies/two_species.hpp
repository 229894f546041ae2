// Two-species co-occurrence models: the family entry, the single-season model
// and the pieces its two variants (correlated detections, several seasons)
// share with it.
#pragma once

#include <cstdio>

#include "core/context.hpp"

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

// Sites of a run split by true occupancy state.
struct TwoSpeciesOccupancy {
    double nAonly = 0, nBonly = 0, nAB = 0, neither = 0;
    // Counts one site with A's and B's presence as given.
    void add_site(bool A, bool B);
};
// Splits the ns sites by A's and then B's presence (three binoml calls).
TwoSpeciesOccupancy split_occupancy(Context &ctx);
// Draws one site's presence of A and then of B (two uniforms).
void draw_site_occupancy(Context &ctx, bool &A, bool &B);
// "nAonly,nBonly,nAB,neither: ..." line of the console.
void print_occupancy_counts(std::FILE *f, const TwoSpeciesOccupancy &o);

// Expected-value form of the single-season model: puts the `neither` sites of
// `o` at the empty history and adds the expected number of sites of every
// history of the other three states into nx, exactly the counts that caphis2
// gives state by state. It prints nothing on the console (a long walk shows a
// progress line when the error stream is a terminal) and allocates nothing
// beyond the table's own pages, so it can be called again with other
// parameters (after ctx.nx.reset, or on a table whose entries are zero).
void two_species_expected(Context &ctx, const TwoSpeciesOccupancy &o);

// Which of the two uniforms drawn at a survey where both species can be
// detected decides A's detection; the other decides B's.
enum class UniformForA { First, Second };
// History digit, 2 * (B detected) + (A detected), of one site at survey j
// (from 0) where A and B are the species that can be detected there: two
// uniforms where both can, one where only one can, none otherwise.
int survey_digit(Context &ctx, bool A, bool B, int j, UniformForA a_uses = UniformForA::First);

// A cohort of sites split by what one survey detects.
struct SurveyDetections {
    double a = 0, b = 0, both = 0, none = 0; // A only, B only, both, neither
};
// Splits n sites in true state `state` (0 neither, 1 A only, 2 B only, 3
// both) at survey j (from 0): pA or pB where one species is present; where
// both are, rA for A and then rBA among the sites where A was detected and
// rBa among the others.
SurveyDetections split_detections(Context &ctx, int state, int j, double n);
// split_detections of an expected-value run, where every binomial split is
// n * p: the same numbers, without the calls.
inline SurveyDetections expected_detections(const Context &ctx, int state, int j, double n) {
    SurveyDetections x;
    switch (state) {
    case 1:
        x.a = n * ctx.pA[j];
        x.none = n - x.a;
        break;
    case 2:
        x.b = n * ctx.pB[j];
        x.none = n - x.b;
        break;
    case 3: {
        const double A = n * ctx.rA[j];
        x.both = A * ctx.rBA[j];
        const double notA = n - A;
        x.b = notA * ctx.rBa[j];
        x.none = notA - x.b;
        x.a = A - x.both;
        break;
    }
    default:
        x.none = n;
        break;
    }
    return x;
}
// Adds the four outcomes of the last survey to nx under the history `code`.
void add_last_survey(Context &ctx, int code, const SurveyDetections &x);

// The phi parameterisation: recomputes psiBa, psiBA, rBa and rBA from psiB,
// phi, rB and dlta after echoing the given values on `echo`. Returns true when
// a recomputed detection probability lies outside [0, 1].
bool apply_phi_parameterisation(Context &ctx, std::FILE *echo);

// Ends the run (status 1, message in the error file) when psiBA or psiBa
// lies outside [0, 1].
void require_possible_occupancy(Context &ctx);
// The same when the phi parameterisation found an impossible detection
// probability (detection_error).
void require_possible_detection(Context &ctx, bool detection_error);

// label, then " %lf" for entries offset .. offset+T-1 of v (no newline).
void print_survey_values(std::FILE *f, const char *label, const Vec &v, int T, int offset = 0);
// The same followed by a newline.
void print_survey_line(std::FILE *f, const char *label, const Vec &v, int T);
// The detection lines of the console: pA, pB, rA, rBA and rBa.
void print_detection_lines(Context &ctx);

// Trailer of a site-by-site history file: "0\n0\n", the surveys per season of
// the nseasns seasons and the closing text.
void write_site_trailer(Context &ctx, std::FILE *f);

} // namespace occusim
