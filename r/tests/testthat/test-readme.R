# The R examples of the README (named by OCCUSIM_README, as the check script
# sets it) run as shown; those that need options this build lacks are skipped.

test_that("the README's R examples run", {
  readme <- Sys.getenv("OCCUSIM_README")
  skip_if_not(nzchar(readme) && file.exists(readme), "the README is not at hand")
  lines <- readLines(readme, warn = FALSE)
  section <- lines[seq(which(lines == "## R"), length(lines))]
  section <- section[seq_len(which(startsWith(section[-1], "## "))[1])]
  starts <- which(section == "```r")
  expect_gt(length(starts), 2)
  wd <- tempfile("readme-")
  dir.create(wd)
  old <- setwd(wd)
  grDevices::pdf(NULL)
  on.exit({
    grDevices::dev.off()
    setwd(old)
    unlink(wd, recursive = TRUE)
  })
  for (s in starts) {
    end <- s + which(section[-seq_len(s)] == "```")[1]
    code <- section[(s + 1):(end - 1)]
    needs <- c(occusim_power = "GRID", occusim_optimal = "OPTIMIZE")
    used <- needs[vapply(names(needs), function(f) any(grepl(f, code, fixed = TRUE)), TRUE)]
    if (!all(vapply(used, occusim_has_option, TRUE))) next
    expect_no_error(eval(parse(text = code), envir = new.env()))
  }
  expect_identical(list.files(wd), character())
})
