"""The touch-script language of every board (tests/README.md), read and
run here once. A board is a subclass of Steps that gives its primitives
and own steps: rig.py, and tests/vm/board/boot-test.py's Scenario."""

import collections
import os
import signal
import sys
import time

sys.dont_write_bytecode = True  # no bytecode cache in the source tree
REPO = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(REPO, "lib", "player-lines"))
import player_lines  # noqa: E402

FRAMES = player_lines.constant("main.h", "last_frame_number") + 1
HEIGHT = player_lines.constant("show_bmp.h", "lcd_height")
RIG, BOOT = "emulated", "booted"
EVERY = (RIG, BOOT)
FIRST = {BOOT: "boot"}  # the step a board's scripts begin with, if any

# The language: each step's arguments (a form of FORMS) and its boards.
STEPS = {
    "down": ("X Y", EVERY),
    "move": ("X Y", (RIG,)),
    "up": ("", EVERY),
    "close-touch": ("", EVERY),
    "open-touch": ("", EVERY),
    "wait": ("N", EVERY),  # milliseconds
    "settle": ("N", EVERY),
    "snap": ("TEXT", EVERY),
    "expect-line": ("LINE", EVERY),
    "expect-next-line": ("LINE", EVERY),
    "expect-log": ("TEXT", EVERY),
    "expect-absent": ("TEXT", EVERY),
    "wait-count": ("KIND N", EVERY),
    "expect-count": ("KIND N", EVERY),
    "expect-frame": ("FRAME", EVERY),
    "expect-open": ("TEXT", EVERY),
    "kill": ("[SIGNAL]", EVERY),
    "expect-running": ("", EVERY),
    "expect-drawing": ("FRAME", (RIG,)),
    "note-fds": ("", (RIG,)),
    "expect-fds-unchanged": ("", (RIG,)),
    "note-rss": ("", (RIG,)),
    "expect-rss-within": ("N", (RIG,)),
    "expect-exit": ("STATUS|SIGNAL", (RIG,)),
    "boot": ("[WORD...]", (BOOT,)),
    "reboot": ("", (BOOT,)),
    "switch-off": ("", (BOOT,)),
    "plug": ("[WORD...]", (BOOT,)),
    "pull": ("", (BOOT,)),
    "add-input": ("WORD", (BOOT,)),
    "remove-input": ("WORD", (BOOT,)),
    "shell": ("TEXT", (BOOT,)),
    "expect-output": ("TEXT TEXT", (BOOT,)),
    "expect-at-most": ("TEXT TEXT", (BOOT,)),
    "expect-same": ("TEXT [WORD...]", (BOOT,)),
    "expect-restart": ("MIN MAX", (BOOT,)),
    "expect-disk-unchanged": ("", (BOOT,)),
    "install": ("[WORD...]", (BOOT,)),
    "install-fails": ("TEXT [WORD...]", (BOOT,)),
    "expect-installed": ("TEXT", (BOOT,)),
    "playbook": ("[WORD...]", (BOOT,)),
    "expect-recap": ("NAME=N...", (BOOT,)),
    "root-snapshot": ("TEXT", (BOOT,)),
    "expect-root": ("TEXT", (BOOT,)),
}


class CheckFailed(Exception):
    pass


class ScriptError(Exception):
    pass


def check(condition, message):
    if not condition:
        raise CheckFailed(message)


# ---- arguments

def take_text(rest, word=False):
    """A "quoted" text and what follows it; or else the first word and the
    rest (`word`), or the whole rest."""
    if rest.startswith('"'):
        close = rest.find('"', 1)
        if close < 0:
            raise ValueError("unterminated quote")
        return rest[1:close], rest[close + 1:].strip()
    if word:
        first, _, after = rest.partition(" ")
        return first, after.strip()
    return rest.strip(), ""


def numbers(rest, count, kind=int):
    values = [kind(word) for word in rest.split()]
    if len(values) != count:
        raise ValueError("needs %d number(s)" % count)
    return tuple(values)


def same(line, text):
    """Lines are compared without their trailing blanks, which the systemd
    board's journal drops."""
    return line.rstrip() == text.rstrip()


def kind(name):
    """A test of a line: is it a line NAME, whatever its values?"""
    pattern = player_lines.pattern(name, stripped=True)
    return lambda line: pattern.fullmatch(line.rstrip()) is not None


def line_argument(rest):
    """A LINE: "TEXT", or a line name with its values."""
    if rest.startswith('"'):
        text, after = take_text(rest)
        if after:
            raise ValueError("nothing may follow the quoted line")
        return (text,)
    return (player_lines.line(*rest.split()),)


def kind_argument(rest):
    """KIND N: a test of a line ("PREFIX" or a line name) and a count,
    "+N" counting from the step's start."""
    text, number = take_text(rest, word=True)
    test = ((lambda line: line.startswith(text)) if rest.startswith('"')
            else kind(text))
    if not number.lstrip("+").isdigit():
        raise ValueError("needs a count N or +N, not %r" % number)
    return test, number.startswith("+"), int(number)


