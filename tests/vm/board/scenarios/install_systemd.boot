# The owner's install from the PC on a Debian board with systemd that
# keeps its root on a disk, where root may not log in and the user has
# sudo: tools/install-board builds the package, installs it with dpkg and
# checks the board. The player then plays (the systemd boards show that
# the package starts it at boot); a second run changes nothing on the
# root, and --uninstall purges the package and leaves the root as it was
# before the install. A unit that an earlier board tarball install left in
# /etc would shadow the package's: the install takes it away.
boot systemd-disk frames
expect-output "" pidof frame-player
root-snapshot before
shell printf '[Service]\nExecStart=/bin/true\n' >/etc/systemd/system/frame-player.service
install
expect-installed "install.sh: removing /etc/systemd/system/frame-player.service: the package brings its own"
expect-output "" ls /etc/systemd/system | grep frame-player
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
