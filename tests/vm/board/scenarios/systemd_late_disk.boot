# The frame disk is plugged in some seconds after the systemd board
# booted: the player runs already (it does not wait for the disk), the
# disk is mounted when it comes, the player sees it from its sandbox, and
# the first touch plays.
boot systemd none
expect-log "Started frame-player.service"
wait 5000
expect-running
plug
expect-log "frame-player-udisk: mounted /dev/sda1 at /mnt/udisk (vfat, read-only)"
expect-open /dev/input/event0
expect-frame none

down 100 100
expect-line position 78 80
expect-line drawn 1152000
wait-count drawn 3
up
expect-line position 78 80
settle 1000
expect-frame last-drawn
expect-count open-failed 0
expect-running
