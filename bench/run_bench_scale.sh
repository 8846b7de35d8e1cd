#!/usr/bin/env bash
# The runs at 100,000,000 vectors (`make bench-scale`, not part of CI): makes
# the clustered 100,000,000 x 16 set once (2.1 GB under .bench/) with the
# bench's own generator, and its codebook of 256 code vectors, then prints
# the time and peak memory of one run each of -Q1 TS, -Q1 TS CB,
# -F2 TS > /dev/null and a streamed vqtrain of 20 updates, with their
# targets.
#
# Usage: bench/run_bench_scale.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:?usage: bench/run_bench_scale.sh BUILD_DIR}
make_data=$build/bench/make_bench_data
vqpeek=$build/vqpeek/vqpeek
set=.bench/clustered_100m
vectors=100000000
mkdir -p .bench
[ -f $set.ts ] || "$make_data" $set.ts $vectors clustered 256 1
[ -f $set.cb ] || "$make_data" codebook $set.ts $set.cb 256

# run LABEL TARGET_MB COMMAND...: one run, its wall time and peak memory.
run() {
  local label=$1 limit=$2 start end peak
  shift 2
  start=$(date +%s%N)
  peak=$(/usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1)
  end=$(date +%s%N)
  printf '%-28s %8.2f s %7.0f MB  (target <= %s MB)\n' "$label" \
    "$(awk -v d=$((end - start)) 'BEGIN { print d / 1e9 }')" "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')" \
    "$limit"
}
quiet_limit=$(((4 * vectors + 64 * 1048576) / 1048576))
echo "== 100,000,000 x 16 ($(stat -c %s $set.ts) bytes)"
run "vqpeek -Q1 TS" "$quiet_limit" "$vqpeek" -Q1 $set.ts
run "vqpeek -Q1 TS CB" 512 "$vqpeek" -Q1 $set.ts $set.cb
run "vqpeek -F2 TS > /dev/null" 64 "$vqpeek" -F2 $set.ts
# The codebook training streamed: only a label per vector is held.
run "vqtrain --stream, 20 updates" 205 "$build/vqtrain/vqtrain" -q --stream -i $set.cb -I 20 -t 0 \
  $set.ts .bench/trained_100m.cb
echo "   (target: <= 60 s)"
