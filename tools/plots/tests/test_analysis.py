"""The measurements against signals whose answers are known by construction."""

import math
import unittest

import numpy as np

from z5rplots import analysis as A

RATE = 48000


def tones(freqs_amps, seconds=0.1, rate=RATE, phase=0.3):
    t = np.arange(int(seconds * rate)) / rate
    return sum(a * np.sin(2 * np.pi * f * t + phase * k) for k, (f, a) in enumerate(freqs_amps))


class ToneLevels(unittest.TestCase):
    def test_amplitude_on_and_between_bins(self):
        # 1234.5 Hz does not complete a whole number of cycles in 0.1 s.
        for f in (1000.0, 1234.5, 17000.0):
            with self.subTest(freq=f):
                a = A.tone_amplitudes(tones([(f, 0.37)]), RATE, [f])[0]
                self.assertAlmostEqual(a, 0.37, delta=0.37 * 1e-3)

    def test_a_loud_neighbour_does_not_leak_into_a_quiet_tone(self):
        y = tones([(1000, 1.0), (1100, 1e-4)])
        self.assertAlmostEqual(A.db(A.tone_amplitudes(y, RATE, [1100])[0]), -80.0, delta=0.5)
        # And where there is nothing, a reading far below it.
        self.assertLess(A.db(A.tone_amplitudes(y, RATE, [1300])[0]), -120)

    def test_harmonic_levels_relative_to_the_fundamental(self):
        y = tones([(1000, 0.5), (2000, 0.05), (3000, 0.005), (7000, 0.0005)])
        levels = A.harmonic_levels(y, RATE, 1000, last=10)
        self.assertEqual(len(levels), 9)  # 2nd .. 10th
        np.testing.assert_allclose(levels[[0, 1, 5]], [-20, -40, -60], atol=0.05)
        self.assertTrue(np.all(levels[[2, 3, 4, 6, 7, 8]] < -120))

    def test_thd_sums_every_harmonic_below_nyquist(self):
        # 23 kHz is the last harmonic of 1 kHz below 24 kHz and must count.
        y = tones([(1000, 1.0), (3000, 0.03), (23000, 0.04)])
        self.assertAlmostEqual(A.thd(y, RATE, 1000), 0.05, delta=1e-4)
        self.assertLess(A.thd(tones([(1000, 1.0)]), RATE, 1000), 1e-5)


class Aliasing(unittest.TestCase):
    def test_fold(self):
        cases = {10000: 10000, 24000: 24000, 30000: 18000, 40000: 8000, 50000: 2000, 96000: 0, 130000: 14000}
        for f, expected in cases.items():
            self.assertEqual(A.fold(f, RATE), expected, f)

    def test_components_name_each_fold_back_and_its_source(self):
        # Harmonics 1..5 of 10 kHz sampled at 48 kHz: 30, 40 and 50 kHz come
        # back as 18, 8 and 2 kHz.
        amps = {1: 1.0, 2: 0.1, 3: 0.03, 4: 0.01, 5: 0.003}
        y = tones([(10000 * k, a) for k, a in amps.items()], seconds=0.05)
        harmonics, aliases = A.components(y, RATE, 10000, floor_dbc=-100)
        self.assertEqual([(f, k) for f, _, k in harmonics], [(10000, 1), (20000, 2)])
        self.assertEqual(sorted((f, k) for f, _, k in aliases), [(2000, 5), (8000, 4), (18000, 3)])
        for f, level, k in aliases:
            self.assertAlmostEqual(level, 20 * math.log10(amps[k]), delta=0.05)

    def test_nothing_folds_back_from_a_clean_tone(self):
        _, aliases = A.components(tones([(10000, 1.0)], seconds=0.05), RATE, 10000, floor_dbc=-120)
        self.assertEqual(aliases, [])

    def test_coherent_spectrum_keeps_components_apart(self):
        # 0.05 s holds whole 24-sample periods: a -140 dBc line next to a
        # full-scale one must stand out, with no window to smear it.
        y = tones([(10000, 1.0), (12000, 1e-7)], seconds=0.05)
        freqs, levels = A.spectrum_dbc(y, RATE, 10000, coherent=True)
        self.assertAlmostEqual(levels[np.argmin(abs(freqs - 10000))], 0.0, delta=0.01)
        self.assertAlmostEqual(levels[np.argmin(abs(freqs - 12000))], -140.0, delta=1.0)
        self.assertLess(levels[np.argmin(abs(freqs - 11000))], -160)


class Signals(unittest.TestCase):
    def test_triangle_ramps_up_first_and_covers_the_whole_range(self):
        x = A.triangle(4999.0, 0.1, RATE)
        self.assertEqual(x[0], 0.0)
        self.assertGreater(x[1], 0.0)
        self.assertLessEqual(np.max(np.abs(x)), 1.0)
        # A frequency that does not divide the rate samples every part of the ramp.
        counts, _ = np.histogram(x, bins=200, range=(-1, 1))
        self.assertTrue(np.all(counts > 0))
        # One that divides it samples the same few points over and over:
        # 6 kHz gives 0, 1/2, 1, 1/2, 0, -1/2, -1, -1/2.
        self.assertEqual(len(np.unique(np.round(A.triangle(6000.0, 0.1, RATE), 12))), 5)

    def test_multisine_is_periodic_with_the_asked_level(self):
        x, bins = A.multisine(4800, RATE, 20, 20000, 50, rms=0.01)
        self.assertAlmostEqual(float(np.sqrt(np.mean(x ** 2))), 0.01, places=9)
        self.assertEqual(len(bins), len(set(bins)))
        spectrum = np.abs(np.fft.rfft(x))
        others = np.delete(spectrum, bins)
        self.assertLess(others.max(), 1e-9 * spectrum[bins].min())

    def test_response_of_a_known_filter(self):
        x, bins = A.multisine(4800, RATE, 20, 20000, 50, rms=0.1)
        y = 0.5 * np.roll(x, 3)  # half the level, three samples late (circularly)
        h = A.response(x, y, bins)
        np.testing.assert_allclose(np.abs(h), 0.5, rtol=1e-9)
        np.testing.assert_allclose(np.angle(h), np.angle(np.exp(-2j * np.pi * bins * 3 / 4800)), atol=1e-9)

    def test_half_swing_ignores_a_drifting_offset(self):
        t = np.arange(4800)
        y = 0.2 * np.sin(2 * np.pi * t / 48) + 0.5 * np.exp(-t / 20000.0)
        env = A.half_swing(y, 48)
        self.assertEqual(len(env), 100)
        np.testing.assert_allclose(env, 0.2, rtol=2e-3)  # an offset of up to 0.5 is gone


if __name__ == "__main__":
    unittest.main()
