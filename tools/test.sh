#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test: the unit, integration
# and UI tests, then the same tests built with the address and undefined-behaviour
# sanitizers, the integration tests under the thread sanitizer, and the fuzzers
# for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
jobs=$(nproc)

echo "== build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

echo "== package"
tools/check_package.sh build

echo "== address and undefined-behaviour sanitizers"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRARUR_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j "$jobs"
(cd build-asan && UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ASAN_OPTIONS=detect_leaks=0 \
   ctest --output-on-failure -j "$jobs")

echo "== thread sanitizer (integration tests)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRARUR_SANITIZE=thread >/dev/null
# A thread-sanitizer build that does not build fails the run: it must never
# fall back quietly to weaker checks.
cmake --build build-tsan -j "$jobs" --target integration-tests unit-tests
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -R '^(integration|unit)$')

echo "== fuzzers"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRARUR_FUZZ=ON \
  -DRARUR_TESTS=ON -DRARUR_SANITIZE=address,undefined >/dev/null
cmake --build build-fuzz -j "$jobs" --target fuzzers >/dev/null
shopt -s nullglob
fuzzers=(build-fuzz/tests/fuzz_*)
for f in "${fuzzers[@]}"; do
  [ -x "$f" ] || continue
  echo "-- $(basename "$f")"
  "$f" -max_total_time="${FUZZ_SECONDS:-60}" -print_final_stats=0 2>&1 | tail -n 2
done
echo "all tests passed"
