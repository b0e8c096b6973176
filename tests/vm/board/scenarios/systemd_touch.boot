# The first boot on a systemd board: the disk mounted read-only by the udev
# rule's unit, the player's unit enabled by its Debian package. Before
# the first touch nothing is drawn; after the release the screen shows
# exactly the frame the journal's count names, with no cursor, console
# text or blanking over it, past the console's blanking interval and while
# text goes to the LCD's terminal and the kernel logs an error, at the
# board's own console log level. The
# unit's sandbox leaves the player little of the system.
boot systemd frames consoleblank=10
expect-log "Started frame-player.service"
expect-output active systemctl is-active frame-player
# The disk's unit mounts it while the player starts.
shell until findmnt /mnt/udisk >/dev/null; do sleep 0.2; done
expect-output "/dev/sda1 vfat ro,nosuid,nodev,noexec,noatime,nosymfollow" findmnt --noheadings --raw --output SOURCE,FSTYPE,VFS-OPTIONS /mnt/udisk
expect-open /dev/input/event0
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
expect-output "frame-player-check: 0 FAIL, 0 warn, 12 ok" frame-player-check | grep -v -e "^ok " -e "^     "
# How much of the system the player's unit can reach (0 safe, 10 unsafe).
expect-at-most 2.0 systemd-analyze security frame-player.service | awk '/Overall exposure level/ { print $(NF - 2) }'
expect-running

# The package comes off as it went on: purged, the player stops and
# nothing of the package is left in the root.
shell dpkg -L frame-player >/tmp/package-files && dpkg --purge frame-player
expect-output inactive systemctl is-active frame-player
expect-output "" /usr/lib/board-test/package-leftovers /tmp/package-files
