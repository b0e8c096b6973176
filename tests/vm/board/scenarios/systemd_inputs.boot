# The systemd board whose touchscreen is not event0 (a power key and a
# keyboard first): as on the BusyBox board, the player plays from the
# first touch, and again once the touchscreen, unplugged while a keyboard
# is plugged in, is back under another number. The board check names the
# player's touchscreen and finds nothing wrong with it. A hub that resets
# (touchscreen and keyboard gone and back, the keyboard into the
# touchscreen's old number) and a device keeper killed outright: systemd
# starts the keeper again, and the player plays on.
boot systemd frames vm_inputs=powerkey,keyboard,touch
expect-log "Started frame-player.service"
expect-open /dev/input/event0
down 512 300
expect-line position 400 240
expect-line drawn 1152000
up
expect-line position 400 240
shell frame-player-check >/tmp/check; grep -q '^ok   touch: the player.s /dev/input/event0 is /dev/input/event[0-9]* "vm-touch"$' /tmp/check
expect-output "" grep -e '^FAIL touch' -e '^warn touch' /tmp/check

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
shell frame-player-check >/tmp/check; grep -q '^ok   touch: the player.s /dev/input/event0 is /dev/input/event[0-9]* "vm-touch"$' /tmp/check
expect-output "" grep -e '^FAIL touch' -e '^warn touch' /tmp/check

close-touch
expect-line touch-lost No such device
remove-input keyboard
add-input keyboard
open-touch
expect-line touch-back
down 512 300
wait-count drawn +2
up

shell systemctl kill --signal=KILL frame-player-devices.service
shell until systemctl is-active -q frame-player-devices.service; do sleep 0.2; done
expect-open /dev/input/event0
close-touch
expect-line touch-lost No such device
open-touch
expect-line touch-back
down 200 100
expect-line position 156 80
wait-count drawn +2
up
expect-running
