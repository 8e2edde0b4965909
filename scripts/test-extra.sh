#!/usr/bin/env bash
# The extra CI stage: every test (unit, end-to-end, fault) built and run under
# AddressSanitizer and UBSan, the conversion's unit tests (the part that runs
# a second thread) under ThreadSanitizer, then every fuzz target built with clang and run
# for a short while from its seed corpus. Any sanitizer report, failed test
# or fuzzer finding fails the stage.
#
# Settings (environment): VESK_ASAN_BUILD (build/asan), VESK_TSAN_BUILD
# (build/tsan), VESK_FUZZ_BUILD
# (build/fuzz), VESK_FUZZ_SECONDS (30 per target).
set -euo pipefail
cd "$(dirname "$0")/.."

asan_build=${VESK_ASAN_BUILD:-build/asan}
tsan_build=${VESK_TSAN_BUILD:-build/tsan}
fuzz_build=${VESK_FUZZ_BUILD:-build/fuzz}
fuzz_seconds=${VESK_FUZZ_SECONDS:-30}

scripts/setup.sh build tests fuzz

echo "== tests under AddressSanitizer and UBSan"
cmake --preset asan -B "$asan_build" >/dev/null
cmake --build "$asan_build" -j2
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$asan_build" --output-on-failure

echo "== conversion tests under ThreadSanitizer"
cmake --preset tsan -B "$tsan_build" >/dev/null
cmake --build "$tsan_build" -j2 --target convert_tests
TSAN_OPTIONS=halt_on_error=1 "$tsan_build/convert_tests" --gtest_repeat=3 --gtest_brief=1

echo "== fuzz targets, ${fuzz_seconds} s each"
cmake --preset fuzz -B "$fuzz_build" >/dev/null
# The targets and their seed corpora, as fuzz/CMakeLists.txt lists them.
mapfile -t targets <"$fuzz_build/fuzz/targets.txt"
names=()
for entry in "${targets[@]}"; do names+=("${entry%% *}"); done
cmake --build "$fuzz_build" -j2 --target "${names[@]}"

artifacts="$fuzz_build/artifacts"
mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for entry in "${targets[@]}"; do
  name=${entry%% *}
  corpus=fuzz/corpus/${entry#* }
  mkdir -p "$work/$name"
  echo "-- $name"
  # New inputs go to the scratch directory; the seed corpus stays as it is.
  if ! TMPDIR="$work" "$fuzz_build/fuzz/$name" -max_total_time="$fuzz_seconds" -timeout=10 \
       -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/$name-" \
       "$work/$name" "$corpus" >"$work/$name.log" 2>&1; then
    tail -n 60 "$work/$name.log"
    echo "$name: finding saved under $artifacts"
    exit 1
  fi
  grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units)' "$work/$name.log" || true
done
echo "== extra stage passed"
