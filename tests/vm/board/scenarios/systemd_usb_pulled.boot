# The disk is pulled out while the screen is held on the systemd board: the
# player goes on (its unit does not depend on the disk), prints a failure
# line for every frame it cannot open, and the screen keeps the last whole
# frame. The disk plugged back in is mounted again (the udev rule starts
# its mount unit), the next touch plays, and the disk itself was never
# written: the run's copy is the original, byte for byte.
boot systemd
expect-log "Started frame-player.service"
# The disk's unit mounts it while the player starts.
shell until findmnt /mnt/udisk >/dev/null; do sleep 0.2; done
expect-open /dev/input/event0
down 512 300
expect-line position 400 240
wait-count drawn 4
pull
wait-count open-failed +20
up
expect-line position 400 240
settle 1000
expect-frame last-drawn
snap pulled
expect-output "" findmnt --noheadings /mnt/udisk
expect-absent "Stopping frame-player.service"
expect-running

# Plugged back in while the frame is shown: mounted, nothing drawn over it.
plug
expect-log "frame-player-udisk: mounted /dev/sda1 at /mnt/udisk"
wait 2000
expect-same pulled
down 512 300
expect-line position 400 240
wait-count drawn +3
up
expect-line position 400 240
settle 1000
expect-frame last-drawn
expect-absent "Stopping frame-player.service"
expect-running
expect-disk-unchanged
