#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs glassmere-cli and its decoder as processors without AVX-512 (Haswell:
# AVX2) and without AVX (Nehalem: SSE4.2) would, under qemu-x86_64, and
# checks that every result is byte for byte the one this processor writes:
#
#   scripts/cpu-check.sh [BUILD_DIR]     default build/; builds the two programs
#
# Needs qemu-user and ImageMagick (scripts/install-deps.sh --cross installs them). The cases are
# scripts/render-cases.sh's; the outputs stay in BUILD_DIR/cpu-check.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
work=$build/cpu-check
"$here/scripts/install-deps.sh" --cross
cmake --build "$build" --target glassmere-cli glassmere-decoder -j"$(nproc)" >/dev/null

# A copy of the programs' folder whose two programs start the real ones in
# the emulator; the decoder is started from the program's own folder.
wrap() { # FOLDER EMULATOR...
    local folder=$1
    shift
    rm -rf "$folder"
    cp -a "$build/bin" "$folder"
    for program in glassmere-cli glassmere-decoder; do
        mv "$folder/$program" "$folder/$program.real"
        # GLIBC_TUNABLES: the program would otherwise start itself again
        # through /proc/self/exe, outside the emulator.
        printf '#!/bin/sh\nGLIBC_TUNABLES=${GLIBC_TUNABLES:-glibc.malloc.hugetlb=1} exec %s "%s/%s.real" "$@"\n' \
            "$*" "$folder" "$program" >"$folder/$program"
        chmod +x "$folder/$program"
    done
}

"$here/scripts/render-cases.sh" "$build/bin" "$work/native"
failed=0
for cpu in Nehalem Haswell; do
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
