# Design evaluation, simulation studies, power over grids of designs and the
# search for cost-optimal designs: each runs the simulator once and returns the
# table it writes, as a data frame with the same columns.

# The words of the Wald-test options shared by designs and studies.
test_words <- function(nulls, alpha) {
  c(if (!is.null(nulls)) option_words("NULLS", nulls), if (!is.null(alpha)) option_words("ALPHA", alpha))
}

# Runs `words` and returns the tables named in `tables` (file suffixes after
# the stem "run"), each a data frame; a table the program did not write is an
# error naming the option it needs.
run_tables <- function(words, tables, verbose, needs = NULL) {
  collect <- function(dir) {
    lapply(stats::setNames(tables, tables), function(t) {
      found <- list.files(dir, pattern = paste0(gsub(".", "[.]", t, fixed = TRUE), "$"), full.names = TRUE)
      if (length(found)) read_table(found[[1]])
    })
  }
  res <- run_program(c(words, "outfile=run.csv", "FORMAT=csv"), collect, verbose)
  missing <- vapply(res, is.null, TRUE)
  if (any(missing))
    stop(occusim_condition(sprintf("the simulator wrote no %s table%s", tables[missing][[1]],
                                   if (is.null(needs)) "" else sprintf(" (does this build know %s?)", needs)),
                           c("occusim_error", "error")))
  res
}

as_table <- function(df, class, ...) {
  structure(df, class = c(class, "data.frame"), ...)
}

#' Asymptotic precision of a design
#'
#' Evaluates an expected-value design by its expected information: the
#' standard error, coefficient of variation, 95% half-width and (with
#' `nulls`) the power of every parameter.
#'
#' @inheritParams occusim
#' @param nulls null values of the Wald tests, a named numeric vector
#'   (`c("psi(cov1)" = 0)`); every slope has null 0 unless given.
#' @param alpha level of the Wald tests (the program's default .05).
#' @return A data frame of class `occusim_design` with the columns of the
#'   design table: `parameter, value, se, cv, ci95, note` (and `power`).
#' @examples
#' occusim_design(T = 5, N = 100, psi = .6, p = .3)
#' @export
occusim_design <- function(..., args = NULL, nulls = NULL, alpha = NULL, verbose = FALSE) {
  words <- c(command_words(list(...), args), "DESIGN", test_words(nulls, alpha))
  check_reserved(words)
  res <- run_tables(words, "_design.csv", verbose)
  as_table(res[["_design.csv"]], "occusim_design")
}

#' A simulation study
#'
#' Simulates `reps` replicate data sets and fits the model to each (`fit =
#' TRUE`): bias, RMSE, coverage of the 95% intervals and, for parameters with a
#' null, power, type S and type M errors.
#'
#' @inheritParams occusim
#' @inheritParams occusim_design
#' @param reps number of replicate data sets.
#' @param fit fit every replicate; `FALSE` returns the batch's manifest (one
#'   row per replicate: history lines, sites, sites with a detection, naive
#'   occupancy).
#' @return With `fit = TRUE`, a data frame of class `occusim_study` with the
#'   columns of the study table (`parameter, true, mean, bias, relbias, rmse,
#'   sd, mean_se, coverage, used, n`, and `null, power, type_s, type_m`), its
#'   attribute `fits` the per-replicate fits (`rep, parameter, true, estimate,
#'   se, lcl, ucl, converged`) and `seed` the seed used.
#' @examples
#' s <- occusim_study(T = 5, N = 100, psi = .6, p = .3, reps = 50, SEED = 1)
#' s
#' @export
occusim_study <- function(..., args = NULL, reps, fit = TRUE, threads = 2L, seed = NULL, nulls = NULL,
                          alpha = NULL, verbose = FALSE) {
  w <- study_words(list(...), args, seed, random = TRUE)
  words <- w$words
  if (!asks_random(words)) words <- c(words, "STOCH")
  words <- c(words, paste0("REPS=", format_number(reps)), paste0("THREADS=", format_number(threads)),
             if (fit) c("FIT", test_words(nulls, alpha)))
  res <- run_tables(words, if (fit) c("_study.csv", "_fits.csv") else "_replicates.csv", verbose)
  seed <- as.numeric(sub("^SEED=", "", grep("^SEED=", words, value = TRUE)[1]))
  if (!fit) return(as_table(res[["_replicates.csv"]], "occusim_replicates", seed = seed))
  as_table(res[["_study.csv"]], "occusim_study", fits = res[["_fits.csv"]], seed = seed)
}

