# Data sets in the layout of the fitting package: counts per history kept,
# covariates in their slots, seasons and families mapped to their frames.

history_counts <- function(y) table(apply(y, 1, paste, collapse = ""))

test_that("frequency rows expand into sites with every history's count", {
  x <- structure(list(data = data.frame(y1 = c(0, 1, 1), y2 = c(0, 0, 1), freq = c(3, 1, 2)),
                      layout = "frequency", family = "single-species", design = list(surveys_per_season = 2),
                      args = character()), class = "occusim_data")
  parts <- occusim:::unmarked_parts(x)
  expect_identical(parts$frame, "unmarkedFrameOccu")
  expect_identical(as.vector(history_counts(parts$args$y)[c("00", "10", "11")]), c(3L, 1L, 2L))
  x$data$freq <- c(2.5, 1, 2)
  expect_error(occusim:::unmarked_parts(x), "expected values")
})

test_that("site-level data keep their histories and covariates in the right slots", {
  d <- occusim(T = 4, N = 30, p = .4, NCOVS = 2, coef = c(0, 1, -1), NPCOVS = 2, pcoef = c(.5, -.5), SIMTYPE = 2,
               seed = 4)
  parts <- occusim:::unmarked_parts(d)
  y <- parts$args$y
  expect_identical(dim(y), c(30L, 4L))
  expect_identical(history_counts(y), history_counts(as.matrix(d$data[, paste0("y", 1:4)])))
  expect_identical(parts$args$siteCovs$cov2, d$data$cov2)
  obs <- parts$args$obsCovs
  expect_identical(names(obs), c("pcov1", "pcov2"))
  for (i in c(1, 17, 30)) for (j in 1:4)
    expect_identical(obs$pcov2[(i - 1) * 4 + j], d$data[[paste0("pcov2_", j)]][[i]])
})

test_that("each family maps to its frame", {
  cases <- read.table(header = TRUE, sep = "|", strip.white = TRUE, quote = "", stringsAsFactors = FALSE, text = "
args                                                                                             | frame                  | columns
T=3 N=40 psi=.5 p=.4 STOCH SEED=1                                                               | unmarkedFrameOccu      | 3
T=5 SPS=2,3 N=40 psi=.6 p=.5 gam=0,0,.2,0,0 eps=0,0,.1,0,0 STOCH SEED=1                         | unmarkedMultFrame      | 6
T=3 N=40 psi=.5 p=.4 p10=.05 b=.5 STOCH SEED=1                                                  | unmarkedFrameOccuFP    | 3
T=2 N=40 psiA=.6 psiBA=.5 psiBa=.25 pA=.5 pB=.4 rA=.8 rBA=.5 rBa=.25 STOCH SEED=1              | unmarkedFrameOccuMulti | 2
T=2 N=40 MULTISTATE psi0=.6 R0=.4 p1=.5 p2=.7 dlta=.6 STOCH SEED=1                              | unmarkedFrameOccuMS    | 2
T=3 N=40 Lambda=3 r=.5 STOCH SEED=1                                                             | unmarkedFramePCount    | 3
")
  for (i in seq_len(nrow(cases))) {
    d <- occusim(args = cases$args[[i]])
    parts <- occusim:::unmarked_parts(d)
    expect_identical(parts$frame, cases$frame[[i]], label = cases$args[[i]])
    y <- if (is.list(parts$args$y)) parts$args$y[[1]] else parts$args$y
    expect_identical(ncol(y), as.integer(cases$columns[[i]]), label = cases$args[[i]])
  }
  # Two seasons of 2 and 3 surveys: the first padded with one unsurveyed column.
  d <- occusim(args = cases$args[[2]])
  y <- occusim:::unmarked_parts(d)$args$y
  expect_true(all(is.na(y[, 3])))
  expect_identical(y[, c(1, 2, 4, 5, 6)], site_rows(d))
  # Two species: A is the low bit of the code, B the high one.
  d <- occusim(args = cases$args[[4]])
  ab <- occusim:::unmarked_parts(d)$args$y
  expect_equal(ab$A + 2L * ab$B, site_rows(d))
  expect_error(occusim:::unmarked_parts(occusim(args = "T=2 N=40 pi=.5 psiA=.8 psiB=.6 pA=.7 pB=.6 INTEGRATED STOCH SEED=1")),
               "no frame")
})

test_that("as_unmarked says when the fitting package is missing, or builds its frame", {
  d <- occusim(T = 3, N = 40, psi = .5, p = .4, STOCH = TRUE, seed = 1)
  if (!requireNamespace("unmarked", quietly = TRUE)) {
    expect_error(as_unmarked(d), "needs the R package 'unmarked', which is not installed")
    skip("unmarked is not installed")
  }
  umf <- as_unmarked(d)
  expect_identical(unname(unmarked::getY(umf)), occusim:::unmarked_parts(d)$args$y)
  expect_length(as_unmarked(occusim(T = 3, N = 20, psi = .5, p = .4, STOCH = TRUE, seed = 1, reps = 2)), 2)
})
