#!/usr/bin/env bash
# Benchmarks of vqpeek (`make bench`). Makes its data once into .bench/ with
# the project's own writer, then prints:
#  - in-process figures of the reader and the listings (vqpeek_bench);
#  - the exact nearest-vector search alone on every path the processor
#    offers (nearest_bench), and FAISS and scikit-learn on the same data
#    when the Debian packages python3-faiss and python3-sklearn are there
#    (BENCH_INSTALL=1 installs them with libopenblas0-pthread);
#  - every mode of vqpeek on sets of many shapes (tests/shapes/), each
#    run's peak memory beside its bound of 3 x its input + 64 MB;
#  - whole vqpeek runs, medians of BENCH_RUNS runs, with peak memory,
#    among them -Q1 -S TS CB against -Q1 TS CB (the time of the figures),
#    the partition views, and a user's whole job in Python
#    (bench/assign_whole_job.py: numpy, then FAISS or scikit-learn on all
#    threads) against vqpeek -Q1 TS CB;
#  - a summary table against the targets;
#  - the codebook training (vqtrain in-process, held and streamed, and whole
#    runs) against scikit-learn's and FAISS's k-means in-process
#    (bench/train_peers.py), with the same initial codebook, at 1,000,000
#    and 10,000,000 vectors.
#
# Usage: bench/run_bench.sh BUILD_DIR
# Environment: BENCH_RUNS (default 5), BENCH_LARGE=0 skips the set of
# 10,000,000 vectors (about 210 MB on disk and 1 GB of memory).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:?usage: bench/run_bench.sh BUILD_DIR}
runs=${BENCH_RUNS:-5}
large=${BENCH_LARGE:-1}
make_data=$build/bench/make_bench_data
vqpeek=$build/vqpeek/vqpeek
python=/usr/bin/python3
mkdir -p .bench

if [ "${BENCH_INSTALL:-0}" = 1 ] && command -v apt-get >/dev/null; then
  apt-get install -y python3-faiss python3-sklearn libopenblas0-pthread hyperfine >/dev/null
fi

# make_set NAME VECTORS KIND CODEBOOK_SIZE: the training set, a codebook of
# evenly spaced training vectors, and the partitioning it makes.
make_set() {
  local name=$1 vectors=$2 kind=$3 size=$4
  [ -f ".bench/$name.ts" ] || "$make_data" ".bench/$name.ts" "$vectors" "$kind" 256 1
  [ -f ".bench/$name.cb" ] || "$make_data" codebook ".bench/$name.ts" ".bench/$name.cb" "$size"
  [ -f ".bench/$name.pa" ] ||
    "$make_data" partitioning ".bench/$name.ts" ".bench/$name.cb" ".bench/$name.pa"
}
echo "== data (made once into .bench/)"
make_set clustered_1m 1000000 clustered 256
make_set uniform_1m 1000000 uniform 256
make_set clustered_200k 200000 clustered 1024
[ "$large" = 0 ] || make_set clustered_10m_256 10000000 clustered 256

# median_seconds COMMAND...: the median wall time of `runs` runs, output to
# /dev/null.
median_seconds() {
  local times=() start end
  for ((r = 0; r < runs; r++)); do
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    times+=($((end - start)))
  done
  printf '%s\n' "${times[@]}" | sort -n |
    awk -v n="$runs" 'NR == int(n / 2) + 1 { printf "%.3f", $1 / 1e9 }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a > 0 && b > 0) printf "%.1fx", b / a; else print "-" }'; }
# percent BASE TIME: how much TIME adds to BASE.
percent() { awk -v a="$1" -v b="$2" 'BEGIN { if (a > 0) printf "%+.1f %%", (b - a) / a * 100 }'; }

peak_mb() {
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1 | awk '{ printf "%.0f", $1 / 1024 }'
  else
    echo "-"
  fi
}

echo
echo "== the reader, the listings and the steps of the two-file modes, in-process"
"$build/bench/vqpeek_bench" .bench/clustered_1m.ts "$runs" .bench/clustered_1m.cb \
  .bench/clustered_1m.pa

