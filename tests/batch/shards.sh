#!/usr/bin/env bash
# Shards of one batch run as separate processes side by side, through GNU
# parallel (xargs -P where it is missing), give together exactly the files of
# the whole batch: the same history files and, in shard order, the same
# manifest rows.
set -euo pipefail
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
args=(T=4 N=150 psi=.5 p=.4 gam=.2 eps=.1 SIMTYPE=2 SEED=99 QUIET REPS=10 THREADS=1)
mkdir "$work/whole" "$work/shards"
(cd "$work/whole" && "$bin" "${args[@]}" >/dev/null 2>&1)
cd "$work/shards"
if command -v parallel >/dev/null 2>&1; then
  parallel --will-cite -j 4 "$bin" "${args[@]}" SHARD={}/4 ::: 1 2 3 4 >/dev/null 2>&1
else
  printf '%s\n' 1 2 3 4 | xargs -P 4 -I{} "$bin" "${args[@]}" SHARD={}/4 >/dev/null 2>&1
fi
fail=0
for f in "$work"/whole/occusim_*.pao; do
  name=$(basename "$f")
  cmp -s "$f" "$name" || { echo "shards differ from the batch in $name"; fail=1; }
done
[ "$(ls occusim_*.pao | wc -l)" = 10 ] || { echo "shards wrote $(ls occusim_*.pao | wc -l) files, not 10"; fail=1; }
rows=$(for i in 1 2 3 4; do tail -n +2 "occusim_replicates_${i}of4.csv"; done)
[ "$rows" = "$(tail -n +2 "$work/whole/occusim_replicates.csv")" ] || { echo "manifest rows differ"; fail=1; }
[ "$fail" = 0 ] && echo "4 shards = 1 batch of 10"
exit "$fail"
