# The frame disk is plugged in some seconds after boot: the init script
# waits for it before it starts the player, and the first touch after it
# appears plays.
boot none
wait 5000
expect-absent "player started"
plug
# The supervisor sees the mount at once: either line may come first.
expect-log "frame-player-run: player started"
shell grep -q 'frame-player-udisk: mounted /dev/sda1 at /mnt/udisk' /var/log/frame-player.log
expect-absent "starting anyway"
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
