# A systemd board whose display driver registers its screen only after the
# player's units started, as ARM display drivers waiting for their panel
# do: until then the player cannot start (its unit tries again every 2 s);
# once the screen is there the device keeper gives it to the player, which
# plays.
boot systemd frames modprobe.blacklist=bochs
expect-output active systemctl is-active frame-player-devices
wait 3000
expect-output "" ls /dev/frame-player | grep fb0
shell modprobe bochs
expect-open /dev/input/event0
down 512 300
expect-line size 800 480
expect-line drawn 1152000
wait-count drawn 3
up
settle 1000
expect-frame last-drawn
expect-running
