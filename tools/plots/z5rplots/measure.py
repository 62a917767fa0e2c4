"""The measurements behind each picture: which signal goes in, with which
settings, and which part of the output is read.

Unless a measurement says otherwise the plug-in runs at 16x, 250 V,
1 uF, Normaliz on and Level 0 dB, at 48 kHz. Every render starts with a
lead-in that is thrown away: Gain and Level rise from 0 over the first
~10 ms, and the DC blocker (corner ~1.5 Hz, time constant ~0.1 s) and the
cathode capacitor need time to reach their steady state."""

from dataclasses import dataclass, field

import numpy as np

from . import analysis as A
from .render import RATE, settings

INPUT_LEVEL = 0.25  # -12 dBFS: a hot guitar pickup, the level of every tone test
# At 16x the output is lined up with the input, so its last few samples
# already hear the silence after the input ends. Every signal runs on this
# long past the part that is analysed.
GUARD = 480


def steady_part(y, n):
    """The n samples of y that end GUARD samples before its end."""
    return y[len(y) - GUARD - n:len(y) - GUARD]


@dataclass
class Plan:
    """What to measure. The defaults make the published pictures; tiny()
    makes a quick subset for the smoke test."""
    triodes: tuple = (0, 1, 2)
    voltages: tuple = (0, 1, 2)
    caps: tuple = (0, 1, 2)
    thd_gains_db: tuple = tuple(range(-12, 37, 3))
    harmonic_gains_db: tuple = (0, 12, 24)
    programs: tuple = (0, 1, 2, 3)
    demo_seconds: float = 5.6  # three of the riff's four phrases: the eight files fit in 2 MB
    demo_fade_seconds: float = 0.35
    seconds: float = 1.0  # scale of lead-ins and analysis lengths
    extra: dict = field(default_factory=dict)

    @classmethod
    def tiny(cls):
        return cls(triodes=(0, 2), voltages=(1,), caps=(0, 2), thd_gains_db=(-12, 12, 36),
                   harmonic_gains_db=(12,), programs=(3,), demo_seconds=1.0, demo_fade_seconds=0.2,
                   seconds=0.25)


# --- 1. Transfer curves -----------------------------------------------------
#
# A slow ramp cannot show the stage's curve through this plug-in: below a few
# hundred hertz the cathode capacitor follows the signal and changes the gain,
# and the 1.5 Hz DC blocker bends anything slower than a second or so, so a
# slow triangle traces wide loops. Above the cathode's corner the capacitor
# holds its bias through each cycle; at 1x every output sample is then the
# stage's response to one input sample. So: a fast full-scale triangle at 1x,
# its frequency not a divisor of the rate, so that a fraction of a second of
# it samples the whole ramp thousands of times at different points.

TRANSFER_FREQ = 4999.0
TRANSFER_GAIN_DB = 12.0


def transfer_curve(renderer, triode, voltage, plan):
    """(input, output) samples of a full-scale triangle, after a lead-in that
    lets the DC blocker settle."""
    lead, length = 1.0 * plan.seconds, max(0.02, 0.1 * plan.seconds)
    x = A.triangle(TRANSFER_FREQ, lead + length, RATE)
    y = renderer.render(x, settings(triode, voltage, 1, TRANSFER_GAIN_DB, oversample=1))[:, 0]
    n = int(round(length * RATE))
    return x[-n:], y[-n:]


# --- 2 and 3. Harmonics and THD --------------------------------------------

TONE_FREQ = 1000


def tone_distortion(renderer, triode, gain_db, plan):
    """(harmonic levels 2..10 in dBc, THD ratio) of a 1 kHz sine at -12 dBFS."""
    lead = 0.3 * plan.seconds
    length = max(0.05, 0.2 * plan.seconds)  # whole 1 kHz cycles either way
    x = A.sine(TONE_FREQ, lead + length + GUARD / RATE, RATE, INPUT_LEVEL)
    y = renderer.render(x, settings(triode, 1, 1, gain_db))[:, 0]
    tail = steady_part(y, int(round(length * RATE)))
    return A.harmonic_levels(tail, RATE, TONE_FREQ), A.thd(tail, RATE, TONE_FREQ)


