# The owner's install from the USB disk through the serial console, on a
# BusyBox board that keeps its root on a disk: the disk holds the frames
# and the unpacked armhf board tarball, mounted by hand as nothing mounts
# it yet. On a read-only root install.sh fails with one line and leaves
# the root as it was; then it installs, the player starts at boot and
# plays; a second run changes nothing on the root, and --uninstall leaves
# it as it was before the install.
boot busybox-disk install
expect-output "" pidof frame-player
shell until [ -e /dev/sda1 ]; do sleep 1; done; mount -o ro /dev/sda1 /mnt/udisk
root-snapshot before

shell mount -o remount,ro /
expect-output "install.sh: the file system of /etc is read-only (mount -o remount,rw /, then run again); nothing was changed (status 1)" out=$(sh /mnt/udisk/frame-player-*-armhf/install.sh); echo "$out (status $?)"
shell mount -o remount,rw /
expect-root before

shell sh /mnt/udisk/frame-player-*-armhf/install.sh
switch-off
# The supervisor sees the mount at once: either line may come first.
expect-log "frame-player-run: player started"
shell grep -q 'frame-player-udisk: mounted /dev/sda1 at /mnt/udisk' /var/log/frame-player.log
expect-frame none
# A touch of its own: the install scenarios that follow on the same
# boot touch elsewhere (the kernel passes on only coordinates that change).
down 768 450
expect-line position 600 360
expect-line drawn 1152000
wait-count drawn 3
up
expect-line position 600 360
settle 1000
expect-frame last-drawn

root-snapshot booted
expect-output "install.sh: nothing to change: this player is installed already" sh /mnt/udisk/frame-player-*-armhf/install.sh >/tmp/again; head -n 1 /tmp/again
expect-root booted
expect-running

shell sh /mnt/udisk/frame-player-*-armhf/install.sh --uninstall
expect-output "" pidof frame-player
expect-root before
