#!/usr/bin/env bash
# Makes the Debian package orvane_VERSION_ARCH.deb with CPack in build/ and
# prints its path as the last line of standard output; everything else goes
# to standard error, so deb=$(scripts/package.sh) takes just the path.
# Reuses build/ as scripts/test.sh configures it, and builds only what the
# package holds.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
exec 3>&1 1>&2

scripts/setup.sh
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build build -j "$jobs" --target orvane orvane-cli orvane-sim orvane-icon orvane-package-data

# The version comes from the project() line; the changelog's newest entry
# has to name the same one.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
changelog_version=$(sed -n '1s/^orvane (\([^)]*\)).*/\1/p' packaging/changelog)
if [ "$changelog_version" != "$version" ]; then
  echo "package: packaging/changelog's newest entry is for ${changelog_version:-no version}, the project is $version;" \
    "add an entry for $version first"
  exit 1
fi

deb="$PWD/build/orvane_${version}_$(dpkg --print-architecture).deb"
rm -f "$deb"
(cd build && cpack -G DEB)
if [ ! -f "$deb" ]; then
  echo "package: CPack did not make $deb"
  exit 1
fi
echo "$deb" >&3