echo
echo "== the exact nearest-vector search alone"
declare -A search faiss sklearn wrong_faiss wrong_sklearn scan
for name in clustered_1m uniform_1m clustered_200k; do
  echo "-- $name"
  out=$("$build/bench/nearest_bench" ".bench/$name.ts" ".bench/$name.cb" "$runs" \
    ".bench/$name.best")
  echo "$out"
  search[$name]=$(echo "$out" | awk '/all threads/ { print $(NF - 1) }')
  scan[$name]=$(echo "$out" | awk '/plain scan/ { print $5 }')
  if [ -x "$python" ]; then
    external=$("$python" bench/compare_external.py ".bench/$name.ts" ".bench/$name.cb" \
      ".bench/$name.best" 3)
    faiss[$name]=$(echo "$external" | awk '$1 == "faiss" { print $2 }')
    sklearn[$name]=$(echo "$external" | awk '$1 == "sklearn" { print $2 }')
    wrong_faiss[$name]=$(echo "$external" | awk '$1 == "faiss" { print $3 }')
    wrong_sklearn[$name]=$(echo "$external" | awk '$1 == "sklearn" { print $3 }')
    echo "$external" | awk '{ printf "%-28s %9s s  (%s vectors not at the nearest distance)\n",
      ($1 == "faiss" ? "FAISS IndexFlatL2, 1 thread" : "scikit-learn, 1 BLAS thread"), $2, $3 }'
  fi
done

echo
echo "== whole runs: median of $runs, peak memory of one more run"
set_1m=.bench/clustered_1m
# whole LABEL COMMAND...: prints a row; leaves the time in $t, the memory in $m.
whole() {
  local label=$1
  shift
  t=$(median_seconds "$@")
  m=$(peak_mb "$@")
  printf '%-46s %8s s %7s MB\n' "$label" "$t" "$m"
}
whole "vqpeek TS -Q1" "$vqpeek" $set_1m.ts -Q1
t_q1=$t m_q1=$m
whole "vqpeek -F2 TS > /dev/null" "$vqpeek" -F2 $set_1m.ts
t_f2=$t m_f2=$m
whole "vqpeek -Q1 TS CB" "$vqpeek" -Q1 $set_1m.ts $set_1m.cb
t_cb=$t m_cb=$m
whole "vqpeek -Q1 -S TS CB (with the figures)" "$vqpeek" -Q1 -S $set_1m.ts $set_1m.cb
t_cb_s=$t
whole "vqpeek -Q1 TS PA" "$vqpeek" -Q1 $set_1m.ts $set_1m.pa
t_pa=$t m_pa=$m
whole "vqpeek TS CB > /dev/null (the partition view)" "$vqpeek" $set_1m.ts $set_1m.cb
t_view_cb=$t m_view_cb=$m
whole "vqpeek TS PA > /dev/null (the partition view)" "$vqpeek" $set_1m.ts $set_1m.pa
t_view_pa=$t m_view_pa=$m
# A user's whole job in Python: load both files with numpy and assign on
# all threads, the interpreter's start and imports included.
t_py_faiss="" t_py_sklearn=""
if [ -x "$python" ] && "$python" -c "import faiss" 2>/dev/null; then
  whole "Python: numpy + FAISS IndexFlatL2, all threads" \
    "$python" bench/assign_whole_job.py faiss $set_1m.ts $set_1m.cb
  t_py_faiss=$t m_py_faiss=$m
fi
if [ -x "$python" ] && "$python" -c "import sklearn" 2>/dev/null; then
  whole "Python: numpy + scikit-learn, all threads" \
    "$python" bench/assign_whole_job.py sklearn $set_1m.ts $set_1m.cb
  t_py_sklearn=$t m_py_sklearn=$m
