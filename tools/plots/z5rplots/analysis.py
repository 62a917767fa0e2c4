"""Test signals and the measurements made on the plug-in's output.

Everything here is plain signal analysis: it knows nothing of the circuit.
Tones are read with a 4-term Blackman-Harris window at their exact
frequencies, so a level is right whether or not it falls on an FFT bin,
and leakage from a neighbour stays below about -92 dB."""

import math

import numpy as np

# 4-term Blackman-Harris coefficients (sidelobes below -92 dB).
_BH4 = (0.35875, 0.48829, 0.14128, 0.01168)


def blackman_harris(n):
    k = 2.0 * np.pi * np.arange(n) / n  # periodic form: exact for whole cycles
    a0, a1, a2, a3 = _BH4
    return a0 - a1 * np.cos(k) + a2 * np.cos(2 * k) - a3 * np.cos(3 * k)


def db(x, floor=1e-20):
    return 20.0 * np.log10(np.maximum(np.abs(x), floor))


# --- Test signals ---------------------------------------------------------

def sine(freq, seconds, rate, amplitude=1.0):
    t = np.arange(int(round(seconds * rate))) / rate
    return amplitude * np.sin(2.0 * np.pi * freq * t)


def triangle(freq, seconds, rate, amplitude=1.0):
    """A triangle starting at 0 and rising first: each cycle ramps 0 -> +A
    over its first quarter, +A -> -A over the middle half and -A -> 0 over
    the last quarter. freq need not divide rate: then successive cycles are
    sampled at different points and together cover the whole ramp densely."""
    phase = np.mod(freq * np.arange(int(round(seconds * rate))) / rate, 1.0)
    return amplitude * np.where(phase < 0.25, 4 * phase, np.where(phase < 0.75, 2 - 4 * phase, 4 * phase - 4))


def multisine(period, rate, fmin, fmax, count, rms, seed=7):
    """One period (samples) of a sum of about `count` sines on log-spaced
    frequencies from fmin to fmax, each a whole number of cycles per period,
    with random phases (fixed by seed) and the given RMS. Returns the
    signal and the FFT bin of each sine."""
    step = rate / period
    bins = np.unique(np.round(np.geomspace(fmin, fmax, count) / step).astype(int))
    bins = bins[(bins > 0) & (bins < period // 2)]
    spectrum = np.zeros(period // 2 + 1, dtype=complex)
    phases = np.random.default_rng(seed).uniform(0, 2 * np.pi, len(bins))
    spectrum[bins] = np.exp(1j * phases)
    x = np.fft.irfft(spectrum, period)
    return x * (rms / np.sqrt(np.mean(x ** 2))), bins


# --- Tones and harmonics --------------------------------------------------

def tone_amplitudes(y, rate, freqs):
    """Peak amplitudes of the sinusoids at freqs (Hz) in y."""
    n = len(y)
    w = blackman_harris(n)
    t = np.arange(n) / rate
    yw = y * w
    gain = np.sum(w) / 2.0
    return np.array([abs(np.dot(yw, np.exp(-2j * np.pi * f * t))) / gain for f in np.atleast_1d(freqs)])


def harmonic_levels(y, rate, f0, last=10):
    """Levels in dBc of harmonics 2..last of f0, relative to the fundamental."""
    a = tone_amplitudes(y, rate, f0 * np.arange(1, last + 1))
    return db(a[1:] / a[0])


def thd(y, rate, f0):
    """Total harmonic distortion (a ratio): the RMS sum of every harmonic
    below half the sampling rate over the fundamental."""
    last = int((rate / 2 - 1) // f0)
    a = tone_amplitudes(y, rate, f0 * np.arange(1, last + 1))
    return math.sqrt(float(np.sum(a[1:] ** 2))) / a[0]


# --- Aliasing -------------------------------------------------------------

def fold(freq, rate):
    """Where a component at freq lands after sampling at rate."""
    f = math.fmod(freq, rate)
    return rate - f if f > rate / 2 else f


def spectrum_dbc(y, rate, f0, coherent=False):
    """(frequencies, levels in dBc) of the spectrum of y, scaled so that the
    component at f0 reads 0 dB. With coherent=True, y must hold whole
    periods of a periodic signal: no window is applied then, every
    component falls on its own bin, and nothing leaks between them."""
    n = len(y)
    w = np.ones(n) if coherent else blackman_harris(n)
    mag = np.abs(np.fft.rfft(y * w)) / (np.sum(w) / 2.0)
    ref = tone_amplitudes(y, rate, [f0])[0]
    return np.fft.rfftfreq(n, 1.0 / rate), db(mag / ref)


def components(y, rate, f0, floor_dbc=-200.0):
    """Every component of y, a steady tone of integer f0 distorted by a
    time-invariant system: they all sit on multiples of gcd(f0, rate).
    Returns (harmonics, aliases) as lists of (Hz, dBc, k): a harmonic is
    k x f0 itself below half the rate; an alias is any other non-zero grid
    frequency, k being the lowest harmonic that folds onto it. Components
    below floor_dbc are left out."""
    if f0 != int(f0) or rate != int(rate):
        raise ValueError("f0 and rate must be whole numbers of hertz")
    grid = math.gcd(int(f0), int(rate))
    freqs = np.arange(grid, rate / 2 + 1e-9, grid)
    levels = tone_amplitudes(y, rate, np.concatenate(([f0], freqs)))
    dbc = db(levels[1:] / levels[0])
    harmonics, aliases = [], []
    for f, level in zip(freqs, dbc):
        if level < floor_dbc:
            continue
        k = round(f / f0)
        if k * f0 == f:
            harmonics.append((float(f), float(level), k))
            continue
        # The lowest harmonic that lands here; the grid guarantees one within
        # rate / grid harmonics.
        source = next(k for k in range(2, int(rate // grid) * 2 + 2) if fold(k * f0, rate) == f)
        aliases.append((float(f), float(level), source))
    return harmonics, aliases


# --- Envelope and response ------------------------------------------------

def half_swing(y, period):
    """Half the peak-to-peak swing of each whole period of y: the envelope of
    a steady tone, blind to the slow offset a DC blocker leaves behind."""
    blocks = y[:len(y) // period * period].reshape(-1, period)
    return (blocks.max(axis=1) - blocks.min(axis=1)) / 2.0


def response(x, y, bins):
    """Complex response at the given FFT bins of a system that took one
    period of a periodic signal x to y (same length)."""
    return np.fft.rfft(y)[bins] / np.fft.rfft(x)[bins]
