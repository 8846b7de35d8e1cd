#!/usr/bin/env bash
# Runs vqpeek under valgrind on every example, on compressed copies (one of
# them cut short) and on malformed files from the fuzz corpus; fails on any memory error or any lost block. A run may end
# with status 255 (the malformed files must); what counts is valgrind's
# verdict, given through exit status 99.
#
# Usage: tests/valgrind/run_valgrind.sh VQPEEK_BINARY
set -euo pipefail
cd "$(dirname "$0")/../.."
vqpeek=${1:?usage: run_valgrind.sh VQPEEK_BINARY}

check() {
  local log status
  log=$(mktemp)
  set +e
  valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
    --log-file="$log" "$vqpeek" "$@" </dev/null >/dev/null 2>&1
  status=$?
  set -e
  if [ "$status" = 99 ]; then
    echo "FAIL: vqpeek $*"
    cat "$log"
    rm -f "$log"
    return 1
  fi
  printf 'ok (status %3d): vqpeek %s\n' "$status" "$*"
  rm -f "$log"
}

failed=0
examples=examples
corpus=tests/fuzz/corpus
for args in "$examples/blocks.ts" "-F2 -E $examples/blocks.ts" "-F1 -B $examples/blocks.ts" \
  "$examples/blocks.cb" "$examples/old" "$examples/blocks.ts $examples/blocks.cb" \
  "-B $examples/blocks.ts $examples/blocks.pa" "-Q1 $examples/blocks.ts $examples/blocks.pa"; do
  # shellcheck disable=SC2086
  check $args || failed=1
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
gzip -c "$examples/blocks.ts" >"$work/blocks.ts.gz"
zstd -q -c "$examples/blocks.cb" >"$work/blocks.cb.zst"
head -c 300 "$work/blocks.ts.gz" >"$work/cut.ts.gz"
check "$work/blocks.ts.gz" "$work/blocks.cb.zst" || failed=1
check -S "$work/cut.ts.gz" || failed=1
for bad in "$corpus"/read_codebook/bad_*; do
  check "$bad" || failed=1
done
for bad in "$corpus"/read_partitioning/bad_*; do
  check "$examples/blocks.ts" "$bad" || failed=1
done
exit $failed
