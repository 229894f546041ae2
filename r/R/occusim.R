# Simulated data sets: one run of the simulator (or a batch of replicates)
# read back as a data frame of histories with the run's design and seed.

#' Simulate detection histories
#'
#' Runs the simulator on the options given and returns its data set: the
#' histories site by site (with site and detection covariates) or as
#' frequency rows (the expected number of sites per history in an
#' expected-value run).
#'
#' Every option of the simulator is an argument of the same name: a number or
#' numeric vector gives a value or a comma list (`p = c(.3, .4)` is `p=0.3,0.4`),
#' `TRUE` gives a switch (`STOCH = TRUE`), a character value is passed as
#' written, a named numeric vector gives `name:value` pairs, and unnamed
#' numbers are the plain numbers some models read at the front of the command
#' line. Names that are not valid R names are quoted with backticks
#' (`` `thA'` = .8 ``), or the whole command line is given as `args`; its words
#' come before those of `...`. Options are applied in the order given, so `T`
#' comes before the per-survey lists it sizes.
#'
#' The run takes place in a temporary directory that is removed afterwards;
#' nothing is written to the working directory. The program's warnings become
#' R warnings and its error an R error (class `occusim_error`) with its message.
#'
#' @param ... options of the simulator, `NAME = value`.
#' @param args the command line (or further words of it) as one string.
#' @param reps number of replicate data sets (`NULL`: one data set); the
#'   replicates are stacked with a leading `rep` column.
#' @param threads worker threads of a replicate batch.
#' @param seed seed of a random run. When neither `seed` nor `SEED` is given,
#'   one is drawn from R's generator (so `set.seed()` makes runs repeatable)
#'   and reported in the result.
#' @param verbose show the program's console output.
#' @return An object of class `occusim_data`: a list with `data` (the
#'   histories: `site, y1..yT, cov.., pcov..` or `y1..yT, freq`, with `rep`
#'   first for replicates), `layout` (`"site"` or `"frequency"`), `family`,
#'   `mode`, `seed` (the seed actually used, `NA` when nothing was drawn),
#'   `design` (surveys, sites, seasons, detection and covariate coefficients),
#'   `args` (the command line run) and `meta` (the run's full metadata).
#' @examples
#' d <- occusim(T = 5, N = 100, psi = .6, p = c(.3, .4, .3, .3, .3), STOCH = TRUE, SEED = 1)
#' d
#' summary(d)
#' head(as.data.frame(d))
#' occusim(args = "T=3 N=100 psi=.5 p=.4")$data
#' @export
occusim <- function(..., args = NULL, reps = NULL, threads = 2L, seed = NULL, verbose = FALSE) {
  extra <- c("FORMAT=csv", "outfile=data.csv")
  if (!is.null(reps)) extra <- c(paste0("REPS=", format_number(reps)), paste0("THREADS=", format_number(threads)), extra)
  w <- study_words(list(...), args, seed, random = !is.null(reps), extra = extra)
  collect <- function(dir) list(data = read_table(file.path(dir, "data.csv")), meta = read_meta(file.path(dir, "data.json")))
  res <- run_program(w$words, collect, verbose, warn = FALSE)
  # A run the program simulates by its own choice (a long design) draws from
  # the seed: run again with the one drawn, and keep that run's warnings.
  given <- res$meta$seed_given
  if (!is.null(w$drawn) && identical(res$meta$mode, "stochastic") && (is.null(given) || given < 0)) {
    w$words <- c(setdiff(w$words, extra), paste0("SEED=", w$drawn), extra)
    res <- run_program(w$words, collect, verbose, warn = FALSE)
  }
  warn_of(res)
  new_occusim_data(res$data, res$meta, w$words)
}

new_occusim_data <- function(data, meta, words) {
  layout <- if ("freq" %in% names(data)) "frequency" else "site"
  seed <- if (is.null(meta$seed)) NA_real_ else as.numeric(meta$seed)
  structure(list(data = data, layout = layout, family = meta$model_family, mode = meta$mode,
                 seed = seed, design = meta$design, args = words, meta = meta),
            class = "occusim_data")
}

y_columns <- function(data) grep("^y[0-9]+$", names(data), value = TRUE)

#' @export
print.occusim_data <- function(x, ...) {
  d <- x$data
  reps <- if ("rep" %in% names(d)) length(unique(d$rep)) else 1
  cat(sprintf("occusim data: %s model, %s, %d survey%s, %s rows (%s)%s\n", x$family, x$mode,
              length(y_columns(d)), if (length(y_columns(d)) == 1) "" else "s", nrow(d), x$layout,
              if (reps > 1) sprintf(", %d replicates", reps) else ""))
  if (!is.na(x$seed)) cat("seed:", format(x$seed, scientific = FALSE), "\n")
  print(utils::head(d, 6), ...)
  if (nrow(d) > 6) cat("...\n")
  invisible(x)
}

#' @export
summary.occusim_data <- function(object, ...) {
  d <- object$data
  y <- as.matrix(d[, y_columns(d), drop = FALSE])
  w <- if (object$layout == "frequency") d$freq else rep(1, nrow(d))
  detected <- rowSums(y > 0, na.rm = TRUE) > 0
  by_rep <- if ("rep" %in% names(d)) d$rep else rep(1, nrow(d))
  sites <- tapply(w, by_rep, sum)
  naive <- tapply(w * detected, by_rep, sum) / sites
  structure(list(family = object$family, mode = object$mode, seed = object$seed, surveys = ncol(y),
                 sites = unname(sites), naive_occupancy = unname(naive),
                 detections_per_survey = colSums(w * (y > 0), na.rm = TRUE) / length(sites)),
            class = "summary.occusim_data")
}

#' @export
print.summary.occusim_data <- function(x, ...) {
  cat(sprintf("%s model, %s run, %d surveys\n", x$family, x$mode, x$surveys))
  if (!is.na(x$seed)) cat("seed:", format(x$seed, scientific = FALSE), "\n")
  if (length(x$sites) == 1) {
    cat(sprintf("sites: %g   naive occupancy: %.4f\n", x$sites, x$naive_occupancy))
  } else {
    cat(sprintf("%d replicates of %g sites; naive occupancy mean %.4f (range %.4f-%.4f)\n", length(x$sites),
                mean(x$sites), mean(x$naive_occupancy), min(x$naive_occupancy), max(x$naive_occupancy)))
  }
  cat("sites with a detection, by survey:\n")
  print(round(x$detections_per_survey, 4))
  invisible(x)
}

#' @export
as.data.frame.occusim_data <- function(x, ...) x$data
