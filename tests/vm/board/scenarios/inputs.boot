# A board whose touchscreen is not event0: a power key and a keyboard were
# registered first. The player plays on the touchscreen from the first
# touch; unplugged while a keyboard is plugged in, it comes back under
# another number and the next touch plays again. The board check names
# the player's touchscreen and finds nothing wrong with it, and says the
# player runs as its own user.
boot frames vm_inputs=powerkey,keyboard,touch
expect-log "frame-player-run: player started"
expect-open /dev/input/event0
down 512 300
expect-line position 400 240
expect-line drawn 1152000
up
expect-line position 400 240
shell frame-player-check >/tmp/check; grep -q '^ok   touch: the player.s /dev/input/event0 is /dev/input/event2 "vm-touch"$' /tmp/check
expect-output "" grep -e '^FAIL touch' -e '^warn touch' /tmp/check
shell grep -q '^ok   player: frame-player is running (pid [0-9]*) as frame-player (uid [0-9]*), started by the init script' /tmp/check

close-touch
expect-line touch-lost No such device
add-input keyboard
open-touch
expect-line touch-back
down 512 300
expect-line position 400 240
wait-count drawn +2
up
expect-line position 400 240
shell frame-player-check >/tmp/check; grep -q '^ok   touch: the player.s /dev/input/event0 is /dev/input/event3 "vm-touch"$' /tmp/check
expect-output "" grep -e '^FAIL touch' -e '^warn touch' /tmp/check

# The touchscreen goes first and the keyboard comes back first, into the
# touchscreen's old number.
close-touch
expect-line touch-lost No such device
remove-input keyboard
add-input keyboard
open-touch
expect-line touch-back
down 512 300
expect-line position 400 240
wait-count drawn +2
up
expect-line position 400 240

# The keyboard goes first and comes back last.
remove-input keyboard
close-touch
expect-line touch-lost No such device
open-touch
add-input keyboard
expect-line touch-back
down 512 300
expect-line position 400 240
wait-count drawn +2
up
expect-line position 400 240
shell frame-player-check >/tmp/check; grep -q '^ok   touch: the player.s /dev/input/event0 is /dev/input/event[0-9]* "vm-touch"$' /tmp/check
expect-output "" grep -e '^FAIL touch' -e '^warn touch' /tmp/check
expect-running
