# A DRM screen at 16 bits per pixel: the Cirrus display's driver, like
# some boards' own, gives its emulated framebuffer 16 bits and cannot
# switch it, so the player cannot map it, and the board check names the
# fix with this board's display output. Booted again with that fix on the
# kernel command line, the player plays.
boot frames vm_screens=cirrus video=VGA-1:800x480
# The DRM driver's framebuffer may come after the shell.
shell until [ -e /sys/class/graphics/fb0 ]; do sleep 0.2; done
expect-output 16 cat /sys/class/graphics/fb0/bits_per_pixel
shell frame-player-check >/tmp/check; grep -qF 'add video=VGA-1:800x480M-32 to the kernel command line' /tmp/check

boot frames vm_screens=cirrus video=VGA-1:800x480M-32
shell until [ -e /sys/class/graphics/fb0 ]; do sleep 0.2; done
expect-output 32 cat /sys/class/graphics/fb0/bits_per_pixel
expect-log "frame-player-run: player started"
down 512 300
expect-line position 400 240
expect-line drawn 1152000
up
expect-line position 400 240
settle 1000
expect-frame last-drawn
