#!/usr/bin/env bash
# Builds the release program and times it against its peers:
#   bench/run.sh [--rounds N] [--row NAME]... [--tmp DIR]
# The build goes to build/bench (or $VESK_BENCH_BUILD); the inputs are made in
# a temporary directory ($TMPDIR) and removed afterwards. About 2.5 GB of free
# space are needed there at the peak.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VESK_BENCH_BUILD:-$root/build/bench}

# The peers, and what builds vesk.
"$root/scripts/setup.sh" build bench

(cd "$root" && cmake --preset bench -B "$build" >/dev/null)
# vesk, the calibration loop and the library that makes thread creation fail
# (bench/CMakeLists.txt).
cmake --build "$build" --target vesk floor no_thread -j2 >/dev/null
exec python3 "$root/bench/compare.py" --vesk "$build/vesk" --floor "$build/bench/floor" \
  --no-thread "$build/bench/no_thread.so" "$@"
