#!/usr/bin/env bash
# Checks the Debian package of a build (`make package`): it holds exactly
# what `cmake --install` installs, its manual page names the installed file
# formats description, and, unpacked into a directory of its own, it serves
# a program built with find_package.
#
# Usage: tests/package/check_deb.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

deb=$(ls -t "$build"/packages/vqpeek_*.deb | head -n 1)
dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' | sort >"$work/packaged"
cmake --install "$build" --prefix "$work/usr" >/dev/null
(cd "$work/usr" && find . ! -type d | sed 's|^\./||' | sort) >"$work/installed"
if ! diff "$work/installed" "$work/packaged"; then
  echo "FAIL: the package and the installation differ (< installed, > packaged)" >&2
  exit 1
fi
echo "ok   $(basename "$deb"): $(wc -l <"$work/packaged") files, as installed"

dpkg-deb -x "$deb" "$work/root"
if ! grep -q '/usr/share/doc/vqpeek/file_formats.md' "$work/root/usr/share/man/man1/vqpeek.1"; then
  echo "FAIL: the manual page does not name /usr/share/doc/vqpeek/file_formats.md" >&2
  exit 1
fi
"$source_dir/tests/package/run_consumers.sh" "$source_dir" --prefix "$work/root/usr"
