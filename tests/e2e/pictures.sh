#!/usr/bin/env bash
# Snapshots are exact pictures of the screen and the recording is a real
# 800 x 480 animation.
source "$(dirname "$0")/common.sh"
need_ffmpeg

board --player "$player" --frames "$frames" --out "$out" --quiet \
  --record screen.gif --record-fps 20 \
  'expect-open /dev/input/event0' 'snap before' 'down 512 300' \
  'wait-count drawn 40' up 'settle 500' 'snap after'

png_to_screen "$out/before.png" "$out/before.raw"
[ "$("$frame_gen" identify "$out/before.raw" || true)" = blank ] ||
  fail "before.png is not a blank screen"

# The rig names the frame it saw, which must be the last one the log counts,
# and the PNG must show exactly that frame.
noted=$(sed -n 's/.* rig snap after: frame \([0-9]*\); .*the last Frame\1\.bmp$/\1/p' \
  "$out/player.log")
[ -n "$noted" ] || fail "after.png: $(grep 'snap after' "$out/player.log")"
png_to_screen "$out/after.png" "$out/after.raw"
shown=$("$frame_gen" identify "$out/after.raw") || fail "after.png: $shown"
[ "$shown" = "$noted" ] || fail "after.png shows $shown, the screen showed $noted"

IFS=, read -r width height frames_in_gif < <(ffprobe -v error -count_frames \
  -select_streams v:0 -of csv=p=0 \
  -show_entries stream=width,height,nb_read_frames "$out/screen.gif")
[ "$width x $height" = "800 x 480" ] || fail "screen.gif is $width x $height"
[ "$frames_in_gif" -ge 2 ] || fail "screen.gif has $frames_in_gif frames"
echo "after.png shows frame $shown; screen.gif has $frames_in_gif frames"
