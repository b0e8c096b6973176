"""What the QEMU guests' tests share (vm-test.py, board/boot-test.py): a
QEMU run with its QMP socket, console and touch channel, and the screen as
`frame-gen identify` names it. The player's lines by name, and what the
touch scripts mean, are the step interpreter's (tests/steps)."""

import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no bytecode cache in the source tree
REPO = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(REPO, "tests", "steps"))
from steps import FRAMES, CheckFailed, check, kind, player_lines  # noqa

SKIP = 77

# The board-like machine for each architecture: its QEMU, core and screen,
# its serial console, the kernel parameters that keep event0 free for the
# touchscreen (no power button or PC keyboard), and how virtio devices
# attach to it.
MACHINES = {
    "x86_64": {"qemu": "qemu-system-x86_64", "serial": "ttyS0",
               "args": ["-device", "VGA,xres=800,yres=480"],
               "append": "i8042.nokbd i8042.noaux", "virtio": "pci"},
    "armhf": {"qemu": "qemu-system-arm", "serial": "ttyAMA0",
              "args": ["-cpu", "cortex-a15",
                       "-global", "virtio-mmio.force-legacy=false",
                       "-device", "virtio-gpu-device,xres=800,yres=480"],
              "append": "initcall_blacklist=gpio_keys_init",
              "virtio": "device"},
}
# The 64-bit boards: the same machine with a 64-bit core.
MACHINES["arm64"] = dict(
    MACHINES["armhf"], qemu="qemu-system-aarch64",
    args=["cortex-a53" if a == "cortex-a15" else a
          for a in MACHINES["armhf"]["args"]])


def connect(path, deadline):
    while True:
        try:
            sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            sock.connect(path)
            return sock
        except OSError:
            sock.close()
            if time.monotonic() > deadline:
                raise
            time.sleep(0.05)


def read_lines(path):
    """The complete lines of a file so far."""
    try:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8", errors="replace")
    except FileNotFoundError:
        return []
    return [line.rstrip("\r") for line in text.split("\n")[:-1]]


def find_line(lines, start, matches):
    for index in range(start, len(lines)):
        if matches(lines[index]):
            return index
    return None


def count(lines, wanted):
    """How many of `lines` are `wanted`, a text or a test of a line."""
    matches = wanted if callable(wanted) else (lambda l: l == wanted)
    return sum(1 for line in lines if matches(line))


# ---- the guest

def arguments(machines, scenarios=None):
    """ARCH SCENARIO --frame-gen PATH, as both drivers take them."""
    parser = argparse.ArgumentParser()
    parser.add_argument("arch", choices=machines)
    parser.add_argument("scenario", choices=scenarios)
    parser.add_argument("--frame-gen", required=True)
    return parser.parse_args()


def qemu_missing(arch):
    """Says so when this machine lacks the guest's QEMU (the test skips)."""
    qemu = MACHINES[arch]["qemu"]
    if shutil.which(qemu) is not None:
        return False
    print("SKIP: %s is not installed" % qemu)
    return True


def fresh_run_dir(name):
    """An empty folder in build/vm/runs for one run's logs and screen
    dumps."""
    workdir = os.path.join(REPO, "build", "vm", "runs", name)
    shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(workdir)
    return workdir


