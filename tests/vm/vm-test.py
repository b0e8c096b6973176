#!/usr/bin/python3
"""Runs the unmodified static player in a QEMU guest on a real kernel: a real
framebuffer driver for /dev/fb0 and a uinput touchscreen as event0. Touches
go from the host to the guest's touch helper; the player's lines are read
from the guest console and the screen is captured by QEMU itself.

usage: vm-test.py ARCH SCENARIO --frame-gen PATH
  ARCH      x86_64, armhf or arm64
  SCENARIO  playback, unplug, no_frames, late_touch, or the board check's
            (check_scenarios.py)
Exits 0 when every check holds, 1 on a failed check, 77 when QEMU is missing.
"""

import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import time

# The scenarios beside this file, also when another driver loads it; no
# bytecode cache in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))
import check_scenarios  # noqa: E402

REPO = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
FRAME_COUNT = 82
SIZE_LINE = "图像宽度：800 , 高度：480 "
RET_LINE = "ret = 1152000"
SKIP = 77

# The board-like machine for each architecture: where its console is, how
# the touch channel reaches the guest, and what keeps event0 free for the
# touchscreen.
MACHINES = {
    "x86_64": {
        "qemu": "qemu-system-x86_64",
        "args": ["-device", "VGA,xres=800,yres=480",
                 "-serial", "unix:{touch},server=on,wait=off"],
        "append": "console=ttyS0 i8042.nokbd i8042.noaux",
        "timeout": 60,
    },
    "armhf": {
        "qemu": "qemu-system-arm",
        "args": ["-M", "virt", "-cpu", "cortex-a15",
                 "-global", "virtio-mmio.force-legacy=false",
                 "-device", "virtio-gpu-device,xres=800,yres=480",
                 "-device", "virtio-serial-device",
                 "-chardev", "socket,id=touch,path={touch},server=on,wait=off",
                 "-device", "virtconsole,chardev=touch"],
        "append": "console=ttyAMA0 initcall_blacklist=gpio_keys_init",
        "timeout": 120,
    },
}
# The 64-bit boards: the same machine with a 64-bit core.
MACHINES["arm64"] = dict(
    MACHINES["armhf"], qemu="qemu-system-aarch64",
    args=["cortex-a53" if a == "cortex-a15" else a
          for a in MACHINES["armhf"]["args"]])


# Common kernel parameters: no blinking console cursor on the picture, a
# quiet console for the player's lines, and no reboot on a dying init.
APPEND = " vt.global_cursor_default=0 quiet loglevel=3 panic=-1"


class CheckFailed(Exception):
    pass


def check(condition, message):
    if not condition:
        raise CheckFailed(message)


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


class Guest:
    """One QEMU run: console file, QMP socket and touch channel."""

    def __init__(self, arch, initrd, workdir, frame_gen, append=""):
        machine = MACHINES[arch]
        self.workdir = workdir
        self.frame_gen = frame_gen
        self.timeout = machine["timeout"]
        self.console = os.path.join(workdir, "console.log")
        touch = os.path.join(workdir, "touch.sock")
        qmp = os.path.join(workdir, "qmp.sock")
        images = os.path.join(REPO, "build", "vm", "images", arch)
        args = [machine["qemu"], "-accel", "tcg", "-m", "512", "-nodefaults",
                "-no-user-config", "-display", "none", "-no-reboot",
                "-kernel", os.path.join(images, "kernel"),
                "-initrd", os.path.join(images, initrd),
                "-append", machine["append"] + APPEND + append,
                "-serial", "file:" + self.console,
                "-qmp", "unix:%s,server=on,wait=off" % qmp]
        args += [a.format(touch=touch) for a in machine["args"]]
        self.started = time.monotonic()
        self.qemu = subprocess.Popen(args, stdin=subprocess.DEVNULL)
        deadline = self.started + 10
        self.qmp = connect(qmp, deadline).makefile("rw")
        self.qmp_call("qmp_capabilities")
        self.touch_channel = connect(touch, deadline)

    def qmp_call(self, command, **arguments):
        self.qmp.write(json.dumps({"execute": command,
                                   "arguments": arguments}) + "\n")
        self.qmp.flush()
        while True:
            reply = json.loads(self.qmp.readline())
            if "return" in reply or "error" in reply:
                check("error" not in reply, "QMP %s: %s" % (command, reply))
                return reply["return"]

    def lines(self):
        """Complete console lines so far."""
        with open(self.console, "rb") as f:
            text = f.read().decode("utf-8", errors="replace")
        return [line.rstrip("\r") for line in text.split("\n")[:-1]]

    def wait_line(self, wanted, after=0, timeout=None):
        """Index of the first line after `after` equal to `wanted`."""
        deadline = time.monotonic() + (timeout or self.timeout)
        while True:
            lines = self.lines()
            for index in range(after, len(lines)):
                if lines[index] == wanted:
                    return index
            check(time.monotonic() < deadline and self.qemu.poll() is None,
                  "no line %r on the console" % wanted)
            time.sleep(0.05)

    def settle(self, quiet_for=1.0):
        """Lines once the console has stayed quiet for `quiet_for` s."""
        last = self.lines()
        quiet_since = time.monotonic()
        while time.monotonic() - quiet_since < quiet_for:
            time.sleep(0.1)
            now = self.lines()
            if now != last:
                last, quiet_since = now, time.monotonic()
        return last

    def touch(self, command):
        """Sends a command to the helper and waits until it is done; returns
        the console position from before, where the player's answer may
        already follow."""
        before = len(self.lines())
        self.touch_channel.sendall((command + "\n").encode())
        self.wait_line("touch: " + command, before)
        return before

    def screen(self, name):
        """What the screen shows: a frame number, "blank" or "unknown"."""
        path = os.path.join(self.workdir, name + ".ppm")
        self.qmp_call("screendump", filename=path)
        shown = subprocess.run([self.frame_gen, "identify", path],
                               capture_output=True, text=True)
        return shown.stdout.strip()

    def expect_screen(self, wanted, name):
        """The screen shows `wanted`; updates may land a little late."""
        for _ in range(30):
            shown = self.screen(name)
            if shown == wanted:
                return
            time.sleep(0.1)
        check(False, "screen shows %s, expected %s (see %s.ppm)"
              % (shown, wanted, name))

    def finish(self):
        """Ends the helper; init then reports whether the player lives."""
        after = len(self.lines())
        self.touch_channel.sendall(b"quit\n")
        index = self.wait_line("guest: player alive", after, timeout=20)
        self.qemu.wait(timeout=20)
        return index

    def close(self):
        if self.qemu.poll() is None:
            self.qemu.kill()
            self.qemu.wait()
        self.elapsed = time.monotonic() - self.started


