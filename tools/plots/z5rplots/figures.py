"""The pictures, in the product's own dark look: graphite background,
light text, blue accents, and one colour per triode in every picture."""

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from matplotlib.ticker import FuncFormatter  # noqa: E402

from . import measure as M  # noqa: E402
from .render import CAPS_UF, TRIODES, VOLTAGES  # noqa: E402

BACKGROUND = "#1c1d20"
FACE = "#25272b"
GRID = "#3b3f46"
TEXT = "#e1e4ea"
MUTED = "#9ba3ad"
ACCENT = "#4fa3e8"
TRIODE_COLOURS = ("#4fa3e8", "#f2b64c", "#7fd693")  # 12AX7 blue, 12AT7 amber, 12AU7 green
CAP_COLOURS = ("#eceff4", "#b79cf2", "#f2809f")     # 0.47, 1 and 22 uF
ALIAS = "#ff5b4f"
WIDTH = 8.0  # inches; at DPI this is 1200 px, shown at ~800 px in a README
DPI = 150

plt.rcParams.update({
    "figure.facecolor": BACKGROUND,
    "axes.facecolor": FACE,
    "axes.edgecolor": GRID,
    "axes.labelcolor": TEXT,
    "axes.titlecolor": TEXT,
    "axes.grid": True,
    "grid.color": GRID,
    "grid.linewidth": 0.6,
    "xtick.color": MUTED,
    "ytick.color": MUTED,
    "xtick.labelcolor": TEXT,
    "ytick.labelcolor": TEXT,
    "text.color": TEXT,
    "legend.facecolor": BACKGROUND,
    "legend.edgecolor": GRID,
    "legend.labelcolor": TEXT,
    "font.size": 10,
    "axes.titlesize": 11,
    "axes.labelsize": 10,
    "savefig.facecolor": BACKGROUND,
})


def cap_label(i):
    return f"{CAPS_UF[i]:g} µF"


def _title(fig, title, subtitle):
    """Title and subtitle at fixed distances from the top, whatever the
    figure's height; returns the layout rectangle left for the axes."""
    height = fig.get_figheight()
    fig.text(0.012, 1 - 0.08 / height, title, ha="left", va="top", fontsize=13, fontweight="bold", color=TEXT)
    fig.text(0.012, 1 - 0.36 / height, subtitle, ha="left", va="top", fontsize=9, color=MUTED)
    return (0, 0, 1, 1 - 0.52 / height)


def save(fig, path):
    # No software version in the file: regenerating gives the same bytes.
    fig.savefig(path, dpi=DPI, metadata={"Software": None})
    plt.close(fig)


def transfer_curves(curves, path):
    """curves: {(triode, voltage): (input, output)}."""
    triodes = sorted({t for t, _ in curves})
    voltages = sorted({v for _, v in curves})
    fig, axes = plt.subplots(len(voltages), len(triodes), figsize=(WIDTH, 1.0 + 2.15 * len(voltages)),
                             sharex=True, sharey=True, squeeze=False)
    peak = max(np.max(np.abs(y)) for _, y in curves.values())
    lim = np.ceil(peak * 1.1 * 10) / 10
    for r, v in enumerate(voltages):
        for c, t in enumerate(triodes):
            ax = axes[r][c]
            x, y = curves[(t, v)]
            ax.axhline(0, color=MUTED, lw=0.6)
            ax.axvline(0, color=MUTED, lw=0.6)
            ax.plot(x, y, ".", color=TRIODE_COLOURS[t], ms=2.2, mew=0)
            ax.set_xlim(-1.05, 1.05)
            ax.set_ylim(-lim, lim)
            if r == 0:
                ax.set_title(TRIODES[t], color=TRIODE_COLOURS[t], fontweight="bold")
            if c == 0:
                ax.set_ylabel(f"{VOLTAGES[v]} V\nOutput (FS)")
            if r == len(voltages) - 1:
                ax.set_xlabel("Input (FS)")
    rect = _title(fig, "Transfer curves",
           f"Output against input, sample by sample, for a full-scale {M.TRANSFER_FREQ / 1000:.0f} kHz triangle; "
           f"Gain {M.TRANSFER_GAIN_DB:+g} dB, 1 µF, Normaliz on, 1×")
    fig.tight_layout(rect=rect)
    save(fig, path)


