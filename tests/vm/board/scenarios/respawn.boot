# The player is killed while it plays: the init script's loop starts it
# again after its respawn delay (2 s) and within 2 s more, the log says
# so, and the next touch plays from frame 1.
boot
expect-log "frame-player-run: player started"
expect-open /dev/input/event0
down 512 300
wait-count drawn 3
kill KILL
expect-log "frame-player-run: player exited with status 137; restarting in 2 s"
# Not before the delay either: no restarts in a storm.
expect-restart 2 4
expect-open /dev/input/event0
expect-running
# The new player never saw the finger's position: its release line has
# the position it starts with.
up
expect-line position 0 0
down 1023 599
expect-line position 799 479
expect-line drawn 1152000
wait-count drawn +2
up
expect-line position 799 479
settle 1000
expect-frame last-drawn
expect-count "frame-player-run: player exited" 0
