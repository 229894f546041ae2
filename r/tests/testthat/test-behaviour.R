# What R users expect of every call: the program's errors as R errors with
# its text, its warnings as R warnings, nothing printed, nothing left in the
# working directory, and the same results for any number of threads.

test_that("a refused run is an R error carrying the program's message", {
  cases <- list(
    list(args = "T=5 N=100 psi=.5 p=.3,.4", message = "p has 2 values for T=5 surveys: give one value or 5"),
    list(args = "p=.4 T=3 N=100 psi=.5", message = "p=.4 came before T=3, so surveys 2-3 were not set: put T first"),
    list(args = "T=3 N=100 psi=.5 pp=.4 STRICT", message = "STRICT: 1 warning, nothing written")
  )
  for (k in cases) {
    err <- expect_error(suppressWarnings(occusim(args = k$args)), class = "occusim_error")
    expect_match(conditionMessage(err), k$message, fixed = TRUE)
    if (!is.null(cli())) {
      ref <- run_cli(words_of(k$args))
      expect_identical(ref$status, 1L)
      expect_identical(paste0("occusim8: error: ", conditionMessage(err)), tail(ref$err, 1))
    }
  }
  # The warnings that made STRICT refuse the run come with its error.
  expect_warning(try(occusim(args = cases[[3]]$args), silent = TRUE), "unknown option 'pp' is ignored")
  expect_error(occusim(T = 3, N = 100, psi = .5, p = .4, outfile = "x.pao"), "set by the package")
})

test_that("warnings are R warnings and nothing is printed unless asked", {
  expect_warning(d <- occusim(args = "T=3 N=100 psi=.5 p=.4 pp=.1"), "unknown option 'pp' is ignored",
                 class = "occusim_warning")
  expect_silent(occusim(T = 3, N = 100, psi = .5, p = .4, STOCH = TRUE, seed = 1))
  expect_output(occusim(T = 3, N = 100, psi = .5, p = .4, verbose = TRUE), "OCCUSIM ver8")
})

test_that("no file is left in the working directory or the temporary directory", {
  calls <- list(
    function() occusim(T = 3, N = 100, psi = .5, p = .4),
    function() occusim(T = 4, N = 30, p = .4, NCOVS = 1, coef = c(0, 1), NPCOVS = 1, pcoef = .5, SIMTYPE = 2,
                       reps = 3, seed = 1),
    function() occusim_design(T = 5, N = 100, psi = .6, p = .3),
    function() occusim_study(T = 4, N = 50, psi = .6, p = .4, reps = 5, seed = 2),
    function() try(occusim(args = "T=5 N=100 psi=.5 p=.3,.4"), silent = TRUE)
  )
  wd <- tempfile("wd-")
  dir.create(wd)
  old <- setwd(wd)
  on.exit({
    setwd(old)
    unlink(wd, recursive = TRUE)
  })
  before <- list.files(tempdir(), all.files = TRUE, no.. = TRUE)
  for (f in calls) {
    f()
    expect_identical(list.files(wd, all.files = TRUE, no.. = TRUE), character())
  }
  expect_identical(setdiff(list.files(tempdir(), all.files = TRUE, no.. = TRUE), before), character())
})

test_that("results do not depend on the number of threads", {
  one <- occusim(T = 4, N = 40, psi = .5, p = .4, STOCH = TRUE, reps = 8, threads = 1, seed = 9)
  two <- occusim(T = 4, N = 40, psi = .5, p = .4, STOCH = TRUE, reps = 8, threads = 2, seed = 9)
  expect_identical(one$data, two$data)
  s1 <- occusim_study(T = 4, N = 40, psi = .5, p = .4, reps = 8, threads = 1, seed = 9)
  s2 <- occusim_study(T = 4, N = 40, psi = .5, p = .4, reps = 8, threads = 2, seed = 9)
  expect_identical(attr(s1, "fits"), attr(s2, "fits"))
})
