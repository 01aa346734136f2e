#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the core library, glassmere-cli, the decoder and the renderer's and
# codecs' tests for arm64 with Debian's cross compiler and arm64 packages,
# runs the tests under qemu-aarch64, and checks that glassmere-cli there
# writes byte for byte the files this machine's build writes:
#
#   scripts/cross-check.sh        build-arm64/ beside build/ (which it builds too)
#
# Installs what it needs when missing (scripts/install-deps.sh --cross: the
# arm64 architecture in dpkg, g++-aarch64-linux-gnu, qemu-user-static,
# ImageMagick and the :arm64 development packages of Qt, FreeImage,
# libdeflate, zlib and Highway).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${GLASSMERE_BUILD_DIR:-$here/build}
cross=${GLASSMERE_CROSS_BUILD_DIR:-$here/build-arm64}
"$here/scripts/install-deps.sh" --cross

jobs=$(nproc)
# GLASSMERE_TEST_ROWS (a bash array, or one row as a string) picks test
# functions and rows, as Qt Test takes them; all of them by default.
read -r -a GLASSMERE_TEST_ROWS <<<"${GLASSMERE_TEST_ROWS:-}"
tests=(tst_renderer)
# The codecs' own tests, where they have a program of their own.
[[ -f $here/tests/tst_codecs.cpp ]] && tests+=(tst_codecs)
cmake -S "$here" -B "$cross" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/aarch64-linux-gnu.cmake" \
    -DGLASSMERE_CORE_ONLY=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$cross" -j"$jobs" --target glassmere-cli glassmere-decoder "${tests[@]}"
file -L "$cross/bin/glassmere-cli" | grep -q "ARM aarch64"
mkdir -p "$cross/check"

# The tests, each on every instruction set Highway built that the emulated
# processor has (NEON, SVE, SVE2: one row each).
failed=0
for test in "${tests[@]}"; do
    log=$cross/check/$test.log
    status=passed
    # Emulated SVE is slow: a row may take longer than Qt Test's five minutes.
    (cd "$cross/tests" && QT_QPA_PLATFORM=offscreen QTEST_FUNCTION_TIMEOUT=3600000 \
        qemu-aarch64-static "./$test" "${GLASSMERE_TEST_ROWS[@]}" >"$log" 2>&1) ||
        { status=FAILED; failed=1; }
    echo "$test under qemu-aarch64: $status; $(grep -E '^Totals' "$log")"
    grep -E '^FAIL' -A3 "$log" | head -20 || true
    grep -oE '^PASS +: [A-Za-z:]+\((NEON|SVE[A-Z0-9_]*)' "$log" | sed 's/.*(/  rows passed on /' |
        sort | uniq -c || true
done

# glassmere-cli and its decoder in the emulator: a copy of the programs'
# folder whose two programs start the arm64 ones (the decoder is started
# from the program's own folder).
wrapped=$cross/check/bin
rm -rf "$wrapped"
mkdir -p "$wrapped"
for program in glassmere-cli glassmere-decoder; do
    cp "$cross/bin/$program" "$wrapped/$program.real"
    printf '#!/bin/sh\nGLIBC_TUNABLES=${GLIBC_TUNABLES:-glibc.malloc.hugetlb=1} exec qemu-aarch64-static "%s/%s.real" "$@"\n' \
        "$wrapped" "$program" >"$wrapped/$program"
    chmod +x "$wrapped/$program"
done
cmake -S "$here" -B "$build" >/dev/null
cmake --build "$build" -j"$jobs" --target glassmere-cli glassmere-decoder >/dev/null
"$here/scripts/render-cases.sh" "$build/bin" "$cross/check/x86-64"
"$here/scripts/render-cases.sh" "$wrapped" "$cross/check/arm64"
if cmp -s "$cross/check/x86-64/sums" "$cross/check/arm64/sums"; then
    echo "arm64: all $(wc -l <"$cross/check/arm64/sums") results byte-identical to the x86-64 build's"
else
    echo "arm64: results differ from the x86-64 build's:"
    diff "$cross/check/x86-64/sums" "$cross/check/arm64/sums" | head -20
    failed=1
fi
exit $failed