fi
t_200k=$(median_seconds "$vqpeek" .bench/clustered_200k.ts .bench/clustered_200k.cb -Q1)
m_200k=$(peak_mb "$vqpeek" .bench/clustered_200k.ts .bench/clustered_200k.cb -Q1)
if [ "$large" != 0 ]; then
  echo
  echo "== whole runs at 10,000,000 x 16: median of 3, peak memory of one more run"
  set_10m=.bench/clustered_10m_256
  saved=$runs
  runs=3
  # Each row with its ratio to wc -l, which reads every byte once; the -S
  # rows also with their ratio to the same run without -S.
  whole "cat TS > /dev/null" cat $set_10m.ts
  t_cat_10m=$t
  whole "wc -l TS (reads every byte once)" wc -l $set_10m.ts
  t_wc_10m=$t
  # whole10 LABEL [BASE_TIME BASE_NAME] -- COMMAND...: a row of whole with
  # its ratio to wc -l (and to BASE_NAME's time, when given).
  whole10() {
    local label=$1 base="" base_name=""
    shift
    if [ "$1" != -- ]; then
      base=$1 base_name=$2
      shift 2
    fi
    shift
    t=$(median_seconds "$@")
    m=$(peak_mb "$@")
    printf '%-46s %8s s %7s MB  %s wc -l%s\n' "$label" "$t" "$m" "$(ratio "$t_wc_10m" "$t")" \
      "${base:+, $(ratio "$base" "$t") $base_name}"
  }
  whole10 "vqpeek -Q1 TS" -- "$vqpeek" -Q1 $set_10m.ts
  t_q1_10m=$t m_q1_10m=$m
  whole10 "vqpeek -Q1 -S TS" "$t_q1_10m" "-Q1 TS" -- "$vqpeek" -Q1 -S $set_10m.ts
  t_q1_s_10m=$t
  whole10 "vqpeek -Q1 TS CB" -- "$vqpeek" -Q1 $set_10m.ts $set_10m.cb
  t_cb_10m=$t m_cb_10m=$m
  whole10 "vqpeek -Q1 -S TS CB" "$t_cb_10m" "-Q1 TS CB" -- "$vqpeek" -Q1 -S $set_10m.ts $set_10m.cb
  t_cb_s_10m=$t
  whole10 "vqpeek -Q1 -E TS CB" -- "$vqpeek" -Q1 -E $set_10m.ts $set_10m.cb
  t_10m=$t m_10m=$m
  whole10 "vqpeek -Q0 -S TS" -- "$vqpeek" -Q0 -S $set_10m.ts
  t_q0_s_10m=$t m_q0_s_10m=$m
  whole10 "vqpeek -F2 TS > /dev/null" -- "$vqpeek" -F2 $set_10m.ts
  t_f2_10m=$t m_f2_10m=$m
  whole10 "vqpeek TS CB > /dev/null (the partition view)" "$t_f2_10m" "-F2" -- \
    "$vqpeek" $set_10m.ts $set_10m.cb
  t_view_10m=$t m_view_10m=$m
  whole10 "vqpeek TS PA > /dev/null (the partition view)" "$t_f2_10m" "-F2" -- \
    "$vqpeek" $set_10m.ts $set_10m.pa
  t_view_pa_10m=$t m_view_pa_10m=$m
  t_py_10m=""
  for peer in faiss sklearn; do
    if [ -x "$python" ] && "$python" -c "import $peer" 2>/dev/null; then
      whole "Python: numpy + $peer, all threads" \
        "$python" bench/assign_whole_job.py $peer $set_10m.ts $set_10m.cb
      t_py_10m=$(printf '%s\n' $t_py_10m $t | sort -n | head -n 1)
    fi
  done
  runs=$saved
  n_10m=10000000
  s_10m=$(stat -c %s $set_10m.ts)
fi
echo
echo "== peak memory of every mode on sets of many shapes, beside the bound 3 x input + 64 MB"
tests/shapes/run_shapes.sh "$vqpeek" "$build/bench/make_shape_data" .bench/shapes large ||
  echo "SOME RUNS FAILED (above)"
# What this machine charges for fresh memory alone: the record of 1,000,000
# vectors of 16 elements takes about 96 MB.
fresh=$("$build/bench/nearest_bench" --fresh-memory 96)

# The faster of the Python whole jobs.
t_py=$(printf '%s\n' $t_py_faiss $t_py_sklearn | sort -n | head -n 1)
py_name=python
[ -z "$t_py" ] || { [ "$t_py" = "$t_py_faiss" ] && py_name=FAISS || py_name=scikit-learn; }
mem_limit=121  # 10 % above the 110 MB of the views before they were rebuilt
# row MEASUREMENT DATA TIME MEMORY TARGET
row() { printf '%-34s %-16s %9s %8s  %s\n' "$@"; }
# The memory targets of runs that never hold the set: 4 bytes a vector and
# 64 MB at quiet levels 0 and 1, 64 MB for the listings; the views hold
# the file's bytes and 8 bytes a vector.
quiet_limit() { echo $(( (4 * $1 + 64 * 1048576) / 1048576 )); }
view_limit() { echo $(( ($2 + 8 * $1 + 64 * 1048576) / 1048576 )); }

echo
echo "== summary"
row "measurement" "data" "result" "memory" "target"
row "vqpeek TS -Q1" "1M x 16" "${t_q1} s" "$m_q1 MB" "<= 0.06 s, <= $(quiet_limit 1000000) MB"
row "vqpeek TS -F2 > /dev/null" "1M x 16" "${t_f2} s" "$m_f2 MB" "<= 0.15 s, <= 64 MB"
row "vqpeek TS CB -Q1" "1M x 16, 256" "${t_cb} s" "$m_cb MB" \
  "<= 0.10 s, <= $(quiet_limit 1000000) MB, and >= 5x faster than Python ($(ratio "$t_cb" "$t_py") faster than $py_name)"
