"""Short audio examples: the built-in riff through the factory programs at
1x and 16x, as mono 16-bit FLAC files small enough to keep in the
repository (all of them together at most MAX_TOTAL_BYTES)."""

import os
import subprocess
import tempfile

import numpy as np

from . import wavfile
from .render import PROGRAMS

MAX_TOTAL_BYTES = 2_000_000
SHOWN = ("Oversmpl", "Gain", "Level", "Triode", "Voltage", "Cap", "Normaliz")


def file_name(program, factor):
    name = dict(PROGRAMS)[program].lower().replace(" ", "-")
    return f"program{program}-{name}-{factor}x.flac"


def prepare(y, rate, seconds, fade_seconds):
    """The two channels averaged into one, cut to `seconds` with a
    half-cosine fade over the last `fade_seconds`."""
    mono = y.mean(axis=1)[:int(round(seconds * rate))].copy()
    n = min(len(mono), int(round(fade_seconds * rate)))
    if n > 0:
        mono[-n:] *= 0.5 + 0.5 * np.cos(np.pi * np.arange(1, n + 1) / n)
    return mono


def encode(mono, rate, path, title, seed, flac="flac"):
    """Writes mono as a 16-bit FLAC at path; returns the number of samples
    that had to be clipped (0 for every example we make)."""
    with tempfile.TemporaryDirectory(prefix="z5r-audio-") as tmp:
        wav = os.path.join(tmp, "clip.wav")
        clipped = wavfile.write_pcm16(wav, mono, rate, seed)
        subprocess.run([flac, "--silent", "--force", "--best", f"--tag=TITLE={title}",
                        "--tag=ARTIST=Korvane Z5R demo riff", "-o", path, wav], check=True)
    return clipped


def make_examples(renderer, plan, outdir, flac="flac"):
    """Renders and encodes every example; returns one record per file."""
    os.makedirs(outdir, exist_ok=True)
    records = []
    for program in plan.programs:
        for factor in (1, 16):
            y, rate, shown = renderer.demo(program, {"Oversmpl": 1.0 if factor == 16 else 0.0})
            mono = prepare(y, rate, plan.demo_seconds, plan.demo_fade_seconds)
            path = os.path.join(outdir, file_name(program, factor))
            title = f"{dict(PROGRAMS)[program]}, {factor}x"
            clipped = encode(mono, rate, path, title, seed=1 + 2 * program + (factor == 16), flac=flac)
            if clipped:
                raise RuntimeError(f"{path}: {clipped} samples beyond full scale")
            records.append({
                "file": os.path.basename(path), "program": program, "factor": factor,
                "seconds": len(mono) / rate, "bytes": os.path.getsize(path),
                "peak_dbfs": 20 * np.log10(max(np.max(np.abs(mono)), 1e-12)),
                "settings": {k: shown.get(k, "?") for k in SHOWN},
            })
    total = sum(r["bytes"] for r in records)
    if total > MAX_TOTAL_BYTES:
        raise RuntimeError(f"the audio examples take {total} bytes, more than {MAX_TOTAL_BYTES}")
    return records


def markdown_table(records, prefix="audio/"):
    """The examples as a Markdown table, settings as the plug-in shows them."""
    head = "| File | Program | " + " | ".join(SHOWN) + " |"
    rows = [head, "|" + "---|" * (len(SHOWN) + 2)]
    for r in records:
        s = r["settings"]
        rows.append(f"| [{r['file']}]({prefix}{r['file']}) | {r['program']} {dict(PROGRAMS)[r['program']]} | "
                    + " | ".join(s[k] for k in SHOWN) + " |")
    return "\n".join(rows)