def count(lines, wanted):
    return sum(1 for line in lines if line == wanted)


def frame_lines(lines):
    """Size and "ret = " lines: all must be those of a whole 800x480 frame."""
    sizes = [l for l in lines if l.startswith("图像宽度")]
    rets = [l for l in lines if l.startswith("ret = ")]
    check(all(l == SIZE_LINE for l in sizes), "odd size line in %s" % sizes)
    check(all(l == RET_LINE for l in rets), "odd ret line in %s" % rets)
    check(len(sizes) == len(rets), "%d size lines but %d ret lines"
          % (len(sizes), len(rets)))
    return len(rets)


def number_after(drawn):
    """Frame number shown after `drawn` frames: 1..81, then 0, 1, ..."""
    return str(drawn % FRAME_COUNT)


def start(guest):
    """Checks the guest's devices and waits until the player is ready."""
    ready = guest.wait_line("guest: player ready")
    lines = guest.lines()
    check("guest: fb0 800,480 bpp 32" in lines, "framebuffer not 800x480x32")
    check("guest: event0 is vm-touch" in lines, "event0 is not the helper")
    return ready


def press(guest, x, y, hold):
    """Touch at raw (x, y), hold, release; returns the console lines after."""
    pixel = "get_xy:(%d,%d)" % (x * 800 // 1024, y * 480 // 600)
    down = guest.touch("down %d %d" % (x, y))
    guest.wait_line(pixel, down)
    time.sleep(hold)
    up = guest.touch("up")
    released = guest.wait_line(pixel, up)
    lines = guest.settle()
    # The loop checks the flag once per frame: at most the frame it had
    # already begun may start after the release.
    started_late = [l for l in lines[released:] if l.startswith("图像宽度")]
    check(len(started_late) <= 1, "playback went on after the release")
    return lines


def scenario_playback(guest):
    ready = start(guest)
    guest.expect_screen("blank", "before-touch")
    check(frame_lines(guest.lines()) == 0, "frames drawn before any touch")

    first = frame_lines(press(guest, 512, 300, hold=1.0))
    check(first >= 1, "no frame drawn while held")
    guest.expect_screen(number_after(first), "after-first-touch")

    lines = press(guest, 100, 50, hold=1.0)
    total = frame_lines(lines)
    check(total > first, "no frame drawn on the second touch")
    # Had the second touch started again from 1, it would show total - first.
    guest.expect_screen(number_after(total), "after-second-touch")
    guest.qmp_call("screendump", format="png",
                   filename=os.path.join(guest.workdir, "screen.png"))
    check(count(lines[ready:], "open failed !") == 0, "a frame failed to open")
    guest.finish()
    return "%d then %d frames, screen shows %s" % (first, total - first,
                                                   number_after(total))


def plug_touchscreen(guest, drawn, reported, name):
    """The helper creates the touchscreen; once the player says it opened
    it, a touch plays on after the `drawn` frames so far. The line
    `reported`, which told why it was missing, came only once. Returns the
    frames drawn."""
    guest.wait_line("open event 0 ok", guest.touch("create"))
    lines = press(guest, 100, 50, hold=0.5)
    total = frame_lines(lines)
    check(total > drawn, "no frame drawn once the touchscreen was there")
    guest.expect_screen(number_after(total), name)
    check(count(lines, reported) == 1, "%r printed more than once" % reported)
    return total


def scenario_unplug(guest):
    start(guest)
    down = guest.touch("down 700 500")
    guest.wait_line("get_xy:(546,400)", down)
    time.sleep(0.5)
    unplugged = guest.touch("destroy")
    error = guest.wait_line("read event 0 error: No such device", unplugged)
    lines = guest.settle()
    drawn = frame_lines(lines)
    check(drawn >= 1, "no frame drawn before the unplug")
    check(len([l for l in lines[error:] if l.startswith("图像宽度")]) <= 1,
          "playback went on without the touchscreen")
    guest.expect_screen(number_after(drawn), "after-unplug")
    time.sleep(1.0)
    check(frame_lines(guest.lines()) == drawn, "frames drawn after unplug")
    # Removing a device makes the input core release its keys first, but
    # a reader that wakes late sees only the error: report which it was.
    released = count(lines[down:error], "get_xy:(546,400)") == 2

    # Plugged in again: the player opens the new device and plays on.
    total = plug_touchscreen(guest, drawn, "read event 0 error: No such device",
                             "after-replug")
    guest.finish()
    return "%d frames, stopped on %s, %s; back, %d more" % (
        drawn, number_after(drawn),
        "release then error" if released else "error without release",
        total - drawn)


def scenario_late_touch(guest):
    """The touchscreen appears ten seconds after the player started, as a
    USB controller that enumerates late or a driver loaded late."""
    guest.wait_line("guest: player started without a touchscreen")
    started = time.monotonic()
    guest.wait_line("open event 0 error: No such file or directory")
    time.sleep(10)
    check(frame_lines(guest.lines()) == 0, "frames drawn without a touch")
    late = time.monotonic() - started
    drawn = plug_touchscreen(
        guest, 0, "open event 0 error: No such file or directory",
        "after-late-touch")
    guest.finish()
    return "%d frames on a touchscreen made %.1f s after the player" % (
        drawn, late)


def scenario_no_frames(guest):
    ready = start(guest)
    lines = press(guest, 512, 300, hold=0.5)
    failures = count(lines[ready:], "open failed !")
    check(failures >= 1, "no \"open failed !\" while held")
    check(frame_lines(lines) == 0, "a frame was drawn without frame files")
    time.sleep(0.5)
    check(count(guest.lines()[ready:], "open failed !") == failures,
          "frames still attempted after the release")
    guest.expect_screen("blank", "no-frames")
    guest.finish()
    return "%d failed opens while held" % failures


SCENARIOS = {
    "playback": (scenario_playback, "initrd-frames"),
    "unplug": (scenario_unplug, "initrd-frames"),
    "no_frames": (scenario_no_frames, "initrd"),
    "late_touch": (scenario_late_touch, "initrd-frames", " frame_touch=late"),
}
SCENARIOS.update(check_scenarios.scenarios(check))


def qemu_missing(machine):
    """Says so when this machine lacks the guest's QEMU (the test skips)."""
    if shutil.which(machine["qemu"]) is not None:
        return False
    print("SKIP: %s is not installed" % machine["qemu"])
    return True


def fresh_run_dir(name):
    """An empty folder in build/vm/runs for one run's console log and
    screen dumps."""
    workdir = os.path.join(REPO, "build", "vm", "runs", name)
    shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(workdir)
    return workdir


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("arch", choices=MACHINES)
    parser.add_argument("scenario", choices=SCENARIOS)
    parser.add_argument("--frame-gen", required=True)
    args = parser.parse_args()
    if qemu_missing(MACHINES[args.arch]):
        return SKIP
    run, initrd, *append = SCENARIOS[args.scenario]
    workdir = fresh_run_dir(args.arch + "-" + args.scenario)
    guest = Guest(args.arch, initrd, workdir, args.frame_gen, *append)
    try:
        summary = run(guest)
        ok = True
    except CheckFailed as failure:
        summary, ok = "FAILED: %s" % failure, False
    finally:
        guest.close()
    if not ok:
        sys.stdout.write("".join(l + "\n" for l in guest.lines()[-40:]))
    print("%s %s: %s (%.1f s)" % (args.arch, args.scenario, summary,
                                  guest.elapsed))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
