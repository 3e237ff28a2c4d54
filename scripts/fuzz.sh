#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (the fuzz preset) and runs each one
# for SECONDS (default 20), starting from its seed corpus in tests/fuzz/corpus. New
# inputs the fuzzer finds go to build/fuzz/corpus/<target>, crashes to build/fuzz/crashes.
# Prints the executions per target; fails when a target finds a fault.
#
#   scripts/fuzz.sh            # the short run of the test command
#   scripts/fuzz.sh 3600       # an hour per target
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
targets=(ldr settings protocol device_info)

if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  echo "fuzz: clang with libFuzzer is not installed; skipped"
  exit 0
fi

cmake --preset fuzz >/dev/null || exit 1
cmake --build --preset fuzz -j"$(nproc)" --target $(printf 'fuzz-%s ' "${targets[@]//_/-}") >/dev/null || exit 1

status=0
mkdir -p build/fuzz/crashes
for target in "${targets[@]}"; do
  program=build/fuzz/fuzz-${target//_/-}
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  log=build/fuzz/$target.log
  "$program" "$corpus" "tests/fuzz/corpus/$target" -max_total_time="$seconds" \
    -rss_limit_mb=1024 -timeout=10 -artifact_prefix=build/fuzz/crashes/"$target"- >"$log" 2>&1
  rc=$?
  runs=$(grep -Eo 'Done [0-9]+ runs' "$log" | grep -Eo '[0-9]+' | tail -n 1)
  if [ $rc -ne 0 ]; then
    echo "fuzz $target: FAULT FOUND (see $log and build/fuzz/crashes)"
    tail -n 30 "$log"
    status=1
  else
    echo "fuzz $target: ${runs:-?} executions in ${seconds} s, no fault"
  fi
done
exit $status
