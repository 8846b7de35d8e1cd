#!/usr/bin/env bash
# Builds the Debian packages of this source tree with debhelper into
# OUT_DIR, then checks them with lintian, which must report no error and no
# warning. The builds happen in a copy of the source tree, OUT_DIR/tree, so
# that the source tree stays clean.
#
# Usage: debian/make_packages.sh OUT_DIR
# Needs debhelper, dh-python and lintian (`.ci/run` installs them).
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "${1:?usage: make_packages.sh OUT_DIR}"
out=$(cd "$1" && pwd)

# The package version is the project's.
version=$(sed -n 's/^project(vqpeek VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
changelog_version=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)
if [ "$version" != "$changelog_version" ]; then
  echo "FAIL: debian/changelog is at $changelog_version, the project at $version" >&2
  exit 1
fi

# The shared libraries' package is named after their SONAME, which carries
# the major and minor version, as Debian policy asks; no lintian override
# may hide a name that does not match.
soversion=$(cut -d. -f1,2 <<<"$version")
if ! grep -qx "Package: libvqpeek-cb$soversion" "$source_dir/debian/control" ||
  [ ! -f "$source_dir/debian/libvqpeek-cb$soversion.install" ]; then
  echo "FAIL: the library package must be libvqpeek-cb$soversion, after libvqpeek_cb.so.$soversion" \
    "(debian/control and its .install file)" >&2
  exit 1
fi
if grep -qs package-name-doesnt-match-sonames "$source_dir"/debian/*lintian-overrides; then
  echo "FAIL: a lintian override hides a library package named otherwise than its SONAME" >&2
  exit 1
fi

rm -rf "$out/tree" "$out"/*.deb "$out"/*.changes "$out"/*.buildinfo
mkdir -p "$out/tree"
tar -C "$source_dir" --exclude=./.git --exclude='./build*' --exclude=./.bench --exclude=./.fuzz \
  -cf - . | tar -C "$out/tree" -xf -
# -d: the build dependencies are there when the build works; their packages
# need not be (a developer's pybind11 or CMake may come from elsewhere).
(cd "$out/tree" && dpkg-buildpackage -b -us -uc -d --no-sign >"$out/build.log" 2>&1) || {
  tail -n 40 "$out/build.log" >&2
  echo "FAIL: dpkg-buildpackage (log: $out/build.log)" >&2
  exit 1
}
ls "$out"/*.deb

lintian --fail-on error,warning "$out"/*.deb
echo "ok   lintian: no error or warning"
