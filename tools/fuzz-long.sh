#!/usr/bin/env bash
# Runs each fuzz target of the portable core for a fixed time and prints, per target, the
# executions, the rate and the crashes found. Configures and builds the clang fuzz build
# first when needed. A target stops at its first crash; the input that caused it is kept
# under <build>/fuzz-long/<target>/artifacts/, and the corpus each target grows is kept
# under <build>/fuzz-long/<target>/corpus/ for the next run.
#
# Usage: tools/fuzz-long.sh [SECONDS [TARGET...]]
#   SECONDS  time per target, default 600
#   TARGET   fuzz_version fuzz_string_table fuzz_mbcs fuzz_download_math fuzz_safe_format
#            (default: all)
# Environment: FUZZ_BUILD_DIR, default build-fuzz in the repository.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
if [ $# -gt 0 ]; then
    shift
fi
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=(fuzz_version fuzz_string_table fuzz_mbcs fuzz_download_math fuzz_safe_format)
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -G Ninja -S "$root" -B "$build" -DSEEKWELL_FUZZ=ON \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null

summary=()
failed=0
for target in "${targets[@]}"; do
    work=$build/fuzz-long/$target
    mkdir -p "$work/corpus" "$work/artifacts"
    log=$work/last-run.log
    before=$(find "$work/artifacts" -type f | wc -l)
    echo "== $target: ${seconds}s" >&2
    rc=0
    "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/" "$work/corpus" "$root/tests/fuzz/corpus/${target#fuzz_}" \
        >"$log" 2>&1 || rc=$?
    after=$(find "$work/artifacts" -type f | wc -l)
    crashes=$((after - before))
    executions=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
    rate=$(awk '/stat::average_exec_per_sec/ {print $2}' "$log")
    corpus=$(find "$work/corpus" -type f | wc -l)
    if [ "$rc" -ne 0 ] || [ "$crashes" -ne 0 ]; then
        failed=1
        grep -E "ERROR|invariant broken|runtime error|Test unit written" "$log" >&2 || true
    fi
    summary+=("$(printf '%-20s %14s %10s %8s %8s %6s' "$target" "${executions:-?}" "${rate:-?}" "$crashes" \
        "$corpus" "$rc")")
done

printf '%-20s %14s %10s %8s %8s %6s\n' target executions exec/s crashes corpus exit
printf '%s\n' "${summary[@]}"
exit "$failed"
