# The pictures people draw from these tables, in base graphics: power against
# sites with one line per number of visits, a study's estimates and intervals
# against the true value, and the standard error against visits at a budget
# with the optimum marked.

first_tested <- function(x) {
  p <- unique(x$parameter[!is.na(suppressWarnings(as.numeric(x$power)))])
  if (!length(p)) stop("no parameter has a power value: give nulls", call. = FALSE)
  p[[1]]
}

#' Power curves
#'
#' Power of one parameter against the first grid option (sites), one line per
#' value of the second (visits).
#'
#' @param x the result of [occusim_power()].
#' @param parameter the parameter drawn (default: the first with a power value).
#' @param ... further arguments to [graphics::plot()].
#' @return `x`, invisibly.
#' @examples
#' if (occusim_has_option("GRID")) {
#'   pw <- occusim_power(T = 8, N = 100, psi = .4, p = .3, nulls = c(psi = .3),
#'                       grid = list(N = c(50, 100, 200), T = c(4, 8)))
#'   plot(pw)
#' }
#' @export
plot.occusim_power <- function(x, parameter = first_tested(x), ...) {
  grid <- attr(x, "grid")
  d <- x[x$parameter == parameter, , drop = FALSE]
  xv <- grid[[1]]
  lines_by <- if (length(grid) > 1) d[[grid[[2]]]] else rep(1, nrow(d))
  groups <- sort(unique(lines_by))
  cols <- grDevices::hcl.colors(max(2, length(groups)), "Dark 3")[seq_along(groups)]
  graphics::plot(range(d[[xv]]), c(0, 1), type = "n", xlab = if (xv == "N") "sites" else xv,
                 ylab = paste0("power (", parameter, ")"), ...)
  for (i in seq_along(groups)) {
    g <- d[lines_by == groups[[i]], , drop = FALSE]
    g <- g[order(g[[xv]]), , drop = FALSE]
    graphics::lines(g[[xv]], g$power, type = "b", col = cols[[i]], pch = 19)
  }
  if (length(grid) > 1)
    graphics::legend("bottomright", legend = paste(if (grid[[2]] == "T") "visits" else grid[[2]], groups),
                     col = cols, lty = 1, pch = 19, bty = "n")
  invisible(x)
}

#' Estimates of a simulation study
#'
#' Every replicate's estimate of one parameter with its 95% interval, sorted,
#' against the true value; intervals that miss it are drawn in another colour.
#'
#' @param x the result of [occusim_study()].
#' @param parameter the parameter drawn (default: the first).
#' @param ... further arguments to [graphics::plot()].
#' @return `x`, invisibly.
#' @examples
#' s <- occusim_study(T = 4, N = 60, psi = .6, p = .4, reps = 30, seed = 1)
#' plot(s, parameter = "psi")
#' @export
plot.occusim_study <- function(x, parameter = x$parameter[[1]], ...) {
  f <- attr(x, "fits")
  f <- f[f$parameter == parameter & !is.na(f$estimate), , drop = FALSE]
  f <- f[order(f$estimate), , drop = FALSE]
  truth <- f$true[[1]]
  i <- seq_len(nrow(f))
  lo <- ifelse(is.na(f$lcl), f$estimate, f$lcl)
  hi <- ifelse(is.na(f$ucl), f$estimate, f$ucl)
  miss <- !(lo <= truth & truth <= hi)
  graphics::plot(range(i), range(c(lo, hi, truth)), type = "n", xlab = "replicate (sorted by estimate)",
                 ylab = parameter, main = sprintf("coverage %.3f", x$coverage[x$parameter == parameter]), ...)
  graphics::segments(i, lo, i, hi, col = ifelse(miss, "firebrick", "grey60"))
  graphics::points(i, f$estimate, pch = 20, cex = .5)
  graphics::abline(h = truth, col = "steelblue", lwd = 2)
  invisible(x)
}

#' Standard error against visits at a budget
#'
#' The smallest standard error reached with each number of visits among the
#' designs searched, with the chosen design marked.
#'
#' @param x the result of [occusim_optimal()].
#' @param ... further arguments to [graphics::plot()].
#' @return `x`, invisibly.
#' @examples
#' if (occusim_has_option("OPTIMIZE")) {
#'   plot(occusim_optimal(T = 4, N = 100, psi = .4, p = .3, optimize = "psi", budget = 400))
#' }
#' @export
plot.occusim_optimal <- function(x, ...) {
  d <- x[!is.na(x$se), , drop = FALSE]
  best_se <- tapply(d$se, d$visits, min)
  k <- as.numeric(names(best_se))
  graphics::plot(k, best_se, type = "b", pch = 19, xlab = "visits per site", ylab = "SE", ...)
  chosen <- d[is_best(d$best), , drop = FALSE]
  if (nrow(chosen)) {
    graphics::points(chosen$visits, chosen$se, pch = 1, cex = 2.5, col = "firebrick", lwd = 2)
    graphics::legend("topright", legend = sprintf("optimum: %g sites x %g visits", chosen$sites[[1]],
                                                  chosen$visits[[1]]), bty = "n")
  }
  invisible(x)
}

is_best <- function(v) {
  v <- tolower(as.character(v))
  !is.na(v) & v %in% c("1", "true", "yes", "*", "best")
}
