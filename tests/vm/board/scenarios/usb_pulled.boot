# The disk is pulled out while the screen is held: the player goes on,
# prints a failure line for every frame it cannot open, and the screen
# keeps the last whole frame, with no kernel message over it. The disk
# plugged back in is mounted again, and the next touch plays. Then the
# same with the touchscreen. The disk itself was never written: the run's
# copy is the original, byte for byte.
boot
expect-log "frame-player-run: player started"
expect-open /dev/input/event0
down 512 300
expect-line position 400 240
wait-count drawn 4
pull
expect-log "frame-player-udisk: /dev/sda1 removed; unmounted /mnt/udisk"
wait-count open-failed +20
up
expect-line position 400 240
settle 1000
expect-frame last-drawn
snap pulled
expect-absent "player exited"
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
expect-absent "player exited"
expect-running

# The touchscreen comes and goes too: unplugged while held, its node goes;
# plugged back, mdev makes it again (with its rule's mode) and it plays.
down 512 300
wait-count drawn +3
close-touch
expect-line touch-lost No such device
expect-output gone test -e /dev/input/event0 || echo gone
open-touch
expect-line touch-back
expect-output 660 stat -c %a /dev/input/event0
down 100 100
expect-line position 78 80
wait-count drawn +3
up
settle 1000
expect-frame last-drawn
expect-count touch-lost 1

expect-disk-unchanged
