#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets everything up, builds, and runs every test through ctest (headless).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh"
cd "${GLASSMERE_BUILD_DIR:-$here/build}"
ctest --output-on-failure -j"$(nproc)" "$@"
