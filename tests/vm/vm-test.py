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

import os
import sys
import time

sys.dont_write_bytecode = True  # no bytecode cache in the source tree
sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))
import check_scenarios  # noqa: E402
import guest as vm  # noqa: E402
from guest import check, count, kind  # noqa: E402
from player_lines import constant, line, screen_position  # noqa: E402

# A whole frame: the screen's size, three bytes a pixel.
WIDTH, HEIGHT = (constant("show_bmp.h", n) for n in ("lcd_width", "lcd_height"))
SIZE_LINE = line("size", WIDTH, HEIGHT)
DRAWN_LINE = line("drawn", WIDTH * HEIGHT * 3)
IS_SIZE, IS_DRAWN = kind("size"), kind("drawn")

# Common kernel parameters: no blinking console cursor on the picture, a
# quiet console for the player's lines, and no reboot on a dying init.
APPEND = " vt.global_cursor_default=0 quiet loglevel=3 panic=-1"


def touch_channel(machine, path):
    """The touch helper's channel: the PC's second serial port (ttyS1),
    the ARM boards' first virtio console (hvc0)."""
    if machine["virtio"] == "pci":
        return ["-serial", "unix:%s,server=on,wait=off" % path]
    return ["-M", "virt", "-device", "virtio-serial-device",
            "-chardev", "socket,id=touch,path=%s,server=on,wait=off" % path,
            "-device", "virtconsole,chardev=touch"]


def boot(arch, initrd, workdir, frame_gen, append=""):
    """A guest whose console holds both the player's lines and the touch
    helper's."""
    machine = vm.MACHINES[arch]
    console = os.path.join(workdir, "console.log")
    guest = vm.Guest(workdir, frame_gen, 60 if arch == "x86_64" else 120,
                     os.path.join(vm.REPO, "build", "vm", "images", arch),
                     console, console)
    touch = guest.socket("touch")
    guest.launch(machine, "512", initrd, "console=%s %s%s%s" % (
        machine["serial"], machine["append"], APPEND, append),
        ["-serial", "file:" + console] + touch_channel(machine, touch))
    guest.touch_channel = vm.connect(touch, guest.started + 10)
    return guest


def finish(guest):
    """Ends the helper; init then reports whether the player lives."""
    after = len(guest.lines())
    guest.touch_channel.sendall(b"quit\n")
    index = guest.wait_line("guest: player alive", after, timeout=20)
    guest.qemu.wait(timeout=20)
    return index


def frame_lines(lines):
    """Size and drawn lines: all must be those of a whole 800x480 frame."""
    sizes = [l for l in lines if IS_SIZE(l)]
    drawn = [l for l in lines if IS_DRAWN(l)]
    check(all(l == SIZE_LINE for l in sizes), "odd size line in %s" % sizes)
    check(all(l == DRAWN_LINE for l in drawn), "odd drawn line in %s" % drawn)
    check(len(sizes) == len(drawn), "%d size lines but %d drawn lines"
          % (len(sizes), len(drawn)))
    return len(drawn)


def number_after(drawn):
    """Frame number shown after `drawn` frames: 1..81, then 0, 1, ..."""
    return str(drawn % vm.FRAMES)


def start(guest):
    """Checks the guest's devices and waits until the player is ready."""
    ready = guest.wait_line("guest: player ready")
    lines = guest.lines()
    check("guest: fb0 %d,%d bpp 32" % (WIDTH, HEIGHT) in lines,
          "framebuffer not %dx%dx32" % (WIDTH, HEIGHT))
    check("guest: event0 is vm-touch" in lines, "event0 is not the helper")
    return ready


def press(guest, x, y, hold):
    """Touch at raw (x, y), hold, release; returns the console lines after."""
    pixel = line("position", *screen_position(x, y))
    guest.wait_line(pixel, guest.touch("down %d %d" % (x, y)))
    time.sleep(hold)
    released = guest.wait_line(pixel, guest.touch("up"))
    lines = guest.settle()
    # The loop checks the flag once per frame: at most the frame it had
    # already begun may start after the release.
    check(count(lines[released:], IS_SIZE) <= 1,
          "playback went on after the release")
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
    check(count(lines[ready:], line("open-failed")) == 0,
          "a frame failed to open")
    finish(guest)
    return "%d then %d frames, screen shows %s" % (first, total - first,
                                                   number_after(total))


