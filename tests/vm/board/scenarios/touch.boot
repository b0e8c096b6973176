# Power on with the frame disk present; the player, started by init, draws
# nothing until the first touch; after the release the screen shows
# exactly the frame the log's count names, with no cursor, console text or
# blanking over it, and stays so past the console's blanking interval and
# while text goes to the LCD's terminal and the kernel logs an error, at
# the board's own console log level.
boot frames consoleblank=10
# The supervisor sees the mount at once: either line may come first.
expect-log "frame-player-run: player started"
shell grep -q 'frame-player-udisk: mounted /dev/sda1 at /mnt/udisk' /var/log/frame-player.log
expect-open /dev/input/event0
expect-absent "after 30 s; starting anyway"
wait 1000
expect-count drawn 0
expect-frame none
snap before-touch

down 512 300
expect-line position 400 240
expect-line size 800 480
expect-line drawn 1152000
wait-count drawn 5
up
expect-line position 400 240
settle 1000
expect-frame last-drawn
snap after-release
expect-same after-release 2000

shell echo "text on the LCD's terminal" >/dev/tty1; echo "<3>board test: an error" >/dev/kmsg
expect-same after-release 2000
expect-output 7 cut -f1 /proc/sys/kernel/printk
# Twice the blanking interval: the LCD stays on and untouched.
wait 20000
expect-same after-release 2000
expect-count open-failed 0
expect-count read-failed 0
# The board check, run as its owner would, finds nothing to fix.
expect-output "frame-player-check: 0 FAIL, 0 warn, 13 ok" frame-player-check | grep -v -e "^ok " -e "^     "
expect-absent "player exited"
expect-running
