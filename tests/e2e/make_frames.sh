#!/usr/bin/env bash
# tools/make-frames writes frames the player reads exactly: they pass the
# board check, its synthetic pattern plays with the right sizes and lands
# on the screen pixel for pixel, and a square source is letterboxed. The
# owner's guide's ffmpeg line, run as written, does as much on its own.
source "$(dirname "$0")/common.sh"
need_ffmpeg

# The board check finds nothing to say about them.
passes_check() { # DIR
  local status=0
  "$checker" --frames "$1" >"$1.check" || status=$?
  [ "$status" -eq 0 ] &&
    [ "$(cat "$1.check")" = "ok   frames: 82 of 82 frames ok
frame-player-check: 0 FAIL, 0 warn, 1 ok" ] ||
    fail "$1 does not pass the board check (status $status): $(cat "$1.check")"
}

"$repo/tools/make-frames" "$out/pattern"
passes_check "$out/pattern"
board --player "$player" --frames "$out/pattern" --out "$out/board" \
  --quiet 'down 512 300' 'wait-count drawn 100' up 'settle 500' 'snap last' \
  'expect-count bad-size 0' 'expect-count read-failed 0'

log=$out/board/player.log
drawn=$(count_lines "$log" "$(player_line --prefix drawn)")
[ "$(count_lines "$log" "$(player_line drawn 1152000)")" -eq "$drawn" ] ||
  fail "not every frame read 1152000 bytes"
[ "$(count_lines "$log" "$(player_line size 800 480)")" -eq "$drawn" ] ||
  fail "not every frame was 800 x 480"

# The screen after the release is the last frame drawn, pixel for pixel.
last=$((drawn % 82))
png_to_screen "$out/board/last.png" "$out/screen.raw"
png_to_screen "$out/pattern/Frame$last.bmp" "$out/frame.raw"
cmp -s "$out/screen.raw" "$out/frame.raw" ||
  fail "the screen does not show Frame$last.bmp exactly"

# A square source keeps its shape: black bars left and right.
ffmpeg -hide_banner -loglevel error -f lavfi -i color=red:size=400x400:rate=5 \
  -frames:v 3 -y "$out/square.gif"
"$repo/tools/make-frames" "$out/square.gif" "$out/square"
passes_check "$out/square"
read -r -a left < <(od -An -tu1 -j54 -N3 "$out/square/Frame0.bmp")
read -r -a middle < <(od -An -tu1 -j$((54 + 400 * 3)) -N3 "$out/square/Frame0.bmp")
[ "${left[*]}" = "0 0 0" ] || fail "no black bar at the left: ${left[*]}"
[ "${middle[2]}" -gt 200 ] && [ "${middle[0]}" -lt 50 ] ||
  fail "the middle is not red: ${middle[*]}"
# The guide's line after its marker, as owners type it, on a 2-second
# 640 x 360 video with sound: looped to exactly Frame0 ... Frame81,
# 24-bit with the 40-byte header (the check's ok), letterboxed (the
# bottom row, stored first, black; the middle not).
guide=$repo/docs/board.md
line=$(awk '/^<!-- frames-ffmpeg -->$/ { found = 1; next }
  found && /^    / { sub(/^    /, ""); print; taken = 1; next }
  found && (taken || /[^ ]/) { exit }' "$guide")
[[ $line == ffmpeg\ * && $line != *$'\n'* ]] ||
  fail "no one ffmpeg line after <!-- frames-ffmpeg --> in $guide: $line"
mkdir "$out/guide"
ffmpeg -hide_banner -loglevel error -nostdin -f lavfi \
  -i testsrc=size=640x360:rate=25:duration=2 -f lavfi -i sine=duration=2 \
  -pix_fmt yuv420p -shortest "$out/guide/video.mp4"
(cd "$out/guide" && timeout 120 bash -c "$line") </dev/null >"$out/guide.log" 2>&1 ||
  fail "the guide's ffmpeg line failed: $(tail -n 3 "$out/guide.log")"
rm "$out/guide/video.mp4"
made=$(find "$out/guide" -type f | wc -l)
[ "$made" -eq 82 ] || fail "the guide's ffmpeg line wrote $made files, not 82"
passes_check "$out/guide"
brightest() { # FILE ROW: the largest byte of an 800-pixel row
  od -An -v -tu1 -j$((54 + $2 * 2400)) -N2400 "$1" | tr -s ' \n' '\n' | sort -n | tail -n 1
}
bottom=$(brightest "$out/guide/Frame0.bmp" 0)
centre=$(brightest "$out/guide/Frame0.bmp" 240)
[ "$bottom" -eq 0 ] && [ "$centre" -gt 100 ] ||
  fail "the guide's frames are not letterboxed: brightest byte $bottom at the bottom, $centre in the middle"
echo "played $drawn frames of the pattern; the screen shows Frame$last.bmp;" \
  "the guide's ffmpeg line wrote 82 frames that pass the check"
