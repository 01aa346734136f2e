#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package as Debian builds its own: a fresh build in
# build-deb/ with the flags dpkg-buildflags gives (all hardening on:
# _FORTIFY_SOURCE, the stack protector, full RELRO with -z now, PIE), packed by
# CPack, then checked by lintian.
#
#   scripts/package.sh    build-deb/glassmere_VERSION_ARCH.deb and lintian's report
set -euo pipefail
cd "$(dirname "$0")/.."

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
# CMake takes no CPPFLAGS: the preprocessor's flags (_FORTIFY_SOURCE) go in front.
export CXXFLAGS="$CPPFLAGS $CXXFLAGS"
# Build type None: only the flags above, as Debian's CMake builds use.
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=None \
    -DGLASSMERE_BUILD_TESTS=OFF -DGLASSMERE_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-deb -j"$(nproc)"
rm -f build-deb/glassmere_*.deb
(cd build-deb && cpack -G DEB >/dev/null)
deb=$(ls build-deb/glassmere_*.deb)
echo "$deb"
lintian -i -I -E --pedantic "$deb"
