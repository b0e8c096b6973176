# The Ansible playbook on a board that keeps its root, with the board as
# its inventory: the BusyBox board (root over dropbear) takes the board
# tarball, the Debian board (a user with sudo) the package. The player
# starts and plays; a second run changes nothing; the state "absent"
# leaves the root as it was before the install.
boot disk-board
expect-output "" pidof frame-player
root-snapshot before
playbook
expect-recap failed=0 unreachable=0
expect-installed "frame-player-check: 0 FAIL"
expect-open /dev/input/event0
expect-frame none
# Elsewhere than the install scenarios' touches, which run before it on
# the same boot: the kernel passes on only the coordinates that change,
# and a player started since has not seen the old ones.
down 256 150
expect-line position 200 120
expect-line drawn 1152000
up
expect-line position 200 120

root-snapshot installed
playbook
expect-recap changed=0 failed=0
expect-root installed
expect-running

playbook -e frame_player_state=absent
expect-recap failed=0
expect-output "" pidof frame-player
expect-root before