row "vqpeek TS PA -Q1" "1M x 16, 256" "${t_pa} s" "$m_pa MB" "<= $(quiet_limit 1000000) MB"
row "time -S adds to TS CB -Q1" "1M x 16, 256" "${t_cb_s} s" "-" \
  "$(percent "$t_cb" "$t_cb_s") (<= 10 %)"
row "vqpeek TS CB > /dev/null" "1M x 16, 256" "${t_view_cb} s" "$m_view_cb MB" \
  "<= 0.25 s, <= 1.5x -F2 (now $(ratio "$t_f2" "$t_view_cb")), <= $mem_limit MB"
row "vqpeek TS PA > /dev/null" "1M x 16, 256" "${t_view_pa} s" "$m_view_pa MB" \
  "<= 0.25 s, <= 1.5x -F2 (now $(ratio "$t_f2" "$t_view_pa")), <= $mem_limit MB"
[ -z "$t_py_faiss" ] || row "Python whole job, FAISS" "1M x 16, 256" "${t_py_faiss} s" \
  "${m_py_faiss:-} MB" "vqpeek TS CB -Q1 $(ratio "$t_cb" "$t_py_faiss") faster"
[ -z "$t_py_sklearn" ] || row "Python whole job, scikit-learn" "1M x 16, 256" "${t_py_sklearn} s" \
  "${m_py_sklearn:-} MB" "vqpeek TS CB -Q1 $(ratio "$t_cb" "$t_py_sklearn") faster"
row "vqpeek TS CB -Q1" "200k x 16, 1024" "${t_200k} s" "$m_200k MB" ""
if [ "$large" != 0 ]; then
  row "vqpeek TS -Q1" "10M x 16" "${t_q1_10m} s" "$m_q1_10m MB" \
    "<= 2x wc -l (now $(ratio "$t_wc_10m" "$t_q1_10m") of $t_wc_10m s; cat $t_cat_10m s), <= $(quiet_limit $n_10m) MB"
  row "time -S adds to TS -Q1" "10M x 16" "${t_q1_s_10m} s" "-" \
    "$(percent "$t_q1_10m" "$t_q1_s_10m") (<= 20 %)"
  row "vqpeek TS CB -Q1" "10M x 16, 256" "${t_cb_10m} s" "$m_cb_10m MB" \
    "$(ratio "$t_wc_10m" "$t_cb_10m") wc -l, <= $(quiet_limit $n_10m) MB"
  row "time -S adds to TS CB -Q1" "10M x 16, 256" "${t_cb_s_10m} s" "-" \
    "$(percent "$t_cb_10m" "$t_cb_s_10m") (<= 20 %)"
  row "vqpeek TS CB -Q1 -E" "10M x 16, 256" "${t_10m} s" "$m_10m MB" \
    "< 5 s, >= 10x faster than Python (now $(ratio "$t_10m" "$t_py_10m")), <= $(quiet_limit $n_10m) MB"
  row "vqpeek TS -Q0 -S" "10M x 16" "${t_q0_s_10m} s" "$m_q0_s_10m MB" \
    "$(ratio "$t_wc_10m" "$t_q0_s_10m") wc -l, <= the file's $((s_10m / 1048576)) MB"
  row "vqpeek TS -F2 > /dev/null" "10M x 16" "${t_f2_10m} s" "$m_f2_10m MB" "<= 64 MB"
  row "vqpeek TS CB > /dev/null" "10M x 16, 256" "${t_view_10m} s" "$m_view_10m MB" \
    "<= 1.5x -F2 (now $(ratio "$t_f2_10m" "$t_view_10m")), <= $(view_limit $n_10m $s_10m) MB"
  row "vqpeek TS PA > /dev/null" "10M x 16, 256" "${t_view_pa_10m} s" "$m_view_pa_10m MB" \
    "<= 1.5x -F2 (now $(ratio "$t_f2_10m" "$t_view_pa_10m")), <= $(view_limit $n_10m $s_10m) MB"
fi
row "exact search alone" "1M x 16, 256" "${search[clustered_1m]} s" "-" ""
row "plain scan, one thread" "1M x 16, 256" "${scan[clustered_1m]} s" "-" \
  "$(ratio "${search[clustered_1m]}" "${scan[clustered_1m]}") the search (>= 20x)"
