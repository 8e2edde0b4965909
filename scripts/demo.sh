#!/usr/bin/env bash
# Builds vesk and runs it on a copy of the bundled example project, then shows
# what it printed and wrote. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

# The program preset has no tests, so GoogleTest is not needed.
scripts/setup.sh program
cmake --preset program >/dev/null
cmake --build --preset program --target vesk >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r examples/demo "$work/demo"
cp build/program/vesk "$work/demo/vesk"

echo "== vesk, started without arguments from another directory"
(cd "$work" && ./demo/vesk)
echo "== outputs written to demo/out"
for f in "$work"/demo/out/*.txt; do
  echo "-- ${f#"$work"/}"
  tr -d '\r' <"$f"
done
echo "== scenario.vsk changes; a second run converts only what changed"
touch -d "@$(($(date +%s) + 2))" "$work/demo/scenario.vsk"
(cd "$work" && ./demo/vesk)
