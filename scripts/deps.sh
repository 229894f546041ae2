#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing:
# the compiler and CMake, Random123 (counter-based generator, header-only),
# nlohmann-json (run metadata, header-only), NLopt (maximum-likelihood
# fits) and Eigen (linear algebra of the design evaluation, header-only); with --tests also GoogleTest and GNU parallel (shard tests).
set -euo pipefail
need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v make >/dev/null 2>&1 || need+=(make)
[ -f /usr/include/Random123/philox.h ] || need+=(librandom123-dev)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
[ -f /usr/include/nlopt.hpp ] || need+=(libnlopt-cxx-dev)
[ -f /usr/include/eigen3/Eigen/Dense ] || need+=(libeigen3-dev)
if [ "${1:-}" = "--tests" ]; then
  [ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
  command -v parallel >/dev/null 2>&1 || need+=(parallel)
fi
if [ ${#need[@]} -gt 0 ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${need[@]}"
fi
