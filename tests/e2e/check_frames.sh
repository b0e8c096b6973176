#!/usr/bin/env bash
# The board check on frame folders: one with the four faults met most (a
# 124-byte info header, 32-bit pixels, a missing and a cut-short frame) is
# judged alike on a PC (--frames) and by the whole check on the emulated
# board; folders written by another program (ffmpeg) pass in its 24-bit
# layout and are named for what the player would make of the others.
source "$(dirname "$0")/common.sh"
need_ffmpeg
[ -x "$checker" ] || fail "no board check given: $checker"

# Runs the check with ARGS; its lines go to FILE, its status must be STATUS.
check() { # STATUS FILE ARGS...
  local wanted=$1 file=$2 status=0
  shift 2
  timeout 60 "$checker" "$@" >"$file" || status=$?
  [ "$status" -eq "$wanted" ] || fail "$* gave status $status, not $wanted"
}

same_lines() { # EXPECTED ACTUAL
  diff -u "$1" "$2" >&2 || fail "$2 differs from $1"
}

# --frames on the folder $out/NAME must fail with the lines on standard
# input; they are kept as NAME.expected, the check's as NAME.txt.
judged() { # NAME <EXPECTED
  cat >"$out/$1.expected"
  check 1 "$out/$1.txt" --frames "$out/$1"
  same_lines "$out/$1.expected" "$out/$1.txt"
}

rewrite="fix: save it as a 24-bit BMP with a 40-byte info header and rows"
rewrite+=" bottom-up (tools/make-frames writes such frames)"
opened="(the player prints \"$(player_line open-failed)\" and keeps the previous frame)"
garbled="(the picture will be garbled)"

faulty=$out/faulty
mkdir -p "$faulty"
"$frame_gen" write "$faulty"
"$frame_gen" variant info124 7 "$faulty/Frame7.bmp"
"$frame_gen" variant bits32 20 "$faulty/Frame20.bmp"
rm "$faulty/Frame33.bmp"
truncate -s 600000 "$faulty/Frame50.bmp"
judged faulty <<END
FAIL frames: Frame7.bmp: 124-byte info header (the picture will be shifted by 84 bytes); $rewrite
FAIL frames: Frame20.bmp: 32 bits per pixel $garbled; $rewrite
FAIL frames: Frame33.bmp: missing $opened; fix: copy Frame33.bmp into the folder
FAIL frames: Frame50.bmp: cut short: 599,946 of its 1,152,000 bytes of pixels (the top 231 rows will be black); fix: copy it again: the copy is incomplete
FAIL frames: 78 of 82 frames ok; fix: see the lines above
frame-player-check: 5 FAIL, 0 warn, 0 ok
END

# The whole check on the emulated board names the same frames alike.
board --player "$checker" --frames "$faulty" --out "$out/board" --quiet \
  'expect-exit 1'
sed -n 's/^ *[0-9.]* out \(FAIL frames: Frame.*\)$/\1/p' \
  "$out/board/player.log" >"$out/board-frames.txt"
grep '^FAIL frames: Frame' "$out/faulty.txt" >"$out/faulty-frames.txt"
same_lines "$out/faulty-frames.txt" "$out/board-frames.txt"

# Another program's frames: its 24-bit BMPs pass as they are.
other=$out/other
mkdir -p "$other"
encode() { # PIXEL-FORMAT SIZE OUTPUT [FRAMES]
  ffmpeg -hide_banner -loglevel error -nostdin -f lavfi \
    -i "testsrc2=size=$2:rate=25" -frames:v "${4:-1}" -start_number 0 \
    -c:v bmp -pix_fmt "$1" -y "$3"
}
encode bgr24 800x480 "$other/Frame%d.bmp" 82
check 0 "$out/other.txt" --frames "$other"
grep -qx 'ok   frames: 82 of 82 frames ok' "$out/other.txt" ||
  fail "ffmpeg's 24-bit frames do not pass"

# Its other layouts, and a smaller picture.
encode bgra 800x480 "$other/Frame1.bmp"
encode rgb565le 800x480 "$other/Frame2.bmp"
encode pal8 800x480 "$other/Frame3.bmp"
encode bgr24 640x360 "$other/Frame4.bmp"
judged other <<END
FAIL frames: Frame1.bmp: 32 bits per pixel $garbled; $rewrite
FAIL frames: Frame2.bmp: pixels at byte 66, not 54 (the picture will be shifted by 12 bytes), 16 bits per pixel $garbled; $rewrite
FAIL frames: Frame3.bmp: pixels at byte 1078, not 54 (the picture will be shifted by 1024 bytes), 8 bits per pixel $garbled; $rewrite
warn frames: Frame4.bmp: 640 × 360 pixels (the rest of the screen keeps the previous frame); fix: scale it to 800 × 480 (tools/make-frames does)
FAIL frames: 78 of 82 frames ok; fix: see the lines above
frame-player-check: 4 FAIL, 1 warn, 0 ok
END
# Wrong arguments are refused with status 2 and the usage; --help is not.
# --version, and --help's first line, name the version the build recorded.
check 0 "$out/help.txt" --help
grep -q -- '--frames DIR' "$out/help.txt" || fail "--help does not show --frames"
check 0 "$out/version.txt" --version
echo "frame-player-check $(cat "$(dirname "$checker")/version/version.txt")" >"$out/version.expected"
same_lines "$out/version.expected" "$out/version.txt"
head -n 1 "$out/help.txt" | same_lines "$out/version.expected" -
for wrong in --frames --bogus "--touch --frames $other"; do
  # shellcheck disable=SC2086 # the words are the arguments
  check 2 "$out/wrong.txt" $wrong 2>/dev/null
  [ ! -s "$out/wrong.txt" ] || fail "$wrong printed findings"
done
echo "the check named the four faults alike on a PC and on the board, and" \
  "ffmpeg's frames as the player would show them"
