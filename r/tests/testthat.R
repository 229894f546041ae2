library(testthat)
library(occusim)

test_check("occusim")
