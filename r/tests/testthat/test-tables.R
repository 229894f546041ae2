# Designs, studies, power grids and optimal designs: the tables of the
# command line, read into data frames with the same columns and values.

tables <- list(
  list(run = function() occusim_design(T = 5, N = 100, psi = .6, p = .3),
       cli = "T=5 N=100 psi=.6 p=.3 DESIGN", file = "_design.csv"),
  list(run = function() occusim_design(args = "T=8 N=200 p=.5 NCOVS=1 coef=0,-.4 SIMTYPE=2", nulls = c(p = .4)),
       cli = "T=8 N=200 p=.5 NCOVS=1 coef=0,-.4 SIMTYPE=2 DESIGN NULLS=p:0.4", file = "_design.csv"),
  list(run = function() occusim_study(T = 4, N = 60, psi = .6, p = .4, reps = 20, seed = 3),
       cli = "T=4 N=60 psi=.6 p=.4 SEED=3 STOCH REPS=20 THREADS=2 FIT", file = "_study.csv"),
  list(run = function() occusim_study(T = 4, N = 60, psi = .6, p = .4, reps = 5, seed = 3, fit = FALSE),
       cli = "T=4 N=60 psi=.6 p=.4 SEED=3 STOCH REPS=5 THREADS=2", file = "_replicates.csv")
)

test_that("designs and studies are the tables of the command line", {
  for (k in tables) {
    got <- k$run()
    expect_s3_class(got, "data.frame")
    expect_gt(nrow(got), 0)
    if (is.null(cli())) next
    ref <- run_cli(c(words_of(k$cli), "outfile=run.csv", "FORMAT=csv"))
    file <- grep(paste0(k$file, "$"), names(ref$tables), value = TRUE, fixed = FALSE)
    expect_identical(plain(got), ref$tables[[file]], label = k$cli)
  }
})

test_that("a study keeps its fits and seed", {
  s <- occusim_study(T = 4, N = 60, psi = .6, p = .4, reps = 10, seed = 3)
  expect_identical(names(attr(s, "fits"))[1:4], c("rep", "parameter", "true", "estimate"))
  expect_identical(nrow(attr(s, "fits")), 20L)
  expect_identical(attr(s, "seed"), 3)
})

test_that("power over a grid of designs", {
  skip_if_not(occusim_has_option("GRID"), "this build of the simulator has no GRID")
  pw <- occusim_power(T = 8, N = 100, p = .5, NCOVS = 1, coef = c(0, -.4), SIMTYPE = 2,
                      grid = list(N = c(50, 200), T = c(4, 8)))
  expect_true(all(c("N", "T", "parameter", "true", "se", "power") %in% names(pw)))
  cov <- pw[pw$parameter == "psi(cov1)", ]
  expect_identical(nrow(cov), 4L)
  # More sites, more power, at either number of visits.
  for (t in c(4, 8)) expect_lt(cov$power[cov$T == t & cov$N == 50], cov$power[cov$T == t & cov$N == 200])
})

test_that("cost-optimal designs", {
  skip_if_not(occusim_has_option("OPTIMIZE"), "this build of the simulator has no OPTIMIZE")
  o <- occusim_optimal(T = 4, N = 100, psi = .4, p = .3, optimize = "psi", budget = 400)
  expect_true(all(c("sites", "visits", "cost", "se", "power", "best") %in% names(o)))
  expect_true(all(o$cost <= 400))
  chosen <- o[occusim:::is_best(o$best), ]
  expect_identical(nrow(chosen), 1L)
  expect_identical(chosen$se, min(o$se, na.rm = TRUE))
})
