"""The figures quoted from a run: threshold crossings and settling times."""

import unittest

import make_plots


class Summary(unittest.TestCase):
    def test_crossing_interpolates_on_a_log_scale(self):
        gains = [0, 10, 20]
        thd = [0.001, 0.01, 0.1]
        self.assertAlmostEqual(make_plots.crossing(gains, thd, 0.01), 10.0)
        self.assertAlmostEqual(make_plots.crossing(gains, thd, 0.001 * 10 ** 0.5), 5.0)
        self.assertIsNone(make_plots.crossing(gains, thd, 0.5))
        self.assertIsNone(make_plots.crossing(gains, thd, 0.0001))  # already above at the start

    def test_settle_time_waits_for_the_last_excursion(self):
        times = [0, 1, 2, 3, 4, 5]
        self.assertEqual(make_plots.settle_time(times, [-6, -1, -0.2, -0.7, -0.1, 0], 0.5), 4)
        self.assertEqual(make_plots.settle_time(times, [0.1] * 6, 0.5), 0)
        self.assertIsNone(make_plots.settle_time(times, [-6, -5, -4, -3, -2, -1], 0.5))


if __name__ == "__main__":
    unittest.main()
