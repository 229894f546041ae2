# Running the simulator from R: options given as R arguments become the words
# of a command line, every run goes to a fresh temporary directory that is
# removed afterwards, and the program's console becomes R conditions (its
# error line an R error, its warnings R warnings, the rest shown only on
# request).

#' @useDynLib occusim, .registration = TRUE
#' @importFrom Rcpp evalCpp
NULL

# Shortest decimal text that reads back to the same double.
format_number <- function(x) {
  vapply(x, function(v) {
    if (is.na(v)) stop("option values must not be NA", call. = FALSE)
    for (d in 15:17) {
      s <- formatC(v, digits = d, format = "fg")
      if (as.numeric(s) == v) break
    }
    trimws(s)
  }, "")
}

# The words of one option: a switch for TRUE, nothing for FALSE, a comma list
# for a vector, name:value pairs for a named vector (as NULLS takes them);
# unnamed values are plain numbers at the front of the command line.
option_words <- function(name, value) {
  if (is.null(value)) return(character())
  if (is.logical(value)) {
    if (length(value) != 1 || is.na(value)) stop("switch ", name, " must be TRUE or FALSE", call. = FALSE)
    if (!nzchar(name)) stop("a switch needs a name", call. = FALSE)
    return(if (value) name else character())
  }
  text <- if (is.numeric(value)) format_number(value) else as.character(value)
  if (!is.null(names(value)) && all(nzchar(names(value)))) text <- paste0(names(value), ":", text)
  if (!nzchar(name)) return(text)
  paste0(name, "=", paste(text, collapse = ","))
}

# The command-line words of the options in `opts` (a named list), after the
# words of `args` (one string, split at white space, or a character vector).
command_words <- function(opts, args = NULL) {
  words <- if (is.null(args)) character() else unlist(strsplit(trimws(args), "[[:space:]]+"))
  nm <- names(opts)
  if (is.null(nm)) nm <- rep("", length(opts))
  for (i in seq_along(opts)) words <- c(words, option_words(nm[[i]], opts[[i]]))
  words[nzchar(words)]
}

word_names <- function(words) sub("=.*$", "", words)

# The options the package sets itself are not the user's to give.
reserved <- c("outfile", "FORMAT", "REPS", "THREADS", "SHARD")
check_reserved <- function(words) {
  given <- intersect(word_names(words), reserved)
  if (length(given))
    stop("option ", given[[1]], " is set by the package (use the function's arguments)", call. = FALSE)
}

# Whether the words ask for a random data set, by the switches the program
# reads for it (a run it simulates by its own choice is caught afterwards).
asks_random <- function(words) {
  nm <- word_names(words)
  value <- function(n) suppressWarnings(as.numeric(sub("^[^=]*=", "", words[nm == n])))
  any(startsWith(nm, "STOCH")) || any(value("T") < 0, na.rm = TRUE) || any(value("SIMTYPE") >= 2, na.rm = TRUE)
}

has_seed <- function(words) any(word_names(words) %in% c("SEED", "seed"))

# A seed from R's generator, so that set.seed() makes runs repeatable.
draw_seed <- function() sample.int(.Machine$integer.max - 1L, 1L)

occusim_condition <- function(message, class) {
  structure(class = c(class, "condition"), list(message = message, call = NULL))
}

# Runs the program on `words` in a fresh temporary directory and returns what
# `collect(dir)` reads from it, with the console text as attributes. An error
# of the program is an R error of class occusim_error carrying its message.
run_program <- function(words, collect = function(dir) list(), verbose = FALSE, warn = TRUE) {
  dir <- tempfile("occusim-")
  dir.create(dir)
  on.exit(unlink(dir, recursive = TRUE, force = TRUE), add = TRUE)
  res <- .occusim_execute(c("occusim8", words), normalizePath(dir))
  if (verbose) {
    cat(res$out)
    cat(res$err, file = stderr())
  }
  lines <- strsplit(res$err, "\n", fixed = TRUE)[[1]]
  warnings <- sub("^occusim8: warning: ", "", grep("^occusim8: warning: ", lines, value = TRUE))
  if (res$status != 0) {
    warn_of(list(), warnings)
    errors <- grep("^occusim8: error: ", lines, value = TRUE)
    msg <- if (length(errors)) sub("^occusim8: error: ", "", errors[[length(errors)]]) else {
      err_file <- file.path(dir, "occusim.err")
      text <- c(if (file.exists(err_file)) readLines(err_file, warn = FALSE), lines)
      text <- sub("^occusim8: ", "", text[nzchar(trimws(text))])
      if (length(text)) text[[1]] else paste("the run ended with status", res$status)
    }
    stop(occusim_condition(msg, c("occusim_error", "error")))
  }
  value <- collect(dir)
  attr(value, "console") <- list(out = res$out, err = res$err)
  attr(value, "warnings") <- warnings
  if (warn) warn_of(value)
  value
}

# The program's warnings of a run as R warnings.
warn_of <- function(value, warnings = attr(value, "warnings")) {
  for (w in warnings)
    warning(occusim_condition(w, c("occusim_warning", "warning")))
}

read_table <- function(path) {
  if (!file.exists(path)) return(NULL)
  utils::read.csv(path, check.names = FALSE, stringsAsFactors = FALSE)
}

read_meta <- function(path) {
  if (!file.exists(path)) return(NULL)
  jsonlite::fromJSON(path, simplifyVector = TRUE)
}

# The command line of a study: the user's options, the seed (given, or drawn
# from R's generator when the run is random) and the package's own words.
study_words <- function(opts, args, seed, random, extra = character()) {
  words <- command_words(opts, args)
  check_reserved(words)
  drawn <- NULL
  if (!is.null(seed)) {
    if (has_seed(words)) stop("give the seed either as seed= or as SEED, not both", call. = FALSE)
    words <- c(words, paste0("SEED=", format_number(seed)))
  } else if (!has_seed(words)) {
    drawn <- draw_seed()
    if (random || asks_random(words)) words <- c(words, paste0("SEED=", drawn))
  }
  list(words = c(words, extra), drawn = drawn)
}
