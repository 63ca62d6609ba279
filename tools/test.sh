#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test: the unit, integration
# and UI tests, then the same tests built with the address and undefined-behaviour
# sanitizers, the integration tests under the thread sanitizer, and the fuzzers
# for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh --test
jobs=$(nproc)

echo "== build and test"
# The tests on, also in a build folder tools/start.sh made without them.
tools/configure.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRARUR_TESTS=ON
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

echo "== package"
tools/check_package.sh build

echo "== address and undefined-behaviour sanitizers"
tools/configure.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DRARUR_SANITIZE=address,undefined
cmake --build build-asan -j "$jobs"
(cd build-asan && UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ASAN_OPTIONS=detect_leaks=0 \
   ctest --output-on-failure -j "$jobs")

echo "== thread sanitizer (integration tests)"
tools/configure.sh build-tsan -DCMAKE_BUILD_TYPE=Debug -DRARUR_SANITIZE=thread
# A thread-sanitizer build that does not build fails the run: it must never
# fall back quietly to weaker checks.
cmake --build build-tsan -j "$jobs" --target integration-tests unit-tests
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -R '^(integration|unit)$')

echo "== fuzzers"
# Optimised, as the fuzzers run for a fixed time: more inputs in it.
CC=clang CXX=clang++ tools/configure.sh build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRARUR_FUZZ=ON \
  -DRARUR_TESTS=ON -DRARUR_SANITIZE=address,undefined
cmake --build build-fuzz -j "$jobs" --target fuzzers >/dev/null
# Every fuzzer by name: one that is missing or was not built fails the run
# rather than being skipped. Eight of them at FUZZ_SECONDS each: about five
# minutes with the build.
fuzzers=(fuzz_response_check fuzz_frame_wrapping fuzz_modem_protocol fuzz_journal fuzz_battery_records
         fuzz_settings_image fuzz_settings_file fuzz_spreadsheet_xml)
for name in tests/fuzz/fuzz_*.cpp; do
  name=$(basename "$name" .cpp)
  [[ " ${fuzzers[*]} " == *" $name "* ]] || { echo "fuzzer $name is not listed in tools/test.sh"; exit 1; }
done
for name in "${fuzzers[@]}"; do
  f=build-fuzz/tests/$name
  [ -x "$f" ] || { echo "fuzzer $name was not built"; exit 1; }
  echo "-- $name"
  log=build-fuzz/$name.log
  if ! UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 "$f" -max_total_time="${FUZZ_SECONDS:-30}" \
       -print_final_stats=1 -artifact_prefix=build-fuzz/ >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzzer $name failed (the input is saved in build-fuzz/)"
    exit 1
  fi
  grep '^stat::number_of_executed_units' "$log"
done
echo "all tests passed"
