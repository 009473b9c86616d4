#!/usr/bin/env bash
# Set up, build, and run the installation.
#  - With a display: full screen; the built-in demo voice when no microphone is found.
#  - Without one: renders one full crystal cycle of the demo offscreen into out/,
#    with a contact sheet of the cycle and a video of it (out/demo.mp4), and exits 0.
# Extra arguments are passed to solvane.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh solvane solvane-contact-sheet

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  args=()
  if ! build/solvane --list-devices 2>/dev/null | sed -n '/^capture devices/,/^playback devices/p' | grep -q '^  [^(]'; then
    echo "run: no microphone found; starting the built-in demo voice and peer"
    args+=(--demo)
  fi
  exec build/solvane "${args[@]}" "$@"
fi

echo "run: no display; rendering one crystal cycle of the demo offscreen into out/"
rm -rf out/frames
mkdir -p out/frames
steps=720
build/solvane --headless --fast --demo --echo --seed 1 --steps "$steps" \
  --frames out/frames --frame-every 4 --video out/demo.mp4 --stats out/stats.json "$@"
build/solvane-contact-sheet out/frames out/contact-sheet.png
echo "run: frames in $(pwd)/out/frames, contact sheet $(pwd)/out/contact-sheet.png, video $(pwd)/out/demo.mp4, statistics $(pwd)/out/stats.json"
