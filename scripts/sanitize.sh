#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Glassmere with AddressSanitizer and UndefinedBehaviorSanitizer in a
# folder of its own (build-sanitize/, or $GLASSMERE_SANITIZE_BUILD_DIR) and
# runs the tests of the core, the decoder and the command line there: any
# memory error or undefined behaviour in Glassmere's code fails its test.
#
#   scripts/sanitize.sh [ctest options]
#
# The decoder is sanitized too; it keeps its memory cap (a refused
# allocation returns null, as without the sanitizer). The window's own tests
# (tst_mainwindow, tst_chrome, tst_hidpi, tst_translations) and tst_install
# run in the plain build only: they add little but time to what the core's
# tests reach.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${GLASSMERE_SANITIZE_BUILD_DIR:-$here/build-sanitize}
tests=(tst_renderer tst_imaging tst_hostile tst_cli tst_pathhelpers tst_batch)

"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLASSMERE_SANITIZE=ON \
    -DGLASSMERE_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target glassmere-decoder glassmere-cli "${tests[@]}"

# Leaks of the libraries at exit are not findings; an allocation the tests
# refuse on purpose returns null as it does without the sanitizer.
export ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1:detect_stack_use_after_return=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
pattern="^($(IFS='|'; echo "${tests[*]}"))\$"
ctest --test-dir "$build" -R "$pattern" --output-on-failure -j"$(nproc)" "$@"
