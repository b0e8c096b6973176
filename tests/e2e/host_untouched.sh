#!/usr/bin/env bash
# The board leaves no trace on the host. The "host" here is an outer mount
# namespace whose /mnt is empty, so the rig must also make /mnt/udisk/4/3
# itself, without creating it outside.
source "$(dirname "$0")/common.sh"

unshare -m --propagation private true 2>/dev/null ||
  skip "needs root for an outer mount namespace"
export rig player frames out repo
unshare -m --propagation private bash -euc '
  mount -t tmpfs outer-mnt /mnt
  ls -A /dev >"$out/dev-before"
  "$repo/tests/steps/rig.py" --rig "$rig" --player "$player" --frames "$frames" --out "$out" --quiet \
    "down 512 300" "wait-count drawn 10" up "settle 500" \
    "expect-frame last-drawn"
  ls -A /dev >"$out/dev-after"
  [ -z "$(ls -A /mnt)" ] || { echo "FAILED: left in /mnt: $(ls -A /mnt)"; exit 1; }
  cmp -s "$out/dev-before" "$out/dev-after" ||
    { echo "FAILED: /dev changed"; diff "$out/dev-before" "$out/dev-after"; exit 1; }
'
