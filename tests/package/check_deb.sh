#!/usr/bin/env bash
# Checks the Debian packages that debian/make_packages.sh made: together they
# hold exactly what the installation of their builds holds (with compressed
# manual pages, and the copyright file and changelog of each package); the
# manual page names the installed file formats description; libvqpeek-dev
# and the library package (libvqpeek-cb<SONAME version>) alone, unpacked
# into a directory as a cross build would, serve programs built with
# find_package and with pkg-config; the program
# and the Python module (for the system's interpreter, which it was built
# for) run from their unpacked files.
#
# Usage: tests/package/check_deb.sh SOURCE_DIR PACKAGES_DIR
set -euo pipefail
source_dir=$(cd "$1" && pwd)
packages=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

version=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)
library=$(sed -n 's/^Package: \(libvqpeek-cb.*\)$/\1/p' "$source_dir/debian/control")
names=("$library" libvqpeek-dev vqpeek python3-vqpeek)
for name in "${names[@]}"; do
  deb=$(ls "$packages/${name}_${version}"_*.deb)
  dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' >"$work/$name.files"
  for file in copyright changelog.gz; do
    grep -qx "usr/share/doc/$name/$file" "$work/$name.files" || {
      echo "FAIL: $name has no usr/share/doc/$name/$file" >&2
      exit 1
    }
  done
  dpkg-deb -x "$deb" "$work/$name"
done
cat "$work"/*.files | grep -v -E '^usr/share/doc/[^/]+/(copyright|changelog\.gz)$|^usr/share/lintian/' |
  sed -E 's|^(usr/share/man/.*)\.gz$|\1|' | sort >"$work/packaged"
(cd "$packages/tree/debian/tmp" && find . ! -type d | sed 's|^\./||') |
  grep -v -x -F -f <(grep -v '^#' "$source_dir/debian/not-installed") | sort >"$work/installed"
if ! diff "$work/installed" "$work/packaged"; then
  echo "FAIL: the packages and the installation differ (< installed, > packaged)" >&2
  exit 1
fi
echo "ok   ${names[*]}: $(wc -l <"$work/packaged") files, as installed"

if ! zgrep -q '/usr/share/doc/vqpeek/file_formats.md' "$work/vqpeek/usr/share/man/man1/vqpeek.1.gz"; then
  echo "FAIL: the manual page does not name /usr/share/doc/vqpeek/file_formats.md" >&2
  exit 1
fi

# The development package with the library package it needs, and nothing else.
for name in "$library" libvqpeek-dev; do
  cp -a "$work/$name/." "$work/root"
done
"$source_dir/tests/package/run_consumers.sh" "$source_dir" --sysroot "$work/root"

libdir=$(dirname "$(find "$work/$library" -name 'libvqpeek_cb.so.*')")
out=$(cd "$source_dir" && LD_LIBRARY_PATH=$libdir "$work/vqpeek/usr/bin/vqpeek" -Q1 examples/blocks.ts)
echo "ok   vqpeek: $(wc -l <<<"$out") lines"
(cd "$source_dir" && LD_LIBRARY_PATH=$libdir "$work/vqpeek/usr/bin/vqtrain" -q -k 8 examples/blocks.ts \
  "$work/trained.cb")
[ -f "$work/vqpeek/usr/share/man/man1/vqtrain.1.gz" ] || {
  echo "FAIL: no manual page of vqtrain" >&2
  exit 1
}
echo "ok   vqtrain: $(head -n 4 "$work/trained.cb" | tail -n 1) code vectors"
(cd "$source_dir" && PYTHONPATH="$work/python3-vqpeek/usr/lib/python3/dist-packages" /usr/bin/python3 -c \
  'import vqpeek; print("ok   python3-vqpeek:", len(vqpeek.read_set("examples/blocks.ts")), "vectors")')
