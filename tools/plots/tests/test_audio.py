"""The audio examples: trimming, encoding and the size budget."""

import os
import subprocess
import tempfile
import unittest
from unittest import mock

import numpy as np

from z5rplots import audio, wavfile
from z5rplots.measure import Plan

RATE = 48000


class FakeRenderer:
    """Answers demo() with a given stereo signal and the display texts."""

    def __init__(self, signal):
        self.signal = signal
        self.calls = []

    def demo(self, program, values):
        self.calls.append((program, values))
        oversmpl = "16 x" if values["Oversmpl"] >= 0.5 else "1 x"
        return self.signal, RATE, {"Oversmpl": oversmpl, "Gain": "36.00 dB", "Triode": "12AX7"}


class Examples(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.tmp.cleanup()

    def test_prepare_averages_cuts_and_fades_out(self):
        y = np.ones((RATE * 2, 2)) * [0.2, 0.6]
        mono = audio.prepare(y, RATE, seconds=1.0, fade_seconds=0.25)
        self.assertEqual(len(mono), RATE)
        np.testing.assert_allclose(mono[:RATE * 3 // 4], 0.4)
        self.assertEqual(mono[-1], 0.0)
        self.assertTrue(np.all(np.diff(mono[RATE * 3 // 4:]) <= 0))
        # A render shorter than asked is kept whole, and still faded.
        self.assertEqual(len(audio.prepare(y[:1000], RATE, 1.0, 0.25)), 1000)

    def test_encoded_file_decodes_to_the_same_audio(self):
        mono = 0.3 * np.sin(2 * np.pi * 440 * np.arange(RATE // 2) / RATE)
        path = os.path.join(self.tmp.name, "a.flac")
        self.assertEqual(audio.encode(mono, RATE, path, "test", seed=3), 0)
        wav = os.path.join(self.tmp.name, "a.wav")
        subprocess.run(["flac", "--silent", "-d", "-o", wav, path], check=True)
        back, rate = wavfile.read(wav)
        self.assertEqual((rate, back.shape), (RATE, (RATE // 2, 1)))
        np.testing.assert_allclose(back[:, 0], mono, atol=2.5 / 32768)  # rounding plus dither

    def test_every_program_at_both_factors_with_its_settings(self):
        r = FakeRenderer(0.1 * np.random.default_rng(2).standard_normal((RATE, 2)))
        plan = Plan(programs=(0, 3), demo_seconds=0.5, demo_fade_seconds=0.1)
        records = audio.make_examples(r, plan, self.tmp.name)
        self.assertEqual([(p, v["Oversmpl"]) for p, v in r.calls], [(0, 0.0), (0, 1.0), (3, 0.0), (3, 1.0)])
        self.assertEqual([rec["file"] for rec in records],
                         ["program0-default-1x.flac", "program0-default-16x.flac",
                          "program3-maximum-overdrive-1x.flac", "program3-maximum-overdrive-16x.flac"])
        for rec in records:
            self.assertTrue(os.path.isfile(os.path.join(self.tmp.name, rec["file"])))
            self.assertAlmostEqual(rec["seconds"], 0.5)
        table = audio.markdown_table(records).splitlines()
        self.assertEqual(len(table), 2 + 4)
        self.assertIn("[program3-maximum-overdrive-16x.flac](audio/program3-maximum-overdrive-16x.flac)", table[-1])
        self.assertIn("| 16 x | 36.00 dB |", table[-1])
        self.assertIn("| ? |", table[-1])  # Level was not in the fake's report

    def test_over_budget_or_clipped_examples_are_refused(self):
        plan = Plan(programs=(1,), demo_seconds=0.5, demo_fade_seconds=0.1)
        noise = 0.1 * np.random.default_rng(2).standard_normal((RATE, 2))
        with mock.patch.object(audio, "MAX_TOTAL_BYTES", 1000):
            with self.assertRaisesRegex(RuntimeError, "more than 1000"):
                audio.make_examples(FakeRenderer(noise), plan, self.tmp.name)
        with self.assertRaisesRegex(RuntimeError, "beyond full scale"):
            audio.make_examples(FakeRenderer(noise * 20), plan, self.tmp.name)


if __name__ == "__main__":
    unittest.main()
