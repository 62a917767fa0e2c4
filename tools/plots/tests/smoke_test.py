"""Runs the generator on a tiny grid against the built plug-in (RENDER and
PLUGIN name z5r-render and the library), into a temporary folder."""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

import make_plots
from z5rplots.measure import Plan

RENDER = os.environ.get("RENDER")
PLUGIN = os.environ.get("PLUGIN")
HERE = os.path.dirname(os.path.abspath(__file__))


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        raise AssertionError(f"{path} is not a PNG")
    return struct.unpack(">II", head[16:24])


@unittest.skipUnless(RENDER, "RENDER (z5r-render) not set; CTest sets it")
class Smoke(unittest.TestCase):
    def test_every_picture_and_example_from_a_tiny_grid(self):
        with tempfile.TemporaryDirectory() as tmp:
            sound, audio = os.path.join(tmp, "sound"), os.path.join(tmp, "audio")
            s = make_plots.make(RENDER, PLUGIN, sound, audio, Plan.tiny(), log=lambda _: None)
            self.assertEqual(sorted(os.listdir(sound)), sorted(make_plots.PICTURES.values()))
            for name in os.listdir(sound):
                width, height = png_size(os.path.join(sound, name))
                self.assertEqual(width, 1200, name)
                self.assertTrue(300 <= height <= 1400, (name, height))
            flacs = sorted(os.listdir(audio))
            self.assertEqual(flacs, ["program3-maximum-overdrive-16x.flac", "program3-maximum-overdrive-1x.flac"])
            for name in flacs:
                subprocess.run(["flac", "--silent", "--test", os.path.join(audio, name)], check=True)

        # Wiring checks: a parameter mapped wrongly, or the wrong part of a
        # render read, breaks one of these relations.
        worst = s["aliasing"]
        self.assertGreater(worst[1][1] - (worst[16][1] if worst[16] else -150), 40, worst)
        for triode, t in s["thd"].items():
            self.assertEqual(t["thd"], sorted(t["thd"]), triode)  # more gain, more distortion
        self.assertGreater(s["thd"]["12AX7"]["thd"][-1], s["thd"]["12AU7"]["thd"][-1])
        small, large = s["response"][0.47], s["response"][22.0]
        self.assertGreater(large[20] - small[20], 3)  # the big capacitor keeps the bass
        self.assertAlmostEqual(large[10000], small[10000], delta=0.2)
        self.assertLess(s["sag"][22.0]["dip_db"], s["sag"][0.47]["dip_db"])
        low, high = s["transfer"][("12AX7", 250)], s["transfer"][("12AU7", 250)]
        self.assertGreater(low[1] - low[0], high[1] - high[0])
        self.assertEqual(len(s["audio"]), 2)

    def test_command_line(self):
        script = os.path.join(HERE, "..", "make_plots.py")
        with tempfile.TemporaryDirectory() as tmp:
            cmd = [sys.executable, script, "--tiny", "--only", "transfer", "--render", RENDER, "--sound", tmp]
            subprocess.run(cmd + (["--plugin", PLUGIN] if PLUGIN else []), check=True, capture_output=True)
            self.assertEqual(os.listdir(tmp), ["transfer-curves.png"])
            missing = subprocess.run([sys.executable, script, "--render", RENDER, "--flac", "no-such-flac"],
                                     capture_output=True, text=True)
            self.assertEqual(missing.returncode, 2)
            self.assertIn("no 'no-such-flac' encoder", missing.stderr)


if __name__ == "__main__":
    unittest.main()
