# Sourced by the shell checks: their arguments, how they run steps on the
# emulated board, and how they skip or fail.
# usage: CHECK.sh RIG PLAYER FRAME-GEN FRAMES-DIR OUT-DIR [CHECKER]
set -euo pipefail
rig=$1 player=$2 frame_gen=$3 frames=$4 out=$5 checker=${6:-}
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
rm -rf "$out"
mkdir -p "$out"

# The step interpreter on the rig: rig.py's options and steps.
board() {
  "$repo/tests/steps/rig.py" --rig "$rig" "$@"
}

skip() {
  echo "skipped: $*"
  exit 77
}

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

need_ffmpeg() {
  command -v ffmpeg >/dev/null || skip "needs ffmpeg (tools/install-deps ffmpeg)"
}

# A line of the player's, from its headers: NAME [VALUE...], or --prefix
# NAME for the text that all lines NAME begin with.
player_line() {
  python3 "$repo/lib/player-lines/player_lines.py" "$@"
}

# Lines of a rig's player.log that the player printed on stdout.
count_lines() { # LOG PREFIX
  grep -c -F -e "out $2" "$1" || true
}

# The screen in a PNG as raw bgr0 words, for frame-gen identify.
png_to_screen() { # PNG RAW
  ffmpeg -hide_banner -loglevel error -i "$1" -f rawvideo -pix_fmt bgr0 -y "$2"
}