def frame_argument(rest):
    if rest in ("blank", "last-drawn", "unknown", "none"):
        return (rest,)
    if not rest.isdigit() or int(rest) >= FRAMES:
        raise ValueError("frames go from 0 to %d" % (FRAMES - 1))
    return (str(int(rest)),)


def signal_name(name):
    if not isinstance(getattr(signal, "SIG" + name, None), signal.Signals):
        raise ValueError("unknown signal %r" % name)
    return name


def needs(condition, form, arguments):
    if not condition:
        raise ValueError("needs " + form)
    return arguments


FORMS = {
    "": lambda rest: needs(not rest, "no arguments", ()),
    "X Y": lambda rest: numbers(rest, 2),
    "N": lambda rest: numbers(rest, 1),
    "MIN MAX": lambda rest: numbers(rest, 2, float),
    "LINE": line_argument,
    "KIND N": kind_argument,
    "FRAME": frame_argument,
    "TEXT": lambda rest: needs(rest, "a text", take_text(rest)[:1]),
    "TEXT TEXT": lambda rest: needs(take_text(rest, True)[1], "two texts",
                                    take_text(rest, True)),
    "TEXT [WORD...]": lambda rest: take_text(rest, word=True),
    "WORD": lambda rest: needs(len(rest.split()) == 1, "one word", (rest,)),
    "[WORD...]": lambda rest: (rest,),
    "[SIGNAL]": lambda rest: (signal_name(rest or "KILL"),),
    "STATUS|SIGNAL": lambda rest: (rest if rest.isdigit()
                                   else signal_name(rest),),
    "NAME=N...": lambda rest: needs(
        rest and all("=" in word for word in rest.split()), "NAME=N words",
        (rest,)),
}

Step = collections.namedtuple("Step", "where name text arguments first")


