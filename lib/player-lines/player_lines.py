#!/usr/bin/python3
"""The player's console lines and screen geometry, read from its headers
(src/show_bmp.h, src/touch.h) so that no test or tool types them again. Lines are
named as in tests/README.md ("Touch scripts"): position X Y, size W H,
drawn N, open-failed, read-failed, bad-size, touch-missing REASON,
touch-lost REASON, touch-back.

usage: player_lines.py NAME [VALUE...]   prints the line
       player_lines.py --prefix NAME     prints its text before the first
                                         value (every line of that name
                                         starts with it)
       player_lines.py --constant HEADER NAME   prints a constant of
                                         src/HEADER (text or number)
"""

import os
import re
import sys

SRC = os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "..", "src")
# By header, line name: the constant that holds its text.
LINES = {
    "show_bmp.h": {
        "size": "size_line_format",
        "drawn": "pixels_read_format",
        "open-failed": "open_failed_line",
        "read-failed": "read_failed_line",
        "bad-size": "bad_size_line",
    },
    "touch.h": {
        "position": "position_line_format",
        "touch-missing": "open_error_text",
        "touch-lost": "read_error_text",
        "touch-back": "touch_back_line",
    },
}
# Line name: the header and the constant.
NAMES = {name: (header_name, constant_name)
         for header_name, names in LINES.items()
         for name, constant_name in names.items()}
# The reader reports these with perror: the text, ": " and the reason.
REASONED = ("touch-missing", "touch-lost")
VALUE = re.compile(r"%([ds])")
_headers = {}


def header(name):
    if name not in _headers:
        with open(os.path.join(SRC, name), encoding="utf-8") as f:
            _headers[name] = f.read()
    return _headers[name]


def constant(header_name, name):
    """A `constexpr char NAME[] = "...";` or `constexpr int NAME = N;` of
    the header: its text or number. A missing one is an error."""
    found = re.search(r'constexpr\s+(?:char\s+%s\[\]\s*=\s*"((?:[^"\\]|\\.)*)"'
                      r'|int\s+%s\s*=\s*(\d+));' % (name, name),
                      header(header_name))
    if found is None:
        raise LookupError("src/%s has no constant %s" % (header_name, name))
    if found.group(2) is not None:
        return int(found.group(2))
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(
        m.group(1), m.group(1)), found.group(1))


def line_format(name):
    """The printf-style format of a line, without its newline."""
    if name not in NAMES:
        raise LookupError("no player's line named %r" % name)
    text = constant(*NAMES[name]).rstrip("\n")
    return text + ": %s" if name in REASONED else text


def line(name, *values):
    """The line NAME with its values, e.g. line("position", 400, 240)."""
    form = line_format(name)
    kinds = VALUE.findall(form)
    if len(values) != len(kinds) and not (kinds == ["s"] and values):
        raise ValueError("%s takes %d values, not %d"
                         % (name, len(kinds), len(values)))
    if kinds == ["s"]:
        return form % " ".join(str(v) for v in values)
    return form % tuple(int(v) for v in values)


def prefix(name):
    """The text every line NAME starts with."""
    return VALUE.split(line_format(name))[0]


def pattern(name, stripped=False):
    """A regular expression that matches every line NAME in full; with
    `stripped`, as it stands without trailing blanks."""
    form = line_format(name).rstrip() if stripped else line_format(name)
    pieces = VALUE.split(form)
    return re.compile("".join(
        re.escape(piece) if i % 2 == 0 else ("-?[0-9]+" if piece == "d" else ".*")
        for i, piece in enumerate(pieces)))


def screen_position(x, y):
    """The position line's values for a raw panel position, as the reader
    scales it."""
    return (x * constant("show_bmp.h", "lcd_width")
            // constant("touch.h", "panel_width"),
            y * constant("show_bmp.h", "lcd_height")
            // constant("touch.h", "panel_height"))


def main(args):
    if len(args) == 2 and args[0] == "--prefix":
        print(prefix(args[1]))
    elif len(args) == 3 and args[0] == "--constant":
        print(constant(args[1], args[2]))
    elif args and not args[0].startswith("-"):
        print(line(*args))
    else:
        sys.stderr.write(__doc__.split("\n\n")[1] + "\n")
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
