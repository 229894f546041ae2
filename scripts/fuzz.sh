#!/usr/bin/env bash
# Fuzzes the whole command line for MINUTES minutes (default 10): builds the
# libFuzzer target with clang, AddressSanitizer and UBSan in build-fuzz/, and
# runs it on one core from the seed corpus in tests/fuzz/corpus. New inputs go
# to build-fuzz/corpus; a crash, leak or timeout leaves its input in
# build-fuzz/artifacts (copy it into tests/fuzz/corpus once mended, so that
# the corpus replay test keeps it fixed).
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-10}
if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ is needed (scripts/deps.sh installs it)" >&2
    exit 1
fi
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOCCUSIM_FUZZ=ON \
    -DOCCUSIM_TESTS=OFF -DOCCUSIM_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build build-fuzz -j2 --target occusim_fuzz
mkdir -p build-fuzz/corpus build-fuzz/artifacts
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:quarantine_size_mb=32:max_malloc_fill_size=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
exec build-fuzz/occusim_fuzz build-fuzz/corpus tests/fuzz/corpus \
    -dict=tests/fuzz/options.dict -max_len=1024 -timeout=20 -rss_limit_mb=2048 \
    -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
    -artifact_prefix=build-fuzz/artifacts/ -max_total_time=$((minutes * 60)) -print_final_stats=1
