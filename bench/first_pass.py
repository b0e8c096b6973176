#!/usr/bin/python3
"""The first pass from a USB disk, on a board with too little memory to
keep the frames: how much of the disk's speed the player gets.

Boots the boot tests' BusyBox board (tests/vm/board, through their driver's
Guest and Scenario) with 128 MB of memory, less than the 82 frames' 94 MB,
so that every pass reads every frame from the disk. The player is the one
the README's commands install, started by its init script. QEMU's block
throttling caps the USB disk's reads; a touch is held for two passes, and
the guest's own counters give the figures: its clock, the sectors the disk
delivered (/sys/block/sda/stat) and the player's drawn lines.

usage: first_pass.py ARCH --frame-gen PATH [BYTES-PER-SECOND]
Run through bench/first-pass, which builds the images first. The last line
is "first pass: N % of the disk's bandwidth (F frames/s)".
"""

import argparse
import collections
import importlib.util
import os
import sys

HERE = os.path.dirname(os.path.realpath(__file__))
sys.dont_write_bytecode = True  # no cache of the shared drivers in the tree
_spec = importlib.util.spec_from_file_location(
    "boot_test", os.path.join(HERE, "..", "tests", "vm", "board",
                              "boot-test.py"))
boot_test = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(boot_test)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "vm"))
import guest as vm  # noqa: E402  (the module boot-test.py shares)
DRAWN = vm.player_lines.prefix("drawn")  # the drawn lines start so

# The boot tests' board with the memory of a small one.
BOARD = "busybox-128m"
boot_test.INITS[BOARD] = dict(boot_test.INITS["busybox"], memory="128")

FRAME_BYTES = 1152054  # one 800 x 480 frame file
PASSES = 2
# 288 ms of disk per frame: about ten times what the guest needs for a
# frame when the disk is not capped (measured by the first pass below).
DEFAULT_CAP = 4000000
USER_HZ = 100  # the unit of the process times in /proc/PID/stat
LOG = "/var/log/frame-player.log"

Sample = collections.namedtuple("Sample", "seconds sectors frames cpu_ticks")


class Board:
    """The booted board, seen through its serial shell and QMP."""

    def __init__(self, arch, frame_gen, workdir):
        self.scenario = boot_test.Scenario(arch, frame_gen, workdir)
        self.guest = None

    def boot(self):
        try:
            self.scenario.step_boot(BOARD)
        finally:
            self.guest = self.scenario.guest
        self.scenario.step_expect_log("S99frame-player: player started")
        self.scenario.step_expect_open("/dev/input/event0")

    def shell(self, command, timeout=boot_test.TIMEOUT):
        status, output = self.guest.shell(command, timeout)
        vm.check(status == 0, "%s: status %d: %s"
                      % (command, status, output))
        return output

    def cap_disk(self, bytes_per_second):
        """Caps the frame disk's reads (0: no cap)."""
        disk = [block["qdev"] for block in self.guest.qmp_call("query-block")
                if block.get("inserted", {}).get("node-name") == "frames"]
        vm.check(len(disk) == 1, "no frame disk among the drives")
        self.guest.qmp_call("block_set_io_throttle", id=disk[0],
                            bps=0, bps_rd=bytes_per_second, bps_wr=0,
                            iops=0, iops_rd=0, iops_wr=0)

    def forget_frames(self):
        """Nothing read so far is in memory any more."""
        self.shell("sync; echo 3 >/proc/sys/vm/drop_caches")

    def sample(self, frames, timeout):
        """The guest's counters once `frames` frames have been drawn."""
        output = self.shell(
            "while [ $(grep -c '^%s' %s) -lt %d ]; do sleep 0.05; done; "
            "cut -d' ' -f1 /proc/uptime; awk '{print $3}' /sys/block/sda/stat; "
            "grep -c '^%s' %s; cut -d' ' -f14,15 /proc/%s/stat"
            % (DRAWN, LOG, frames, DRAWN, LOG, self.guest.init["pid"]),
            timeout).split("\n")
        return Sample(float(output[0]), int(output[1]), int(output[2]),
                      sum(int(t) for t in output[3].split()))

    def play(self, frames, seconds_per_frame):
        """Holds a touch for `frames` frames after the first two (so that
        the start of playback is not counted); the counters at both ends."""
        drawn = self.sample(0, boot_test.TIMEOUT).frames
        self.scenario.step_down(512, 300)
        timeout = 60 + 3 * frames * seconds_per_frame
        first = self.sample(drawn + 2, timeout)
        last = self.sample(first.frames + frames, timeout)
        self.scenario.step_up()
        self.scenario.step_settle(1000)
        return first, last

    def read_seconds(self, pause):
        """Seconds to read 8 MiB from the disk in 1 MiB pieces, with
        `pause` seconds after each."""
        self.forget_frames()
        before, after = self.shell(
            "cut -d' ' -f1 /proc/uptime; for i in 0 1 2 3 4 5 6 7; do "
            "dd if=/dev/sda of=/dev/null bs=1048576 count=1 skip=$((i + 8)) "
            "2>/dev/null; sleep %s; done; cut -d' ' -f1 /proc/uptime"
            % pause, 120).split("\n")
        return float(after) - float(before)


