#!/usr/bin/python3
"""The step interpreter's reading of scripts: a bad script fails with its
file and line before any board starts, and every kept script reads."""

import glob
import importlib.util
import os
import re
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.realpath(__file__))
sys.dont_write_bytecode = True
sys.path.insert(0, HERE)
import rig  # noqa: E402
import steps  # noqa: E402

boot_module = importlib.util.spec_from_file_location(
    "boot_test", os.path.join(steps.REPO, "tests", "vm", "board",
                              "boot-test.py"))
boot_test = importlib.util.module_from_spec(boot_module)
boot_module.loader.exec_module(boot_test)

# Bad scripts, one a row: the board, the line it fails at, how the error
# ends, and the script with "; " between its lines.
BAD = """
emulated 4 unknown step fly | up; ; # a comment; fly 1 2
booted 2 down 1: needs 2 number(s) | boot; down 1
emulated 1 up now: needs no arguments | up now
emulated 1 no player's line named 'nope' | expect-line nope 3
booted 2 position takes 2 values, not 1 | boot; expect-line position 1
emulated 1 needs a count N or +N, not '' | wait-count drawn
emulated 1 frames go from 0 to 81 | expect-frame 82
emulated 2 kill NOPE: unknown signal 'NOPE' | kill HUP; kill NOPE
booted 2 move is a step of the emulated board only | boot; move 1 2
emulated 1 pull is a step of the booted board only | pull
booted 2 the first step must be boot | # no boot; up
"""


class Reading(unittest.TestCase):
    def test_bad_scripts_name_file_and_line(self):
        for row in BAD.strip().split("\n"):
            case, script = row.split(" | ")
            board, line, error = case.split(" ", 2)
            with self.subTest(script=script):
                with self.assertRaises(steps.ScriptError) as caught:
                    steps.parse("bad", script.split("; "), board)
                self.assertRegex(str(caught.exception),
                                 "^bad:%s: .*%s$" % (line, re.escape(error)))

    def test_the_rig_is_not_started_for_a_bad_script(self):
        done = subprocess.run(
            [os.path.join(HERE, "rig.py"), "--rig", "/nonexistent",
             "up", "expect-count drawn 1 2"], capture_output=True, text=True)
        self.assertEqual((done.returncode, done.stderr),
                         (2, "rig.py: step:2: expect-count drawn 1 2: "
                          "needs a count N or +N, not '1 2'\n"))

    def test_every_kept_script_reads(self):
        scripts = {steps.RIG: "tests/e2e/*.rig",
                   steps.BOOT: "tests/vm/board/scenarios/*.boot"}
        for board, pattern in scripts.items():
            paths = glob.glob(os.path.join(steps.REPO, pattern))
            self.assertGreater(len(paths), 5)
            for path in paths:
                with self.subTest(path=path):
                    self.assertTrue(steps.parse_file(path, board))

    def test_every_step_is_run_by_its_boards(self):
        boards = {steps.BOOT: boot_test.Scenario, steps.RIG: rig.Rig}
        for name, (_, on) in steps.STEPS.items():
            for board in on:
                method = "step_" + name.replace("-", "_")
                self.assertTrue(hasattr(boards[board], method),
                                "%s on the %s board" % (name, board))


if __name__ == "__main__":
    unittest.main()
