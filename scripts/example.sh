#!/usr/bin/env bash
# Builds occusim8 and runs a typical expected-value run in ./example-run,
# then shows the history file it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DOCCUSIM_TESTS=OFF -DOCCUSIM_BENCH=OFF >/dev/null
cmake --build build -j2 >/dev/null
mkdir -p example-run
cd example-run
../build/occusim8 T=3 N=100 psi=.5 p=.4
echo "---------- occusim.pao ----------"
cat occusim.pao
