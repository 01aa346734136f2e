#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what building, running and testing Glassmere needs on Debian 12.
# Only calls apt-get when a package is missing, so a second run is instant.
#
#   scripts/install-deps.sh          what the build and the tests need
#   scripts/install-deps.sh --fuzz   also clang and libFuzzer, for scripts/fuzz.sh
#   scripts/install-deps.sh --cross  also qemu and the arm64 cross build, for
#                                    scripts/cpu-check.sh and scripts/cross-check.sh
set -euo pipefail

packages=(
    cmake g++ make
    qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-translations-l10n
    libfreeimage-dev libfreeimageplus-dev
    libdeflate-dev libhwy-dev pkg-config zlib1g-dev libseccomp-dev
    libheif-dev libjxl-dev
    libheif-examples libavif-bin libjxl-tools
    libbenchmark-dev libvips-dev pngcheck libjemalloc2
    xvfb xauth
    dpkg-dev lintian
)
if [[ "${1:-}" == "--fuzz" ]]; then
    packages+=(clang-14 libclang-rt-14-dev)
fi
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
if [[ "${1:-}" == "--cross" ]]; then
    # Debian's arm64 packages install beside the amd64 ones (Multi-Arch: same).
    packages+=(qemu-user qemu-user-static imagemagick g++-aarch64-linux-gnu
        qt6-base-dev:arm64 libfreeimage-dev:arm64 libfreeimageplus-dev:arm64
        libdeflate-dev:arm64 zlib1g-dev:arm64 libhwy-dev:arm64 libseccomp-dev:arm64
        libheif-dev:arm64 libjxl-dev:arm64)
    dpkg --print-foreign-architectures | grep -qx arm64 || $sudo dpkg --add-architecture arm64
fi
# Installed: for a name without an architecture, this machine's own (or an
# architecture-independent one), since arm64's may sit beside it.
native=$(dpkg --print-architecture)
installed() {
    local want="$native|all"
    [[ $1 == *:* ]] && want=${1#*:}
    dpkg-query -W -f='${Status} ${Architecture}\n' "${1%%:*}" 2>/dev/null |
        grep -qE "^install ok installed ($want)\$"
}
missing=()
for package in "${packages[@]}"; do
    installed "$package" || missing+=("$package")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
