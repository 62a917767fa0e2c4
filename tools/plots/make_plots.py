#!/usr/bin/python3
"""Measures the built plug-in through z5r-render and writes the pictures of
its sound (PNG) and the audio examples (FLAC).

    make_plots.py --render build/linux/z5r-render [--sound DIR] [--audio DIR] [--tiny]

--tiny measures a small subset quickly (the smoke test uses it)."""

import argparse
import math
import os
import shutil
import sys
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from z5rplots import audio, figures  # noqa: E402
from z5rplots import measure as M  # noqa: E402
from z5rplots.render import CAPS_UF, TRIODES, VOLTAGES, Renderer  # noqa: E402

PICTURES = {
    "transfer": "transfer-curves.png",
    "harmonics": "harmonics.png",
    "thd": "thd-vs-gain.png",
    "aliasing": "aliasing.png",
    "sag": "bias-sag.png",
    "response": "frequency-response.png",
}


def crossing(gains, values, level):
    """The gain (dB) at which values (rising with gain) first reach level,
    interpolated on a log scale; None if they never do."""
    for g0, v0, g1, v1 in zip(gains, values, gains[1:], values[1:]):
        if v0 < level <= v1:
            return g0 + (g1 - g0) * math.log(level / v0) / math.log(v1 / v0)
    return None


def settle_time(times, levels_db, within_db):
    """The first time from which every later level stays within within_db
    of 0 dB; None if the last one is still outside."""
    outside = [i for i, v in enumerate(levels_db) if abs(v) >= within_db]
    if not outside:
        return times[0]
    if outside[-1] + 1 >= len(times):
        return None
    return times[outside[-1] + 1]


def _num(value, unit):
    return "never" if value is None else f"{value:.1f} {unit}"


def make(render, plugin=None, sound_dir=None, audio_dir=None, plan=None, wanted=None, flac="flac", log=print):
    """Makes the pictures and examples named in wanted (all by default) and
    returns the figures quoted in the docs, by topic."""
    plan = plan or M.Plan()
    wanted = set(wanted or list(PICTURES) + ["audio"])
    summary = {}
    started = time.monotonic()

    def step(text):
        log(f"[{time.monotonic() - started:5.1f} s] {text}")

    def out(name):
        return os.path.join(sound_dir, PICTURES[name])

    if wanted & set(PICTURES):
        os.makedirs(sound_dir, exist_ok=True)
    with Renderer(render, plugin) as r:
        if "transfer" in wanted:
            step("transfer curves")
            curves = {(t, v): M.transfer_curve(r, t, v, plan) for v in plan.voltages for t in plan.triodes}
            figures.transfer_curves(curves, out("transfer"))
            summary["transfer"] = {(TRIODES[t], VOLTAGES[v]): (float(y.min()), float(y.max())) for (t, v), (_, y) in curves.items()}

        if wanted & {"harmonics", "thd"}:
            step("harmonics and THD")
            sweep = M.distortion_sweep(r, plan)
            if "harmonics" in wanted:
                figures.harmonics(sweep, plan.harmonic_gains_db, out("harmonics"))
            gains = list(plan.thd_gains_db)
            if "thd" in wanted:
                figures.thd_curves(sweep, gains, out("thd"))
            summary["thd"] = {}
            for t in sorted(sweep):
                thd = [sweep[t][g][1] for g in gains]
                summary["thd"][TRIODES[t]] = {"gains": gains, "thd": thd,
                                              "1%": crossing(gains, thd, 0.01), "10%": crossing(gains, thd, 0.1)}
                log(f"  {TRIODES[t]}: THD {100 * thd[0]:.3g} % at {gains[0]:+g} dB, {100 * thd[-1]:.3g} % at "
                    f"{gains[-1]:+g} dB; reaches 1 % at {_num(summary['thd'][TRIODES[t]]['1%'], 'dB')}, "
                    f"10 % at {_num(summary['thd'][TRIODES[t]]['10%'], 'dB')}")

        if "aliasing" in wanted:
            step("aliasing")
            results = {f: M.aliasing(r, f, plan) for f in (1, 16)}
            figures.aliasing(results, out("aliasing"))
            summary["aliasing"] = {f: res["worst"] for f, res in results.items()}
            for f, w in summary["aliasing"].items():
                log(f"  {f}x: worst alias " + (f"{w[1]:.1f} dBc at {w[0]:g} Hz (harmonic {w[2]})" if w
                                                 else f"below {M.ALIAS_FLOOR_DBC:g} dBc"))

        if "sag" in wanted:
            step("bias sag")
            results = {c: M.sag(r, c, plan) for c in plan.caps}
            figures.sag(results, out("sag"))
            summary["sag"] = {}
            for c, (t, env, _, end) in results.items():
                after = env[t >= end]
                settled = after[-max(1, len(after) // 10):].mean()
                level = 20 * np.log10(after / settled)
                ms = (t[t >= end] - end) * 1000
                summary["sag"][CAPS_UF[c]] = {"dip_db": float(level.min()), "within_0.5_db_ms": settle_time(ms, level, 0.5)}
                log(f"  {CAPS_UF[c]:g} uF: quiet tone {level.min():+.1f} dB right after the burst, back within "
                    f"0.5 dB after {_num(summary['sag'][CAPS_UF[c]]['within_0.5_db_ms'], 'ms')}")

        if "response" in wanted:
            step("frequency response")
            results = {c: M.frequency_response(r, c, plan) for c in plan.caps}
            figures.frequency_response(results, out("response"))
            summary["response"] = {}
            for c, (f, g) in results.items():
                summary["response"][CAPS_UF[c]] = {hz: float(g[abs(f - hz).argmin()]) for hz in (20, 100, 1000, 10000)}
                log(f"  {CAPS_UF[c]:g} uF: " + ", ".join(f"{v:+.1f} dB at {hz} Hz"
                                                         for hz, v in summary["response"][CAPS_UF[c]].items()))

        if "audio" in wanted:
            step("audio examples")
            records = audio.make_examples(r, plan, audio_dir, flac)
            summary["audio"] = records
            for rec in records:
                log(f"  {rec['file']}: {rec['seconds']:.2f} s, {rec['bytes']} bytes, peak {rec['peak_dbfs']:.1f} dBFS")
            log(f"  total {sum(rec['bytes'] for rec in records)} bytes\n" + audio.markdown_table(records))

        step(f"done: {r.count} renders")
    return summary


def main(argv=None):
    root = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--render", required=True, help="the z5r-render program")
    p.add_argument("--plugin", help="plug-in library (default: the one beside z5r-render)")
    p.add_argument("--sound", default=os.path.join(root, "docs", "sound"), help="folder for the PNGs")
    p.add_argument("--audio", default=os.path.join(root, "docs", "audio"), help="folder for the FLACs")
    p.add_argument("--flac", default="flac", help="the flac encoder")
    p.add_argument("--tiny", action="store_true", help="a small, quick subset (smoke test)")
    p.add_argument("--only", nargs="+", choices=list(PICTURES) + ["audio"], help="make only these")
    args = p.parse_args(argv)
    if (args.only is None or "audio" in args.only) and shutil.which(args.flac) is None:
        p.error(f"no '{args.flac}' encoder found (tools/install-deps.sh installs it)")
    make(args.render, args.plugin, args.sound, args.audio, M.Plan.tiny() if args.tiny else M.Plan(),
         args.only, args.flac, log=lambda text: print(text, flush=True))
    return 0


if __name__ == "__main__":
    sys.exit(main())
