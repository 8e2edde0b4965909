#!/usr/bin/env bash
# Builds vesk and runs every test: unit tests and end-to-end tests of both
# programs (release and trace). Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset ci >/dev/null
cmake --build --preset ci
ctest --preset ci
