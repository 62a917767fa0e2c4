"""Runs the built plug-in through z5r-render: signals in, rendered audio out.

Settings are given in the plug-in's own terms (triode, volts, microfarads,
decibels) and turned into the normalized values the host interface takes.
Every render is checked against the display texts z5r-render prints, so a
wrong mapping stops the run instead of mislabelling a picture."""

import os
import re
import subprocess
import tempfile

from . import wavfile

RATE = 48000
TRIODES = ("12AX7", "12AT7", "12AU7")
VOLTAGES = (150, 250, 350)
CAPS_UF = (0.47, 1.0, 22.0)
# Normalized values that select table entries 0, 1 and 2 of Triode, Voltage and Cap.
CHOICE_VALUES = (0.0, 0.5, 1.0)
GAIN_DB = (-12.0, 36.0)
LEVEL_DB = (-24.0, 24.0)
# The factory programs the audio examples use.
PROGRAMS = ((0, "Default"), (1, "Smooth"), (2, "Moderate"), (3, "Maximum Overdrive"))


class RenderError(RuntimeError):
    pass


def gain_value(db):
    """Normalized Gain for an input gain in dB (-12 to +36)."""
    if not GAIN_DB[0] <= db <= GAIN_DB[1]:
        raise ValueError(f"gain {db} dB outside {GAIN_DB[0]}..{GAIN_DB[1]} dB")
    return (db - GAIN_DB[0]) / (GAIN_DB[1] - GAIN_DB[0])


def level_value(db):
    """Normalized Level for an output level in dB (-24 to +24)."""
    if not LEVEL_DB[0] <= db <= LEVEL_DB[1]:
        raise ValueError(f"level {db} dB outside {LEVEL_DB[0]}..{LEVEL_DB[1]} dB")
    return (db - LEVEL_DB[0]) / (LEVEL_DB[1] - LEVEL_DB[0])


def settings(triode=0, voltage=1, cap=1, gain_db=12.0, level_db=0.0, normalize=True, oversample=16):
    """The seven parameters as normalized values, by name. triode, voltage and
    cap are indices into TRIODES, VOLTAGES and CAPS_UF."""
    if oversample not in (1, 16):
        raise ValueError(f"oversampling is 1 or 16, not {oversample}")
    return {
        "Oversmpl": 1.0 if oversample == 16 else 0.0,
        "Gain": gain_value(gain_db),
        "Level": level_value(level_db),
        "Triode": CHOICE_VALUES[triode],
        "Voltage": CHOICE_VALUES[voltage],
        "Cap": CHOICE_VALUES[cap],
        "Normaliz": 1.0 if normalize else 0.0,
    }


def expected_display(values):
    """The display texts the plug-in should show for normalized values, in
    the way z5r-render prints them ("Gain = 12.00 dB"), for the names given."""
    def index(v):
        return min(int(v * 3.0), 2)

    texts = {
        "Oversmpl": lambda v: "16 x" if v >= 0.5 else "1 x",
        "Gain": lambda v: f"{v * 48 - 12:.2f} dB",
        "Level": lambda v: f"{v * 48 - 24:.2f} dB",
        "Triode": lambda v: TRIODES[index(v)],
        "Voltage": lambda v: f"{VOLTAGES[index(v)]} V",
        "Cap": lambda v: f"{CAPS_UF[index(v)]:.2f} uF",
        "Normaliz": lambda v: "Yes" if v >= 0.5 else "No",
    }
    return {name: texts[name](v) for name, v in values.items()}


def parse_display(report):
    """{name: display text} from the parameter lines of z5r-render's report."""
    shown = {}
    for line in report.splitlines():
        m = re.match(r"^  (\w+)\s+= (.*\S)\s*$", line)
        if m:
            shown[m.group(1)] = m.group(2)
    return shown


class Renderer:
    """Renders signals through the plug-in, one z5r-render run per call."""

    def __init__(self, render_exe, plugin=None, workdir=None):
        self.render_exe = render_exe
        self.plugin = plugin
        self._tmp = tempfile.TemporaryDirectory(prefix="z5r-plots-", dir=workdir)
        self.count = 0

    def close(self):
        self._tmp.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _run(self, args, values):
        self.count += 1
        out = os.path.join(self._tmp.name, f"out{self.count}.wav")
        cmd = [self.render_exe, "--quiet", "-o", out]
        if self.plugin:
            cmd += ["--plugin", self.plugin]
        for name, v in values.items():
            cmd += ["--set", f"{name}={v!r}"]
        proc = subprocess.run(cmd + args, capture_output=True, text=True)
        if proc.returncode != 0:
            raise RenderError(f"{' '.join(cmd + args)} failed ({proc.returncode}): {proc.stderr.strip()}")
        shown = parse_display(proc.stdout)
        for name, text in expected_display(values).items():
            if shown.get(name) != text:
                raise RenderError(f"{name} shows {shown.get(name)!r}, expected {text!r}")
        y, rate = wavfile.read(out)
        os.remove(out)
        return y, rate, shown

    def render(self, x, values, rate=RATE):
        """The plug-in's stereo output [frames, 2] for the mono signal x."""
        inp = os.path.join(self._tmp.name, f"in{self.count + 1}.wav")
        wavfile.write_float(inp, x, rate)
        y, out_rate, _ = self._run([inp], values)
        os.remove(inp)
        if out_rate != rate or len(y) != len(x) or y.shape[1] != 2:
            raise RenderError(f"got {len(y)} frames x {y.shape[1]} at {out_rate} Hz "
                              f"for {len(x)} frames at {rate} Hz")
        return y

    def demo(self, program, values=None):
        """(output [frames, 2], rate, {name: display text}) of the built-in
        riff through a factory program, with values set on top of it."""
        return self._run(["--program", str(program)], values or {})
