# Data sets: the same options and seed give the data of the command line, for
# one option set of every model family, and the family the run reports.

families <- read.table(header = TRUE, sep = "|", strip.white = TRUE, quote = "", stringsAsFactors = FALSE, text = "
family                           | args
single-species                   | T=5 N=60 p=.4 NCOVS=1 coef=0,1 NPCOVS=1 pcoef=-.8 SIMTYPE=2 SEED=1
single-species                   | T=4 SPS=2 N=100 psi=.6 p=.5 gam=0,.2,0 eps=0,.1,0 STOCH SEED=3
heterogeneity                    | T=3 N=100 psi=.6 p=.3 pi=.4 pB=.8
false-positive                   | T=3 N=100 psi=.5 p=.4 p10=.05 b=.5 STOCH SEED=4
multi-method                     | T=2 N=100 psi=.7 METH=2 th0=.8 p1=.6 p2=.4
spatial                          | T=3 N=100 psi=.6 p=.8 th0=.2 th1=.7 SPADEP STOCH SEED=5
spatial-multiseason              | 3 100 .5 .4 .5 .6 .2 .3 .4 .7 .8 .9 .1 .2 .3 0 .2 0 0 T=3 SPADMS
two-species                      | T=2 N=100 psiA=.6 psiBA=.5 psiBa=.25 pA=.5 pB=.4 rA=.8 rBA=.5 rBa=.25 STOCH SEED=6
two-species-correlated-detection | T=3 N=100 psiA=.6 psiBA=.5 psiBa=.25 pA=.5 pB=.4 rA=.8 rBA=.5 rBa=.25 thA=.5 thA'=.8 thBA=.6 thBA'=.9 thBa=.4 thBa'=.7
two-species-multiseason          | T=2 SPS=1 N=100 psiA=.6 psiBA=.5 psiBa=.25 pA=.5 pB=.4 rA=.8 rBA=.5 rBa=.25 gamAb=.2 gamAB=.4 epsAb=.3 epsAB=.1 STOCH SEED=2
royle-nichols                    | T=3 N=100 Lambda=1.5 r=.3 STOCH SEED=7
multistate                       | T=2 N=100 MULTISTATE psi0=.6 R0=.4 p1=.5 p2=.7 dlta=.6 STOCH SEED=8
multistate                       | T=2 N=100 NSTATES=3 Psi=.3,.2 phi(0;1)=.1 phi(1;1)=.6 phi(1;2)=.2 phi(2;1)=.1 phi(2;2)=.7 p(1,1)=.5 p(1,2)=.2 p(2,2)=.6
multistate-correlated-detection  | 1 100 .5 0 0 .6 0 0 0 0 0 0 0 0 .5 .8 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 .4 0 0 0 0 0 MSCD
staggered-entry                  | T=4 SPS=2 N=100 psi=.7 p=.6 Ent=.5 Dep=.3 STAG STOCH SEED=9
integrated                       | T=2 N=100 pi=.5 psiA=.8 psiB=.6 pA=.7 pB=.6 INTEGRATED STOCH SEED=10
")

test_that("every family gives the data of the command line", {
  for (i in seq_len(nrow(families))) {
    args <- families$args[[i]]
    d <- suppressWarnings(occusim(args = args))
    expect_identical(d$family, families$family[[i]], label = args)
    expect_gt(nrow(d$data), 0)
    if (is.null(cli())) next
    ref <- run_cli(c(words_of(args), "FORMAT=csv", "outfile=data.csv"))
    expect_identical(ref$status, 0L, label = args)
    expect_identical(d$data, ref$tables[["data.csv"]], label = args)
  }
})

test_that("options given as R arguments are the words of the command line", {
  cases <- list(
    list(opts = list(T = 5, p = c(.3, .4)), words = c("T=5", "p=0.3,0.4")),
    list(opts = list(STOCH = TRUE, HET = FALSE, QUIET = TRUE), words = c("STOCH", "QUIET")),
    list(opts = list(NULLS = c("psi(cov1)" = .5, p = 0)), words = "NULLS=psi(cov1):0.5,p:0"),
    list(opts = list(psi = 1 / 3, N = 1e6, a = -2.5e-7), words = c("psi=0.3333333333333333", "N=1000000",
                                                                    "a=-0.00000025")),
    list(opts = list(`thA'` = .8, FORMAT = NULL), words = "thA'=0.8"),
    list(opts = list(3, 100, .5), words = c("3", "100", "0.5")),
    list(opts = list(c(1, 2), SPADMS = TRUE), words = c("1", "2", "SPADMS"))
  )
  for (k in cases) expect_identical(occusim:::command_words(k$opts), k$words)
  expect_identical(occusim:::command_words(list(psi = .5), args = " T=3  N=100 "), c("T=3", "N=100", "psi=0.5"))
  for (bad in list(list(psi = NA_real_), list(STOCH = NA), list(STOCH = c(TRUE, TRUE))))
    expect_error(occusim:::command_words(bad))
})

test_that("R arguments and the command-line string give the same data set", {
  a <- occusim(T = 5, N = 100, psi = .6, p = c(.3, .4, .3, .3, .3), STOCH = TRUE, SEED = 1)
  b <- occusim(args = "T=5 N=100 psi=.6 p=.3,.4,.3,.3,.3 STOCH SEED=1")
  expect_identical(a$data, b$data)
  expect_identical(a$seed, 1)
  expect_identical(a$design$T, 5L)
})

test_that("the seed is an argument, or drawn from R's generator and reported", {
  stoch <- list(T = 3, N = 50, psi = .5, p = .4, STOCH = TRUE)
  run <- function(...) do.call(occusim, c(stoch, list(...)))
  set.seed(11)
  a <- run()
  set.seed(11)
  b <- run()
  expect_identical(a$data, b$data)
  expect_false(is.na(a$seed))
  expect_identical(run(seed = a$seed)$data, a$data)
  expect_identical(run(SEED = a$seed)$data, a$data)
  expect_error(run(seed = 1, SEED = 1), "either")
  # Expected values draw nothing and are given no seed (which would warn).
  e <- expect_silent(occusim(T = 3, N = 100, psi = .5, p = .4))
  expect_true(is.na(e$seed))
  expect_identical(e$data$freq[1:2], c(60.8, 7.2))
  # A design the program simulates by its own choice draws from the seed too.
  set.seed(3)
  expect_warning(long1 <- occusim(T = 20, N = 30, psi = .5, p = .4), "at most 16 surveys")
  set.seed(3)
  long2 <- suppressWarnings(occusim(T = 20, N = 30, psi = .5, p = .4))
  expect_identical(long1$data, long2$data)
  expect_false(is.na(long1$seed))
})

test_that("replicates are stacked with a rep column; print and summary describe them", {
  d <- occusim(T = 3, N = 20, psi = .5, p = .4, STOCH = TRUE, reps = 3, seed = 5)
  expect_identical(names(d$data)[1:2], c("rep", "site"))
  expect_identical(unique(d$data$rep), 1:3)
  expect_identical(as.data.frame(d), d$data)
  s <- summary(d)
  expect_length(s$naive_occupancy, 3)
  expect_output(print(d), "3 replicates")
  expect_output(print(s), "naive occupancy")
})
