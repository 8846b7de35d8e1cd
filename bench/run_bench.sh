#!/usr/bin/env bash
# Benchmarks of vqpeek on a training set of 1,000,000 vectors (4x4, one
# byte per element): the in-process figures of vqpeek_bench, then whole runs
# of the program, among them the two-file modes with a codebook of 256
# vectors and with the partitioning that codebook makes. The data are made
# once into .bench/ and kept.
#
# Usage: bench/run_bench.sh BUILD_DIR
# Environment: BENCH_VECTORS (default 1000000), BENCH_RUNS (default 5).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:?usage: bench/run_bench.sh BUILD_DIR}
vectors=${BENCH_VECTORS:-1000000}
runs=${BENCH_RUNS:-5}
mkdir -p .bench

for kind in clustered uniform; do
  file=.bench/${kind}_${vectors}.ts
  if [ ! -f "$file" ]; then
    echo "making $file"
    "$build/bench/make_bench_data" "$file" "$vectors" "$kind" 256 1
  fi
done
set_file=.bench/clustered_${vectors}.ts
codebook_file=.bench/clustered_${vectors}_256.cb
partitioning_file=.bench/clustered_${vectors}_256.pa
if [ ! -f "$codebook_file" ]; then
  echo "making $codebook_file"
  "$build/bench/make_bench_data" codebook "$set_file" "$codebook_file" 256
fi
if [ ! -f "$partitioning_file" ]; then
  echo "making $partitioning_file"
  "$build/bench/make_bench_data" partitioning "$set_file" "$codebook_file" "$partitioning_file"
fi
vqpeek=$build/vqpeek/vqpeek

echo
echo "== in-process"
"$build/bench/vqpeek_bench" "$set_file" "$runs"
"$build/bench/vqpeek_bench" ".bench/uniform_${vectors}.ts" "$runs"

echo
echo "== whole runs (median of $runs, output to /dev/null)"
commands=("$vqpeek $set_file -Q1" "$vqpeek $set_file -F2" "$vqpeek $set_file -F1"
  "$vqpeek $set_file $codebook_file -Q1" "$vqpeek $set_file $partitioning_file -Q1")
if command -v hyperfine >/dev/null; then
  hyperfine --warmup 1 --runs "$runs" --output=null "${commands[@]}"
else
  for command in "${commands[@]}"; do
    times=()
    for ((r = 0; r < runs; r++)); do
      start=$(date +%s%N)
      $command >/dev/null
      end=$(date +%s%N)
      times+=($(((end - start) / 1000000)))
    done
    median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$((runs / 2 + 1))p")
    printf '%-60s %6d ms\n' "$command" "$median"
  done
fi
