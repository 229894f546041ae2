# Data sets in the form of the R fitting package for occupancy models: the
# detection matrix (frequency rows expanded into sites), site covariates and
# detection covariates in its long layout (site by site, survey by survey),
# and the frame that matches the model family.

#' Convert a data set to a frame of the unmarked package
#'
#' Single season (`unmarkedFrameOccu`, with site and detection covariates),
#' several seasons (`unmarkedMultFrame`, `numPrimary` seasons, shorter seasons
#' padded with `NA`), false positives (`unmarkedFrameOccuFP`), two species
#' (`unmarkedFrameOccuMulti`), multistate (`unmarkedFrameOccuMS`) and abundance
#' counts (`unmarkedFramePCount`; detection/non-detection data of the
#' abundance model give `unmarkedFrameOccu`, for `occuRN`). Frequency rows are
#' expanded into one row per site; expected values (fractional frequencies)
#' are not a data set and are refused.
#'
#' @param x an `occusim_data` object of a random run (`STOCH = TRUE`).
#' @param rep the replicate to convert when `x` holds several (`NULL`: every
#'   replicate, as a list of frames).
#' @return An unmarked frame, or a list of them.
#' @examples
#' if (requireNamespace("unmarked", quietly = TRUE)) {
#'   d <- occusim(T = 4, N = 50, p = .4, NCOVS = 1, coef = c(0, 1), SIMTYPE = 2, SEED = 1)
#'   as_unmarked(d)
#' }
#' @export
as_unmarked <- function(x, rep = NULL) {
  if (!requireNamespace("unmarked", quietly = TRUE))
    stop("as_unmarked() needs the R package 'unmarked', which is not installed; ",
         "install it with install.packages(\"unmarked\")", call. = FALSE)
  build <- function(parts) do.call(getExportedValue("unmarked", parts$frame), parts$args)
  reps <- replicates(x, rep)
  if (length(reps) == 1) return(build(unmarked_parts(x, reps)))
  lapply(stats::setNames(reps, paste0("rep", reps)), function(r) build(unmarked_parts(x, r)))
}

replicates <- function(x, rep) {
  if (!is.null(rep)) return(rep)
  if ("rep" %in% names(x$data)) sort(unique(x$data$rep)) else NA
}

# The pieces of the frame for replicate `rep` (NA: the only data set): the
# constructor's name and its arguments.
unmarked_parts <- function(x, rep = NA) {
  d <- x$data
  if (!is.na(rep)) {
    if (!"rep" %in% names(d) || !rep %in% d$rep) stop("there is no replicate ", rep, call. = FALSE)
    d <- d[d$rep == rep, , drop = FALSE]
  }
  if (x$layout == "frequency") {
    if (any(d$freq != round(d$freq)))
      stop("expected values are not a data set: simulate one (STOCH = TRUE) to convert it", call. = FALSE)
    d <- d[rep.int(seq_len(nrow(d)), d$freq), , drop = FALSE]
  }
  y <- unname(as.matrix(d[, y_columns(d), drop = FALSE]))
  surveys <- ncol(y)
  cov_cols <- grep("^cov[0-9]+$", names(d), value = TRUE)
  site_covs <- if (length(cov_cols)) {
    s <- d[, cov_cols, drop = FALSE]
    rownames(s) <- NULL
    s
  }
  pcovs <- unique(sub("_[0-9]+$", "", grep("^pcov[0-9]+_[0-9]+$", names(d), value = TRUE)))
  obs_covs <- if (length(pcovs)) {
    as.data.frame(lapply(stats::setNames(pcovs, pcovs), function(k) {
      as.vector(t(as.matrix(d[, paste0(k, "_", seq_len(surveys)), drop = FALSE])))
    }))
  }
  seasons <- as.integer(x$design$surveys_per_season)
  seasons <- seasons[seasons > 0]
  several <- length(seasons) > 1
  base <- list(y = y, siteCovs = site_covs, obsCovs = obs_covs)
  family <- x$family
  parts <- function(frame, args) list(frame = frame, args = Filter(Negate(is.null), args))
  if (family %in% c("single-species", "heterogeneity", "spatial", "staggered-entry")) {
    if (!several) return(parts("unmarkedFrameOccu", base))
    padded <- pad_seasons(base, seasons)
    return(parts("unmarkedMultFrame", c(padded, list(numPrimary = length(seasons)))))
  }
  if (family == "false-positive" && !several) {
    certain <- "b" %in% word_names(x$args)
    type <- if (certain) c(0, 0, surveys) else c(0, surveys, 0)
    return(parts("unmarkedFrameOccuFP", c(base, list(type = type))))
  }
  if (family == "two-species") {
    base$y <- list(A = y %% 2, B = y %/% 2)
    return(parts("unmarkedFrameOccuMulti", base))
  }
  if (family == "multistate") {
    if (!several) return(parts("unmarkedFrameOccuMS", base))
    padded <- pad_seasons(base, seasons)
    return(parts("unmarkedFrameOccuMS", c(padded, list(numPrimary = length(seasons)))))
  }
  if (family == "royle-nichols") {
    if (max(y, na.rm = TRUE) > 1) return(parts("unmarkedFramePCount", base))
    return(parts("unmarkedFrameOccu", base))
  }
  stop("the fitting package has no frame for data of the ", family,
       if (several) " model over several seasons" else " model", call. = FALSE)
}

# Several seasons of unequal length laid out as equal ones: each season's
# surveys, then NA up to the longest.
pad_seasons <- function(base, seasons) {
  longest <- max(seasons)
  if (all(seasons == longest)) return(base)
  sites <- nrow(base$y)
  column <- unlist(lapply(seq_along(seasons), function(s) {
    c(sum(seasons[seq_len(s - 1)]) + seq_len(seasons[[s]]), rep(NA, longest - seasons[[s]]))
  }))
  take <- function(m) {
    out <- m[, ifelse(is.na(column), 1L, column), drop = FALSE]
    out[, is.na(column)] <- NA
    out
  }
  base$y <- take(base$y)
  if (!is.null(base$obsCovs)) {
    base$obsCovs <- as.data.frame(lapply(base$obsCovs, function(v) {
      as.vector(t(take(matrix(v, nrow = sites, byrow = TRUE))))
    }))
  }
  base
}