if [ -n "${faiss[clustered_1m]:-}" ]; then
  row "FAISS IndexFlatL2, 1 thread" "1M x 16, 256" "${faiss[clustered_1m]} s" "-" \
    "$(ratio "${search[clustered_1m]}" "${faiss[clustered_1m]}") the search, $(ratio "$t_cb" "${faiss[clustered_1m]}") the whole run"
  row "scikit-learn, 1 BLAS thread" "1M x 16, 256" "${sklearn[clustered_1m]} s" "-" \
    "$(ratio "${search[clustered_1m]}" "${sklearn[clustered_1m]}") the search, $(ratio "$t_cb" "${sklearn[clustered_1m]}") the whole run"
  for name in uniform_1m clustered_200k; do
    row "FAISS / scikit-learn / search" "$name" "" "-" \
      "${faiss[$name]} s / ${sklearn[$name]} s / ${search[$name]} s"
  done
else
  row "FAISS, scikit-learn" "" "not installed" "-" "BENCH_INSTALL=1 installs them"
fi
echo
echo "$fresh"

echo
echo "== the Python package (read_set: median of $runs; nearest: median of 5 or more)"
if [ -x "$python" ] && [ -d "$build/python/vqpeek" ]; then
  PYTHONPATH=$build/python "$python" bench/python_bench.py $set_1m.ts $set_1m.cb "$runs"
else
  echo "not built (needs python3-dev, python3-numpy and pybind11-dev)"
fi

echo
echo "== codebook training: K = 256 from the same 256 training vectors, 20 updates, threshold 0"
# train_rows NAME: vqtrain in-process (held, streamed) and whole runs,
# scikit-learn and FAISS in-process, and the summary rows with the targets.
train_rows() {
  local name=$1 peer_runs=$2 set=.bench/$1.ts cb=.bench/$1.cb
  local vectors size out ours_t ours_m held_m stream_m sk fa t_peer
  vectors=$(sed -n 4p "$set")
  size=$(stat -c %s "$set")
  out=$("$build/bench/train_bench" "$set" "$cb" 20 "$runs" held)
  echo "$out"
  ours_t=$(awk '{ print $3 }' <<<"$out")
  ours_mse=$(awk '{ print $8 }' <<<"$out")
  "$build/bench/train_bench" "$set" "$cb" 20 1 stream
  whole "vqtrain -i CB -I 20 -t 0 TS (held)" "$build/vqtrain/vqtrain" -q -i "$cb" -I 20 -t 0 \
    "$set" .bench/trained.cb
  held_t=$t held_m=$m
  whole "vqtrain --stream -i CB -I 20 -t 0 TS" "$build/vqtrain/vqtrain" -q --stream -i "$cb" \
    -I 20 -t 0 "$set" .bench/trained.cb
  stream_m=$m
  sk="sklearn - - -" fa="faiss - - -"
  if [ -x "$python" ]; then
    sk=$("$python" bench/train_peers.py sklearn "$set" "$cb" 20 "$peer_runs")
    fa=$("$python" bench/train_peers.py faiss "$set" "$cb" 20 "$peer_runs")
  fi
  echo "$sk" | awk '{ printf "%-46s %8s s %7s MB  MSE %s\n", "scikit-learn KMeans, all threads", $2, $3, $4 }'
  echo "$fa" | awk '{ printf "%-46s %8s s %7s MB  MSE %s\n", "FAISS Kmeans, all threads", $2, $3, $4 }'
  t_peer=$(printf '%s\n%s\n' "$(awk '{ print $2 }' <<<"$sk")" "$(awk '{ print $2 }' <<<"$fa")" |
    grep -v -- - | sort -n | head -n 1)
  local sk_mse
  sk_mse=$(awk '{ print $4 }' <<<"$sk")
  row "vqtrain in-process, held" "$name" "${ours_t} s" "-" \
    ">= 5x faster than the faster peer (now $(ratio "$ours_t" "${t_peer:-0}")), MSE $ours_mse <= 1.002 x $sk_mse ($(awk -v a="$ours_mse" -v b="$sk_mse" 'BEGIN { if (b > 0) printf "%.4f", a / b; else print "-" }'))"
  row "vqtrain TS CB, held" "$name" "${held_t} s" "$held_m MB" \
    "<= set file + 64 MB = $(( (size + 64 * 1048576) / 1048576 )) MB"
  row "vqtrain --stream TS CB" "$name" "-" "$stream_m MB" \
    "<= N x 1 byte + 64 MB = $(( (vectors + 65 * 1048576 - 1) / 1048576 )) MB"
}
row "measurement" "data" "result" "memory" "target"
train_rows clustered_1m 3
if [ "$large" != 0 ]; then
  saved=$runs
  runs=3
  train_rows clustered_10m_256 1
  runs=$saved
fi
