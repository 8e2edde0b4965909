#!/usr/bin/env bash
# Builds vesk and runs every test. Installs what is missing first.
#
#   scripts/test.sh          everything CI runs (16-19 minutes on 2 cores, packages installed)
#   scripts/test.sh --quick  the Linux build and its tests only (about 3 minutes)
#
# Stages, in order: the Linux build with warnings as errors and its unit,
# end-to-end, fault, fault-injection and completion tests; formatting and
# static analysis; the whole suite under AddressSanitizer and UBSan plus a
# short run of every fuzz target; the end-to-end suite against the 32- and
# 64-bit Windows programs under Wine; the Debian and Windows packages, checked
# with lintian, installed and run on the example project.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
case "${1:-}" in
  "") ;;
  --quick) quick=1 ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac

stage() { printf '\n==== %s (%s)\n' "$1" "$(date +%H:%M:%S)"; }

# Everything the run needs is installed before the first build, so that a
# package mirror that cannot deliver shows in the first minutes.
stage "installing what the run needs"
if ((quick)); then
  scripts/setup.sh build tests
else
  scripts/setup.sh build tests lint fuzz windows package
fi
export VESK_SETUP_DONE=1

stage "Linux build and tests"
cmake --preset ci >/dev/null
cmake --build --preset ci
ctest --preset ci
((quick)) && exit 0

stage "formatting and static analysis"
# Its own build directory: the compile database of the GCC build carries
# options that clang-tidy does not know.
scripts/lint.sh

stage "sanitizers and fuzz targets"
scripts/test-extra.sh

stage "Windows programs under Wine"
VESK_E2E_HOST_BUILD=build/ci scripts/test-windows.sh

stage "packages"
scripts/package.sh --windows

stage "all stages passed"
