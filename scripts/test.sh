#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the Linux suite, the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, the
# Debian package installed and run, the Windows build under Wine, and each
# benchmark once (figures only, never a gate).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --tests --windows
# Proves the list complete: every command the steps below call resolves.
scripts/install-deps.sh --check --tests --windows
jobs=$(nproc)

cmake --preset dev >/dev/null
cmake --build --preset dev -j"$jobs"
# The store tests run on SQLite and on a private PostgreSQL server that this script starts and stops.
# A test that fails is run once more before it counts: a few of the fleet
# server's and console's tests measure waits that a fully loaded 2-core
# machine can stretch. A test that fails twice still fails the run.
retry=(--repeat until-pass:2)
tests/store/with_postgres.sh ctest --preset dev -j"$jobs" "${retry[@]}"

cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 tests/store/with_postgres.sh ctest --preset asan -j"$jobs" "${retry[@]}"

# Each libFuzzer harness for 20 s (clang, ASan, UBSan): executions and
# findings are printed; the kept crash inputs were replayed by ctest above.
fuzz/run.sh 20

# The benchmarks measure the optimised build, as their figures are meant.
cmake --preset release >/dev/null
benches=()
for source in bench/*.cpp; do
  name=$(basename "$source" .cpp)
  case $name in windows_*) continue ;; esac
  benches+=("bench_$name")
done
cmake --build --preset release -j"$jobs" --target "${benches[@]}"
echo "Benchmarks, optimised build (figures, not a gate):"
for bench in build/release/bench_*; do
  [ -x "$bench" ] || continue
  echo "== $(basename "$bench")"
  runner=()
  arguments=()
  case $bench in *store_load|*server_upload|*console_pages) runner=(tests/store/with_postgres.sh) ;; esac
  # The console's pages at a tenth of the fleet sizes they are measured at
  # by hand (10,000 and 100,000 machines): filling those takes longer than
  # the whole run may. The figures say which sizes they are for.
  case $bench in *console_pages) arguments=(--machines 1000 --big 10000 --scans 10 --big-scans 2) ;; esac
  "${runner[@]}" "$bench" "${arguments[@]}" || echo "(benchmark $(basename "$bench") failed)"
done

echo "Debian package: built, checked by lintian, installed, run and removed:"
packaging/test_deb.sh

echo "Windows build, cross-compiled and tested under Wine:"
.ci/windows.sh
