#!/usr/bin/env bash
# Checks the code layout with clang-format and the length of every function
# (scripts/function-size.py), and runs clang-tidy over the program and its
# tests, with the settings in .clang-format and .clang-tidy.
# The Windows sources are read too, for the x86_64 mingw-w64 target with that
# compiler's headers.
# Exits non-zero on any finding. Installs what is missing first.
#
#   scripts/lint.sh         check only
#   scripts/lint.sh --fix   first rewrite src/ and tests/ into the layout
#
# Environment:
#   VESK_LINT_BUILD  build directory whose compile_commands.json clang-tidy
#                    reads (default build/lint; configured when missing)
#   VESK_LINT_JOBS   clang-tidy processes run at once (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."

fix=0
case "${1:-}" in
  "") ;;
  --fix) fix=1 ;;
  *) echo "usage: scripts/lint.sh [--fix]" >&2; exit 2 ;;
esac

build="${VESK_LINT_BUILD:-build/lint}"
jobs="${VESK_LINT_JOBS:-2}"
# One pinned version: another clang-format lays some lines out differently.
format=clang-format-16
tidy=clang-tidy-16
mingw=x86_64-w64-mingw32
scripts/setup.sh build lint

mapfile -t sources < <(find src tests -name '*.cpp' -o -name '*.h' | LC_ALL=C sort)

if ((fix)); then
  "$format" -i "${sources[@]}"
fi
echo "== clang-format: ${#sources[@]} files"
"$format" --dry-run --Werror "${sources[@]}"

# No function longer than a screen: 60 lines, braces included.
echo "== function size"
python3 scripts/function-size.py 60 src tests

# Only the platform layer talks to the operating system.
echo "== operating-system headers and _WIN32 outside src/platform"
if grep -rnE '^\s*#\s*include\s*<(windows\.h|unistd\.h|dirent\.h|fcntl\.h|sys/[a-z_]+\.h)>|_WIN32' \
     src --include='*.cpp' --include='*.h' | grep -v '^src/platform/'; then
  echo "lint: only src/platform may include operating-system headers or test _WIN32" >&2
  exit 1
fi

# The compile database lists every source twice (release and trace library);
# clang-tidy would analyse each entry, so keep one command per file. The
# Windows sources are not in it; they are checked after it.
if [[ ! -f "$build/compile_commands.json" ]]; then
  cmake --preset lint -B "$build" >/dev/null
fi
mkdir -p "$build/tidy"
python3 - "$build/compile_commands.json" "$build/tidy/compile_commands.json" "$PWD" <<'EOF'
import json, os, sys
source, target, root = sys.argv[1], sys.argv[2], sys.argv[3]
seen, kept = set(), []
for entry in json.load(open(source)):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    rel = os.path.relpath(path, root)
    if rel.split(os.sep)[0] in ("src", "tests") and path not in seen:
        seen.add(path)
        kept.append(entry)
json.dump(kept, open(target, "w"), indent=1)
EOF
mapfile -t units < <(python3 -c '
import json, sys
for e in json.load(open(sys.argv[1])): print(e["file"])' "$build/tidy/compile_commands.json")

echo "== clang-tidy: ${#units[@]} files, $jobs at a time"
# In tests: the optional-access check cannot see GoogleTest's
# ASSERT_TRUE(optional), and plain string and vector building reads better
# than tuned code where speed does not matter.
log="$build/tidy/findings.txt"
set +e
printf '%s\n' "${units[@]}" |
  xargs -P "$jobs" -I{} sh -c '
    case "$1" in
      *_test.cpp|*/tests/*)
        extra=--checks=-bugprone-unchecked-optional-access,-performance-inefficient-string-concatenation,-performance-inefficient-vector-operation ;;
      *) extra= ;;
    esac
    exec "$0" -p "$2" --quiet --warnings-as-errors="*" $extra "$1"' \
    "$tidy" {} "$build/tidy" >"$log" 2>&1
status=$?
set -e

# The Windows sources, as the mingw-w64 compiler sees them: clang's own
# Windows target finds the mingw C headers, and takes the C++ library's from
# the compiler the build uses (the posix thread model, as
# cmake/mingw-common.cmake picks it).
mapfile -t windows < <(find src tests -name '*_windows.cpp' -o -path 'tests/win/*.cpp' |
  LC_ALL=C sort)
cxx=$(command -v "$mingw-g++-posix" || command -v "$mingw-g++")
mapfile -t libcxx < <("$cxx" -v -E -x c++ /dev/null 2>&1 |
  sed -n '/search starts here/,/End of search/p' | grep '/include/c++' | sed 's/^ *//')
windowsArgs=(--target="$mingw" -std=c++20 -Isrc)
for dir in "${libcxx[@]}"; do windowsArgs+=(-isystem "$(realpath "$dir")"); done
echo "== clang-tidy: ${#windows[@]} Windows files ($mingw), $jobs at a time"
set +e
printf '%s\n' "${windows[@]}" |
  xargs -P "$jobs" -I{} "$tidy" --quiet --warnings-as-errors="*" {} -- "${windowsArgs[@]}" \
    >>"$log" 2>&1
windowsStatus=$?
set -e
grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' "$log" || true
if ((status != 0 || windowsStatus != 0)); then
  echo "lint: clang-tidy found problems" >&2
  exit 1
fi
echo "lint: layout and static analysis clean"
