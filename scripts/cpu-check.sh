#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs glassmere-cli, and the renderer's and the codecs' tests, as processors
# without AVX-512 (Haswell: AVX2) and without AVX (Nehalem: SSSE3 for Highway,
# which wants SSE4 with AES and CLMUL) would, under qemu-x86_64, and checks
# that every result is byte for byte the one this processor writes:
#
#   scripts/cpu-check.sh [BUILD_DIR]     default build/; builds what it runs
#
# The decoder runs on this processor: qemu refuses a program's own system
# call filter (it would hold qemu's calls too), and the decoder reads no
# picture without it. Its readers' kernels run emulated in the codecs' tests.
# Needs qemu-user and ImageMagick (scripts/install-deps.sh --cross installs them). The cases are
# scripts/render-cases.sh's; the outputs and the tests' logs stay in BUILD_DIR/cpu-check.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
work=$build/cpu-check
tests=(tst_renderer tst_codecs)
"$here/scripts/install-deps.sh" --cross
cmake --build "$build" --target glassmere-cli glassmere-decoder "${tests[@]}" -j"$(nproc)" >/dev/null

# A folder whose glassmere-cli starts the real one in the emulator, beside
# the real decoder.
wrap() { # FOLDER EMULATOR...
    local folder=$1
    shift
    rm -rf "$folder"
    mkdir -p "$folder"
    printf '#!/bin/sh\nexec %s "%s/glassmere-cli" "$@"\n' "$*" "$build/bin" >"$folder/glassmere-cli"
    chmod +x "$folder/glassmere-cli"
    ln -s "$build/bin/glassmere-decoder" "$folder/glassmere-decoder"
}

"$here/scripts/render-cases.sh" "$build/bin" "$work/native"
failed=0
for cpu in Nehalem Haswell; do
    for test in "${tests[@]}"; do
        log=$work/$test-$cpu.log
        # Emulated rows may take longer than Qt Test's five minutes.
        if (cd "$build/tests" && QT_QPA_PLATFORM=offscreen QTEST_FUNCTION_TIMEOUT=3600000 \
            GLASSMERE_DECODER="$build/bin/glassmere-decoder" qemu-x86_64 -cpu "$cpu" "./$test" \
            >"$log" 2>&1); then
            echo "$test under -cpu $cpu: $(grep -E '^Totals' "$log")"
        else
            echo "$test under -cpu $cpu FAILED:"
            grep -E '^FAIL' -A3 "$log" | head -20 || true
            failed=1
        fi
    done
    wrap "$work/bin-$cpu" qemu-x86_64 -cpu "$cpu"
    "$here/scripts/render-cases.sh" "$work/bin-$cpu" "$work/$cpu"
    if cmp -s "$work/native/sums" "$work/$cpu/sums"; then
        echo "$cpu: all $(wc -l <"$work/$cpu/sums") results byte-identical to this processor's"
    else
        echo "$cpu: results differ:"
        diff "$work/native/sums" "$work/$cpu/sums" | head -20
        failed=1
    fi
done
exit $failed
