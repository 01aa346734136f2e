#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fuzzes a picture's whole road through Glassmere (decode, normalise, render,
# preview, save) with libFuzzer and AddressSanitizer, for a bounded time.
#
#   scripts/fuzz.sh [--strict] [SECONDS]   default 60; the corpus is kept for the next run
#
# Installs what it needs (clang-14 and libFuzzer besides the normal build's
# packages) when missing. Seeds come from the tests: tst_hostile writes small
# valid pictures in every format FreeImage writes.
#
# --strict (CI) exits 1 when a finding is a fault of Glassmere's own code (a
# broken promise between the steps, or a crash or memory error whose first
# frame is in this tree), or when the program does not survive a finding.
# Crashes inside the readers (FreeImage, the codecs it embeds) are faults the
# program lives with: each is replayed through glassmere-cli, which must
# report the file as failed (or read it) and end normally within a bound,
# because the picture is decoded in a separate process. Timeouts and running
# out of memory are replayed the same way.
#
# Where things go (override with the variables):
#   GLASSMERE_BUILD_DIR       normal build, for the seed pictures   (build/)
#   GLASSMERE_FUZZ_BUILD_DIR  clang build with -DGLASSMERE_FUZZ=ON  (build-fuzz/)
#   GLASSMERE_FUZZ_DIR        corpus and findings                   (build-fuzz/fuzzing/)
# Findings land in $GLASSMERE_FUZZ_DIR/findings as crash-*, timeout-*, oom-*;
# replay one with: build-fuzz/bin/fuzz_picture FILE
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
strict=false
if [[ "${1:-}" == "--strict" ]]; then
    strict=true
    shift
fi
seconds=${1:-60}
build=${GLASSMERE_BUILD_DIR:-$here/build}
fuzz_build=${GLASSMERE_FUZZ_BUILD_DIR:-$here/build-fuzz}
work=${GLASSMERE_FUZZ_DIR:-$fuzz_build/fuzzing}
jobs=$(nproc)

"$here/scripts/install-deps.sh" --fuzz
clang=${CXX:-}
if [[ -z "$clang" ]]; then
    clang=$(command -v clang++ || command -v clang++-14 || true)
fi
if [[ -z "$clang" ]]; then
    echo "fuzz.sh: clang++ not found (Debian: apt-get install clang-14 libclang-rt-14-dev)" >&2
    exit 1
fi

echo "== seed pictures from the tests"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target tst_hostile -j"$jobs" >/dev/null
rm -rf "$work/seeds"
# A strict run judges its own findings only.
$strict && rm -rf "$work/findings"
mkdir -p "$work/seeds" "$work/corpus" "$work/findings"
GLASSMERE_SEED_CORPUS="$work/seeds" QT_QPA_PLATFORM=offscreen \
    "$build/tests/tst_hostile" seedPicturesDecode >/dev/null 2>&1

echo "== fuzz target (clang, libFuzzer, AddressSanitizer)"
CXX="$clang" cmake -S "$here" -B "$fuzz_build" -DGLASSMERE_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLASSMERE_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$fuzz_build" --target fuzz_picture -j"$jobs" >/dev/null
fuzzer="$fuzz_build/bin/fuzz_picture"
GLASSMERE_FUZZ_PREPARE="$work/seeds:$work/prepared" "$fuzzer"

echo "== fuzzing for $seconds s on $jobs processes"
# Fork mode keeps going after a finding, so one run collects them all.
# FreeImage's known stalls (PICT, EXR) end as timeouts after 5 s. An
# impossible allocation returns null, as it does outside the sanitizer, so the
# readers' own handling of it is what gets tested.
ASAN_OPTIONS="allocator_may_return_null=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}" \
    "$fuzzer" "$work/corpus" "$work/prepared" \
    -max_total_time="$seconds" -timeout=5 -rss_limit_mb=3072 -max_len=65536 \
    -fork="$jobs" -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
    -artifact_prefix="$work/findings/" 2>"$work/fuzz.log" || true
grep -E "^#[0-9]+: cov|INFO: fuzzed for|crashes|timeouts|ooms" "$work/fuzz.log" | tail -3 || true

count() { find "$work/findings" -maxdepth 1 -name "$1-*" | wc -l; }
echo "== findings in $work/findings: $(count crash) crashes, $(count timeout) timeouts," \
    "$(count oom) out of memory; corpus $(find "$work/corpus" -type f | wc -l) inputs"
if ! grep -q "INFO: fuzzed for\|INFO: exiting" "$work/fuzz.log"; then
    echo "fuzz.sh: the fuzzer did not run to its end; see $work/fuzz.log" >&2
    exit 1
fi
$strict || exit 0

# Where a finding goes wrong: "ours" when the first frame that is not the
# sanitizer's or the C library's lies in this tree, "reader" otherwise.
culprit() {
    local report
    report=$("$fuzzer" "$1" 2>&1 || true)
    if grep -q "broken promise" <<<"$report"; then
        echo ours
        return
    fi
    local frame
    frame=$(grep -E "^ +#[0-9]+ 0x" <<<"$report" |
        grep -v -E "__interceptor_|__asan|__sanitizer|in (malloc|calloc|realloc|free|operator new|operator delete)|libc\.so|libstdc\+\+\.so" |
        head -1)
    local source_line="$here/[^ ]+\.(cpp|h):[0-9]+"
    if [[ "$frame" =~ $source_line ]]; then
        echo ours
    else
        echo reader
    fi
}

failed=0
timeouts=0
replayed="$work/replayed"
rm -rf "$replayed"
for finding in "$work"/findings/*; do
    [[ -e "$finding" ]] || continue
    # Each stall costs the decoder's whole time limit; three show that it holds.
    if [[ "$(basename "$finding")" == timeout-* ]] && ((++timeouts > 3)); then
        continue
    fi
    if [[ "$(basename "$finding")" == crash-* ]] && [[ "$(culprit "$finding")" == ours ]]; then
        echo "== $finding: a fault in Glassmere's code"
        "$fuzzer" "$finding" 2>&1 | grep -E "ERROR|broken promise|#[0-9]+ " | head -20 || true
        failed=1
        continue
    fi
    picture=$(GLASSMERE_FUZZ_UNPACK="$finding:$replayed" "$fuzzer")
    status=0
    timeout 120 "$build/bin/glassmere-cli" "$picture" "$replayed/result.png" \
        >"$picture.log" 2>&1 || status=$?
    if ((status > 1)); then
        echo "== $finding: glassmere-cli did not survive $(basename "$picture") (exit $status)"
        cat "$picture.log"
        failed=1
    fi
done
if ((failed)); then
    exit 1
fi
echo "== every finding is a reader's fault, and glassmere-cli survives each it replayed"
