#!/usr/bin/env bash
# Builds the Debian package with the distribution's hardening flags
# (dpkg-buildflags), checks it with lintian (any error or warning fails),
# unpacks it into a temporary root and runs the installed program on the
# example project it ships, checking what it prints and writes, its manual
# pages and its bash completion. Also checks that `cmake --install` lays out
# the same files. With --windows it then builds the .zip packages of the
# win32 and win64 presets and checks their contents. Installs what is
# missing first.
#
#   scripts/package.sh [--windows]
#
# Environment:
#   VESK_PACKAGE_BUILD  Linux build directory (default build/package), which
#                       is configured with the package preset
# Packages are left in <build>/packages/.
set -euo pipefail
cd "$(dirname "$0")/.."
root_dir=$PWD

windows=0
case "${1:-}" in
  "") ;;
  --windows) windows=1 ;;
  *) echo "usage: scripts/package.sh [--windows]" >&2; exit 2 ;;
esac

build="${VESK_PACKAGE_BUILD:-build/package}"
scripts/setup.sh program package

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# check_eq WHAT EXPECTED ACTUAL
check_eq() {
  if [[ "$2" != "$3" ]]; then
    fail "$1"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/    /' || true
  fi
}

echo "== building the Linux programs in $build"
# The preset takes the compiler and linker flags from the environment: every
# hardening feature (bindnow and PIE on top of the default ones). Only this
# configure sees them; the Windows builds below must not.
(
  eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
  cmake --preset package -B "$build" >/dev/null
)
# The one version, from project() in CMakeLists.txt.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ -n $version ]] || { echo "package: no project version in $build/CMakeCache.txt" >&2; exit 1; }
if ! cmake --build "$build" --target vesk vesk-trace vesk_manual -j 2 >"$work/build.log" 2>&1; then
  cat "$work/build.log"
  exit 1
fi

echo "== making the .deb"
# The completion works only where bash-completion loads it.
(cd "$build" && cpack -G DEB -B "$PWD/packages" -D CPACK_DEBIAN_PACKAGE_RECOMMENDS=bash-completion >/dev/null)
deb=$(ls "$build"/packages/vesk_*.deb)
echo "   $deb"

echo "== lintian"
if ! command -v lintian >/dev/null; then
  fail "lintian is not installed"
else
  # Errors and warnings fail; the informational tags are shown, and those
  # of a missing hardening feature fail too.
  findings=$(lintian --display-info --tag-display-limit 0 "$deb" 2>&1 | grep -E '^[EWI]: ' || true)
  [[ -z "$findings" ]] || sed 's/^/   /' <<<"$findings"
  grep -qE '^[EW]: ' <<<"$findings" && fail "lintian reports errors or warnings"
  grep -qE '^I: .*hardening-no-' <<<"$findings" && fail "lintian finds a hardening feature missing"
fi

echo "== checking the package's fields and files"
check_eq "package name" "vesk" "$(dpkg-deb -f "$deb" Package)"
check_eq "package version" "$version" "$(dpkg-deb -f "$deb" Version)"
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "Depends names no libc6"
check_eq "recommended packages" "bash-completion" "$(dpkg-deb -f "$deb" Recommends)"
check_eq "maintainer" "$(sed -n 's/^set(VESK_CONTACT "\(.*\)")$/\1/p' CMakeLists.txt)" \
  "$(dpkg-deb -f "$deb" Maintainer)"
expected_files="./usr/bin/vesk
./usr/bin/vesk-trace
./usr/share/bash-completion/completions/vesk
./usr/share/bash-completion/completions/vesk-trace
./usr/share/doc/vesk/README
./usr/share/doc/vesk/changelog.gz
./usr/share/doc/vesk/copyright
./usr/share/doc/vesk/examples/demo/chapters/epilogue.vsk
./usr/share/doc/vesk/examples/demo/define.vsk
./usr/share/doc/vesk/examples/demo/scenario.vsk
./usr/share/doc/vesk/examples/demo/veskenv.yml
./usr/share/man/man1/vesk-trace.1.gz
./usr/share/man/man1/vesk.1.gz"
check_eq "files in the package" "$expected_files" \
  "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | LC_ALL=C sort)"

echo "== unpacking into a temporary root"
dpkg -x "$deb" "$work/root"
doc="$work/root/usr/share/doc/vesk"
# The copyright file carries the licence word for word (after its header,
# each line indented by one blank, an empty line as " .").
check_eq "licence in the copyright file" "$(sed -n '/^Permission/,$p' LICENSE)" \
  "$(sed -n '/^ Permission/,$p' "$doc/copyright" | sed 's/^ //; s/^\.$//')"
grep -qx "Copyright: $(sed -n 's/^Copyright (c) //p' LICENSE)" "$doc/copyright" ||
  fail "the copyright file names another holder than LICENSE"
zcat "$doc/changelog.gz" >"$work/changelog"
check_eq "changelog version" "$(dpkg-deb -f "$deb" Version)" "$(dpkg-parsechangelog -l "$work/changelog" -S Version)"
check_eq "changelog maintainer" "$(dpkg-deb -f "$deb" Maintainer)" \
  "$(dpkg-parsechangelog -l "$work/changelog" -S Maintainer)"
# Started by its bare name through PATH, vesk works in the current directory.
export PATH="$work/root/usr/bin:$PATH"
check_eq "vesk on PATH" "$work/root/usr/bin/vesk" "$(command -v vesk)"

