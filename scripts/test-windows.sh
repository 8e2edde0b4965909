#!/usr/bin/env bash
# Builds vesk.exe and vesk-trace.exe for 32-bit and 64-bit Windows with
# mingw-w64 and runs the end-to-end suite against all four under Wine, in a
# fresh Wine prefix made in a temporary directory. The test-only
# vesk-platform-probe.exe of each architecture runs the platform operations
# that the program's command line never reaches (VESK_PLATFORM_PROBE).
#
# Installs what is missing (Debian packages; needs root or sudo):
#   g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386 locales
# and the ja_JP.UTF-8 locale, under which Wine uses the ANSI code page 932.
#
# Environment:
#   VESK_E2E_HOST_BUILD  Linux build directory for the e2e_tests program
#                        (default build/e2e-host); reused if already built
#   VESK_E2E_FILTER      optional --gtest_filter for the suite
#   VESK_WIN_ARCHS       architectures to test (default "win32 win64")
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
host_build="${VESK_E2E_HOST_BUILD:-build/e2e-host}"
archs="${VESK_WIN_ARCHS:-win32 win64}"
jobs=2

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

have_package() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

install_packages() {
  local wanted=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386 locales)
  local missing=()
  for p in "${wanted[@]}"; do have_package "$p" || missing+=("$p"); done
  [ ${#missing[@]} -eq 0 ] && return
  echo "== installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

install_japanese_locale() {
  locale -a 2>/dev/null | grep -qix 'ja_JP.utf8' && return
  echo "== generating the ja_JP.UTF-8 locale"
  as_root sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
}

build_windows() {
  for arch in $archs; do
    echo "== building $arch"
    cmake --preset "$arch" -DVESK_WERROR=ON >/dev/null
    cmake --build "build/$arch" --target vesk vesk-trace vesk-platform-probe -j "$jobs"
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

run_suite() {
  local failed=0
  local filter=()
  [ -n "${VESK_E2E_FILTER:-}" ] && filter=("--gtest_filter=$VESK_E2E_FILTER")
  for arch in $archs; do
    for program in vesk vesk-trace; do
      local trace=0
      [ "$program" = vesk-trace ] && trace=1
      echo "== end-to-end: $arch $program.exe under Wine"
      if ! VESK_PROGRAM="$root/build/$arch/$program.exe" VESK_TRACE_BUILD=$trace VESK_RUNNER=wine \
          VESK_PLATFORM_PROBE="$root/build/$arch/vesk-platform-probe.exe" \
          "$host_build/tests/e2e_tests" --gtest_brief=1 "${filter[@]}"; then
        failed=$((failed + 1))
        echo "!! $arch $program.exe failed"
      fi
    done
  done
  return "$failed"
}

install_packages
install_japanese_locale
build_windows
build_host_suite
trap cleanup EXIT
make_prefix
run_suite
echo "== all Windows end-to-end runs passed"
