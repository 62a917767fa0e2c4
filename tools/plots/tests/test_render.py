"""Settings in the plug-in's terms, and the checks on every render."""

import os
import unittest
from unittest import mock

import numpy as np

from z5rplots import render as R

FAKE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fake_render.py")


class Settings(unittest.TestCase):
    def test_settings_outside_the_controls_are_refused(self):
        self.assertEqual((R.gain_value(-12), R.gain_value(36), R.level_value(-2.4)), (0.0, 1.0, 0.45))
        for call in (lambda: R.gain_value(36.1), lambda: R.level_value(-25), lambda: R.settings(oversample=2)):
            with self.assertRaises(ValueError):
                call()

    def test_every_table_entry_shows_its_name(self):
        for i in range(3):
            shown = R.expected_display(R.settings(triode=i, voltage=i, cap=i))
            self.assertEqual(shown["Triode"], R.TRIODES[i])
            self.assertEqual(shown["Voltage"], f"{R.VOLTAGES[i]} V")
            self.assertEqual(shown["Cap"], ("0.47 uF", "1.00 uF", "22.00 uF")[i])

    def test_parse_display_reads_the_parameter_lines_only(self):
        report = ("plug-in    Korvane Z5R (QMV)  /x/KorvaneZ5R.so\nprogram    0 \"Default\"\n"
                  "  Oversmpl = 16 x\n  Gain     = 12.00 dB\n  Triode   = 12AX7\n"
                  "levels     peak dBFS   RMS dBFS\n  in  L      -6.02      -9.03\n")
        self.assertEqual(R.parse_display(report), {"Oversmpl": "16 x", "Gain": "12.00 dB", "Triode": "12AX7"})


class Rendering(unittest.TestCase):
    def render(self, mode, x=None):
        with mock.patch.dict(os.environ, {"FAKE_MODE": mode}), R.Renderer(FAKE) as r:
            return r.render(np.linspace(-1, 1, 480) if x is None else x, R.settings(triode=2))

    def test_output_comes_back_stereo_and_as_long(self):
        y = self.render("ok")
        self.assertEqual(y.shape, (480, 2))
        np.testing.assert_allclose(y[:, 1], 0.5 * np.linspace(-1, 1, 480), atol=1e-7)

    def test_a_setting_the_plugin_does_not_show_stops_the_run(self):
        with self.assertRaisesRegex(R.RenderError, "Triode shows '12AT7', expected '12AU7'"):
            self.render("wrong-display")

    def test_a_failed_render_says_why(self):
        with self.assertRaisesRegex(R.RenderError, "cannot load the plug-in"):
            self.render("fail")

    def test_a_short_output_is_an_error(self):
        with self.assertRaisesRegex(R.RenderError, "479 frames"):
            self.render("short")

    def test_temporary_files_are_removed(self):
        with mock.patch.dict(os.environ, {"FAKE_MODE": "ok"}), R.Renderer(FAKE) as r:
            r.render(np.zeros(100), R.settings())
            r.demo(0, {"Oversmpl": 1.0})
            self.assertEqual(os.listdir(r._tmp.name), [])
            folder = r._tmp.name
        self.assertFalse(os.path.exists(folder))


if __name__ == "__main__":
    unittest.main()
