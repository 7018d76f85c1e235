#!/usr/bin/env bash
# Builds the libFuzzer harnesses (preset fuzz: clang, ASan, UBSan), seeds
# their corpora and runs each for a fixed time, then prints the executions
# per harness and every finding.
#
# A finding (crash, sanitizer report, leak, timeout) is kept under
# build/fuzz/findings/<harness>/ and listed. Findings do not fail the step
# unless --strict is given: the gate is the replay of fuzz/regressions/ in
# the ordinary test builds, where a fixed crash's input is kept.
#
# Usage: fuzz/run.sh [--strict] [SECONDS-PER-HARNESS (default 20)]
set -euo pipefail
cd "$(dirname "$0")/.."
strict=0
if [ "${1:-}" = --strict ]; then strict=1; shift; fi
seconds=${1:-20}
build=build/fuzz
bin=$build/fuzz  # where the fuzz/ folder's programs land

harnesses=()
for source in fuzz/*.cpp; do harnesses+=("$(basename "$source" .cpp)"); done
targets=(fuzz_pack_tree)
for h in "${harnesses[@]}"; do targets+=("fuzz_$h"); done

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)" --target "${targets[@]}"
fuzz/seeds.sh "$bin/fuzz_pack_tree" "$build/seeds"

# The whole-tree harness writes a tree per input: memory is faster than disk.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
summary=()
findings=0
for h in "${harnesses[@]}"; do
  corpus=$build/corpus/$h
  found=$build/findings/$h
  # Each run starts from the seeds, so that its time goes to new inputs
  # rather than to replaying the last run's corpus.
  rm -rf "$corpus"
  mkdir -p "$corpus" "$found"
  log=$build/logs/$h.log
  mkdir -p "$(dirname "$log")"
  : >"$log"
  # A crash ends a libFuzzer run; the harness is started again for the time
  # that is left, so one known fault does not hide the others.
  # Short texts exercise the text helpers as well as long ones, many times
  # faster; whole trees beyond 64 KiB mostly cost file-system time.
  options=()
  case $h in
    text_helpers) options+=(-max_len=4096) ;;
    sysroot) options+=(-max_len=65536) ;;
    # Past the seeds' size, so that a cost that grows with the square of
    # the input shows as a timeout.
    report_reader | load_export) options+=(-max_len=4194304) ;;
  esac
  [ -f "fuzz/dict/$h.dict" ] && options+=(-dict="fuzz/dict/$h.dict")
  executions=0
  crashes=0
  deadline=$((SECONDS + seconds))
  while [ $((deadline - SECONDS)) -gt 0 ]; do
    left=$((deadline - SECONDS))
    status=0
    "$bin/fuzz_$h" -max_total_time="$left" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      ${options[@]+"${options[@]}"} -artifact_prefix="$found/" "$corpus" "$build/seeds/$h" >>"$log" 2>&1 || status=$?
    units=$(grep -a 'stat::number_of_executed_units' "$log" | tail -n1 | awk '{print $2}')
    # The final statistics are missing after a crash: count what the last
    # status line reported instead.
    if [ $status -ne 0 ]; then
      crashes=$((crashes + 1))
      units=$(grep -aoE '^#[0-9]+' "$log" | tail -n1 | tr -d '#')
    fi
    executions=$((executions + ${units:-0}))
    echo "--- run ended (exit $status)" >>"$log"
    [ $status -eq 0 ] && break
    [ $crashes -ge 5 ] && break
  done
  line=$(printf '%-14s %10d executions in %3d s' "$h" "$executions" "$seconds")
  if [ $crashes -gt 0 ]; then
    findings=$((findings + crashes))
    line+=" - $crashes finding(s) in $found/:"
    while IFS= read -r s; do line+=$'\n'"    $s"; done < <(grep -aE '^SUMMARY:|what\(\):|runtime error:|ERROR: AddressSanitizer' "$log" | sed 's/==[0-9]*==//' | sort | uniq -c)
  fi
  summary+=("$line")
done

echo "Fuzzing, $seconds s per harness (logs in $build/logs/):"
printf '%s\n' "${summary[@]}"
if [ $findings -gt 0 ]; then
  echo "$findings finding(s); each needs a fix and its input in fuzz/regressions/<harness>/."
  [ $strict -eq 1 ] && exit 1
fi
exit 0
