#!/usr/bin/env bash
# Builds vesk.exe, vesk-trace.exe and the unit tests for 32-bit and 64-bit
# Windows with mingw-w64 (GoogleTest built from Debian's sources in the same
# build), and runs under Wine, in a fresh Wine prefix made in a temporary
# directory, each architecture's unit tests and then the end-to-end suite
# against its two programs.
#
# What it needs comes from scripts/setup.sh (group "windows"). When
# wine32:i386 cannot be installed, both architectures are still built, the
# 32-bit programs and unit tests are not run, and one line says so with
# apt's reason.
#
#   scripts/test-windows.sh          build and test
#   scripts/test-windows.sh --plan   say what would be built and run, and stop
#
# Environment:
#   VESK_E2E_HOST_BUILD  Linux build directory for the e2e_tests program
#                        (default build/e2e-host); reused if already built
#   VESK_E2E_FILTER      optional --gtest_filter for the suite
#   VESK_WIN_ARCHS       architectures to build and test (default "win32 win64")
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
host_build="${VESK_E2E_HOST_BUILD:-build/e2e-host}"
archs="${VESK_WIN_ARCHS:-win32 win64}"
jobs=2
setup_state="${VESK_SETUP_STATE:-$root/build/setup}"

plan=0
case "${1:-}" in
  "") ;;
  --plan) plan=1 ;;
  *) echo "usage: scripts/test-windows.sh [--plan]" >&2; exit 2 ;;
esac

# Whether this kernel runs 32-bit programs at all: one built without IA-32
# emulation refuses them ("Exec format error") even where wine32 installs.
# Empty when it does, else the reason.
no_32bit_reason() {
  local loader=${VESK_WINE32_LOADER:-/usr/lib/wine/wine} out
  [ -x "$loader" ] || return 0
  if ! out=$("$loader" --version 2>&1); then
    echo "this kernel runs no 32-bit programs (${out##*: })"
  fi
}

# Debian's wine command takes the 32-bit loader whenever wine32 is installed.
# Where that loader cannot run, every Wine command here goes through the
# 64-bit loader instead, from a wine of our own first in PATH, which the
# presets' configure also finds as the unit tests' emulator.
pick_wine_loader() {
  [ -z "$(no_32bit_reason)" ] && return 0
  local dir="$root/build/wine64-loader"
  mkdir -p "$dir"
  printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' \
    >"$dir/wine"
  chmod 755 "$dir/wine"
  PATH="$dir:$PATH"
  export PATH
}

# The architectures whose programs run under Wine: 32-bit programs need
# wine32:i386, the one package the installer may fail to get without failing,
# and a kernel that runs 32-bit programs.
choose_runs() {
  run_archs=""
  local arch reason
  for arch in $archs; do
    if [ "$arch" = win32 ] && ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
      reason="wine32:i386 is not installed"
      [ -f "$setup_state/wine32-unavailable" ] && reason=$(cat "$setup_state/wine32-unavailable")
      echo "== win32: the 32-bit Windows programs were built but not run: $reason"
      continue
    fi
    reason=$(no_32bit_reason)
    if [ "$arch" = win32 ] && [ -n "$reason" ]; then
      echo "== win32: the 32-bit Windows programs were built but not run: $reason"
      continue
    fi
    run_archs="$run_archs $arch"
  done
}

build_windows() {
  for arch in $archs; do
    echo "== building $arch"
    cmake --preset "$arch" -DVESK_WINE="$(command -v wine)" >/dev/null
    cmake --build "build/$arch" -j "$jobs"
  done
}

build_host_suite() {
  echo "== building the end-to-end suite for the host"
  if [ ! -f "$host_build/CMakeCache.txt" ]; then
    cmake --preset release -B "$host_build" >/dev/null
  fi
  cmake --build "$host_build" --target e2e_tests -j "$jobs"
}

# A prefix made after wine32 is installed runs 32-bit and 64-bit programs.
make_prefix() {
  WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/vesk-wine-XXXXXX")"
  export WINEPREFIX
  export WINEDEBUG=-all
  # No Mono or Gecko installer dialogs: vesk needs neither.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY
  echo "== creating Wine prefix $WINEPREFIX"
  wine wineboot --init </dev/null >/dev/null 2>&1 || true
  wineserver -w
  # A crash ends the program instead of waiting in the debugger.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >/dev/null 2>&1 || true
  wineserver -w
  # Keep the server and Wine's own services running between the many short
  # runs of the suite. Started here, they hold none of the pipes through which
  # the suite reads a program's output, so no run waits for them to exit.
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
}

# The unit tests of every layer that builds for Windows, through ctest, whose
# emulator (the toolchain's) is Wine.
run_units() {
  local failed=0
  for arch in $run_archs; do
    echo "== unit tests: $arch under Wine"
    if ! ctest --test-dir "build/$arch" --output-on-failure; then
      failed=$((failed + 1))
      echo "!! $arch unit tests failed"
    fi
  done
  return "$failed"
}

run_suite() {
  local failed=0
  local filter=()
  [ -n "${VESK_E2E_FILTER:-}" ] && filter=("--gtest_filter=$VESK_E2E_FILTER")
  for arch in $run_archs; do
    for program in vesk vesk-trace; do
      local trace=0
      [ "$program" = vesk-trace ] && trace=1
      echo "== end-to-end: $arch $program.exe under Wine"
      if ! VESK_PROGRAM="$root/build/$arch/$program.exe" VESK_TRACE_BUILD=$trace VESK_RUNNER=wine \
          "$host_build/tests/e2e_tests" --gtest_brief=1 "${filter[@]}"; then
        failed=$((failed + 1))
        echo "!! $arch $program.exe failed"
      fi
    done
  done
  return "$failed"
}

scripts/setup.sh windows
if ((plan)); then
  echo "== build: $archs"
  choose_runs
  echo "== run:$run_archs"
  exit 0
fi
pick_wine_loader
build_windows
build_host_suite
choose_runs
if [ -z "$run_archs" ]; then
  echo "!! no Windows program can be run here" >&2
  exit 1
fi
trap cleanup EXIT
make_prefix
status=0
run_units || status=1
run_suite || status=1
((status == 0)) || exit 1
echo "== the Windows unit tests and end-to-end runs passed:$run_archs"
