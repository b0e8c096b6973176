# A board whose LCD is fb1: a virtual framebuffer (vfb, 640 × 480) was
# registered first and took fb0. The board check names the LCD as the
# player's screen, and the player plays on it.
boot frames vm_screens=vfb,lcd
expect-log "frame-player-run: player started"
expect-output 640,480 cat /sys/class/graphics/fb0/virtual_size
shell frame-player-check >/tmp/check; grep -q '^ok   screen: the player.s /dev/fb0 is /dev/fb1 "' /tmp/check
expect-output "" grep '^FAIL screen' /tmp/check
down 512 300
expect-line position 400 240
expect-line size 800 480
expect-line drawn 1152000
wait-count drawn 3
up
expect-line position 400 240
settle 1000
expect-frame last-drawn
expect-running
