#!/usr/bin/env bash
# Runs vqpeek in every mode on sets of many shapes and checks that no run
# peaks above 3 x the bytes of its input files + 64 MB (as /usr/bin/time
# measures the peak resident memory), and that each run ends with status 0,
# or with 255 and the dimension message for a codebook of another
# dimension. Prints the peak of each run beside its bound.
#
# Usage: tests/shapes/run_shapes.sh VQPEEK MAKE_SHAPE_DATA WORKDIR small|large
#   small: sizes for CTest (fewer vectors, and the longest vectors at most
#   256 x 256); large: the sizes of `make bench` (dimension 1 x 1 to
#   1024 x 1024, up to 2,000,000 vectors).
set -euo pipefail

vqpeek=${1:?usage: run_shapes.sh VQPEEK MAKE_SHAPE_DATA WORKDIR small|large}
make_data=${2:?}
work=${3:?}
size=${4:-small}
if [ ! -x /usr/bin/time ]; then
  echo "run_shapes.sh: /usr/bin/time is not installed; nothing checked"
  exit 0
fi
mkdir -p "$work"

# name BX BY BYTES named|plain N(large) N(small) [BX BY (small)]
shapes=(
  "1x1_b1 1 1 1 plain 2000000 20000"
  "1x1_b4_named 1 1 4 named 2000000 20000"
  "1x1_b2 1 1 2 plain 2000000 10000"
  "4x4_b1 4 4 1 plain 2000000 10000"
  "4x4_b2_named 4 4 2 named 200000 2000"
  "8x8_b4 8 8 4 plain 100000 1000"
  "16x16_b1_named 16 16 1 named 20000 200"
  "1x64_b1 1 64 1 plain 20000 200"
  "64x64_b2 64 64 2 plain 2000 20"
  "256x256_b1_named 256 256 1 named 20 3 128 64"
  "512x512_b4 512 512 4 plain 3 1 128 128"
  "1024x1x1_b2 1024 1 2 named 1000 10"
  "1024x1024_b1 1024 1024 1 plain 1 1 256 256"
)
# The modes of a run: whether the small check runs it too, the options,
# then which file follows the set (none, the codebook, the codebook of
# another dimension, the partitioning). The small check takes one mode of
# each path through the viewer.
modes=(
  "-|-Q0 -E|"
  "s|-Q1 -S|"
  "-||"
  "s|-F1 -S -E|"
  "s|-F2 -B|"
  "-|-Q1|cb"
  "s|-Q1 -S -E|cb"
  "-||cb"
  "s|-S -B|cb"
  "-|-Q1|other"
  "s|-Q1 -S|other"
  "s||other"
  "s|-Q1|pa"
  "-|-Q1 -S -E|pa"
  "-||pa"
  "s|-S -F2|pa"
)

failed=0
runs=0
printf '%-18s %-14s %-6s %10s %10s  %s\n' shape options second "peak KB" "bound KB" result
for shape in "${shapes[@]}"; do
  read -r name bx by bytes named large small sx sy <<<"$shape"
  n=$large
  if [ "$size" != large ]; then
    n=$small
    bx=${sx:-$bx}
    by=${sy:-$by}
  fi
  prefix=$work/$name.$bx.$by.$n
  if [ ! -f "$prefix.pa" ]; then
    "$make_data" "$prefix" "$bx" "$by" "$bytes" "$named" "$n"
  fi
  for mode in "${modes[@]}"; do
    [ "$size" = large ] || [ "${mode%%|*}" = s ] || continue
    mode=${mode#*|}
    options=${mode%%|*}
    second=${mode#*|}
    files=("$prefix.ts")
    case $second in
      cb) files+=("$prefix.cb") ;;
      other) files+=("$prefix.other.cb") ;;
      pa) files+=("$prefix.pa") ;;
    esac
    input=0
    for f in "${files[@]}"; do input=$((input + $(stat -c %s "$f"))); done
    bound=$(((3 * input + 64 * 1048576) / 1024))
    status=0
    # Under an address-space limit well above the bound, so that a run that
    # balloons fails at once instead of taking the machine's memory.
    # shellcheck disable=SC2086
    (ulimit -v $((bound + 1048576)) &&
      exec /usr/bin/time -o "$work/peak" -f %M "$vqpeek" $options "${files[@]}") >/dev/null \
      2>"$work/stderr" || status=$?
    peak=$(tail -n 1 "$work/peak")
    result=ok
    if [ "$second" = other ]; then
      if [ "$status" != 255 ] || ! grep -q "differ in vector dimension" "$work/stderr"; then
        result="FAILED: status $status, not the dimension message"
      fi
    elif [ "$status" != 0 ]; then
      result="FAILED: status $status: $(head -c 200 "$work/stderr")"
    fi
    if [ "$peak" -gt "$bound" ]; then result="FAILED: above the bound"; fi
    [ "$result" = ok ] || failed=$((failed + 1))
    runs=$((runs + 1))
    printf '%-18s %-14s %-6s %10s %10s  %s\n' "$name" "${options:--}" "${second:--}" "$peak" \
      "$bound" "$result"
  done
done
echo "$runs runs, $failed failed"
[ "$failed" = 0 ]
