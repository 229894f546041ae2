// Grids of designs: GRID=NAME:v1,v2,... (up to three, each its own argument)
// runs the whole DESIGN or FIT study of the command line at every combination
// of the values, in one process, and lays the results side by side, so that
// power can be read against the numbers of sites and surveys.
//
// Points. The first GRID argument varies slowest: GRID=N:50,100 GRID=T:4,8
// gives N=50 T=4, N=50 T=8, N=100 T=4, N=100 T=8, points 1 to 4. A point's
// command line is the command line without its GRID arguments, every
// argument that sets NAME carrying the point's value instead (its own name
// kept); an option the command line does not set is put first. The whole
// command line is read again at every point, so a per-survey list given as
// one value follows T, and a value the option (or the model) would refuse
// refuses the grid before anything runs.
//
// Replicates. A FIT grid of G points with REPS=n is one batch of G*n
// replicates of the seed: point g holds replicates (g-1)*n+1 .. g*n, each on
// the Philox counter of its number, exactly as SHARD=g/G of REPS=G*n would
// run them. So replicate k of the grid (column rep of the fits table) is
// written alone by the point's command line without GRID and FIT, with
// REPS=G*n SHARD=k/(G*n) and the same SEED, and the point's study by
// REPS=G*n SHARD=g/G FIT.
//
// Outputs (nothing else: no replicate data files, manifest or run record):
//   <stem>_grid.csv  the grid columns (values as given), then
//                    parameter,true,se,cv,power for DESIGN, or
//                    parameter,true,mean,bias,rmse,sd,mean_se,coverage,
//                    power,type_s,type_m,used,n for FIT; one row per point
//                    and parameter, points in order;
//   <stem>_fits.csv  (FIT) the grid columns, then the fits of every
//                    replicate as a plain FIT batch writes them;
//   and the same table as <stem>_grid.csv on standard output. Both files are
//   written under hidden names and named when complete; the bytes are the
//   same for every thread count.
#pragma once

#include <string>
#include <vector>

#include "batch/program.hpp"
#include "core/context.hpp"

namespace occusim {

// Refuses (InputError) a grid that no point can change: one without DESIGN
// or FIT, a shard of one, more replicates than the counter can number.
void check_grid(const Context &ctx);

// The points of the axes, each a value per axis, the first axis slowest.
std::vector<std::vector<std::string>> grid_points(const std::vector<Context::GridAxis> &axes);

// The command line of a point (see above); same_option says whether two
// argument names set the same option.
Args grid_point_args(const Args &args, const std::vector<Context::GridAxis> &axes,
                     const std::vector<std::string> &point,
                     bool (*same_option)(const std::string &, const std::string &));

// Runs the grid of ctx (after the parse pass and the echo) and returns the
// exit status.
int run_grid(Context &ctx, const Args &args, const Program &program);

} // namespace occusim
