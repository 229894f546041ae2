#!/usr/bin/env bash
# Builds the library and the whole test suite with AddressSanitizer and UBSan
# and runs every test; any sanitizer report fails the run. Then checks the R
# package (scripts/r-package.sh check), its tests comparing with the program
# built here, and builds the design explorer and runs its module and browser
# tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --tests
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DOCCUSIM_SANITIZE=ON -DOCCUSIM_BENCH=OFF >/dev/null
cmake --build build-test -j2
(cd build-test && ctest --output-on-failure -j2)
OCCUSIM8=$PWD/build-test/occusim8 bash scripts/r-package.sh check
# The design explorer: its WebAssembly module and page against this build's
# occusim8 (installs Emscripten, Chromium and the pinned npm packages when missing).
OCCUSIM8="$PWD/build-test/occusim8" bash scripts/web.sh test
