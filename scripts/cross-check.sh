#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the core library, glassmere-cli, the decoder and the renderer's and
# codecs' tests for arm64 with Debian's cross compiler and arm64 packages,
# runs the tests under qemu-aarch64, and checks that glassmere-cli there
# writes byte for byte the files this machine's build writes (its pictures
# decoded by this machine's decoder, see below):
#
#   scripts/cross-check.sh        build-arm64/ beside build/ (which it builds too)
#
# The emulated processor: GLASSMERE_QEMU_CPU, qemu-aarch64's -cpu (handed over
# as QEMU_CPU, so every emulated program started gets it), "max,sve=off" by
# default: every Armv8 feature qemu has but SVE, so Highway takes its NEON
# kernels, and every row of the tests and all of glassmere-cli's cases run on
# them in minutes. qemu emulates SVE and SVE2 vectors many times slower than
# NEON, and on "max" every row would take the slowest, so the SVE rows run
# apart: GLASSMERE_SVE_SECONDS (0 by default) gives the time they may take on
# "max" (SVE and SVE2 at qemu's default vector length), one row at a time,
# after glassmere-cli's cases, until the time is spent (all 34 took 18 minutes
# here, beside other work).
#
# Installs what it needs when missing (scripts/install-deps.sh --cross: the
# arm64 architecture in dpkg, g++-aarch64-linux-gnu, qemu-user-static,
# ImageMagick and the :arm64 development packages of Qt, FreeImage,
# libdeflate, zlib, Highway, libseccomp, libheif and libjxl).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${GLASSMERE_BUILD_DIR:-$here/build}
cross=${GLASSMERE_CROSS_BUILD_DIR:-$here/build-arm64}
"$here/scripts/install-deps.sh" --cross

jobs=$(nproc)
# GLASSMERE_TEST_ROWS (a bash array, or one row as a string) picks test
# functions and rows, as Qt Test takes them; all of them by default.
read -r -a GLASSMERE_TEST_ROWS <<<"${GLASSMERE_TEST_ROWS:-}"
export QEMU_CPU=${GLASSMERE_QEMU_CPU:-max,sve=off}
sveSeconds=${GLASSMERE_SVE_SECONDS:-0}
tests=(tst_renderer)
# The codecs' own tests, where they have a program of their own.
[[ -f $here/tests/tst_codecs.cpp ]] && tests+=(tst_codecs)
cmake -S "$here" -B "$cross" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/aarch64-linux-gnu.cmake" \
    -DGLASSMERE_CORE_ONLY=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$cross" -j"$jobs" --target glassmere-cli glassmere-decoder "${tests[@]}"
file -L "$cross/bin/glassmere-cli" | grep -q "ARM aarch64"
mkdir -p "$cross/check"

# This machine's own glassmere-cli and decoder, for the results to compare
# with and for the decoder below.
cmake -S "$here" -B "$build" >/dev/null
cmake --build "$build" -j"$jobs" --target glassmere-cli glassmere-decoder >/dev/null

# glassmere-cli in the emulator: a copy of the programs' folder whose
# glassmere-cli starts the arm64 one. The decoder beside it is this machine's:
# qemu-aarch64 refuses a program's own system call filter (it would hold
# qemu's calls too), and the decoder reads no picture without its filter. The
# pictures decode the same either way; the rendering, the PNG and BMP results
# and the codecs' tests' own encoding run on arm64. glassmere-cli starts the
# decoder from its own folder, the tests the one GLASSMERE_DECODER names.
wrapped=$cross/check/bin
rm -rf "$wrapped"
mkdir -p "$wrapped"
cp "$cross/bin/glassmere-cli" "$wrapped/glassmere-cli.real"
printf '#!/bin/sh\nGLIBC_TUNABLES=${GLIBC_TUNABLES:-glibc.malloc.hugetlb=1} exec qemu-aarch64-static "%s/glassmere-cli.real" "$@"\n' \
    "$wrapped" >"$wrapped/glassmere-cli"
