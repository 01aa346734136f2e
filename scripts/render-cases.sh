#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders one fixed set of cases with a glassmere-cli and lists the files it
# wrote with their SHA-256, for comparing builds and processors:
#
#   scripts/render-cases.sh BIN_DIR OUT_DIR
#
# BIN_DIR holds glassmere-cli and glassmere-decoder (or wrappers of that name
# that run them in an emulator). Every direction, both modes, opacity, gap,
# blur and all of them at once, each over 24- and 32-bit pictures of odd
# widths read from PNG and BMP files (results: PNG, and BMP in colour mode).
# OUT_DIR/sums gets one "hash  case/file" line per result.
set -euo pipefail
bin=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
pictures=$out/pictures
rm -rf "$pictures" "$out/results" "$out/log"
mkdir -p "$pictures" "$out/results"

# The pictures: a fractal plasma (the same bytes every time for one seed),
# and the same with a gradient as its alpha.
convert -seed 7 -size 333x211 plasma:fractal -depth 8 "PNG24:$pictures/colour-333.png"
convert "$pictures/colour-333.png" -type TrueColor "BMP3:$pictures/colour-333.bmp"
convert -seed 11 -size 257x199 plasma:fractal -depth 8 \
    \( -size 257x199 gradient: -rotate 0 \) -alpha off -compose CopyOpacity -composite \
    "PNG32:$pictures/alpha-257.png"
convert "$pictures/alpha-257.png" -define bmp:format=bmp4 "BMP:$pictures/alpha-257.bmp"

controls=("plain:" "opacity:--opacity 55" "gap:--gap 5" "blur:--blur 12"
    "all:--opacity 70 --gap 3 --blur 25 --size 60 --depth 10")
for direction in bottom top left right; do
    for mode in colour transparent; do
        modeOptions=(--color '#3080c0')
        [[ $mode == transparent ]] && modeOptions=(--transparent)
        for control in "${controls[@]}"; do
            name=${control%%:*}
            read -r -a options <<<"${control#*:}"
            result=$out/results/$direction-$mode-$name
            mkdir -p "$result"
            "$bin/glassmere-cli" --jobs 1 --direction "$direction" "${modeOptions[@]}" \
                "${options[@]}" --batch "$pictures" "$result" >/dev/null 2>>"$out/log"
        done
    done
done
(cd "$out/results" && find . -type f | sort | xargs sha256sum) >"$out/sums"
echo "$(wc -l <"$out/sums") results in $out/results"
