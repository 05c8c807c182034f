#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build with all tests (the
# station records also against a throw-away PostgreSQL server), the Debian
# package made from that build and checked, the core again under
# AddressSanitizer and UBSan, the serial suite under ThreadSanitizer, and a
# bounded fuzz run of the receive path.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
fuzz_seconds=${FUZZ_SECONDS:-60}

scripts/setup.sh

echo "== build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
# The station record tests run against PostgreSQL too: a throw-away server
# of their own unless ORVANE_TEST_PG already names one. Without a server
# those tests are skipped, and say so.
pg_dir=""
if [ -z "${ORVANE_TEST_PG:-}" ]; then
  pg_dir=$(mktemp -d "${TMPDIR:-/tmp}/orvane-pg.XXXXXX")
  trap 'scripts/pg_test_cluster.sh stop "$pg_dir"' EXIT
  if ORVANE_TEST_PG=$(scripts/pg_test_cluster.sh start "$pg_dir"); then
    export ORVANE_TEST_PG
  else
    unset ORVANE_TEST_PG
    echo "The PostgreSQL test server did not start: the PostgreSQL station record tests are skipped"
  fi
fi
ctest --test-dir build --output-on-failure -j "$jobs"
if [ -n "$pg_dir" ]; then
  scripts/pg_test_cluster.sh stop "$pg_dir"
  trap - EXIT
  unset ORVANE_TEST_PG
fi

echo "== Debian package: lintian, then (as root) install, check and remove"
deb=$(scripts/package.sh)
scripts/check-package.sh "$deb"

echo "== AddressSanitizer and UBSan: link, device, simulator"
cmake -S . -B build-asan -G Ninja -DORVANE_SANITIZE=ON -DORVANE_WITH_QT=OFF -DORVANE_BENCH=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== ThreadSanitizer: serial transport"
cmake -S . -B build-tsan -G Ninja -DORVANE_TSAN=ON -DORVANE_BENCH=OFF
cmake --build build-tsan -j "$jobs" --target orvane_serial_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -L serial

echo "== fuzz the receive path for ${fuzz_seconds} s"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DORVANE_FUZZ=ON \
  -DORVANE_WITH_QT=OFF -DORVANE_TESTS=OFF -DORVANE_BENCH=OFF
cmake --build build-fuzz -j "$jobs" --target orvane_fuzz_receive
mkdir -p build-fuzz/corpus
build-fuzz/fuzz/orvane_fuzz_receive -max_total_time="$fuzz_seconds" -print_final_stats=1 \
  build-fuzz/corpus fuzz/seeds 2>&1 | tail -n 20
echo "all test stages passed"
