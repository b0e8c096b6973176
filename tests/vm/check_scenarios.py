"""The board check (frame-player-check) in the real-kernel guests, for
vm-test.py. The guest's /init runs tests/vm/check-guest once the player is
ready; each run's lines come between "guest: check NAME" and
"guest: check NAME exit STATUS" on the console, mixed with the player's."""

import re

from guest import check
from player_lines import line, screen_position

FINDING = re.compile(r"^(ok  |warn|FAIL) ")
TOUCHSCREEN = ('ok   touch: /dev/input/event0 is "vm-touch", a touchscreen '
               'with BTN_TOUCH, ABS_X and ABS_Y')
PROMPT = ("     touch the screen and lift the finger (waiting up to 10 s on "
          "/dev/input/event0)")
REWRITE = ("fix: save it as a 24-bit BMP with a 40-byte info header and rows "
           "bottom-up (tools/make-frames writes such frames)")
FAULTY = [
    "FAIL frames: Frame7.bmp: 124-byte info header (the picture will be "
    "shifted by 84 bytes); " + REWRITE,
    "FAIL frames: Frame20.bmp: 32 bits per pixel (the picture will be "
    "garbled); " + REWRITE,
    'FAIL frames: Frame33.bmp: missing (the player prints "%s" and keeps '
    "the previous frame); fix: copy Frame33.bmp into the folder"
    % line("open-failed"),
    "FAIL frames: Frame50.bmp: cut short: 599,946 of its 1,152,000 bytes of "
    "pixels (the top 231 rows will be black); fix: copy it again: the copy "
    "is incomplete",
    "FAIL frames: 78 of 82 frames ok; fix: see the lines above",
]
KEYBOARD = ('FAIL touch: /dev/input/event0 is "vm-keyboard", a keyboard, not a '
            'touchscreen; the touchscreen is /dev/input/event1 ("vm-touch"); '
            "fix: start the player through frame-player-run (the init script "
            "and the unit do), which gives it that device as /dev/input/event0")


def check_run(guest, name, status, failing=()):
    """Check run NAME, which must exit with `status` and print exactly the
    lines `failing` that are not ok: its finding lines and detail lines."""
    begin = guest.wait_line("guest: check " + name)
    prefix = "guest: check %s exit " % name
    end = guest.wait_line(lambda l: l.startswith(prefix), begin,
                          what="the check %s did not end" % name)
    lines = guest.lines()
    run = lines[begin + 1:end]
    findings = [l for l in run if FINDING.match(l)]
    others = [l for l in findings if not l.startswith("ok   ")]
    exit_status = int(lines[end][len(prefix):])
    check(exit_status == status and others == list(failing),
          "the check %s gave %d: %s" % (name, exit_status, others))
    return findings, [l for l in run if l.startswith("     ")]


def board(guest, finish):
    guest.wait_line("guest: player ready")
    findings, _ = check_run(guest, "full", 0)
    check(TOUCHSCREEN in findings, "no touchscreen line in %s" % findings)
    check("ok   frames: 82 of 82 frames ok" in findings, "frames not all ok")
    check(any(line.startswith("ok   screen: /dev/fb0 is held only by "
                              "frame-player (pid ") for line in findings),
          "the player does not hold the screen")

    # --touch: the host touches once the check asks for it.
    begin = guest.wait_line("guest: check touch")
    guest.wait_line(PROMPT, begin)
    guest.touch("down 512 300")
    guest.touch("up")
    findings, details = check_run(guest, "touch", 0)
    position = line("position", *screen_position(512, 300))
    check("ok   touch: a touch and a release arrived: the player would print "
          "%s, start playback and stop it again (it ignores EV_SYN)"
          % position in findings, "no touch and release in %s" % findings)
    check("     BTN_TOUCH 1: the player prints %s and starts playing"
          % position in details, "the touch record not shown: %s" % details)

    check_run(guest, "frames", 1, FAULTY)
    finish(guest)
    return "all ok; touch and release seen; the four faulty frames named"


def keyboard(guest, finish):
    guest.wait_line("guest: event0 is vm-keyboard")
    check_run(guest, "keyboard", 1, [KEYBOARD])
    finish(guest)
    return "event1 named as the touchscreen"


def scenarios(finish):
    """vm-test.py's scenarios: name -> (run, initrd, kernel parameters);
    `finish` ends a guest's run."""
    return {
        "check_board": (lambda guest: board(guest, finish), "initrd-frames",
                        " frame_check=board"),
        "check_keyboard": (lambda guest: keyboard(guest, finish),
                           "initrd-frames", " frame_check=keyboard"),
    }