def parse(name, lines, board):
    """The steps of script `name` for `board`; a ScriptError, with the
    file and line, at the first step that is not one of the language's."""
    steps = []
    for number, line in enumerate(lines, 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        where = "%s:%d" % (name, number)
        word, _, rest = line.partition(" ")
        if word not in STEPS:
            raise ScriptError("%s: unknown step %s" % (where, word))
        form, boards = STEPS[word]
        if not steps and FIRST.get(board, word) != word:
            raise ScriptError("%s: the first step must be %s"
                              % (where, FIRST[board]))
        if board not in boards:
            raise ScriptError("%s: %s is a step of the %s board only"
                              % (where, word, boards[0]))
        try:
            arguments = FORMS[form](rest.strip())
        except (ValueError, LookupError) as error:
            raise ScriptError("%s: %s: %s" % (where, line, error))
        steps.append(Step(where, word, line, arguments, not steps))
    return steps


def parse_file(path, board):
    with open(path, encoding="utf-8") as f:
        return parse(os.path.basename(path), f.read().split("\n"), board)


# ---- last-drawn

IS_SIZE, IS_DRAWN = kind("size"), kind("drawn")
OPENED, READ, REFUSED = (player_lines.line(name) for name in (
    "open-failed", "read-failed", "bad-size"))


class Passes:
    """The passes of the frame loop in one run of the player's lines, as
    `last-drawn` counts them (tests/README.md); fed as lines come, since a
    long run holds too many to read again."""

    def __init__(self, start=0):
        self.start = self.upto = start
        self.count = self.drawing = self.last = 0
        self.sized = False

    def feed(self, lines):
        for line in lines[self.upto:]:
            size = IS_SIZE(line)
            if size or same(line, OPENED) or (
                    same(line, READ) and not self.sized):
                self.count, self.sized = self.count + 1, size
            elif self.sized and IS_DRAWN(line):
                self.drawing, self.last = self.drawing + 1, self.count
                self.sized = False
            elif same(line, READ) or same(line, REFUSED):
                self.sized = False
        self.upto = max(self.upto, len(lines))
        return self

    def frame(self):
        return str(self.last % FRAMES) if self.drawing else "blank"


def last_drawn(lines):
    """The frame on the screen after `lines` of one run of the player."""
    return Passes().feed(lines).frame()


def describe(layers):
    """What a screen's layers (top, its rows, below) show."""
    top, below = ({"unknown": "not a test frame", "blank": "blank"}.get(
        layer, "frame " + layer) for layer in layers[::2])
    if layers[1] == HEIGHT or layers[2] == "unknown":
        return top
    return "%s drawn over %s down to row %d" % (top, below, layers[1])


# ---- the steps every board has

class Steps:
    """Runs steps on a board, which gives lines() (the player's so far),
    run_start(lines) (where its last start begins), touch(COMMAND),
    layers() (top frame, its rows, below), picture(NAME), open_files(),
    signal(NAME), running() (None, or how it ended) and done() (nothing
    can change any more)."""

    timeout, poll = 30, 0.01

    def __init__(self):
        self.passed = collections.Counter()  # steps that held, by name
        self.fresh_lines()

    def fresh_lines(self):
        """A new log: nothing matched or counted in it yet."""
        self.cursor = 0  # lines before it are matched already
        self.counts = {}
        self.passes = Passes()

    def note(self, text):
        print(text, flush=True)

    def note_step(self, step):
        pass

    def failure_screen(self):
        pass

    def run(self, steps):
        for step in steps:
            self.step = step
            self.note_step(step)
            try:
                getattr(self, "step_" + step.name.replace("-", "_"))(
                    *step.arguments)
            except (CheckFailed, LookupError, ValueError, OSError) as failure:
                self.failure_screen()
                raise CheckFailed("%s: %s: %s" % (step.where, step.text,
                                                  failure))
            self.passed[step.name] += 1

    def wait(self, condition, what):
        """Polls `condition` until it gives a true value, the timeout
        passes, or the board has ended and so nothing can change any more
        (`what` says what was seen)."""
        deadline = time.monotonic() + self.timeout
        while True:
            over = self.done()
            result = condition()
            if result:
                return result
            check(not over and time.monotonic() < deadline,
                  what() if callable(what) else what)
            time.sleep(self.poll)

    def count(self, test):
        """How many lines so far pass `test`, counted on from the last
        time: a long run holds hundreds of thousands."""
        lines = self.lines()
        upto, found = self.counts.get(test, (0, 0))
        found += sum(1 for line in lines[upto:] if test(line))
        self.counts[test] = (len(lines), found)
        return found

    def passes_now(self):
        lines = self.lines()
        start = self.run_start(lines)
        if start != self.passes.start:
            self.passes = Passes(start)
        return self.passes.feed(lines)

    # ---- touches and time

    def step_down(self, x, y):
        self.touch("down %d %d" % (x, y))

    def step_up(self):
        self.touch("up")

    def step_close_touch(self):  # unplugged: its node goes
        self.touch("destroy")

    def step_open_touch(self):  # plugged in again: its node comes back
        self.touch("create")

    def step_wait(self, ms):
        time.sleep(ms / 1000)

    def step_settle(self, ms):
        last = [len(self.lines()), time.monotonic()]

        def quiet():
            now = len(self.lines())
            if now != last[0]:
                last[:] = now, time.monotonic()
            return time.monotonic() - last[1] >= ms / 1000
        self.wait(quiet, "the player kept printing")

    # ---- the player's lines

    def expect(self, matches, what, next_only=False):
        """The first line after the last one matched that `matches`; with
        `next_only`, the very next line. Its index."""
        def found():
            lines = self.lines()
            for index in range(self.cursor, len(lines)):
                if matches(lines[index]):
                    self.cursor = index + 1
                    return index + 1
                check(not next_only, "the next line is %r" % lines[index])
            return None
        return self.wait(found, what) - 1

    def step_expect_line(self, text):
        self.expect(lambda line: same(line, text), "no line %r" % text)

    def step_expect_next_line(self, text):
        self.expect(lambda line: same(line, text), "no further line", True)

    def step_expect_log(self, text):
        self.expect(lambda line: text in line, "no line with %r" % text)

    def step_expect_absent(self, text):
        found = [line for line in self.lines() if text in line]
        check(not found, "found %r" % found[:3])

    def step_wait_count(self, test, more, number):
        wanted = number + (self.count(test) if more else 0)
        self.wait(lambda: self.count(test) >= wanted,
                  lambda: "fewer than %d such lines (%d)"
                  % (wanted, self.count(test)))

    def step_expect_count(self, test, more, number):
        found = self.count(test)
        check(found == number, "%d such lines, not %d" % (found, number))

    # ---- the screen and the player

    def expect_screen(self, wanted, shows):
        """Waits until `shows(layers, frame)` holds for the frame that
        `wanted` names (read afresh each time: last-drawn moves on)."""
        seen = []

        def holds():
            want = (self.passes_now().frame() if wanted == "last-drawn"
                    else wanted)
            layers = self.layers()
            seen[:] = [want, describe(layers)]
            return shows(layers, want)
        self.wait(holds, lambda: "expected %s, the screen shows %s"
                  % tuple(seen))

    def step_expect_frame(self, wanted):
        def shows(layers, want):
            shown = layers[0] if layers[1] == HEIGHT else "unknown"
            return shown == want or (want == "none" and not shown.isdigit())
        self.expect_screen(wanted, shows)

    def step_snap(self, name):
        """Saves NAME.png and notes what it shows and which frame file
        the lines say was drawn last."""
        self.picture(name)
        passes = self.passes_now()
        text = "snap %s: %s" % (name, describe(self.layers()))
        if passes.drawing:
            text += "; %d frames drawn, the last Frame%s.bmp" % (
                passes.drawing, passes.frame())
        self.note(text)

    def step_expect_open(self, path):
        self.wait(lambda: path in self.open_files(),
                  "the player does not hold %s open" % path)

    def step_kill(self, name):
        self.cursor = len(self.lines())  # what comes after the kill
        self.signal(name)

    def step_expect_running(self):
        end = self.running()
        check(end is None, "the player " + (end or ""))
