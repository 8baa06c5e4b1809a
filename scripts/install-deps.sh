#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages iamlink needs to build, test and benchmark.
# Only what is missing is installed, so a second run costs a dpkg query.
set -euo pipefail

packages=(
    cmake ninja-build g++ make pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev   # QtCore, QtNetwork, QtWidgets, QtTest, uic/moc
    openssl ca-certificates                     # TLS at run time; throwaway test certificates
    xdg-utils                                   # the desktop's URL opener, used by iamlink-cli
    libbenchmark-dev                            # bench/
    python3-botocore                            # tests/e2e checks signatures with it; bench/ compares with it
    awscli hyperfine                            # what the command-line benchmark compares with, and times
    postgresql postgresql-client                # tests/e2e: a throwaway server and psql
)

# `install-deps.sh fuzz` adds what `make fuzz` needs: clang and its libFuzzer runtime.
if [ "${1:-}" = fuzz ]; then packages+=(clang libclang-rt-dev); fi

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
$sudo apt-get install -y -q "${missing[@]}"