class Guest:
    """One QEMU run of the kernel in `images`. `console` is the file of
    the guest's console, where the touch helper acknowledges; `player_log`
    that of the player's lines."""

    def __init__(self, workdir, frame_gen, timeout, images, console,
                 player_log):
        self.workdir, self.frame_gen, self.timeout = workdir, frame_gen, timeout
        self.images, self.console, self.player_log = images, console, player_log
        self.line_times = []  # when each of the player's lines was seen

    def socket(self, name):
        """A fresh path for QEMU's socket NAME in the run's folder."""
        path = os.path.join(self.workdir, name + ".sock")
        if os.path.exists(path):
            os.unlink(path)
        return path

    def launch(self, machine, memory, initrd, append, args):
        """Starts QEMU with the machine's devices and `args`, and QMP."""
        qmp = self.socket("qmp")
        self.started = time.monotonic()
        self.qemu = subprocess.Popen(
            [machine["qemu"], "-accel", "tcg", "-m", memory, "-nodefaults",
             "-no-user-config", "-display", "none", "-no-reboot",
             "-kernel", os.path.join(self.images, "kernel"),
             "-initrd", os.path.join(self.images, initrd), "-append", append,
             "-qmp", "unix:%s,server=on,wait=off" % qmp]
            + machine["args"] + args, stdin=subprocess.DEVNULL)
        self.qmp = connect(qmp, self.started + 10).makefile("rw")
        self.qmp_call("qmp_capabilities")

    def qmp_call(self, command, **arguments):
        self.qmp.write(json.dumps({"execute": command,
                                   "arguments": arguments}) + "\n")
        self.qmp.flush()
        while True:
            reply = json.loads(self.qmp.readline())
            if "return" in reply or "error" in reply:
                check("error" not in reply, "QMP %s: %s" % (command, reply))
                return reply["return"]

    def console_lines(self):
        return read_lines(self.console)

    def lines(self):
        """The player's lines so far."""
        lines = read_lines(self.player_log)
        now = time.monotonic()
        self.line_times += [now] * (len(lines) - len(self.line_times))
        return lines

    def wait_for(self, condition, what, timeout=None):
        """Polls `condition` until it gives a result that is not None."""
        deadline = time.monotonic() + (timeout or self.timeout)
        while True:
            result = condition()
            if result is not None:
                return result
            check(time.monotonic() < deadline and self.qemu.poll() is None,
                  what)
            time.sleep(0.05)

    def wait_line(self, wanted, after=0, timeout=None, source=None,
                  what=None):
        """Index of the first of the player's lines (or `source`'s) after
        `after` that is `wanted`, a text or a test of a line."""
        matches = wanted if callable(wanted) else (lambda l: l == wanted)
        return self.wait_for(lambda: find_line((source or self.lines)(), after,
                                               matches),
                             what or "no line %r" % wanted, timeout)

    def settle(self, quiet_for=1.0):
        """The player's lines once they have stayed the same for
        `quiet_for` s."""
        last, since = self.lines(), time.monotonic()
        while time.monotonic() - since < quiet_for:
            time.sleep(0.05)
            now = self.lines()
            if now != last:
                last, since = now, time.monotonic()
        return last

    def touch(self, command):
        """Sends a command to the touch helper and waits until it is done;
        returns the number of the player's lines from before."""
        before, acked = len(self.lines()), len(self.console_lines())
        self.touch_channel.sendall((command + "\n").encode())
        # A shell's prompt may stand before the helper's line.
        self.wait_line(lambda l: l.endswith("touch: " + command), acked,
                       source=self.console_lines,
                       what="the touch helper did not do %r" % command)
        return before

    def screen(self, name):
        """Dumps the screen to NAME.ppm: its path."""
        path = os.path.join(self.workdir, name + ".ppm")
        self.qmp_call("screendump", filename=path)
        return path

    def expect_screen(self, wanted, name):
        """The screen shows `wanted` (or what it gives, when a function):
        a frame number, "blank", "unknown", or "none" (not a frame).
        Updates land a few tens of milliseconds late: retries."""
        for _ in range(30):
            expected = wanted() if callable(wanted) else wanted
            path = self.screen(name)
            shown = subprocess.run([self.frame_gen, "identify", path],
                                   capture_output=True, text=True).stdout.strip()
            if shown == expected or (expected == "none" and not shown.isdigit()):
                return
            time.sleep(0.1)
        failed = os.path.join(self.workdir, "failed-%s.ppm" % name)
        os.replace(path, failed)
        check(False, "screen shows %s, not %s (see %s)"
              % (shown, expected, failed))

    def close(self):
        if self.qemu.poll() is None:
            self.qemu.kill()
            self.qemu.wait()
        self.elapsed = time.monotonic() - self.started
