# Stop ends the loop and the player and gives the console back as it was:
# cursor and its blinking, blanking (a whole number of minutes, which the
# console can take back exactly) and the kernel's console log level. Start
# brings the player back, and touches play again.
boot consoleblank=60
expect-log "S99frame-player: player started"
expect-open /dev/input/event0
expect-output 0 cat /sys/module/kernel/parameters/consoleblank
expect-output 0 cat /sys/class/graphics/fbcon/cursor_blink
expect-output 1 cut -f1 /proc/sys/kernel/printk
down 512 300
wait-count drawn 2
up
settle 1000
expect-frame last-drawn

expect-output "frame-player: stopped" /etc/init.d/S99frame-player stop
expect-log "S99frame-player: stopped"
expect-output "frame-player: stopped" /etc/init.d/S99frame-player status
expect-output "" pidof frame-player
expect-output utmp ls /var/run
expect-output 60 cat /sys/module/kernel/parameters/consoleblank
expect-output 1 cat /sys/class/graphics/fbcon/cursor_blink
expect-output 7 cut -f1 /proc/sys/kernel/printk
# The console's cursor blinks over the frame again.
expect-frame unknown

shell /etc/init.d/S99frame-player start
expect-log "S99frame-player: player started"
expect-open /dev/input/event0
expect-output 0 cat /sys/module/kernel/parameters/consoleblank
# Elsewhere than before: the kernel passes on only positions that change,
# and the new player has seen none yet.
down 200 100
expect-line position 156 80
wait-count drawn +2
up
settle 1000
expect-frame last-drawn
expect-running
