#!/usr/bin/python3
"""The step interpreter's reading of scripts: a bad script fails with its
file and line before any board starts, and every kept script reads."""

import glob
import importlib.util
import os
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.realpath(__file__))
sys.dont_write_bytecode = True
sys.path.insert(0, HERE)
import rig  # noqa: E402
import steps  # noqa: E402

spec = importlib.util.spec_from_file_location(
    "boot_test", os.path.join(steps.REPO, "tests", "vm", "board",
                              "boot-test.py"))
boot_test = importlib.util.module_from_spec(spec)
spec.loader.exec_module(boot_test)

BAD = {  # script, board: the error
    ("up\n\n# a comment\nfly 1 2\n", steps.RIG): "bad:4: unknown step fly",
    ("boot\ndown 1\n", steps.BOOT): "bad:2: down 1: needs 2 number(s)",
    ("up now\n", steps.RIG): "bad:1: up now: needs no arguments",
    ("expect-line frobnicate 3\n", steps.RIG):
        "bad:1: expect-line frobnicate 3: no player's line named "
        "'frobnicate'",
    ("boot\nexpect-line position 1\n", steps.BOOT):
        "bad:2: expect-line position 1: position takes 2 values, not 1",
    ("wait-count drawn\n", steps.RIG):
        "bad:1: wait-count drawn: needs a count N or +N, not ''",
    ("expect-frame 82\n", steps.RIG):
        "bad:1: expect-frame 82: frames go from 0 to 81",
    ("kill HUP\nkill NOPE\n", steps.RIG):
        "bad:2: kill NOPE: unknown signal 'NOPE'",
    ("boot\nmove 1 2\n", steps.BOOT):
        "bad:2: move is a step of the emulated board only",
    ("pull\n", steps.RIG): "bad:1: pull is a step of the booted board only",
}


class Reading(unittest.TestCase):
    def test_bad_scripts_name_file_and_line(self):
        for (script, board), error in BAD.items():
            with self.subTest(script=script):
                with self.assertRaises(steps.ScriptError) as caught:
                    steps.parse("bad", script.split("\n"), board)
                self.assertEqual(str(caught.exception), error)

    def test_a_scenario_begins_with_boot(self):
        with self.assertRaises(steps.ScriptError) as caught:
            steps.parse("a.boot", ["# no boot", "up"], steps.BOOT)
        self.assertEqual(str(caught.exception),
                         "a.boot:2: the first step must be boot")

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