def figures(first, last):
    seconds = last.seconds - first.seconds
    frames = last.frames - first.frames
    disk_bytes = (last.sectors - first.sectors) * 512
    return {"seconds": seconds, "frames": frames, "fps": frames / seconds,
            "bytes": disk_bytes, "per_frame": disk_bytes / frames / FRAME_BYTES,
            "cpu_ms": (last.cpu_ticks - first.cpu_ticks) * 1000 / USER_HZ
            / frames}


def measure(board, cap):
    frame_seconds = FRAME_BYTES / cap
    print("== first pass: %s MB of memory, the USB disk capped at %d bytes/s "
          "(%.0f ms per frame)" % (boot_test.INITS[BOARD]["memory"], cap,
                                   frame_seconds * 1000), flush=True)
    board.cap_disk(0)
    board.forget_frames()
    own = figures(*board.play(vm.FRAMES, 0.1))
    print("not capped: %(frames)d frames in %(seconds).2f s, %(fps).1f frames/s;"
          " the player's CPU %(cpu_ms).1f ms a frame" % own, flush=True)

    board.cap_disk(cap)
    board.forget_frames()
    capped = figures(*board.play(PASSES * vm.FRAMES, frame_seconds))
    share = capped["bytes"] / capped["seconds"] / cap * 100
    print("capped: %(frames)d frames in %(seconds).2f s, %(fps).3f frames/s;"
          " %(bytes)d bytes from the disk (%(per_frame).3f frame files a"
          " frame); the player's CPU %(cpu_ms).1f ms a frame" % capped)
    print("the capped disk takes %.1f times the player's CPU time per frame"
          " and %.1f times a whole frame when not capped"
          % (frame_seconds * 1000 / capped["cpu_ms"],
             frame_seconds * own["fps"]))

    # The throttle lets a reader that paused catch up on up to 0.1 s of
    # the cap: pauses shorter than that cost this disk nothing.
    steady, paused = board.read_seconds(0), board.read_seconds(0.03)
    print("8 MiB in 1 MiB reads: %.2f s; with a 30 ms pause after each "
          "read: %.2f s (a disk that cannot catch up: %.2f s)"
          % (steady, paused, steady + 8 * 0.03))
    print("first pass: %.1f %% of the disk's bandwidth (%.2f frames/s)"
          % (share, capped["fps"]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("arch", choices=["armhf"])
    parser.add_argument("cap", nargs="?", type=int, default=DEFAULT_CAP)
    parser.add_argument("--frame-gen", required=True)
    args = parser.parse_args()
    if vm.qemu_missing(args.arch):
        return 1
    workdir = vm.fresh_run_dir("first-pass-" + args.arch)
    board = Board(args.arch, args.frame_gen, workdir)
    try:
        board.boot()
        measure(board, args.cap)
    except vm.CheckFailed as failure:
        print("first-pass: %s (console and log in %s)" % (failure, workdir),
              file=sys.stderr)
        return 1
    finally:
        if board.guest is not None:
            board.guest.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
