#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets everything up, builds, and starts Glassmere.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh"
app=${GLASSMERE_BUILD_DIR:-$here/build}/bin/glassmere
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display found. Glassmere is a desktop program: start it from a desktop session," >&2
    echo "or inside a virtual one:  xvfb-run -s '-screen 0 1280x800x24' $0" >&2
    exit 1
fi
exec "$app" "$@"
