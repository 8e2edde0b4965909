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
cmake --build "$build" --target vesk -j2 >/dev/null
# The calibration loop of the conversion row, built as vesk is.
"${CXX:-g++}" -std=c++20 -O3 -o "$build/floor" "$root/bench/floor.cpp"
# For the writer row: vesk with thread creation failing, so it converts on one thread.
"${CXX:-g++}" -std=c++20 -O2 -shared -fPIC -o "$build/no_thread.so" "$root/bench/no_thread.cpp"
exec python3 "$root/bench/compare.py" --vesk "$build/vesk" --floor "$build/floor" \
  --no-thread "$build/no_thread.so" "$@"
