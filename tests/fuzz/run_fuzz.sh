#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS
# seconds (default 60). New inputs go to .fuzz/corpus/<target>; crashes to
# .fuzz/artifacts/<target>/. Seeds come from tests/fuzz/corpus/<target>.
#   FUZZ_SECONDS=1800 FUZZ_TARGETS="read_codebook" tests/fuzz/run_fuzz.sh
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD:-build-fuzz}
targets=${FUZZ_TARGETS:-$(ls tests/fuzz/corpus)}

if ! command -v clang++-14 >/dev/null && ! command -v clang++ >/dev/null; then
  echo "clang is needed: apt-get install -y clang libclang-rt-14-dev" >&2
  exit 1
fi
cxx=$(command -v clang++-14 || command -v clang++)
CXX=$cxx cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVQPEEK_FUZZ=ON \
  -DVQPEEK_BUILD_TESTS=OFF -DVQPEEK_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target $(printf 'vqpeek_fuzz_%s ' $targets)

status=0
for target in $targets; do
  corpus=.fuzz/corpus/$target
  artifacts=.fuzz/artifacts/$target
  mkdir -p "$corpus" "$artifacts" .fuzz/logs
  log=.fuzz/logs/$target.log
  echo "== $target: ${seconds}s"
  # -close_fd_mask=3: the targets' own output is noise here; findings are
  # still reported. Allocations above 2 GB count as findings.
  if ! ASAN_OPTIONS=allocator_may_return_null=1 "$build/tests/fuzz/vqpeek_fuzz_$target" \
      -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -close_fd_mask=3 \
      -artifact_prefix="$PWD/$artifacts/" "$PWD/$corpus" "$PWD/tests/fuzz/corpus/$target" \
      >"$log" 2>&1; then
    echo "   FINDING: see $log and $artifacts/"
    status=1
  fi
  grep -E '^#[0-9]+' "$log" | tail -n 1 || true
done
exit $status
