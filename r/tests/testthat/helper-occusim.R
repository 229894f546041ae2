# What the tests share: the command-line program to compare with (named by
# OCCUSIM8, as scripts/r-package.sh sets it) and a run of it in a scratch
# directory.

cli <- function() {
  path <- Sys.getenv("OCCUSIM8")
  if (!nzchar(path) || !file.exists(path)) NULL else path
}

# Runs the command line on `words` in a fresh directory; returns its status,
# standard error and the CSV tables it wrote, by file name.
run_cli <- function(words) {
  dir <- tempfile("cli-")
  dir.create(dir)
  on.exit(unlink(dir, recursive = TRUE))
  err <- tempfile()
  on.exit(unlink(err), add = TRUE)
  old <- setwd(dir)
  on.exit(setwd(old), add = TRUE)
  status <- system2(cli(), shQuote(words), stdout = FALSE, stderr = err)
  csv <- list.files(dir, pattern = "\\.csv$")
  list(status = status, err = readLines(err, warn = FALSE),
       tables = lapply(stats::setNames(csv, csv), function(f) utils::read.csv(f, check.names = FALSE,
                                                                              stringsAsFactors = FALSE)))
}

words_of <- function(args) strsplit(args, " ", fixed = TRUE)[[1]]

# A table as a plain data frame: no class or attributes of its own.
plain <- function(x) {
  structure(lapply(seq_along(x), function(i) x[[i]]), names = names(x), row.names = attr(x, "row.names"),
            class = "data.frame")
}

# The histories of a data set one row per site (frequency rows repeated).
site_rows <- function(d) {
  y <- d$data[, grep("^y[0-9]+$", names(d$data))]
  if (d$layout == "frequency") y <- y[rep(seq_len(nrow(y)), d$data$freq), , drop = FALSE]
  unname(as.matrix(y))
}