def plug_touchscreen(guest, drawn, reported, name):
    """The helper creates the touchscreen; once the player says it opened
    it, a touch plays on after the `drawn` frames so far. The line
    `reported`, which told why it was missing, came only once. Returns the
    frames drawn."""
    guest.wait_line(line("touch-back"), guest.touch("create"))
    lines = press(guest, 100, 50, hold=0.5)
    total = frame_lines(lines)
    check(total > drawn, "no frame drawn once the touchscreen was there")
    guest.expect_screen(number_after(total), name)
    check(count(lines, reported) == 1, "%r printed more than once" % reported)
    return total


def scenario_unplug(guest):
    start(guest)
    pixel = line("position", *screen_position(700, 500))
    lost = line("touch-lost", "No such device")
    down = guest.touch("down 700 500")
    guest.wait_line(pixel, down)
    time.sleep(0.5)
    error = guest.wait_line(lost, guest.touch("destroy"))
    lines = guest.settle()
    drawn = frame_lines(lines)
    check(drawn >= 1, "no frame drawn before the unplug")
    check(count(lines[error:], IS_SIZE) <= 1,
          "playback went on without the touchscreen")
    guest.expect_screen(number_after(drawn), "after-unplug")
    time.sleep(1.0)
    check(frame_lines(guest.lines()) == drawn, "frames drawn after unplug")
    # Removing a device makes the input core release its keys first, but
    # a reader that wakes late sees only the error: report which it was.
    released = count(lines[down:error], pixel) == 2

    # Plugged in again: the player opens the new device and plays on.
    total = plug_touchscreen(guest, drawn, lost, "after-replug")
    finish(guest)
    return "%d frames, stopped on %s, %s; back, %d more" % (
        drawn, number_after(drawn),
        "release then error" if released else "error without release",
        total - drawn)


def scenario_late_touch(guest):
    """The touchscreen appears ten seconds after the player started, as a
    USB controller that enumerates late or a driver loaded late."""
    missing = line("touch-missing", "No such file or directory")
    guest.wait_line("guest: player started without a touchscreen")
    started = time.monotonic()
    guest.wait_line(missing)
    time.sleep(10)
    check(frame_lines(guest.lines()) == 0, "frames drawn without a touch")
    late = time.monotonic() - started
    drawn = plug_touchscreen(guest, 0, missing, "after-late-touch")
    finish(guest)
    return "%d frames on a touchscreen made %.1f s after the player" % (
        drawn, late)


def scenario_no_frames(guest):
    ready = start(guest)
    lines = press(guest, 512, 300, hold=0.5)
    failed = line("open-failed")
    failures = count(lines[ready:], failed)
    check(failures >= 1, "no open-failed line while held")
    check(frame_lines(lines) == 0, "a frame was drawn without frame files")
    time.sleep(0.5)
    check(count(guest.lines()[ready:], failed) == failures,
          "frames still attempted after the release")
    guest.expect_screen("blank", "no-frames")
    finish(guest)
    return "%d failed opens while held" % failures


SCENARIOS = {
    "playback": (scenario_playback, "initrd-frames"),
    "unplug": (scenario_unplug, "initrd-frames"),
    "no_frames": (scenario_no_frames, "initrd"),
    "late_touch": (scenario_late_touch, "initrd-frames", " frame_touch=late"),
}
SCENARIOS.update(check_scenarios.scenarios(finish))


def main():
    args = vm.arguments(vm.MACHINES, SCENARIOS)
    if vm.qemu_missing(args.arch):
        return vm.SKIP
    run, initrd, *append = SCENARIOS[args.scenario]
    workdir = vm.fresh_run_dir(args.arch + "-" + args.scenario)
    guest = boot(args.arch, initrd, workdir, args.frame_gen, *append)
    try:
        summary = run(guest)
        ok = True
    except vm.CheckFailed as failure:
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
