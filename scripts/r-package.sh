#!/usr/bin/env bash
# The R package: assembles it from r/ and the library sources in src/, then
#   install   builds the source tarball and installs it into R's site library;
#   check     builds the tarball and runs R CMD check --as-cran on it (no
#             network checks, no PDF manual), failing on any ERROR or WARNING;
#   document  regenerates r/NAMESPACE, r/man/ and the Rcpp exports from the
#             roxygen comments and the glue (run after editing either).
# The C++ sources live once, in src/; they are copied into the package's
# src/occusim/ in the staging directory build-r/occusim at every build, and the
# package's Makevars is written there listing them.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-install}
case "$mode" in install | check | document) ;; *)
  echo "usage: bash scripts/r-package.sh install|check|document" >&2
  exit 2
  ;;
esac

# Debian packages: the library's own (compiler, NLopt, Eigen, Random123,
# nlohmann-json), R with what the package builds, tests and documents with,
# and ccache (the tarball's sources are compiled twice: for the vignette, then
# by the installation or the check).
bash scripts/deps.sh
need=()
[ -f /usr/share/R/include/R.h ] || need+=(r-base-dev)
command -v pandoc >/dev/null 2>&1 || need+=(pandoc)
command -v ccache >/dev/null 2>&1 || need+=(ccache)
command -v qpdf >/dev/null 2>&1 || need+=(qpdf) # the check's size test of the vignette's PDFs
for p in Rcpp testthat roxygen2 knitr rmarkdown jsonlite; do
  lib=$(echo "$p" | tr '[:upper:]' '[:lower:]')
  [ -d "/usr/lib/R/site-library/$p" ] || need+=("r-cran-$lib")
done
if [ ${#need[@]} -gt 0 ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${need[@]}"
fi

export MAKEFLAGS=${MAKEFLAGS:--j2}
if [ "$mode" = document ]; then
  Rscript -e 'Rcpp::compileAttributes("r"); roxygen2::roxygenise("r", load_code = roxygen2::load_source)'
  exit 0
fi

stage=build-r/occusim
rm -rf "$stage"
mkdir -p build-r
cp -r r "$stage"
(cd src && find . -name '*.cpp' ! -path ./main.cpp -o -name '*.hpp') | while read -r f; do
  mkdir -p "$stage/src/occusim/$(dirname "$f")"
  cp "src/$f" "$stage/src/occusim/$f"
done
# File names that differ only by case are not portable: the later of each
# pair takes a suffix, and the includes of a renamed header follow it.
(cd "$stage/src/occusim" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) | awk '{ if (seen[tolower($0)]++) print }' |
  while read -r rel; do
    new="${rel%.*}_2.${rel##*.}"
    mv "$stage/src/occusim/$rel" "$stage/src/occusim/$new"
    case "$rel" in *.hpp) grep -rlF "\"$rel\"" "$stage/src" | xargs -r sed -i "s|\"$rel\"|\"$new\"|g" ;; esac
  done
objects=$(cd "$stage/src" && find . -name '*.cpp' | sed 's|^\./||; s|\.cpp$|.o|' | sort | tr '\n' ' ')
cat >"$stage/src/Makevars" <<MAKEVARS
CXX_STD = CXX20
PKG_CPPFLAGS = -Ioccusim -I/usr/include/eigen3 -DOCCUSIM_VERSION='"8.0"'
PKG_LIBS = -lnlopt -lpthread
OBJECTS = $objects
MAKEVARS

cd build-r
# Repeated builds (install, then check) compile the same sources: through
# ccache when it is there.
if command -v ccache >/dev/null 2>&1 && [ -z "${R_MAKEVARS_USER:-}" ]; then
  printf 'CXX20 = ccache %s\n' "$(R CMD config CXX20)" >Makevars.user
  export R_MAKEVARS_USER=$PWD/Makevars.user
  export CCACHE_NOHASHDIR=1 # each build compiles in a temporary directory of its own
fi
rm -f occusim_*.tar.gz
R CMD build --no-manual occusim
tarball=$(ls occusim_*.tar.gz)
if [ "$mode" = install ]; then
  R CMD INSTALL "$tarball"
  exit 0
fi

# The check: the tests compare with the command line found beside the
# sources (unless OCCUSIM8 names one) and run the README's R examples.
for b in ../build/occusim8 ../build-test/occusim8; do
  if [ -z "${OCCUSIM8:-}" ] && [ -x "$b" ]; then export OCCUSIM8=$PWD/$b; fi
done
export OCCUSIM_README=$PWD/../README.md
export _R_CHECK_CRAN_INCOMING_REMOTE_=false _R_CHECK_CRAN_INCOMING_=false
export _R_CHECK_FUTURE_FILE_TIMESTAMPS_=false _R_CHECK_SYSTEM_CLOCK_=false
# unmarked (a Suggests) is not in Debian: its tests and example skip without
# it. The check then looks the missing package up in CRAN's database; an
# empty local repository stands in for CRAN so that nothing goes to the network.
export _R_CHECK_FORCE_SUGGESTS_=false
mkdir -p cran/src/contrib cran/web/packages
: >cran/src/contrib/PACKAGES
Rscript -e 'saveRDS(data.frame(Package = character(), Maintainer = character()), "cran/web/packages/packages.rds")'
echo "options(repos = c(CRAN = 'file://$PWD/cran'))" >Rprofile.check
export R_PROFILE_USER=$PWD/Rprofile.check
R CMD check --as-cran --no-manual "$tarball" || true
log=occusim.Rcheck/00check.log
status=$(grep '^Status:' "$log" || echo "Status: no result")
echo "$status"
if grep -q -E 'ERROR|WARNING' <<<"$status" || ! grep -q '^Status:' "$log"; then
  exit 1
fi
