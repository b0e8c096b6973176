# A disk without the frame folder 4/3: the init script waits its 30 s,
# says so and starts the player anyway; touches give open-failed lines and
# draw nothing. The right disk swapped in is mounted and then plays.
boot no-folder
expect-log "frame-player-udisk: mounted /dev/sda1 at /mnt/udisk"
expect-log "frame-player-run: no /mnt/udisk/4/3 after 30 s; starting anyway"
expect-log "frame-player-run: player started"
expect-open /dev/input/event0
down 512 300
wait-count open-failed 10
up
settle 1000
expect-count drawn 0
expect-frame none

pull
expect-log "removed; unmounted /mnt/udisk"
plug frames
expect-log "frame-player-udisk: mounted /dev/sda1 at /mnt/udisk"
down 512 300
wait-count drawn 2
up
settle 1000
expect-frame last-drawn
expect-absent "player exited"
expect-running
