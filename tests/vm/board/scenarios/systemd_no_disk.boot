# The systemd board boots with no frame disk: no start job waits for it,
# the player runs all the same (sandboxed, as the user systemd makes for
# it), touches give open-failed lines and draw nothing, and the board
# check says the frames are missing. The disk plugged in later is mounted,
# the player sees it from its sandbox, and the next touch plays.
boot systemd none
expect-log "Started frame-player.service"
# Without the disk in /etc/fstab, no job waits for a device.
expect-output 0 systemctl list-jobs --no-legend | grep -c "[.]device"
expect-running
expect-open /dev/input/event0
down 512 300
wait-count open-failed 10
up
settle 1000
expect-count drawn 0
expect-frame none
expect-output "FAIL frames: /mnt/udisk is not mounted: no USB disk there" frame-player-check | grep -o "^FAIL frames: /mnt/udisk is not mounted: [^;]*"
expect-output 1 frame-player-check | grep -c "^ok   player: frame-player is running (pid [0-9]*) as frame-player (uid [0-9]*), started by systemd (frame-player.service)$"
expect-running

plug
expect-log "frame-player-udisk: mounted /dev/sda1 at /mnt/udisk (vfat, read-only)"
down 100 100
expect-line position 78 80
expect-line drawn 1152000
wait-count drawn 3
up
expect-line position 78 80
settle 1000
expect-frame last-drawn
expect-running
