#!/usr/bin/env bash
# The runs at 100,000,000 vectors (`make bench-scale`, not part of CI): makes
# the clustered 100,000,000 x 16 set once (2.1 GB under .bench/) with the
# bench's own generator, and its codebook of 256 code vectors, then prints
# the time and peak memory of one run each of cat and wc -l (reading every
# byte once), -Q1 TS, -Q1 TS CB, -Q1 -S TS CB, -Q0 -S TS and
# -F2 TS > /dev/null and a streamed vqtrain of 20 updates, each with its
# ratio to wc -l (the -S runs also to the same run without -S) and its
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

# run LABEL TARGET COMMAND...: one run, its wall time and peak memory, its
# ratio to wc -l and, when $base is set, to the run named $base_name; the
# time is left in $t.
base="" base_name=""
run() {
  local label=$1 target=$2 start end peak ratios=""
  shift 2
  start=$(date +%s%N)
  peak=$(/usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1)
  end=$(date +%s%N)
  t=$(awk -v d=$((end - start)) 'BEGIN { printf "%.2f", d / 1e9 }')
  [ -z "${t_wc:-}" ] || ratios=$(awk -v a="$t_wc" -v b="$t" 'BEGIN { printf "%.1fx wc -l", b / a }')
  [ -z "$base" ] ||
    ratios="$ratios, $(awk -v a="$base" -v b="$t" 'BEGIN { printf "%+.0f %%", (b - a) / a * 100 }') on $base_name"
  printf '%-28s %8s s %7.0f MB  %-28s %s\n' "$label" "$t" \
    "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')" "$ratios" "$target"
}
bytes=$(stat -c %s $set.ts)
quiet_limit=$(((4 * vectors + 64 * 1048576) / 1048576))
echo "== 100,000,000 x 16 ($bytes bytes), one run each"
run "cat TS > /dev/null" "" cat $set.ts
run "wc -l TS" "" wc -l $set.ts
t_wc=$t
run "vqpeek -Q1 TS" "(target <= 2x wc -l, <= $quiet_limit MB)" "$vqpeek" -Q1 $set.ts
run "vqpeek -Q1 TS CB" "(target <= 2.5 s, <= 64 MB)" "$vqpeek" -Q1 $set.ts $set.cb
base=$t base_name="-Q1 TS CB"
run "vqpeek -Q1 -S TS CB" "(target -S adds <= 20 %)" "$vqpeek" -Q1 -S $set.ts $set.cb
base="" base_name=""
run "vqpeek -Q0 -S TS" "(target <= 6 s, <= $((bytes / 1048576)) MB)" "$vqpeek" -Q0 -S $set.ts
run "vqpeek -F2 TS > /dev/null" "(target <= 64 MB)" "$vqpeek" -F2 $set.ts
# The codebook training streamed: only a label per vector is held.
run "vqtrain --stream, 20 updates" "(target <= 60 s, <= 205 MB)" "$build/vqtrain/vqtrain" -q \
  --stream -i $set.cb -I 20 -t 0 $set.ts .bench/trained_100m.cb
