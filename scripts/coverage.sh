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
# runs record their counts too where they can reach them: every count file
# and directory is made, and stays, writable by all.
find "$build" -type d -exec chmod a+rwx {} +

# Nobody may not enter the build directory of a clone in a private folder (a
# home folder, one made by mktemp -d): its runs write their counts below a
# folder of their own instead (GCOV_PREFIX, set by the tests), which is read
# with the build directory's, next to copies of the notes files.
nobody_counts=$(mktemp -d "${TMPDIR:-/tmp}/vesk-nobody-counts-XXXXXX")
trap 'rm -rf "$nobody_counts"' EXIT
chmod 0777 "$nobody_counts"
export VESK_NOBODY_COUNTS="$nobody_counts"

status=0
(umask 000 && ctest --test-dir "$build" --output-on-failure) || status=$?

counted=()
mirror="$nobody_counts$(realpath "$build")"
if [ -d "$mirror" ]; then
  (cd "$mirror" && find . -name '*.gcda') | while read -r counts; do
    cp "$build/${counts%.gcda}.gcno" "$mirror/${counts%.gcda}.gcno"
  done
  counted=("$mirror")
fi

report="$build/coverage"
mkdir -p "$report"
gcovr --root . --object-directory "$build" "$build" "${counted[@]}" \
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
