#!/usr/bin/env bash
# Runs scripts/setup.sh and the plan of scripts/test-windows.sh against stubs
# of apt-get, dpkg and dpkg-query that keep their package database in a
# temporary directory, to show what the installer does when the package
# mirror is half-synced: it goes on when the lists cannot be refreshed, it
# lets only wine32:i386 be missing, and it fails on every other gap.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stub="$work/stub"
mkdir -p "$stub/bin"

cat >"$stub/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
package=${!#}
grep -qx -- "$package" "$STUB/db" 2>/dev/null || exit 1
printf 'install ok installed'
STUB
cat >"$stub/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "$*" >>"$STUB/calls"
args=()
for a in "$@"; do [[ $a == -* || $a == DPkg::* ]] || args+=("$a"); done
case "${args[0]}" in
  update)
    if [[ -e $STUB/fail-update ]]; then
      echo "E: Failed to fetch http://mirror/dists/security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
      exit 100
    fi ;;
  install)
    for p in "${args[@]:1}"; do
      if grep -qx -- "$p" "$STUB/broken" 2>/dev/null; then
        echo "E: Unable to correct problems, you have held broken packages."
        exit 100
      fi
    done
    printf '%s\n' "${args[@]:1}" >>"$STUB/db" ;;
esac
STUB
cat >"$stub/bin/dpkg" <<'STUB'
#!/usr/bin/env bash
case "$1" in
  --print-foreign-architectures) cat "$STUB/archs" 2>/dev/null || true ;;
  --add-architecture) echo "$2" >>"$STUB/archs" ;;
esac
STUB
printf '#!/bin/sh\necho ja_JP.utf8\n' >"$stub/bin/locale"
printf '#!/bin/sh\nexec "$@"\n' >"$stub/bin/sudo"
chmod +x "$stub/bin"/*

export STUB="$stub" PATH="$stub/bin:$PATH" VESK_SETUP_PAUSE=0 VESK_SETUP_TRIES=3
export VESK_SETUP_STATE="$work/state"
# The 32-bit loader here is a stub that runs: the kernel is not what is tested.
export VESK_WINE32_LOADER=/bin/true
unset VESK_SETUP_DONE

windows_packages="g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 locales"
passed=0
failed=0
out="$work/out"

# A fresh machine: an empty database, nothing broken, lists that refresh.
fresh() {
  rm -rf "$VESK_SETUP_STATE"
  : >"$stub/db"
  : >"$stub/calls"
  rm -f "$stub/fail-update" "$stub/broken" "$stub/archs"
}

check() {
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name" >&2
    sed 's/^/  | /' "$out" >&2
  fi
}
has() { grep -qF -- "$1" "$out"; }
lacks() { ! grep -qF -- "$1" "$out"; }
installed() { grep -qx -- "$1" "$stub/db"; }
setup() { "$root/scripts/setup.sh" "$@" >"$out" 2>&1; }
plan() { "$root/scripts/test-windows.sh" --plan >"$out" 2>&1; }

fresh
touch "$stub/fail-update"
check "lists that cannot be refreshed: the install goes on" setup build tests
check "the refresh is tried three times" test "$(grep -cw 'update' "$stub/calls")" -eq 3
check "every package of the groups is installed" installed libgtest-dev
check "it says it goes on" has "going on with the package lists there are"

fresh
touch "$stub/fail-update"
echo wine32:i386 >"$stub/broken"
check "wine32 that cannot be installed does not fail the setup" setup windows
check "the 32-bit line gives apt's reason" has "wine32:i386 could not be installed: E: Unable to correct problems, you have held broken packages."
check "the reason names the lists that could not be fetched" has "binary-i386/Packages.xz"
check "i386 is added as an architecture" grep -qx i386 "$stub/archs"
check "the other Windows packages are installed" installed wine64
check "the Windows plan runs" plan
check "the Windows stage says the 32-bit programs are not run, and why" \
  has "win32: the 32-bit Windows programs were built but not run: wine32:i386 could not be installed: E: Unable"
check "the Windows stage still builds both" has "== build: win32 win64"
check "the Windows stage runs the 64-bit programs" has "== run: win64"

fresh
check "where wine32 installs" setup windows
check "nothing is noted" test ! -e "$VESK_SETUP_STATE/wine32-unavailable"
check "the Windows plan runs" plan
check "the 32-bit programs are run" has "== run: win32 win64"
check "nothing is skipped" lacks "not run"

fresh
touch "$stub/fail-update"
echo wine64 >"$stub/broken"
check "any other Windows package that cannot be installed fails the setup" bash -c '! "$0" windows >"$1" 2>&1' "$root/scripts/setup.sh" "$out"
check "the failure names the package and apt's reason" has "could not install"
check "... with wine64" has "wine64"
check "... and apt's reason" has "held broken packages"
check "the Windows stage fails too" bash -c '! "$0" --plan >"$1" 2>&1' "$root/scripts/test-windows.sh" "$out"

fresh
echo cmake >"$stub/broken"
check "a build package that cannot be installed fails the setup" bash -c '! "$0" build >"$1" 2>&1' "$root/scripts/setup.sh" "$out"
check "... naming it" has "could not install cmake"

fresh
check "after a full setup, check-only mode passes" setup build
check "check-only mode fails on a gap without calling apt" \
  bash -c ': >"$2/calls"; ! VESK_SETUP_DONE=1 "$0" windows >"$1" 2>&1 && ! test -s "$2/calls"' "$root/scripts/setup.sh" "$out" "$stub"
check "... and names what is missing" has "missing: $windows_packages"
check "an unknown group is a usage error" bash -c '"$0" nosuch >"$1" 2>&1; test $? -eq 2' "$root/scripts/setup.sh" "$out"

echo "$passed passed, $failed failed"
((failed == 0))