def harmonics(sweep, gains, path):
    """sweep: {triode: {gain: (harmonic dBc 2..10, thd)}}."""
    triodes = sorted(sweep)
    floor = -100.0
    fig, axes = plt.subplots(1, len(gains), figsize=(WIDTH, 3.9), sharey=True, squeeze=False)
    width = 0.8 / len(triodes)
    for ax, g in zip(axes[0], gains):
        for i, t in enumerate(triodes):
            levels = np.maximum(sweep[t][g][0], floor)
            k = np.arange(2, 2 + len(levels))
            ax.bar(k + (i - (len(triodes) - 1) / 2) * width, levels - floor, width, bottom=floor,
                   color=TRIODE_COLOURS[t], label=TRIODES[t])
        ax.set_title(f"Gain {g:+g} dB")
        ax.set_xticks(k)
        ax.set_xlabel("Harmonic")
        ax.set_ylim(floor, 0)
        ax.grid(axis="x", visible=False)
    axes[0][0].set_ylabel("Level (dBc)")
    axes[0][-1].legend(loc="upper right", fontsize=9)
    rect = _title(fig, "Harmonics",
                  f"Harmonics of a {M.TONE_FREQ // 1000} kHz sine at −12 dBFS relative to the fundamental, "
                  "down to −100 dBc; 250 V, 1 µF, 16×")
    fig.tight_layout(rect=rect)
    save(fig, path)


def thd_curves(sweep, gains, path):
    fig, ax = plt.subplots(figsize=(WIDTH, 4.2))
    for t in sorted(sweep):
        thd = np.array([sweep[t][g][1] for g in gains]) * 100
        ax.plot(gains, thd, color=TRIODE_COLOURS[t], lw=2, marker="o", ms=4, label=TRIODES[t])
    ax.set_yscale("log")
    lowest = min(min(sweep[t][g][1] for g in gains) for t in sweep) * 100
    ax.set_ylim(10 ** np.floor(np.log10(lowest)), 100)
    ax.yaxis.set_major_formatter(FuncFormatter(lambda v, _: f"{v:g}"))
    ax.set_xlabel("Gain (dB)")
    ax.set_ylabel("THD (%)")
    ax.set_xticks(np.arange(-12, 37, 6))
    ax.set_xlim(-12.5, 36.5)
    ax.grid(which="minor", color=GRID, lw=0.3)
    ax.legend(loc="lower right")
    rect = _title(fig, "Total harmonic distortion against Gain",
           f"{M.TONE_FREQ // 1000} kHz sine at −12 dBFS, all harmonics below 24 kHz; 250 V, 1 µF, 16×")
    fig.tight_layout(rect=rect)
    save(fig, path)


def _ordinal(k):
    return f"{k}{'th' if 10 <= k % 100 <= 20 else {1: 'st', 2: 'nd', 3: 'rd'}.get(k % 10, 'th')}"


def aliasing(results, path):
    """results: {oversampling factor: measure.aliasing(...)}."""
    factors = sorted(results)
    fig, axes = plt.subplots(1, len(factors), figsize=(WIDTH, 4.2), sharey=True, squeeze=False)
    colour = TRIODE_COLOURS[M.ALIAS_TRIODE]
    for ax, f in zip(axes[0], factors):
        r = results[f]
        ax.plot(r["freqs"] / 1000, np.maximum(r["levels"], -200), color=colour, lw=0.8, alpha=0.7)
        if r["harmonics"]:
            hf, hl, _ = zip(*r["harmonics"])
            ax.plot(np.array(hf) / 1000, hl, "o", color=colour, ms=6, label="harmonics")
        if r["aliases"]:
            af, al, _ = zip(*r["aliases"])
            ax.plot(np.array(af) / 1000, al, "v", color=ALIAS, ms=6, label="aliases")
        w = r["worst"]
        if w:
            ax.plot(w[0] / 1000, w[1], "o", ms=13, mfc="none", mec=ALIAS, mew=1.4)
            note = (f"worst alias {w[1]:.1f} dBc at {w[0] / 1000:g} kHz\n"
                    f"(the {_ordinal(w[2])} harmonic, {w[2] * M.ALIAS_FREQ // 1000} kHz, folded back)")
        else:
            note = f"no alias above {M.ALIAS_FLOOR_DBC:g} dBc\n"
        note = note.replace("-", "\N{MINUS SIGN}")
        ax.set_title(f"{f}× oversampling", fontweight="bold", pad=32)
        ax.text(0.5, 1.015, note, transform=ax.transAxes, ha="center", va="bottom", fontsize=9, color=MUTED)
        ax.set_xlim(0, 24.6)  # the last line sits on 24 kHz itself
        ax.set_ylim(-165, 12)
        ax.set_yticks(np.arange(-160, 1, 20))
        ax.set_xlabel("Frequency (kHz)")
    axes[0][0].set_ylabel("Level (dBc)")
    axes[0][0].legend(loc="lower left", fontsize=9, ncol=2)
    rect = _title(fig, "Aliasing",
           f"{M.ALIAS_FREQ // 1000} kHz sine at −12 dBFS, Gain {M.ALIAS_GAIN_DB:+g} dB (full), "
           f"{TRIODES[M.ALIAS_TRIODE]}, 250 V, 1 µF, at 48 kHz")
    fig.tight_layout(rect=rect)
    save(fig, path)


