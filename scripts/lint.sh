#!/usr/bin/env bash
# Checks the code layout with clang-format, and runs clang-tidy (with it the
# 60-line limit on functions) over the program and its tests, with the
# settings in .clang-format and .clang-tidy. The Windows sources are read too,
# as the x86_64 mingw-w64 build compiles them (the lint-windows preset).
# Exits non-zero on any finding. Installs what is missing first.
#
#   scripts/lint.sh         check only
#   scripts/lint.sh --fix   first rewrite src/ and tests/ into the layout
#
# Environment:
#   VESK_LINT_BUILD  build directory whose compile_commands.json clang-tidy
#                    reads (default build/lint, configured with the lint preset)
#   VESK_LINT_WINDOWS_BUILD  the same for the Windows files, with the
#                    lint-windows preset (default build/lint-windows)
#   VESK_LINT_JOBS   clang-tidy processes run at once (default 2)
#   VESK_LINT_FILES  a regular expression: clang-tidy reads only the files
#                    whose path it matches (default: every file)
set -euo pipefail
cd "$(dirname "$0")/.."

fix=0
case "${1:-}" in
  "") ;;
  --fix) fix=1 ;;
  *) echo "usage: scripts/lint.sh [--fix]" >&2; exit 2 ;;
esac

build="${VESK_LINT_BUILD:-build/lint}"
windows_build="${VESK_LINT_WINDOWS_BUILD:-build/lint-windows}"
jobs="${VESK_LINT_JOBS:-2}"
# One pinned version: another clang-format lays some lines out differently.
format=clang-format-16
scripts/setup.sh build lint
tidy=$(command -v clang-tidy-16)

mapfile -t sources < <(find src tests -name '*.cpp' -o -name '*.h' | LC_ALL=C sort)

if ((fix)); then
  "$format" -i "${sources[@]}"
fi
echo "== clang-format: ${#sources[@]} files"
"$format" --dry-run --Werror "${sources[@]}"

# Only the platform layer talks to the operating system.
echo "== operating-system headers and _WIN32 outside src/platform"
if grep -rnE '^\s*#\s*include\s*<(windows\.h|unistd\.h|dirent\.h|fcntl\.h|sys/[a-z_]+\.h)>|_WIN32' \
     src --include='*.cpp' --include='*.h' | grep -v '^src/platform/'; then
  echo "lint: only src/platform may include operating-system headers or test _WIN32" >&2
  exit 1
fi

# run-clang-tidy reads each file once, however many entries of the compile
# database name it (every source is built twice: release and trace library).
# The program's files are read for Linux from the lint build, the Windows
# files from the lint-windows build, whose compile commands are the mingw-w64
# compiler's. Only sources of src/ and tests/ are read.
# Configured every time, so that new files and settings are in the database.
cmake --preset lint -B "$build" >/dev/null
cmake --preset lint-windows -B "$windows_build" >/dev/null
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
# tidy WHAT BUILD REGEX [CLANG-TIDY OPTION...]: every file of BUILD's compile
# database whose path matches REGEX.
tidy() {
  local what=$1 dir=$2 files=$3
  shift 3
  echo "== clang-tidy: $what, $jobs at a time"
  if ! run-clang-tidy-16 -quiet -clang-tidy-binary "$tidy" -p "$dir" -j "$jobs" "$@" "$files" \
       >"$log" 2>&1; then
    status=1
  fi
  # The findings without the command lines and counts around them.
  grep -v -F "$tidy " "$log" |
    grep -v -E '^([0-9]+ warnings? (and [0-9]+ errors? )?generated\.|Suppressed [0-9]+ warnings.*|Use -header-filter=.*|Running clang-tidy for .*)$' ||
    true
}
# Every set of files below, narrowed to VESK_LINT_FILES by a lookahead.
only="^(?=.*(?:${VESK_LINT_FILES:-}))"
product="$only$PWD/src/(?!.*_test\.cpp$)(?!.*_windows\.cpp$)"
tests="$only$PWD/(src/.*_test\.cpp|tests/(?!win/).*)$"
windows="$only$PWD/(src/.*_windows\.cpp|tests/win/.*\.cpp)$"
tidy "the program" "$build" "$product"
# In tests: the optional-access check cannot see GoogleTest's
# ASSERT_TRUE(optional), and plain string and vector building reads better
# than tuned code where speed does not matter.
tidy "the tests" "$build" "$tests" \
  -checks=-bugprone-unchecked-optional-access,-performance-inefficient-string-concatenation,-performance-inefficient-vector-operation
# The Windows files themselves; the headers are read in the runs above.
tidy "the Windows files (x86_64-w64-mingw32)" "$windows_build" "$windows" -header-filter='^$'
if ((status != 0)); then
  echo "lint: clang-tidy found problems" >&2
  exit 1
fi
echo "lint: layout and static analysis clean"
