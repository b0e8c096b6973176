# Stop ends the supervisor and the player and puts the board back as it
# was: the LCD's terminal in text mode (its text seen over the frame
# again), the console's log level untouched, no device folder, state or
# bind of the disk left. Start brings the player back and touches play;
# a supervisor killed with SIGKILL leaves its changes to the next start
# and stop, which still put everything back.
boot
expect-log "frame-player-run: player started"
expect-open /dev/input/event0
shell frame-player-check | grep -q 'tty1 is in graphics mode'
down 512 300
wait-count drawn 2
up
settle 1000
expect-frame last-drawn

expect-output "Stopping frame-player: OK" /etc/init.d/S99frame-player stop
expect-log "frame-player-run: stopped"
expect-output "frame-player is stopped" /etc/init.d/S99frame-player status
expect-output "" pidof frame-player
expect-output utmp ls /var/run
expect-output "" ls /dev | grep frame-player
expect-output 1 grep -c ' /mnt/udisk ' /proc/self/mountinfo
expect-output 7 cut -f1 /proc/sys/kernel/printk
shell frame-player-check | grep -q 'tty1 is in text mode'
expect-frame unknown

expect-output "Starting frame-player: OK" /etc/init.d/S99frame-player start
expect-log "frame-player-run: player started"
expect-open /dev/input/event0
# Elsewhere than before: the kernel passes on only positions that change,
# and the new player has seen none yet.
down 200 100
expect-line position 156 80
wait-count drawn +2
up
settle 1000
expect-frame last-drawn

shell kill -KILL $(cat /var/run/frame-player.pid)
shell until [ -z "$(pidof frame-player)" ]; do sleep 0.1; done
expect-output "frame-player is dead, but /var/run/frame-player.pid is left" /etc/init.d/S99frame-player status
expect-output "Starting frame-player: OK" /etc/init.d/S99frame-player start
expect-open /dev/input/event0
down 512 300
wait-count drawn +2
up
expect-output "Stopping frame-player: OK" /etc/init.d/S99frame-player stop
expect-output utmp ls /var/run
expect-output "" ls /dev | grep frame-player
expect-output 1 grep -c ' /mnt/udisk ' /proc/self/mountinfo
shell frame-player-check | grep -q 'tty1 is in text mode'
