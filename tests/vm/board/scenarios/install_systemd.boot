# The owner's install from the PC on a Debian board with systemd that
# keeps its root on a disk, where root may not log in and the user has
# sudo: tools/install-board builds the package, installs it with dpkg and
# checks the board. The player then plays (the systemd boards show that
# the package starts it at boot); a second run changes nothing on the
# root, and --uninstall purges the package and leaves the root as it was
# before the install.
boot systemd-disk frames
expect-output "" pidof frame-player
root-snapshot before
install
expect-log "Started frame-player.service"
expect-installed "frame-player-check: 0 FAIL, 0 warn, 12 ok"

expect-open /dev/input/event0
expect-frame none
down 512 300
expect-line position 400 240
expect-line drawn 1152000
wait-count drawn 3
up
expect-line position 400 240
settle 1000
expect-frame last-drawn

root-snapshot installed
install
expect-installed "frame-player-check: 0 FAIL, 0 warn, 12 ok"
expect-root installed
expect-running

install --uninstall
expect-output "" pidof frame-player
expect-root before
