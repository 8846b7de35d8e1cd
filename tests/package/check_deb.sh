#!/usr/bin/env bash
# Checks the Debian packages of a build (`make package`): together they hold
# exactly what `cmake --install` installs; the manual page of vqpeek names
# the installed file formats description, and vqpeek, unpacked into a
# directory of its own, serves a program built with find_package.
#
# Usage: tests/package/check_deb.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
debs=("$build"/packages/*_"$version"_*.deb)
deb=$(ls "$build"/packages/vqpeek_"$version"_*.deb)
for package in "${debs[@]}"; do
  dpkg-deb --contents "$package" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||'
done | sort >"$work/packaged"
cmake --install "$build" --prefix "$work/usr" >/dev/null
(cd "$work/usr" && find . ! -type d | sed 's|^\./||' | sort) >"$work/installed"
if ! diff "$work/installed" "$work/packaged"; then
  echo "FAIL: the package and the installation differ (< installed, > packaged)" >&2
  exit 1
fi
echo "ok   $(basename -a "${debs[@]}" | tr '\n' ' ')- $(wc -l <"$work/packaged") files, as installed"

dpkg-deb -x "$deb" "$work/root"
if ! grep -q '/usr/share/doc/vqpeek/file_formats.md' "$work/root/usr/share/man/man1/vqpeek.1"; then
  echo "FAIL: the manual page does not name /usr/share/doc/vqpeek/file_formats.md" >&2
  exit 1
fi
"$source_dir/tests/package/run_consumers.sh" "$source_dir" --prefix "$work/root/usr"

# The Python package, where it was built, imports from its unpacked files.
python_deb=$(ls "$build"/packages/python3-vqpeek_"$version"_*.deb 2>/dev/null || true)
if [ -n "$python_deb" ]; then
  dpkg-deb -x "$python_deb" "$work/python"
  site=$(dirname "$(find "$work/python" -name __init__.py -path '*/vqpeek/*')")/..
  python=$(sed -n 's/^Python3_EXECUTABLE:[A-Z]*=//p' "$build/CMakeCache.txt")
  (cd "$source_dir" && PYTHONPATH="$site" "$python" -c \
    'import vqpeek; print("ok   python3-vqpeek:", len(vqpeek.read_set("examples/blocks.ts")), "vectors")')
fi
