#!/bin/sh
# Runs one fuzz target as a bounded, repeatable regression: every seed of the checked-in
# corpus, then mutations from a fixed random seed up to the given number of executions.
# New inputs go to a scratch folder, so the checked-in corpus is never changed; a crash
# leaves its input in the scratch folder's artifacts/.
# Usage: run-regression.sh TARGET CORPUS SCRATCH RUNS
set -eu
target=$1
corpus=$2
scratch=$3
runs=$4
rm -rf "$scratch"
mkdir -p "$scratch/new" "$scratch/artifacts"
exec "$target" -runs="$runs" -seed=1 -timeout=10 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$scratch/artifacts/" "$scratch/new" "$corpus"
