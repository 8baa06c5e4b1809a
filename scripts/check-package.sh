#!/usr/bin/env bash
# Checks a package that `make package` built: its control fields and files, an install into a
# throwaway root (dpkg --root as root, else an extraction) whose executables must start, the
# desktop entries and metainfo as installed, and lintian (errors fail, warnings are shown).
#
# Usage: check-package.sh iamlink_<version>_<arch>.deb
set -euo pipefail
[ $# -eq 1 ] && [ -f "$1" ] || { echo "usage: $0 PACKAGE.deb" >&2; exit 2; }
deb=$(realpath "$1")
fail() { echo "FAIL: $*" >&2; exit 1; }
root=$(mktemp -d "${TMPDIR:-/tmp}/iamlink-package.XXXXXXXX")
trap 'rm -rf "$root"' EXIT

version=$(dpkg-deb --field "$deb" Version)
echo "$(basename "$deb"): $(du -h "$deb" | cut -f1), $(dpkg-deb --field "$deb" Installed-Size) KiB installed"
dpkg-deb --field "$deb" Depends Recommends
depends=$(dpkg-deb --field "$deb" Depends)
[[ $depends == *libqt6widgets6* && $depends == *xdg-utils* ]] || fail "Depends lacks the Qt libraries or xdg-utils"
[ "$(dpkg-deb --field "$deb" Recommends)" = "postgresql-client, desktop-file-utils" ] || fail "Recommends is not psql and the handler cache"

if [ "$(id -u)" -eq 0 ]; then
    mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
    touch "$root/var/lib/dpkg/status"
    # The root has no libraries of its own: the executables run on this machine's.
    dpkg --root="$root" --force-depends -i "$deb" >/dev/null 2>&1 || fail "dpkg --root could not install it"
else
    dpkg-deb --extract "$deb" "$root"
fi
for file in bin/iamlink bin/iamlink-cli bin/iamlink-psql share/doc/iamlink/copyright share/doc/iamlink/changelog.gz \
    share/man/man1/iamlink.1.gz share/man/man1/iamlink-cli.1.gz share/man/man1/iamlink-psql.1.gz \
    share/applications/io.github.iamlink.iamlink.desktop share/applications/io.github.iamlink.iamlink-psql.desktop \
    share/icons/hicolor/scalable/apps/io.github.iamlink.iamlink.svg share/metainfo/io.github.iamlink.iamlink.metainfo.xml; do
    [ -f "$root/usr/$file" ] || fail "/usr/$file is missing"
done
for program in iamlink-cli iamlink-psql; do
    [ "$("$root/usr/bin/$program" --version)" = "$program $version" ] || fail "$program --version is not $version"
done
! ldd "$root/usr/bin/iamlink" | grep 'not found' || fail "iamlink lacks a library"
desktop-file-validate "$root"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$root"/usr/share/metainfo/io.github.iamlink.iamlink.metainfo.xml
lintian --fail-on error --display-info "$deb" || fail "lintian found errors"
echo "PASS: $(basename "$deb") installs, starts, validates and passes lintian"
