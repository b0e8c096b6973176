# The owner's install from the PC on a BusyBox board that keeps its root
# on a disk and runs dropbear (tools/install-board over SSH). A full disk
# makes it fail with one line and leave the root as it was; on a board
# with room it installs, starts the player and checks the board. The
# player then plays (usb_install shows that the same install starts it at
# boot); a second run changes nothing on the root, and --uninstall leaves
# it as it was before the install.
boot busybox-disk
expect-output "" pidof frame-player
root-snapshot before
shell dd if=/dev/zero of=/filler bs=1M 2>/dev/null; true
install-fails "no space left on 127.0.0.1"
shell rm /filler
expect-root before

install
# The supervisor sees the mount at once: either line may come first.
expect-log "frame-player-run: player started"
shell grep -q 'frame-player-udisk: mounted /dev/sda1 at /mnt/udisk' /var/log/frame-player.log
expect-installed "frame-player-check: 0 FAIL, 0 warn, 13 ok"

expect-open /dev/input/event0
expect-frame none
down 512 300
expect-line position 400 240
expect-line drawn 1152000
wait-count drawn 3
up
expect-line position 400 240
settle 1000
expect-frame last-drawn

root-snapshot installed
install
expect-installed "frame-player-check: 0 FAIL, 0 warn, 13 ok"
expect-root installed
expect-running

install --uninstall
expect-output "" pidof frame-player
expect-root before
