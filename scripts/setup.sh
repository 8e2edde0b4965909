#!/usr/bin/env bash
# The one place that installs what building, testing and packaging vesk needs
# on a Debian machine. Installs only what is missing; run as root, or as a
# user who may use sudo.
#
#   scripts/setup.sh [GROUP...]      (default: build)
#
# Groups:
#   program   compiler, CMake and Ninja: enough for the presets without
#             tests (program, package, the Windows ones)
#   build     the same and GoogleTest, which configuring the presets with
#             tests needs
#   tests     what the end-to-end and fault tests call
#   lint      the pinned clang-format and clang-tidy (run-clang-tidy with it),
#             and the mingw-w64 compiler whose build clang-tidy reads the
#             Windows sources from
#   fuzz      clang, for the sanitizer builds and the fuzz targets
#   coverage  gcovr
#   windows   mingw-w64, Wine, the ja_JP.UTF-8 locale; and wine32:i386, the
#             one optional package (see below)
#   bench     Google Benchmark, hyperfine, and the programs the benchmark runs
#             as peers
#   package   dpkg-dev, lintian, and mingw-w64 for the Windows .zip files
#
# A package mirror may be half-synced: `apt-get update` is retried, and when
# it still fails the install goes on with the package lists there are. What
# counts is whether the packages are installed afterwards; an install that
# leaves one missing is retried, then reported with apt's reason, and the
# script fails. The one exception is wine32:i386: when it cannot be installed
# the reason is written to $VESK_SETUP_STATE/wine32-unavailable and the script
# still succeeds; the Windows stage then builds the 32-bit programs without
# running them and says why.
#
# Environment:
#   VESK_SETUP_DONE     set by scripts/test.sh once it has installed every
#                       group: check only, install nothing, fail on a gap
#   VESK_SETUP_TRIES    attempts of each apt-get step (default 3)
#   VESK_SETUP_PAUSE    seconds between attempts (default 10)
#   VESK_SETUP_STATE    where the wine32 note is kept (default build/setup)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

declare -A group=(
  [program]="cmake ninja-build g++ make"
  [build]="cmake ninja-build g++ make libgtest-dev libgmock-dev"
  [tests]="python3 util-linux"
  [lint]="clang-format-16 clang-tidy-16 g++-mingw-w64-x86-64"
  [fuzz]="clang"
  [coverage]="gcovr"
  [windows]="g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 locales"
  [bench]="libbenchmark-dev gettext-base time python3 python3-yaml hyperfine"
  [package]="dpkg-dev lintian python3 g++-mingw-w64-i686 g++-mingw-w64-x86-64"
)
optional_i386=wine32:i386

tries=${VESK_SETUP_TRIES:-3}
pause=${VESK_SETUP_PAUSE:-10}
state=${VESK_SETUP_STATE:-$root/build/setup}
log=$(mktemp)
trap 'rm -f "$log"' EXIT

say() { echo "setup: $*"; }

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# apt's own reason, from the log of its last run, on one line.
apt_reason() {
  local lines
  lines=$(grep -E '^E:' "$log" | grep -v 'Some index files failed to download' |
    sed -E 's/[[:space:]]+/ /g' | awk '!seen[$0]++' | paste -sd '|' | sed 's/|/; /g')
  echo "${lines:-apt-get gave no reason (exit status $1)}"
}

apt_get() {
  local status=0
  as_root env DEBIAN_FRONTEND=noninteractive apt-get -q -o DPkg::Lock::Timeout=120 "$@" >"$log" 2>&1 || status=$?
  return "$status"
}

lists_updated=0
update_reason=""
# Refreshes the package lists once per run, retrying a failed refresh.
update_lists() {
  ((lists_updated)) && return 0
  lists_updated=1
  local try status
  for ((try = 1; try <= tries; try++)); do
    status=0
    apt_get update || status=$?
    if ((status == 0)); then
      update_reason=""
      return 0
    fi
    update_reason=$(apt_reason "$status")
    say "apt-get update failed (attempt $try of $tries): $update_reason"
    ((try < tries)) && sleep "$pause"
  done
  say "going on with the package lists there are"
}

missing_of() {
  local p
  for p in "$@"; do installed "$p" || echo "$p"; done
}

install_reason=""
# Installs the packages; succeeds when every one of them is installed after.
# Between attempts the lists are fetched again: the mirror may have caught up.
install_packages() {
  local try status left
  for ((try = 1; try <= tries; try++)); do
    if ((try > 1)); then
      sleep "$pause"
      apt_get update || true
    fi
    status=0
    apt_get install -y "$@" || status=$?
    left=$(missing_of "$@" | paste -sd ' ')
    [[ -z $left ]] && return 0
    install_reason=$(apt_reason "$status")
    say "installing $left failed (attempt $try of $tries): $install_reason"
  done
  return 1
}

check_only() {
  local left
  left=$(missing_of "$@" | paste -sd ' ')
  [[ -z $left ]] && return 0
  say "missing: $left (scripts/setup.sh installs them)" >&2
  return 1
}

wants_windows=0
wanted=()
(($#)) || set -- build
for name in "$@"; do
  if [[ -z ${group[$name]+set} ]]; then
    echo "usage: scripts/setup.sh [GROUP...], groups: ${!group[*]}" >&2
    exit 2
  fi
  [[ $name == windows ]] && wants_windows=1
  read -r -a list <<<"${group[$name]}"
  wanted+=("${list[@]}")
done
mapfile -t wanted < <(printf '%s\n' "${wanted[@]}" | awk '!seen[$0]++')

if [[ -n ${VESK_SETUP_DONE:-} ]]; then
  check_only "${wanted[@]}"
  exit
fi

mapfile -t missing < <(missing_of "${wanted[@]}")
if ((${#missing[@]})); then
  say "installing ${missing[*]}"
  update_lists
  if ! install_packages "${missing[@]}"; then
    left=$(missing_of "${missing[@]}" | paste -sd ' ')
    say "could not install $left: $install_reason" >&2
    [[ -n $update_reason ]] && say "the package lists are incomplete: $update_reason" >&2
    exit 1
  fi
fi

if ((wants_windows)); then
  # Under ja_JP.UTF-8 Wine uses the ANSI code page 932, which the code-page
  # tests rely on.
  if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
    say "generating the ja_JP.UTF-8 locale"
    as_root sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
  fi

  mkdir -p "$state"
  note="$state/wine32-unavailable"
  if installed "$optional_i386"; then
    rm -f "$note"
  else
    dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
    lists_updated=0
    say "installing $optional_i386"
    update_lists
    if install_packages "$optional_i386"; then
      rm -f "$note"
    else
      reason="$optional_i386 could not be installed: $install_reason"
      [[ -n $update_reason ]] && reason+="; package lists incomplete: $update_reason"
      echo "$reason" >"$note"
      say "$reason"
      say "the 32-bit Windows programs will be built but not run"
    fi
  fi
fi
