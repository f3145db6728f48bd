#!/usr/bin/env bash
# Sets up, builds and runs the main job: PELU_dbg on the simulated instrument,
# driven by demo/observe.pelu (cameras, scanner and grating on; a 100-step scan
# of a sunspot with both cameras, two repetitions; a flat-field run; quit).
# With a display it opens the real window; without one it draws offscreen and
# saves screenshots. Everything it writes goes into out/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" plain
mkdir -p "$top/out"
cd "$top/out"
# The site files the programs read from their working directory.
for f in Wv.ini IPaddr.ini pelu.head pelu.tail; do
  [ -f "$f" ] || cp "$top/resources/site/$f" .
done
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then export QT_QPA_PLATFORM=offscreen; fi
export PELU_TIME_SCALE=${PELU_TIME_SCALE:-0.25}
export PELU_DRIVE_E=${PELU_DRIVE_E:-$top/out/drive_E}
"$top/build-plain/bin/PELU_dbg" --script "$top/demo/observe.pelu" "$@"
echo
echo "== Data written (drive E: is $PELU_DRIVE_E)"
/usr/bin/python3 "$top/tools/fits_summary.py" "$PELU_DRIVE_E"
ls "$top"/out/*.png 2>/dev/null | sed 's/^/screenshot: /' || true
