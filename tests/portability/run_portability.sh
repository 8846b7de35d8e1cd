#!/usr/bin/env bash
# The library and program beyond this build: a cross build for 64-bit ARM
# run under qemu-user, and a clang build, both with warnings as errors. Each
# program must give exactly the native program's output: on the bundled
# examples, and in every CLI test of the native test build (the tests run it
# through VQPEEK_UNDER_TEST and compare with their golden files); its
# vqtrain must write exactly the native vqtrain's files.
#
# Usage: tests/portability/run_portability.sh BUILD_DIR   (a native build with tests)
# Needs g++-aarch64-linux-gnu, qemu-user and clang (`.ci/run` installs them).
set -euo pipefail
cd "$(dirname "$0")/../.."
native=$(cd "${1:?usage: run_portability.sh BUILD_DIR}" && pwd)
work=${PORTABILITY_BUILD:-build-portability}
jobs=$(nproc 2>/dev/null || echo 2)
only_program=(-DCMAKE_BUILD_TYPE=Release -DVQPEEK_BUILD_TESTS=OFF -DVQPEEK_BUILD_BENCH=OFF
              -DVQPEEK_BUILD_EXAMPLES=OFF -DCMAKE_CXX_FLAGS=-Werror)

# The command lines of the bundled examples, run from the source tree.
runs=("examples/blocks.ts" "-E -F2 examples/blocks.ts" "-F1 -B examples/blocks.cb"
      "examples/old" "examples/blocks.ts examples/blocks.cb" "-Q1 -E examples/blocks examples/blocks.pa"
      "examples/blocks.ts examples/blocks.pa")

check() {  # NAME COMMAND...
  local name=$1
  shift
  for run in "${runs[@]}"; do
    # shellcheck disable=SC2086
    if ! diff <("$native/vqpeek/vqpeek" $run 2>&1) <("$@" $run 2>&1) >/dev/null; then
      echo "FAIL $name: vqpeek $run differs from the native output" >&2
      exit 1
    fi
  done
  if ! VQPEEK_UNDER_TEST="$*" "$native/tests/vqpeek_tests" >"$work/$name-tests.log" 2>&1; then
    tail -n 30 "$work/$name-tests.log" >&2
    echo "FAIL $name: the CLI tests (log: $work/$name-tests.log)" >&2
    exit 1
  fi
  # vqtrain writes the native files, held and streamed.
  for train in "-k 8 -s 7" "--stream -j 3 -I 50 -t 0 -i examples/blocks.cb"; do
    # shellcheck disable=SC2086
    "$native/vqtrain/vqtrain" -q $train examples/blocks.ts "$work/native.cb" "$work/native.pa"
    # shellcheck disable=SC2086
    "${@/%vqpeek\/vqpeek/vqtrain\/vqtrain}" -q $train examples/blocks.ts "$work/$name.cb" \
      "$work/$name.pa"
    if ! cmp -s "$work/native.cb" "$work/$name.cb" || ! cmp -s "$work/native.pa" "$work/$name.pa"; then
      echo "FAIL $name: vqtrain $train differs from the native files" >&2
      exit 1
    fi
  done
  echo "ok   $name: ${#runs[@]} example runs, 2 trainings and $(grep -c '^\[       OK' "$work/$name-tests.log") tests"
}

mkdir -p "$work"
cmake -S . -B "$work/aarch64" "${only_program[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/aarch64-linux-gnu.cmake" >/dev/null
cmake --build "$work/aarch64" -j "$jobs" >/dev/null
check aarch64 qemu-aarch64 -L /usr/aarch64-linux-gnu "$PWD/$work/aarch64/vqpeek/vqpeek"

cmake -S . -B "$work/clang" "${only_program[@]}" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$work/clang" -j "$jobs" >/dev/null
check clang "$PWD/$work/clang/vqpeek/vqpeek"
