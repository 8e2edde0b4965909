#!/usr/bin/env bash
# Line and branch coverage of src/ by the unit, end-to-end and fault tests,
# with gcov and gcovr. One command:
#   scripts/coverage.sh            (build directory build/coverage)
# prints the summary, writes an HTML report to <build>/coverage/index.html,
# and lists every place that raises an error which no test reached.
# VESK_COVERAGE_BUILD chooses another build directory.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${VESK_COVERAGE_BUILD:-build/coverage}
scripts/setup.sh build tests coverage

cmake --preset coverage -B "$build" >/dev/null
cmake --build "$build" -j2
find "$build" -name '*.gcda' -delete
# The fault tests run the program as nobody when they run as root; let those
# runs record their counts too: every count file and directory is made, and
# stays, writable by all.
find "$build" -type d -exec chmod a+rwx {} +

status=0
(umask 000 && ctest --test-dir "$build" --output-on-failure) || status=$?

report="$build/coverage"
mkdir -p "$report"
gcovr --root . --object-directory "$build" \
  --filter 'src/' --exclude '.*_test\.cpp$' --exclude '.*/test_[a-z_]*\.h$' \
  --exclude-unreachable-branches --exclude-throw-branches \
  --json "$report/coverage.json" --html-details "$report/index.html" \
  --txt "$report/summary.txt" --print-summary

# Error sites: lines that throw or report a failure. Each should have run.
python3 - "$report/coverage.json" <<'PY'
import json, re, sys
data = json.load(open(sys.argv[1]))
site = re.compile(r'\bthrow\b|\bfail\(|failCheck\(|\berror\(')
missed = []
for f in data["files"]:
    name = f["file"]
    try:
        text = open(name, encoding="utf-8", errors="replace").read().splitlines()
    except OSError:
        continue
    for line in f["lines"]:
        number = line["line_number"]
        source = text[number - 1] if number <= len(text) else ""
        if line["count"] == 0 and site.search(source) and not source.lstrip().startswith("//"):
            missed.append(f"{name}:{number}: {source.strip()}")
print(f"error sites not reached by any test: {len(missed)}")
for m in missed:
    print("  " + m)
PY
exit $status
