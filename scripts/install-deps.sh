#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages iamlink needs to build, test and benchmark, without
# their recommendations. Only what is missing is installed, so a second run costs a dpkg query.
set -euo pipefail

packages=(
    cmake ninja-build g++ make pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev   # QtCore, QtNetwork, QtWidgets, QtTest, uic/moc
    openssl ca-certificates                     # TLS at run time; throwaway test certificates
    xdg-utils desktop-file-utils                # the desktop's URL opener; tests/e2e registers a handler
    libbenchmark-dev                            # bench/
    python3-botocore                            # tests/e2e checks signatures with it; bench/ compares with it
    awscli hyperfine                            # what the command-line benchmark compares with, and times
    postgresql postgresql-client                # tests/e2e: a throwaway server and psql
)

# `install-deps.sh fuzz` adds what `make fuzz` needs: clang and its libFuzzer runtime.
if [ "${1:-}" = fuzz ]; then packages+=(clang libclang-rt-dev); fi
# `install-deps.sh package` adds what `make package` needs: dpkg-shlibdeps and dpkg-buildflags,
# file (CPack finds the executables with it), and the checkers of scripts/check-package.sh.
if [ "${1:-}" = package ]; then packages+=(dpkg-dev file appstream lintian); fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
