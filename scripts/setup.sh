#!/usr/bin/env bash
# Installs what the build, the tests, the package and the demo need on
# Debian 12, only what is missing. Run as root (or with sudo available).
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql
  libcli11-dev nlohmann-json3-dev libtomlplusplus-dev
  postgresql
  clang libclang-rt-14-dev
  xvfb xauth fonts-dejavu-core fonts-liberation
  qt6-translations-l10n
  dpkg-dev file lintian appstream desktop-file-utils man-db
  gettext
  libc-l10n  # the C library's own catalogue: system error texts in Russian
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