chmod +x "$wrapped/glassmere-cli"
ln -s "$build/bin/glassmere-decoder" "$wrapped/glassmere-decoder"

# The tests, each on every instruction set Highway built that the emulated
# processor has (one row each).
failed=0
runTest() { # LOG TEST [ROW...]
    local log=$1 test=$2
    shift 2
    # Emulated rows may take longer than Qt Test's five minutes.
    (cd "$cross/tests" && QT_QPA_PLATFORM=offscreen QTEST_FUNCTION_TIMEOUT=3600000 \
        GLASSMERE_DECODER="$wrapped/glassmere-decoder" qemu-aarch64-static "./$test" "$@" \
        >"$log" 2>&1)
}
rowsPassed() { # LOG...
    grep -ohE '^PASS +: [A-Za-z]+::[A-Za-z]+\((NEON|SVE[A-Z0-9_]*)' "$@" | sed 's/.*(/  rows passed on /' |
        sort | uniq -c || true
}
for test in "${tests[@]}"; do
    log=$cross/check/$test.log
    status=passed
    start=$SECONDS
    runTest "$log" "$test" "${GLASSMERE_TEST_ROWS[@]}" || { status=FAILED; failed=1; }
    echo "$test under qemu-aarch64 -cpu $QEMU_CPU: $status in $((SECONDS - start)) s; $(grep -E '^Totals' "$log")"
    grep -E '^FAIL' -A3 "$log" | head -20 || true
    rowsPassed "$log"
done

"$here/scripts/render-cases.sh" "$build/bin" "$cross/check/x86-64"
start=$SECONDS
"$here/scripts/render-cases.sh" "$wrapped" "$cross/check/arm64"
echo "glassmere-cli under qemu-aarch64 -cpu $QEMU_CPU: $((SECONDS - start)) s"
if cmp -s "$cross/check/x86-64/sums" "$cross/check/arm64/sums"; then
    echo "arm64: all $(wc -l <"$cross/check/arm64/sums") results byte-identical to the x86-64 build's"
else
    echo "arm64: results differ from the x86-64 build's:"
    diff "$cross/check/x86-64/sums" "$cross/check/arm64/sums" | head -20
    failed=1
fi

# SVE rows on "max", for as long as GLASSMERE_SVE_SECONDS allows.
if ((sveSeconds > 0)); then
    start=$SECONDS
    passed=0 failedRows=0
    rm -f "$cross/check/"*.sve-*.log
    # The codecs' rows first (they are short), each test's rows taking turns
    # between SVE and SVE2.
    for ((i = ${#tests[@]} - 1; i >= 0; --i)); do
        test=${tests[i]}
        # "-datatags" lists "class function tag" a row a line.
        mapfile -t rows < <(cd "$cross/tests" && QT_QPA_PLATFORM=offscreen QEMU_CPU=max \
            qemu-aarch64-static "./$test" -datatags 2>/dev/null |
            awk '$3 ~ /^SVE/ { tag = $0; sub(/^[^ ]+ [^ ]+ /, "", tag); print ++n[$3] "\t" $2 ":" tag }' |
            sort -n -s -k1,1 | cut -f2-)
        for row in "${rows[@]}"; do
            ((SECONDS - start < sveSeconds)) || break 2
            log=$cross/check/$test.sve-$((passed + failedRows)).log
            if QEMU_CPU=max runTest "$log" "$test" "$row"; then
                passed=$((passed + 1))
            else
                failedRows=$((failedRows + 1)) failed=1
                echo "FAILED on max: $test $row"
                grep -E '^FAIL' -A3 "$log" | head -8 || true
            fi
        done
    done
    echo "SVE rows under qemu-aarch64 -cpu max: $passed passed, $failedRows failed in $((SECONDS - start)) s"
    rowsPassed "$cross/check/"*.sve-*.log
fi
exit $failed
