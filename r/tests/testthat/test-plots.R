# Every plot method draws into a graphics file without error.

draws <- function(x, ...) {
  file <- tempfile(fileext = ".png")
  on.exit(unlink(file))
  grDevices::png(file)
  plot(x, ...)
  grDevices::dev.off()
  file.exists(file) && file.size(file) > 0
}

test_that("power curves, study estimates and the optimum are drawn", {
  power <- structure(data.frame(N = rep(c(50, 100, 200), 2), T = rep(c(4, 8), each = 3), parameter = "psi(cov1)",
                                true = -.4, se = .2, cv = .5, power = c(.2, .4, .7, .3, .5, .8)),
                     class = c("occusim_power", "data.frame"), grid = c("N", "T"))
  optimal <- structure(data.frame(sites = c(100, 66, 50, 40), visits = 2:5, cost = c(200, 198, 200, 200),
                                  se = c(.12, .10, .11, .13), power = NA, best = c(0, 1, 0, 0)),
                       class = c("occusim_optimal", "data.frame"))
  study <- occusim_study(T = 4, N = 60, psi = .6, p = .4, reps = 20, seed = 3)
  for (x in list(power, optimal, study)) expect_true(draws(x), label = class(x)[[1]])
  expect_true(draws(study, parameter = "p"))
  expect_error(draws(power[power$parameter == "none", ]), "no parameter has a power value")
})