def sag(results, path):
    """results: {cap: measure.sag(...)}."""
    fig, (full, zoom) = plt.subplots(1, 2, figsize=(WIDTH, 3.9), gridspec_kw={"width_ratios": (1.25, 1)})
    zoom_ms = 300
    for cap in sorted(results):
        t, env, start, end = results[cap]
        colour, label = CAP_COLOURS[cap], cap_label(cap)
        level = 20 * np.log10(np.maximum(env, 1e-6))
        full.plot(t, level, color=colour, lw=1.4, label=label)
        after = t >= end
        settled = level[after][-max(1, len(level[after]) // 10):].mean()
        # Each envelope value belongs to the middle of its cycle.
        middle = (t[after] - end) * 1000 + 500.0 / M.SAG_FREQ
        zoom.semilogx(middle, level[after] - settled, color=colour, lw=1.6, label=label)
    full.axvspan(start, end, color=ACCENT, alpha=0.12, lw=0)
    full.text((start + end) / 2, -3, "burst −6 dBFS", ha="center", va="top", fontsize=9, color=MUTED)
    full.text((end + t[-1]) / 2, -3, "tone −26 dBFS", ha="center", va="top", fontsize=9, color=MUTED)
    full.set_xlim(0, t[-1])
    full.set_ylim(-50, 0)
    full.set_xlabel("Time (s)")
    full.set_ylabel("Output envelope (dBFS)")
    full.legend(loc="lower right", fontsize=9)
    zoom.axhline(0, color=MUTED, lw=0.6)
    zoom.set_xlim(500.0 / M.SAG_FREQ, zoom_ms)
    zoom.xaxis.set_major_formatter(FuncFormatter(lambda v, _: f"{v:g}"))
    zoom.grid(which="minor", color=GRID, lw=0.3)
    zoom.set_xlabel("Time after the burst (ms)")
    zoom.set_ylabel("Quiet tone vs. its settled level (dB)")
    zoom.set_title("Recovery", fontsize=10)
    rect = _title(fig, "Bias sag",
           f"{M.SAG_FREQ // 1000} kHz burst after silence, then a quiet tone; envelope = half the swing of each "
           f"cycle; {TRIODES[M.SAG_TRIODE]}, 250 V, Gain {M.SAG_GAIN_DB:+g} dB, 16×")
    fig.tight_layout(rect=rect)
    save(fig, path)


def frequency_response(results, path):
    """results: {cap: (frequencies, gain dB)}."""
    fig, ax = plt.subplots(figsize=(WIDTH, 4.0))
    for cap in sorted(results):
        f, g = results[cap]
        ax.semilogx(f, g, color=CAP_COLOURS[cap], lw=2, label=cap_label(cap))
    ax.set_xlim(10, 22000)
    top = max(np.max(g) for _, g in results.values())
    bottom = min(np.min(g[f >= 10]) for f, g in results.values())
    ax.set_ylim(2 * np.floor(bottom / 2 - 0.25), 2 * np.ceil(top / 2 + 0.25))
    ax.xaxis.set_major_formatter(FuncFormatter(lambda v, _: f"{v / 1000:g}k" if v >= 1000 else f"{v:g}"))
    ax.grid(which="minor", color=GRID, lw=0.3)
    ax.set_xlabel("Frequency (Hz)")
    ax.set_ylabel("Gain, input to output (dB)")
    ax.legend(title="Cathode cap", loc="lower right")
    rect = _title(fig, "Small-signal frequency response",
           f"Multisine at −70 dBFS; {TRIODES[M.RESPONSE_TRIODE]}, 250 V, Gain {M.RESPONSE_GAIN_DB:+g} dB, "
           "Normaliz on, 16×")
    fig.tight_layout(rect=rect)
    save(fig, path)
