#!/usr/bin/env bash
# The design explorer: a static page in build/web/ whose numbers come from the
# program's own design evaluation compiled to WebAssembly.
#   bash scripts/web.sh [build]   builds build/web/ (page, script, style, chart library, occusim.js/.wasm)
#   bash scripts/web.sh serve     builds, then serves build/web/ on http://127.0.0.1:8080/ (PORT=... to change)
#   bash scripts/web.sh test      builds, then runs the module test under Node and the browser test in
#                                 headless Chromium, both against occusim8 (OCCUSIM8=path, default build/occusim8)
# Installs what it needs when missing: Debian's emscripten, nodejs/npm, chromium (test only), and the
# pinned npm packages of web/package-lock.json.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
what=${1:-build}
out=build/web
obj=build/web-obj
# Debian's Emscripten finds its JavaScript optimiser's modules here.
export NODE_PATH=/usr/share/nodejs
# Compilations are cached as the native build's are, when ccache is there.
if command -v ccache >/dev/null 2>&1 && [ -z "${EM_COMPILER_WRAPPER:-}" ]; then
  export EM_COMPILER_WRAPPER=ccache
fi

need=()
command -v emcc >/dev/null 2>&1 || need+=(emscripten)
command -v node >/dev/null 2>&1 || need+=(nodejs)
command -v npm >/dev/null 2>&1 || need+=(npm)
command -v make >/dev/null 2>&1 || need+=(make)
if [ "$what" = test ]; then
  command -v chromium >/dev/null 2>&1 || need+=(chromium)
fi
if [ ${#need[@]} -gt 0 ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${need[@]}"
fi

build() {
  # Header-only libraries from Debian, and NLopt's interface (the module
  # links web/wasm/nlopt_stand_in.c instead of the library), seen by the
  # WebAssembly compiler without the rest of /usr/include. Random123 stops at processors it was not
  # tested on; WebAssembly is added to its list (its generators are portable
  # C++ there).
  mkdir -p "$obj/include"
  ln -sfn /usr/include/nlohmann "$obj/include/nlohmann"
  ln -sfn /usr/include/nlopt.h "$obj/include/nlopt.h"
  ln -sfn /usr/include/nlopt.hpp "$obj/include/nlopt.hpp"
  if [ ! -f "$obj/include/Random123/philox.h" ] || [ /usr/include/Random123/philox.h -nt "$obj/include/Random123/philox.h" ]; then
    rm -rf "$obj/include/Random123"
    cp -r /usr/include/Random123 "$obj/include/Random123"
    sed -i 's/&& !defined(__riscv)/\&\& !defined(__riscv) \&\& !defined(__wasm__)/' \
      "$obj/include/Random123/features/gccfeatures.h"
  fi
  make -s -f web/wasm/build.mk -j"${JOBS:-2}" OUT="$out" OBJ="$obj" INC="$obj/include"
  # The pinned chart library (and the test driver) from the lock file.
  if [ ! -d web/node_modules/uplot ] || [ web/package-lock.json -nt web/node_modules/.package-lock.json ]; then
    (cd web && npm ci --no-audit --no-fund)
  fi
  cp web/index.html web/style.css web/design.js web/explorer.js "$out/"
  cp web/node_modules/uplot/dist/uPlot.iife.min.js web/node_modules/uplot/dist/uPlot.min.css "$out/"
  echo "design explorer built in $out/"
}

case "$what" in
  build)
    build
    ;;
  serve)
    build
    port=${PORT:-8080}
    echo "serving $out on http://127.0.0.1:$port/"
    exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$out"
    ;;
  test)
    build
    export OCCUSIM8=${OCCUSIM8:-$root/build/occusim8}
    if [ ! -x "$OCCUSIM8" ]; then
      echo "web.sh: $OCCUSIM8 not found: build occusim8 first (or set OCCUSIM8)" >&2
      exit 1
    fi
    export OCCUSIM_WEB="$root/$out"
    export OCCUSIM_WEB_SHOTS="$root/build/web-test"
    (cd web && node --test test/module.test.js test/browser.test.js)
    ;;
  *)
    echo "usage: bash scripts/web.sh [build|serve|test]" >&2
    exit 2
    ;;
esac