status=0
printed=$(vesk -version) || status=$?
check_eq "-version status" 0 "$status"
check_eq "-version first line" "VESK VERSION: $version" "$(head -n 1 <<<"$printed" | tr -d '\r')"

if command -v groff >/dev/null; then
  for page in vesk vesk-trace; do
    warnings=$(zcat "$work/root/usr/share/man/man1/$page.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
    check_eq "manual page $page renders without warnings" "" "$warnings"
  done
fi
if command -v man >/dev/null; then
  # The pages in the tree read on their own, from any directory.
  for page in vesk vesk-trace; do
    (cd "$work" && man -l "$root_dir/man/$page.1" 2>&1 | grep -q "^SEE ALSO") ||
      fail "man -l man/$page.1 shows no page"
  done
fi

# The installed completion completes an option name.
completed=$(bash --norc -c 'source "$1"; COMP_LINE="vesk -doif"; COMP_POINT=${#COMP_LINE}
  _vesk; echo "${COMPREPLY[*]}"' - "$work/root/usr/share/bash-completion/completions/vesk-trace")
check_eq "completion of -doif" "-doifmodified" "$completed"

echo "== running the installed vesk on the example project"
cp -r "$work/root/usr/share/doc/vesk/examples/demo" "$work/demo"
cd "$work/demo"
status=0
out=$(vesk) || status=$?
check_eq "first run status" 0 "$status"
check_eq "first run report" "$work/demo/define.vsk => 00.txt
$work/demo/scenario.vsk => 01.txt
$work/demo/chapters/epilogue.vsk => 02.txt" "$out"
crlf() { printf '%s\r\n' "$@"; }
check_eq "out/00.txt" "$(crlf '; definitions shared by every scenario' 'title=The Lighthouse' 'maxpage=30')" \
  "$(cat out/00.txt)"
check_eq "out/01.txt" "$(crlf '; the opening scene' 'show The Lighthouse' 'goto page1')" "$(cat out/01.txt)"
check_eq "out/02.txt" "$(crlf '; found by extraction: it is not listed in veskenv.yml' \
  'show the end of The Lighthouse')" "$(cat out/02.txt)"

# The outputs are newer than their sources, so -doifmodified skips them all;
# a source made newer is converted again, alone.
out=$(vesk)
check_eq "second run report" "$work/demo/define.vsk is not newer than 00.txt
$work/demo/scenario.vsk is not newer than 01.txt
$work/demo/chapters/epilogue.vsk is not newer than 02.txt" "$out"
touch -d '+2 seconds' scenario.vsk
out=$(vesk)
check_eq "run after a change" "$work/demo/define.vsk is not newer than 00.txt
$work/demo/scenario.vsk => 01.txt
$work/demo/chapters/epilogue.vsk is not newer than 02.txt" "$out"

out=$(vesk-trace -version)
check_eq "vesk-trace first line" "change dirctory to " "$(head -n 1 <<<"$out")"

status=0
out=$(vesk -nosuchoption) || status=$?
check_eq "unknown option status" 2 "$status"
cd "$root_dir"

echo "== checking cmake --install"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
check_eq "files installed under the prefix" "$(sed 's|^\./usr/||' <<<"$expected_files")" \
  "$(cd "$work/prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)"

if ((windows)); then
  for arch in win32 win64; do
    dir="build/package-$arch"
    echo "== building the $arch .zip in $dir"
    cmake --preset "$arch" -B "$dir" >/dev/null
    cmake --build "$dir" --target vesk vesk-trace -j 2 >/dev/null
    (cd "$dir" && cpack -G ZIP -B "$PWD/packages" >/dev/null)
    zip="$dir/packages/vesk-$version-$arch.zip"
    echo "   $zip"
    listing=$(python3 -c 'import sys, zipfile
print("\n".join(sorted(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith("/"))))' "$zip")
    top="vesk-$version-$arch"
    check_eq "files in the $arch .zip" "$top/LICENSE.txt
$top/README.txt
$top/examples/demo/chapters/epilogue.vsk
$top/examples/demo/define.vsk
$top/examples/demo/scenario.vsk
$top/examples/demo/veskenv.yml
$top/vesk-trace.exe
$top/vesk.exe" "$listing"
    format=$(python3 -c 'import struct, sys, zipfile
data = zipfile.ZipFile(sys.argv[1]).read(sys.argv[2])
pe = struct.unpack_from("<I", data, 0x3c)[0]
print({0x14c: "i386", 0x8664: "x86-64"}.get(struct.unpack_from("<H", data, pe + 4)[0], "other"))' \
      "$zip" "$top/vesk.exe")
    license=$(python3 -c 'import sys, zipfile
sys.stdout.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]).decode())' "$zip" "$top/LICENSE.txt")
    check_eq "LICENSE.txt in the $arch .zip, in CR LF lines" "$(sed 's/$/\r/' LICENSE)" "$license"
    # README.txt is the English reference on Windows: the whole text, as CR LF.
    readme=$(python3 -c 'import sys, zipfile
sys.stdout.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]).decode())' "$zip" "$top/README.txt")
    check_eq "README.txt in the $arch .zip, in CR LF lines" "$(sed 's/$/\r/' packaging/README-windows.txt)" "$readme"
    check_eq "$arch machine type" "$([[ $arch == win32 ]] && echo i386 || echo x86-64)" "$format"
  done
fi

if ((failures)); then
  echo "package: $failures check(s) failed"
  exit 1
fi
echo "package: all checks passed"
