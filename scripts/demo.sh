#!/usr/bin/env bash
# Sets up, builds and runs the main job: PELU_dbg on the simulated instrument,
# driven by the demo script. With a display it opens the real window;
# without one it draws offscreen and saves screenshots under out/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" plain
mkdir -p "$top/out"
cd "$top/out"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then export QT_QPA_PLATFORM=offscreen; fi
export PELU_TIME_SCALE=${PELU_TIME_SCALE:-0.25}
exec "$top/build-plain/bin/PELU_dbg" --script "$top/demo/observe.pelu" "$@"
