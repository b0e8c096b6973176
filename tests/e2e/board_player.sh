#!/usr/bin/env bash
# A board build's player on the emulated board, run through QEMU user mode
# by the native build's rig and the step interpreter. Only Frame1.bmp is
# offered, so the screen can show nothing but the first frame a touch
# draws.
# usage: board_player.sh HOST-BUILD PLAYER 'EMULATOR ARGS' EVENT-SIZE OUT-DIR
set -euo pipefail
host=$1 player=$2 emulator=$3 event_size=$4 out=$5
rig=$host/tools/board-rig/board-rig
frame=$host/tests/e2e/frames/Frame1.bmp
if [ ! -x "$rig" ] || [ ! -f "$frame" ]; then
  echo "skipped: needs the native build's rig and test frames in $host" \
    "(run the default preset's tests first)"
  exit 77
fi
rm -rf "$out"
mkdir -p "$out/frames"
cp "$frame" "$out/frames/"
exec "$(dirname "$0")/../steps/rig.py" --rig "$rig" --player "$player" --emulator "$emulator" \
  --input-event-size "$event_size" --frames "$out/frames" --out "$out/rig" \
  --quiet --script "$(dirname "$0")/board_player.rig"