grid_words <- function(grid) {
  if (is.null(grid)) return(character())
  if (!is.list(grid) || is.null(names(grid)) || any(!nzchar(names(grid))) || length(grid) > 3)
    stop("grid must be a named list of at most three options", call. = FALSE)
  vapply(names(grid), function(n) paste0("GRID=", n, ":", paste(format_number(grid[[n]]), collapse = ",")), "")
}

#' Power over a grid of designs
#'
#' Runs the design evaluation (analytic power; `reps = NULL`) or a simulation
#' study of `reps` fitted replicates at every combination of the values in
#' `grid` (up to three options, each `N`, `T` or an option taking one number),
#' in one run of the simulator.
#'
#' @inheritParams occusim_study
#' @param grid a named list of values, e.g. `list(N = c(50, 100, 200), T = c(4, 8))`
#'   (`NULL`: the one design given, without grid columns).
#' @param reps replicates per design for simulated power (`NULL`: analytic power).
#' @return A data frame of class `occusim_power` with the columns of the grid
#'   table: the grid options, `parameter, true`, then `se, cv, power` (design)
#'   or the study columns.
#' @examples
#' if (occusim_has_option("GRID")) {
#'   pw <- occusim_power(T = 8, N = 100, p = .5, NCOVS = 1, coef = c(0, -.4), SIMTYPE = 2,
#'                       grid = list(N = c(50, 100, 200, 400), T = c(4, 8)))
#'   plot(pw)
#' }
#' @export
occusim_power <- function(..., args = NULL, grid = list(N = c(50, 100, 200), T = c(4, 8)), reps = NULL,
                          threads = 2L, seed = NULL, nulls = NULL, alpha = NULL, verbose = FALSE) {
  if (is.null(reps)) {
    words <- c(command_words(list(...), args), "DESIGN")
    check_reserved(words)
  } else {
    words <- study_words(list(...), args, seed, random = TRUE)$words
    if (!asks_random(words)) words <- c(words, "STOCH")
    words <- c(words, paste0("REPS=", format_number(reps)), paste0("THREADS=", format_number(threads)), "FIT")
  }
  words <- c(words, test_words(nulls, alpha), grid_words(grid))
  # Without a grid, the one design's table.
  table <- if (!is.null(grid)) "_grid.csv" else if (is.null(reps)) "_design.csv" else "_study.csv"
  res <- run_tables(words, table, verbose, needs = if (!is.null(grid)) "GRID")
  as_table(res[[table]], "occusim_power", grid = names(grid))
}

#' Cost-optimal designs
#'
#' Searches the numbers of sites and visits for the design that minimises the
#' standard error of a parameter (or maximises its power) at a budget, or the
#' cheapest one reaching a target.
#'
#' @inheritParams occusim_design
#' @param optimize the parameter, as named in the design table (`"psi"`).
#' @param budget total cost allowed.
#' @param target standard error to reach (power, when the parameter has a null).
#' @param cost costs of a site, its first visit and each further visit.
#' @param kmax largest number of visits searched.
#' @param verify replicates of a simulation check of the chosen design.
#' @return A data frame of class `occusim_optimal` with the columns of the
#'   search table: `sites, visits, cost, se, power, best`, one row per design
#'   evaluated.
#' @examples
#' if (occusim_has_option("OPTIMIZE")) {
#'   o <- occusim_optimal(T = 4, N = 100, psi = .4, p = .3, optimize = "psi", budget = 400)
#'   plot(o)
#' }
#' @export
occusim_optimal <- function(..., args = NULL, optimize, budget = NULL, target = NULL, cost = NULL, kmax = NULL,
                            verify = NULL, nulls = NULL, alpha = NULL, verbose = FALSE) {
  words <- command_words(list(...), args)
  check_reserved(words)
  words <- c(words, option_words("OPTIMIZE", optimize), option_words("BUDGET", budget),
             option_words("TARGET", target), option_words("COST", cost), option_words("KMAX", kmax),
             option_words("VERIFY", verify), test_words(nulls, alpha))
  res <- run_tables(words, "_optimal.csv", verbose, needs = "OPTIMIZE")
  as_table(res[["_optimal.csv"]], "occusim_optimal", console = attr(res, "console"))
}

#' Whether this build of the simulator knows an option
#'
#' Looks the name up in the program's option reference (`--help`).
#'
#' @param name an option name, e.g. `"GRID"`.
#' @return `TRUE` or `FALSE`.
#' @examples
#' occusim_has_option("REPS")
#' @export
occusim_has_option <- function(name) {
  help <- run_program("--help")
  grepl(paste0("(^|\n)  ", name, "([= ]|\n)"), attr(help, "console")$out)
}
