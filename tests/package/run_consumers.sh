#!/usr/bin/env bash
# Builds examples/read_set.cpp three ways against the library and runs it:
# with find_package and with pkg-config against an installed prefix, and
# with add_subdirectory of the source tree (which must build no tests,
# benchmarks or fuzz targets, and leave the build type to its parent).
#
#   run_consumers.sh SOURCE_DIR BUILD_DIR   install BUILD_DIR (already built)
#   run_consumers.sh SOURCE_DIR --shared    build and install shared libraries (no add_subdirectory),
#                                           without the compression libraries
#   run_consumers.sh SOURCE_DIR --sysroot R  the libraries' packages unpacked into R, found
#                                           as a cross build finds them (no add_subdirectory)
set -euo pipefail
source_dir=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
jobs=$(nproc 2>/dev/null || echo 2)
shared=OFF

case "$2" in
  --shared)
    shared=ON
    # Unoptimised and as a unity build: what is checked is how the shared
    # libraries install and are found, and this builds them quickest. It is
    # also the build without zlib and libzstd.
    cmake -S "$source_dir" -B "$work/build" -DCMAKE_BUILD_TYPE=None -DBUILD_SHARED_LIBS=ON \
      -DCMAKE_UNITY_BUILD=ON -DVQPEEK_COMPRESSION=OFF \
      -DVQPEEK_BUILD_TESTS=OFF -DVQPEEK_BUILD_BENCH=OFF -DVQPEEK_BUILD_EXAMPLES=OFF \
      -DVQPEEK_BUILD_PYTHON=OFF >/dev/null
    cmake --build "$work/build" -j "$jobs" >/dev/null
    cmake --install "$work/build" --prefix "$work/prefix" >/dev/null
    prefix=$work/prefix
    # The installed program finds its shared libraries too.
    "$prefix/bin/vqpeek" -Q1 "$source_dir/examples/blocks.ts" >/dev/null
    # Without the libraries a compressed file is refused by name.
    for pair in gzip:zlib zstd:libzstd; do
      tool=${pair%%:*}
      library=${pair#*:}
      "$tool" -c "$source_dir/examples/blocks.ts" >"$work/blocks.ts.$tool"
      status=0
      "$prefix/bin/vqpeek" -Q1 "$work/blocks.ts.$tool" >"$work/out" 2>"$work/err" || status=$?
      expected="ERROR: The file $work/blocks.ts.$tool is compressed with $tool, which this build cannot read (it was built without $library)."
      if [ "$status" != 255 ] || [ -s "$work/out" ] || [ "$(cat "$work/err")" != "$expected" ]; then
        echo "FAIL: a build without $library on a $tool file: status $status, $(cat "$work/out" "$work/err")" >&2
        exit 1
      fi
    done
    echo "ok   a build without zlib and libzstd names them" ;;
  --sysroot)
    sysroot=$(cd "$3" && pwd)
    prefix=$sysroot/usr
    export PKG_CONFIG_SYSROOT_DIR=$sysroot
    export LD_LIBRARY_PATH=$(dirname "$(find "$prefix" -name 'libvqpeek_cb.so' | head -n 1)") ;;
  *)
    cmake --install "$2" --prefix "$work/prefix" >/dev/null
    prefix=$work/prefix ;;
esac
libdir=$(dirname "$(find "$prefix" -name vqpeek.pc | head -n 1)")/..

expected="examples/blocks.ts: 33 vectors of 16 elements
missing.ts: not read"
check() {  # NAME PROGRAM
  local out
  out=$(cd "$source_dir" && "$2" examples/blocks.ts missing.ts 2>"$work/stderr") || true
  if [ "$out" != "$expected" ]; then
    cat "$work/stderr" >&2
    printf 'FAIL %s: the program printed\n%s\n' "$1" "$out" >&2
    exit 1
  fi
  echo "ok   $1"
}

# The README shows the program as it is.
if ! diff <(sed -n '/^#include <cstdio>/,$p' "$source_dir/examples/read_set.cpp") \
    <(sed -n '/^```cpp$/,/^```$/p' "$source_dir/README.md" | sed '1d;$d'); then
  echo "FAIL: README.md shows another program than examples/read_set.cpp" >&2
  exit 1
fi

# find_package, from the installed CMake package.
cmake -S "$source_dir/tests/package/find_package" -B "$work/find_package" \
  -DCMAKE_PREFIX_PATH="$prefix" -DREAD_SET_SOURCE="$source_dir/examples/read_set.cpp" >/dev/null
cmake --build "$work/find_package" >/dev/null
check "find_package (shared=$shared)" "$work/find_package/read_set"

# pkg-config, from the installed .pc file; under a sysroot it names the
# paths the package installs to, and pkg-config puts the sysroot before them.
export PKG_CONFIG_LIBDIR="$libdir/pkgconfig"
# shellcheck disable=SC2046
g++ -o "$work/pkg_config_read_set" "$source_dir/examples/read_set.cpp" \
  $(pkg-config --cflags --libs vqpeek) -Wl,-rpath,"${sysroot:-}$(pkg-config --variable=libdir vqpeek)"
check "pkg-config (shared=$shared)" "$work/pkg_config_read_set"
# add_subdirectory builds the library once more from its sources: checked
# with static libraries only, the shared ones being checked as installed.
[ "$2" = --sysroot ] || [ "$shared" = ON ] && exit 0

# add_subdirectory of the source tree.
cmake -S "$source_dir/tests/package/subdirectory" -B "$work/subdirectory" \
  -DVQPEEK_SOURCE_DIR="$source_dir" -DBUILD_SHARED_LIBS="$shared" -DCMAKE_UNITY_BUILD=ON \
  -DREAD_SET_SOURCE="$source_dir/examples/read_set.cpp" >/dev/null
if cmake --build "$work/subdirectory" --target help | grep -v / | grep -E 'test|bench|fuzz|gtest'; then
  echo "FAIL add_subdirectory: the parent build got the targets above" >&2
  exit 1
fi
if grep -E '^CMAKE_BUILD_TYPE:[A-Z]+=.+' "$work/subdirectory/CMakeCache.txt"; then
  echo "FAIL add_subdirectory: the build type was set for the parent" >&2
  exit 1
fi
cmake --build "$work/subdirectory" -j "$jobs" --target read_set >/dev/null
check "add_subdirectory (shared=$shared)" "$work/subdirectory/read_set"
