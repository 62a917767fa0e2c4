#!/usr/bin/python3
"""A stand-in for z5r-render: passes its input through, and prints the
parameter lines the way the real tool does. FAKE_MODE chooses a fault:
wrong-display, fail, short."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

import numpy as np  # noqa: E402

from z5rplots import render, wavfile  # noqa: E402

args = sys.argv[1:]
mode = os.environ.get("FAKE_MODE", "ok")
values, out, inp = {}, None, None
while args:
    a = args.pop(0)
    if a == "-o":
        out = args.pop(0)
    elif a == "--set":
        name, v = args.pop(0).split("=")
        values[name] = float(v)
    elif a in ("--plugin", "--program"):
        args.pop(0)
    elif not a.startswith("-"):
        inp = a
if mode == "fail":
    sys.exit("z5r-render: cannot load the plug-in")
shown = render.expected_display(values)
if mode == "wrong-display" and "Triode" in shown:
    shown["Triode"] = "12AT7" if shown["Triode"] != "12AT7" else "12AX7"
for name, text in shown.items():
    print(f"  {name:<8} = {text}")
x, rate = wavfile.read(inp) if inp else (np.zeros((4800, 2)), 48000)
if mode == "short":
    x = x[:-1]
wavfile.write_float(out, np.repeat(x[:, :1], 2, axis=1) * 0.5, rate)
