#!/usr/bin/env bash
# Fuzzes the whole command line for MINUTES minutes (default 10) on WORKERS
# cores (default 1): builds the libFuzzer target with clang, AddressSanitizer
# and UBSan in build-fuzz/, and runs it from the seed corpus in
# tests/fuzz/corpus. New inputs go to build-fuzz/corpus, shared by the
# workers: each re-reads it every 30 seconds for the others' finds. A worker
# runs until the time is up and restarts only after a crash (a restart first
# replays the whole corpus), whose input stays in build-fuzz/artifacts (copy it
# into tests/fuzz/corpus once mended, so that the corpus replay test keeps it
# fixed). Logs go to build-fuzz/logs; the last line printed is the number of
# inputs run in all.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-10}
workers=${2:-1}
if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ is needed (scripts/deps.sh installs it)" >&2
    exit 1
fi
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
# The instrumentation ignore lists shape every object; ccache must hash them too.
export CCACHE_EXTRAFILES=$PWD/tests/fuzz/coverage_ignore.txt:$PWD/tests/fuzz/sanitizer_ignore.txt
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOCCUSIM_FUZZ=ON \
    -DOCCUSIM_TESTS=OFF -DOCCUSIM_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build build-fuzz -j2 --target occusim_fuzz
mkdir -p build-fuzz/corpus build-fuzz/artifacts build-fuzz/logs
# A small quarantine and short allocation stacks keep the run contexts (about
# a megabyte each) in cache; freed memory is still poisoned and checked. The
# scheduler favours inputs that run fast (fits and design evaluations can take
# a second), so that the time goes into many inputs rather than a few slow ones.
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:quarantine_size_mb=4:malloc_context_size=10:max_malloc_fill_size=0:allocator_release_to_os_interval_ms=-1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
until=$(($(date +%s) + minutes * 60))
stamp=$(date +%Y%m%d-%H%M%S)

worker() {
    local w=$1 i=0
    while true; do
        local left=$((until - $(date +%s)))
        ((left >= 20)) || break
        i=$((i + 1))
        build-fuzz/occusim_fuzz build-fuzz/corpus tests/fuzz/corpus \
            -dict=tests/fuzz/options.dict -max_len=1024 -timeout=20 -rss_limit_mb=2048 \
            -artifact_prefix=build-fuzz/artifacts/ -max_total_time=$left -reload=30 \
            -seed=$((RANDOM * 100 + w * 10 + i % 10)) -print_final_stats=1 -entropic_scale_per_exec_time=1 \
            >"build-fuzz/logs/$stamp-w$w-$i.log" 2>&1 || true
    done
}
for ((w = 1; w <= workers; w++)); do worker "$w" & done
wait
cat build-fuzz/logs/"$stamp"-w*.log | grep -c "ERROR: \|runtime error:" | sed 's/^/fuzz.sh: sanitizer reports: /' || true
ls build-fuzz/artifacts | sed 's/^/fuzz.sh: artifact: /'
total=0
for f in build-fuzz/logs/"$stamp"-w*.log; do
    n=$(grep -oE "stat::number_of_executed_units: [0-9]+" "$f" | awk '{print $2}' | tail -1)
    [ -n "$n" ] || n=$(grep -oE "^#[0-9]+" "$f" | tail -1 | tr -d '#')
    total=$((total + ${n:-0}))
done
echo "fuzz.sh: $total inputs run"
