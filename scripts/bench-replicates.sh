#!/usr/bin/env bash
# Timings of replicate batches against separate runs, the site-by-site
# generator cost per site-survey, thread scaling and peak memory. Builds a
# release binary in build-bench (or uses $1, a build directory holding
# occusim8) and prints wall-clock and CPU seconds for each case; on a shared
# machine wall-clock times depend on the load, so each case runs twice and
# the faster run counts.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build-bench}
if [ -z "${1:-}" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DOCCUSIM_TESTS=OFF >/dev/null
  cmake --build "$build" -j2 >/dev/null
fi
bin=$(cd "$build" && pwd)/occusim8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Runs a command twice in a clean directory and prints the faster
# "wall user+sys peakKB" triple.
measure() {
  local best=""
  for _ in 1 2; do
    rm -rf run && mkdir run
    local t
    (cd run && /usr/bin/time -o ../time.txt -f "%e %U %S %M" "$@" >/dev/null 2>&1)
    t=$(tail -1 time.txt)
    t=$(awk '{printf "%.3f %.3f %d", $1, $2 + $3, $4}' <<<"$t")
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN{split(a,x," ");split(b,y," ");exit !(x[1]<y[1])}'; then
      best=$t
    fi
  done
  echo "$best"
}

small=(T=5 N=200 psi=.5 p=.3 SIMTYPE=2 SEED=5 QUIET)
echo "== 1000 replicates of T=5 N=200 SIMTYPE=2"
start=$(date +%s.%N)
(rm -rf sep && mkdir sep && cd sep && for r in $(seq 1 1000); do
   "$bin" "${small[@]}" SEED=$r outfile=rep_$r.pao >/dev/null 2>&1; done)
end=$(date +%s.%N)
sep=$(awk -v a="$start" -v b="$end" 'BEGIN{printf "%.3f", b - a}')
echo "1000 separate processes:      ${sep} s wall"
one=$(measure "$bin" "${small[@]}" REPS=1000 THREADS=1)
all=$(measure "$bin" "${small[@]}" REPS=1000)
echo "REPS=1000 THREADS=1:          $(cut -d' ' -f1 <<<"$one") s wall, $(cut -d' ' -f2 <<<"$one") s CPU"
echo "REPS=1000 (every core):       $(cut -d' ' -f1 <<<"$all") s wall, $(cut -d' ' -f2 <<<"$all") s CPU"
awk -v s="$sep" -v o="$(cut -d' ' -f1 <<<"$one")" 'BEGIN{printf "speed-up over separate runs:  %.1fx (one thread)\n", s / o}'
# The file-system calls of the batch (every file it opens, every rename).
if command -v strace >/dev/null; then
  rm -rf run && mkdir run
  (cd run && strace -f -c -o ../strace.txt -e trace=openat,rename,unlink,mkdir,rmdir \
     "$bin" "${small[@]}" REPS=1000 THREADS=1 >/dev/null 2>&1)
  awk '$NF ~ /^(openat|rename|unlink|mkdir|rmdir)$/ {printf "%s %s  ", $NF, $4} END {print "(REPS=1000, strace)"}' strace.txt
fi

echo "== site by site, 10^6 sites x 10 surveys, one replicate"
big=(T=10 N=1000000 psi=.6 p=.4 gam=.1 eps=.2 SIMTYPE=2 SEED=5 QUIET)
for rng in lehmer philox; do
  t=$(measure "$bin" "${big[@]}" RNG=$rng)
  read -r w c kb <<<"$t"
  awk -v w="$w" -v c="$c" -v kb="$kb" -v g="$rng" \
    'BEGIN{printf "RNG=%-7s %.3f s wall (%.1f ns per site-survey), %.3f s CPU (%.1f ns), peak %.1f MB\n", g, w, w * 100, c, c * 100, kb / 1024}'
done
for n in 3000000 10000000; do
  t=$(measure "$bin" T=10 N=$n psi=.6 p=.4 SIMTYPE=2 SEED=5 QUIET RNG=philox)
  awk -v n="$n" -v kb="$(cut -d' ' -f3 <<<"$t")" 'BEGIN{printf "N=%d: peak %.1f MB\n", n, kb / 1024}'
done

echo "== REPS=200 of 10^4 sites x 10 surveys on one and two threads"
mid=(T=10 N=10000 psi=.6 p=.4 gam=.1 eps=.2 SIMTYPE=2 SEED=5 QUIET REPS=200)
t1=$(measure "$bin" "${mid[@]}" THREADS=1)
t2=$(measure "$bin" "${mid[@]}" THREADS=2)
echo "THREADS=1: $(cut -d' ' -f1 <<<"$t1") s wall, $(cut -d' ' -f2 <<<"$t1") s CPU, peak $(cut -d' ' -f3 <<<"$t1") KB"
echo "THREADS=2: $(cut -d' ' -f1 <<<"$t2") s wall, $(cut -d' ' -f2 <<<"$t2") s CPU, peak $(cut -d' ' -f3 <<<"$t2") KB"
awk -v a="$(cut -d' ' -f1 <<<"$t1")" -v b="$(cut -d' ' -f1 <<<"$t2")" 'BEGIN{printf "two threads: %.2fx the throughput of one\n", a / b}'
echo "(nproc: $(nproc), load: $(cut -d' ' -f1-3 /proc/loadavg))"
