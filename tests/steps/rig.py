#!/usr/bin/python3
"""Runs a touch script on the emulated board, tools/board-rig, which does
what it is told on its standard input (tools/board-rig/README.md).

usage: rig.py [--rig PATH] [--script FILE|-] [--timeout SECONDS] [--quiet]
              [--figures] [BOARD-RIG OPTION...] [STEP...]
Steps come from --script and then from the command line, one an argument.
Exit status: 0 all steps passed, 1 a step failed, 2 a bad script or
option or the board could not be built, 77 no namespaces here.
"""

import os
import queue
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True  # no bytecode cache in the source tree
sys.path.insert(0, os.path.dirname(os.path.realpath(__file__)))
import steps  # noqa: E402
from steps import check  # noqa: E402

# board-rig's own options: those that take a value, and the others.
RIG_VALUES = ("--input-event-size", "--frames", "--record", "--record-fps")
RIG_FLAGS = ("--no-screen", "--no-touch-device")


class Rig(steps.Steps):
    """board-rig as a board, through its commands and what it sends."""

    board = steps.RIG

    def __init__(self, command, timeout, quiet, log):
        super().__init__()
        self.timeout, self.quiet = timeout, quiet
        self.log, self.logging = log, threading.Lock()
        self.texts, self.streams = [], []  # the player's lines
        self.pid = self.end = None
        self.answers = queue.Queue()
        self.started = time.monotonic()
        self.process = subprocess.Popen(
            command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            encoding="utf-8", errors="replace", bufsize=1)
        self.ready = threading.Event()
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()
        self.ready.wait()
        self.noted = {}  # the last note-fds and note-rss
        self.figures = {"descriptors": [], "resident set (kB)": []}

    def read(self):
        for line in self.process.stdout:
            word, _, rest = line.rstrip("\n").partition(" ")
            if word in ("out", "err"):
                self.texts.append(rest)
                self.streams.append(word)
                self.log_line(word, rest)
            elif word == "ready":
                self.pid = int(rest)
                self.ready.set()
            elif word == "end":
                self.end = rest
                self.log_line("rig", "player " + rest)
            else:
                self.answers.put((word, rest))
        self.ready.set()
        self.answers.put(("no", "board-rig ended"))

    def command(self, text):
        self.process.stdin.write(text + "\n")
        self.process.stdin.flush()
        word, rest = self.answers.get()
        check(word == "ok", rest)
        return rest

    def log_line(self, stream, text):
        """player.log: every line, time-stamped, and the interpreter's."""
        line = "%9.3f %s %s" % (time.monotonic() - self.started, stream, text)
        with self.logging:
            self.log.write(line + "\n")
            self.log.flush()
        if not self.quiet:
            print(line, flush=True)

    def finish(self):
        """Ends the rig, which kills a player still running: its status."""
        self.log_line("rig", "end of the steps")
        self.process.stdin.close()
        self.reader.join()
        return self.process.wait()

    # ---- the primitives of steps.Steps

    def lines(self):
        return self.texts

    def run_start(self, lines):
        return 0

    def touch(self, command):
        self.command(command)

    def layers(self):
        top, rows, below = self.command("screen").split()
        return top, int(rows), below

    def picture(self, name):
        self.command("snap " + name)

    def open_files(self):
        folder = "/proc/%d/fd" % self.pid
        targets = []
        for entry in os.listdir(folder):
            try:
                targets.append(os.readlink(os.path.join(folder, entry)))
            except FileNotFoundError:  # closed meanwhile
                pass
        return targets

    def signal(self, name):
        self.command("kill " + name)

    def running(self):
        return self.end

    def done(self):
        return self.end is not None

    def note(self, text):
        self.log_line("rig", text)

    def note_step(self, step):
        self.note("step %s: %s" % (step.where, step.text))

    def failure_screen(self):
        """Keeps the screen as it was, for frame-gen identify."""
        try:
            self.command("screen failure-screen.raw")
        except steps.CheckFailed:
            pass  # no screen

    # ---- the emulated board's own steps

    def step_move(self, x, y):
        self.touch("move %d %d" % (x, y))

    def step_expect_drawing(self, wanted):
        """How the screen looks when the player is stopped at any instant
        after printing frame N's drawn line: still all the frame before (N
        read but not yet drawn), N being drawn from the top over it (or
        over a blank screen), or all N."""
        def shows(layers, want):
            top, rows, below = layers
            before = str((int(want) - 1) % steps.FRAMES)
            return want.isdigit() and (
                (rows == steps.HEIGHT and top == before)
                or (top == want and below in (want, before, "blank")))
        self.expect_screen(wanted, shows)

    def descriptors(self):
        files = sorted(self.open_files())
        self.figures["descriptors"].append(len(files))
        return files

    def step_note_fds(self):
        self.noted["fds"] = self.descriptors()
        self.note("the player holds %d descriptors: %s"
                  % (len(self.noted["fds"]), " ".join(self.noted["fds"])))

    def step_expect_fds_unchanged(self):
        """Waits, as a frame just drawn may hold its file for a moment."""
        check("fds" in self.noted, "no note-fds before")
        now = []

        def unchanged():
            now[:] = self.descriptors()
            return len(now) == len(self.noted["fds"])
        self.wait(unchanged, lambda: "noted %s, now %s"
                  % (self.noted["fds"], now))

    def resident_kb(self):
        """The player's resident set; under --emulator, the emulator's."""
        path = "/proc/%d/status" % self.pid
        with open(path) as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    kb = int(line.split()[1])
                    self.figures["resident set (kB)"].append(kb)
                    return kb
        raise LookupError("no resident set in " + path)

    def step_note_rss(self):
        self.noted["rss"] = self.resident_kb()
        self.note("the player's resident set is %d kB" % self.noted["rss"])

    def step_expect_rss_within(self, margin):
        """At most KB more than at the last note-rss, read at once; noted
        either way, so that a long run's log shows its course."""
        check("rss" in self.noted, "no note-rss before")
        now = self.resident_kb()
        self.note("the player's resident set is %d kB (noted %d kB)"
                  % (now, self.noted["rss"]))
        check(now <= self.noted["rss"] + margin, "grew by %d kB, more than %d"
              % (now - self.noted["rss"], margin))

    def step_expect_exit(self, wanted):
        self.wait(self.done, "the player is still running")
        check(self.end == ("exited with status " + wanted if wanted.isdigit()
                           else "killed by signal " + wanted),
              "the player " + self.end)

    def print_figures(self):
        """What the run did, from the lines as read here."""
        print("ran %.0f s: %d frames drawn, %d touches (%d position lines); "
              "%d expect-frame steps passed" % (
                  time.monotonic() - self.started,
                  self.count(steps.kind("drawn")), self.passed["down"],
                  self.count(steps.kind("position")),
                  self.passed["expect-frame"]))
        for name, values in self.figures.items():
            if values:
                print("%s: %d at the first reading, %d at the last, %d to %d"
                      % (name, values[0], values[-1], min(values),
                         max(values)))