def distortion_sweep(renderer, plan):
    """{triode: {gain dB: (harmonic dBc, THD)}} over the THD and harmonic gains."""
    gains = sorted(set(plan.thd_gains_db) | set(plan.harmonic_gains_db))
    return {t: {g: tone_distortion(renderer, t, float(g), plan) for g in gains} for t in plan.triodes}


# --- 4. Aliasing -----------------------------------------------------------

ALIAS_FREQ = 10000
ALIAS_GAIN_DB = 36.0
ALIAS_TRIODE = 0
ALIAS_FLOOR_DBC = -150.0  # below this lies the rounding of 32-bit samples


def aliasing(renderer, oversample, plan):
    """Spectrum and components of a 10 kHz sine at full gain (12AX7). The
    tone repeats every 24 samples at 48 kHz, and so does the output once
    the DC blocker has settled: the spectrum needs no window."""
    lead = 1.5 * plan.seconds
    length = max(0.05, 0.25 * plan.seconds)  # a multiple of 24 samples either way
    x = A.sine(ALIAS_FREQ, lead + length + GUARD / RATE, RATE, INPUT_LEVEL)
    y = renderer.render(x, settings(ALIAS_TRIODE, 1, 1, ALIAS_GAIN_DB, oversample=oversample))[:, 0]
    tail = steady_part(y, int(round(length * RATE)))  # whole 24-sample periods: GUARD is 20 of them
    freqs, levels = A.spectrum_dbc(tail, RATE, ALIAS_FREQ, coherent=True)
    harmonics, aliases = A.components(tail, RATE, ALIAS_FREQ, ALIAS_FLOOR_DBC)
    worst = max(aliases, key=lambda a: a[1]) if aliases else None
    return {"freqs": freqs, "levels": levels, "harmonics": harmonics, "aliases": aliases, "worst": worst}


# --- 5. Bias sag -----------------------------------------------------------

SAG_TRIODE = 0
SAG_GAIN_DB = 24.0
SAG_FREQ = 1000
SAG_BURST_LEVEL = 0.5    # -6 dBFS
SAG_PROBE_LEVEL = 0.05   # -26 dBFS, the quiet tone the burst gives way to


def sag(renderer, cap, plan):
    """Envelope (half swing of each 1 ms cycle) of silence, a loud 1 kHz burst
    and a quiet tone of the same pitch after it. Returns times (s, start of
    each cycle), envelope, and the burst's start and end times."""
    start, burst = 0.1, 0.4 * max(plan.seconds, 0.25)
    after = 0.5 * max(plan.seconds, 0.3)
    t = np.arange(int(round((start + burst + after) * RATE))) / RATE
    level = np.where(t < start, 0.0, np.where(t < start + burst, SAG_BURST_LEVEL, SAG_PROBE_LEVEL))
    # Each level change at a zero crossing, so that no click excites anything.
    x = level * np.sin(2 * np.pi * SAG_FREQ * t)
    y = renderer.render(x, settings(SAG_TRIODE, 1, cap, SAG_GAIN_DB))[:, 0]
    period = RATE // SAG_FREQ
    env = A.half_swing(y, period)
    return np.arange(len(env)) * period / RATE, env, start, start + burst


# --- 6. Small-signal frequency response ------------------------------------

RESPONSE_TRIODE = 0
RESPONSE_GAIN_DB = 12.0
# About -70 dBFS: 1 mV at the grid. Louder tones already mix with each other
# enough to roughen the curve.
RESPONSE_RMS = 0.0003


def frequency_response(renderer, cap, plan):
    """(frequencies, gain in dB from input to output) measured with a
    periodic multisine, over the last of several periods."""
    period = RATE  # 1 Hz resolution
    one, bins = A.multisine(period, RATE, 5.0, 22000.0, 400, RESPONSE_RMS)
    periods = 2 + int(plan.seconds >= 0.5)
    x = np.concatenate((np.tile(one, periods), one[:GUARD]))
    y = renderer.render(x, settings(RESPONSE_TRIODE, 1, cap, RESPONSE_GAIN_DB))[:, 0]
    h = A.response(one, steady_part(y, period), bins)
    return bins * (RATE / period), A.db(h)
