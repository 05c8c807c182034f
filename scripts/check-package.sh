#!/usr/bin/env bash
# Checks the Debian package made by scripts/package.sh: lintian must find no
# error; as root it is then installed with apt, its programs, manual pages
# (the Russian ones too), desktop entry, AppStream data and completion are
# looked for where a user's system finds them, and it is purged again.
#   usage: scripts/check-package.sh path/to/orvane_VERSION_ARCH.deb
set -euo pipefail
deb=$(realpath "${1:?usage: scripts/check-package.sh orvane_VERSION_ARCH.deb}")
version=$(dpkg-deb --field "$deb" Version)

fail() {
  echo "package check failed: $*" >&2
  exit 1
}

echo "lintian $deb"
lintian --fail-on error "$deb" || fail "lintian reports errors (the E: lines above)"

if [ "$(id -u)" -ne 0 ]; then
  echo "Not running as root: the install check of the package is skipped."
  exit 0
fi

# A failed check still leaves the machine without the package.
trap 'apt-get remove --purge -y -qq orvane >/dev/null || true' EXIT
(cd "$(dirname "$deb")" && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$(basename "$deb")")

[ "$(command -v orvane-cli)" = /usr/bin/orvane-cli ] || fail "orvane-cli is not /usr/bin/orvane-cli"
for program in orvane orvane-cli orvane-sim; do
  printed=$("/usr/bin/$program" --version) || fail "$program --version exits with status $?"
  [ "$printed" = "orvane $version" ] || fail "$program --version prints \"$printed\", not \"orvane $version\""
  page=$(man -w "$program") ||
    fail "man -w $program finds no manual page (does a path-exclude in /etc/dpkg/dpkg.cfg.d drop /usr/share/man?)"
  [ "$page" = "/usr/share/man/man1/$program.1.gz" ] || fail "man -w $program finds $page"
done
# The Russian pages, under their English names, where man looks under a
# Russian locale.
for program in orvane-cli orvane-sim; do
  page=$(man -w -L ru "$program") || fail "man -w -L ru $program finds no manual page"
  [ "$page" = "/usr/share/man/ru/man1/$program.1.gz" ] ||
    fail "man -w -L ru $program finds $page, not the Russian page (does a path-exclude in /etc/dpkg/dpkg.cfg.d drop /usr/share/man/ru?)"
done
for file in /usr/share/applications/orvane.desktop \
  /usr/share/metainfo/com.veltranix.orvane.metainfo.xml \
  /usr/share/bash-completion/completions/orvane-cli \
  /usr/share/icons/hicolor/32x32/apps/orvane.png \
  /usr/share/doc/orvane/copyright; do
  [ -f "$file" ] || fail "$file is missing after the install"
done
desktop-file-validate /usr/share/applications/orvane.desktop || fail "the desktop entry does not validate"
appstreamcli validate --no-net /usr/share/metainfo/com.veltranix.orvane.metainfo.xml ||
  fail "the AppStream data does not validate"
trap - EXIT
DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -qq orvane || fail "apt-get could not remove orvane"
[ ! -e /usr/bin/orvane-cli ] || fail "/usr/bin/orvane-cli is still there after the removal"
echo "package $version installed, checked and removed again"