def arguments(args):
    """The rig's command line, the interpreter's options and the steps."""
    rig_dir = os.path.join(steps.REPO, "build", "default", "tools",
                           "board-rig")
    options = {"--rig": os.path.join(rig_dir, "board-rig"), "--script": None,
               "--timeout": "30", "--player": None, "--emulator": "",
               "--out": "board-out"}
    rig, flags, lines = [], set(), []
    args = list(args)
    while args:
        arg = args.pop(0)
        if arg in RIG_VALUES and args:
            rig += [arg, args.pop(0)]
        elif arg in options and args:
            options[arg] = args.pop(0)
        elif arg in RIG_FLAGS:
            rig.append(arg)
        elif arg in ("--quiet", "--figures"):
            flags.add(arg)
        else:
            check(not arg.startswith("--"), __doc__.split("\n\n")[1])
            lines.append(arg)
    return options, rig, flags, lines


def rig_command(options, rig):
    """board-rig's command line. The player is the one beside the rig by
    default, its path resolved before the board's mounts hide it."""
    player = os.path.realpath(options["--player"] or os.path.join(
        os.path.dirname(options["--rig"]), "..", "..", "frame-player"))
    check(os.path.isfile(player), "no player at " + player)
    os.makedirs(options["--out"], exist_ok=True)
    return ([options["--rig"], "--out", options["--out"]] + rig + ["--"]
            + options["--emulator"].split() + [player])


def main(args):
    try:
        options, rig_args, flags, lines = arguments(args)
        script = []
        if options["--script"] == "-":
            script = steps.parse("-", sys.stdin.read().split("\n"), steps.RIG)
        elif options["--script"]:
            script = steps.parse_file(options["--script"], steps.RIG)
        script += steps.parse("step", lines, steps.RIG)
        timeout = float(options["--timeout"])
        command = rig_command(options, rig_args)
    except (steps.ScriptError, steps.CheckFailed, ValueError,
            OSError) as error:
        print("rig.py: %s" % error, file=sys.stderr)
        return 2
    log = open(os.path.join(options["--out"], "player.log"), "w",
               encoding="utf-8")
    rig = Rig(command, timeout, "--quiet" in flags, log)
    if rig.pid is None:
        return rig.finish()  # set-up failed, or no namespaces (77)
    ok = True
    try:
        rig.run(script)
    except steps.CheckFailed as failure:
        ok = False
        print("FAILED: %s" % failure, file=sys.stderr)
        rig.note("failed: %s" % failure)
        shown = list(zip(rig.streams, rig.texts))[-8:]
        print("the last %d of %d player lines:" % (len(shown), len(rig.texts)),
              file=sys.stderr)
        for stream, text in shown:
            print("  %s %s" % (stream, text), file=sys.stderr)
    if "--figures" in flags:
        rig.print_figures()
    status = rig.finish()
    return 0 if ok and status == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
