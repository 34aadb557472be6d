#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; quiet when all are there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build ccache pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    libcrypto++-dev libssl-dev zlib1g-dev libbz2-dev libdeflate-dev libicu-dev
    nlohmann-json3-dev
    libsqlite3-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
