#!/usr/bin/python3
"""Draws the ten skin images of the Korvane Z5R editor.

Usage:
    /usr/bin/python3 tools/skins/draw_skins.py OUTDIR [--preview FILE]

Writes the PNG files listed in SKINS into OUTDIR (normally resources/).
With --preview it also writes a picture of the whole editor with every
control composed over the panel the way the editor does it at run time
(some buttons on, the dial rings part lit), for looking at the art.

Needs pycairo (Debian's python3-cairo, hence /usr/bin/python3) and the
DejaVu fonts (fonts-dejavu-core).  Everything is drawn from code; the
only randomness is seeded, so a run gives the same files every time on
the same cairo and FreeType.
"""

import math
import os
import random
import struct
import sys
import zlib
from itertools import accumulate

import cairo

# id -> (file name, width, height, kind); kind RGBA is PNG colour type 6,
# RGB is colour type 2.  The resource script binds these names to the ids.
SKINS = {
    124: ("dial_unlit_124.png", 144, 144, "RGBA"),
    125: ("dial_lit_inner_125.png", 144, 144, "RGBA"),
    126: ("dial_lit_outer_126.png", 144, 144, "RGBA"),
    134: ("button_blue_134.png", 28, 112, "RGBA"),
    137: ("scope_face_137.png", 142, 142, "RGB"),
    138: ("button_white_138.png", 28, 112, "RGBA"),
    140: ("trace_left_140.png", 36, 64, "RGBA"),
    141: ("trace_right_141.png", 36, 64, "RGBA"),
    144: ("panel_144.png", 665, 178, "RGB"),
    146: ("about_146.png", 665, 178, "RGB"),
}

PANEL_W, PANEL_H = 665, 178

# Control positions on the panel (left, top, width, height).
DIAL = (15, 15, 144, 144)
SCOPE = (507, 18, 142, 142)
OVERSAMPLE_BUTTON = (200, 4, 28, 28)
NORMALIZE_BUTTON = (318, 4, 28, 28)
RADIO_Y = 122
RADIO_X = ((177, 207, 237), (287, 317, 347), (397, 427, 457))
LEFT_TRACE = (536, 162, 36, 16)
RIGHT_TRACE = (583, 162, 36, 16)
ABOUT_HOT_SPOT = (256, 46, 401, 76)      # right and bottom exclusive

GROUPS = (
    ("TRIODE MODEL", ("12AX7", "12AT7", "12AU7")),
    ("PLATE VOLTAGE", ("150", "250", "350")),
    ("CATHODE CAP", ("0.47uF", "1uF", "22uF")),
)

# LED dial geometry, in the dial's pixel grid: pixel (j, i) lies at
# (j - 72, i - 72) from the centre; the inner ring covers squared
# distances 2916..3844, the outer one 3844..5184; 29 segments of 10
# degrees run clockwise from -235 to 55 degrees (y grows downwards).
DIAL_CENTRE = 72
INNER_D2 = (2916, 3844)
OUTER_D2 = (3844, 5184)
SEGMENTS = 29
ARC_START = -235.0
ARC_END = 55.0

BLUE = (85 / 255, 176 / 255, 250 / 255)
BLUE_DEEP = (69 / 255, 160 / 255, 255 / 255)
WHITE_LED = (0.96, 0.97, 0.98)

SANS = "DejaVu Sans"
CONDENSED = "DejaVu Sans Condensed"


# --------------------------------------------------------------------------
# Small drawing helpers

def new_surface(w, h):
    surface = cairo.ImageSurface(cairo.FORMAT_ARGB32, w, h)
    return surface, cairo.Context(surface)


def grey(v, a=1.0):
    return (v / 255, v / 255, v / 255, a)


def rgb255(r, g, b, a=1.0):
    return (r / 255, g / 255, b / 255, a)


def rounded_rect(ctx, x, y, w, h, r, corners=(True, True, True, True)):
    """Path of a rectangle whose chosen corners (tl, tr, br, bl) are round."""
    tl, tr, br, bl = (r if c else 0 for c in corners)
    ctx.new_sub_path()
    ctx.move_to(x + tl, y)
    ctx.line_to(x + w - tr, y)
    if tr:
        ctx.arc(x + w - tr, y + tr, tr, -math.pi / 2, 0)
    ctx.line_to(x + w, y + h - br)
    if br:
        ctx.arc(x + w - br, y + h - br, br, 0, math.pi / 2)
    ctx.line_to(x + bl, y + h)
    if bl:
        ctx.arc(x + bl, y + h - bl, bl, math.pi / 2, math.pi)
    ctx.line_to(x, y + tl)
    if tl:
        ctx.arc(x + tl, y + tl, tl, math.pi, 1.5 * math.pi)
    ctx.close_path()


def set_font(ctx, size, family=CONDENSED, bold=True):
    ctx.select_font_face(family, cairo.FONT_SLANT_NORMAL,
                         cairo.FONT_WEIGHT_BOLD if bold else cairo.FONT_WEIGHT_NORMAL)
    ctx.set_font_size(size)
    options = cairo.FontOptions()
    options.set_antialias(cairo.ANTIALIAS_GRAY)
    options.set_hint_style(cairo.HINT_STYLE_SLIGHT)
    options.set_hint_metrics(cairo.HINT_METRICS_OFF)
    ctx.set_font_options(options)


def text_width(ctx, text, tracking=0.0):
    """Advance width of text with tracking added between the letters."""
    return sum(ctx.text_extents(ch).x_advance for ch in text) + tracking * (len(text) - 1)


def text_path(ctx, text, x, y, tracking=0.0):
    """Adds the outlines of text, baseline at y, starting at x."""
    for ch in text:
        ctx.move_to(x, y)
        ctx.text_path(ch)
        x += ctx.text_extents(ch).x_advance + tracking


def legend(ctx, text, x, y, size, colour, align="left", tracking=0.0,
           family=CONDENSED, bold=True, shadow=0.55):
    """Panel lettering with a one-pixel drop shadow; returns (left, width)."""
    set_font(ctx, size, family, bold)
    w = text_width(ctx, text, tracking)
    if align == "center":
        x -= w / 2
    elif align == "right":
        x -= w
    if shadow:
        ctx.new_path()
        text_path(ctx, text, x, y + 1, tracking)
        ctx.set_source_rgba(0, 0, 0, shadow)
        ctx.fill()
    ctx.new_path()
    text_path(ctx, text, x, y, tracking)
    ctx.set_source_rgba(*colour)
    ctx.fill()
    return x, w


# --------------------------------------------------------------------------
# Masks, blur and per-pixel textures

def box_blur(vals, w, h, radius, passes=3):
    """Approximate gaussian blur of a w x h list of floats (zero outside)."""
    if radius <= 0:
        return list(vals)
    inv = 1.0 / (2 * radius + 1)
    for _ in range(passes):
        out = [0.0] * (w * h)
        for y in range(h):
            pre = [0.0] + list(accumulate(vals[y * w:(y + 1) * w]))
            base = y * w
            for x in range(w):
                out[base + x] = (pre[min(w, x + radius + 1)] - pre[max(0, x - radius)]) * inv
        vals = out
        out = [0.0] * (w * h)
        for x in range(w):
            pre = [0.0] + list(accumulate(vals[x::w]))
            for y in range(h):
                out[y * w + x] = (pre[min(h, y + radius + 1)] - pre[max(0, y - radius)]) * inv
        vals = out
    return vals


def render_mask(w, h, draw):
    """Coverage (0..1 floats) of whatever draw(ctx) fills in a w x h area."""
    surface = cairo.ImageSurface(cairo.FORMAT_A8, w, h)
    ctx = cairo.Context(surface)
    ctx.set_source_rgba(0, 0, 0, 1)
    draw(ctx)
    surface.flush()
    data = surface.get_data()
    stride = surface.get_stride()
    return [data[y * stride + x] / 255 for y in range(h) for x in range(w)]


def mask_surface(vals, w, h):
    """An A8 surface holding a list of coverage floats."""
    stride = cairo.ImageSurface.format_stride_for_width(cairo.FORMAT_A8, w)
    buf = bytearray(stride * h)
    for y in range(h):
        row = y * stride
        for x in range(w):
            v = vals[y * w + x]
            buf[row + x] = 0 if v <= 0 else 255 if v >= 1 else int(v * 255 + 0.5)
    surface = cairo.ImageSurface.create_for_data(buf, cairo.FORMAT_A8, w, h, stride)
    return surface


def paint_glow(ctx, x0, y0, w, h, draw, colour, radius, strength=1.0, passes=3):
    """Paints colour through a blurred copy of the shape that draw() fills.

    draw works in the area's own coordinates (0..w, 0..h); the glow lands
    at (x0, y0) of ctx."""
    vals = box_blur(render_mask(w, h, draw), w, h, radius, passes)
    if strength != 1.0:
        vals = [v * strength for v in vals]
    ctx.save()
    ctx.set_source_rgba(*colour)
    ctx.mask_surface(mask_surface(vals, w, h), x0, y0)
    ctx.restore()


def texture_surface(w, h, shade):
    """Opaque ARGB32 surface whose pixel (x, y) is shade(x, y) -> (r, g, b) 0..255."""
    stride = cairo.ImageSurface.format_stride_for_width(cairo.FORMAT_ARGB32, w)
    buf = bytearray(stride * h)
    little = sys.byteorder == "little"
    for y in range(h):
        row = y * stride
        for x in range(w):
            r, g, b = shade(x, y)
            r = 0 if r < 0 else 255 if r > 255 else int(r + 0.5)
            g = 0 if g < 0 else 255 if g > 255 else int(g + 0.5)
            b = 0 if b < 0 else 255 if b > 255 else int(b + 0.5)
            o = row + 4 * x
            buf[o:o + 4] = bytes((b, g, r, 255)) if little else bytes((255, r, g, b))
    surface = cairo.ImageSurface.create_for_data(buf, cairo.FORMAT_ARGB32, w, h, stride)
    return surface


def smooth_noise(rng, n, period):
    """n values of band-limited noise (about -1..1) varying over `period` samples."""
    knots = [rng.uniform(-1, 1) for _ in range(n // period + 3)]
    out = []
    for i in range(n):
        t = i / period
        k = int(t)
        f = t - k
        f = f * f * (3 - 2 * f)
        out.append(knots[k] * (1 - f) + knots[k + 1] * f)
    return out


# --------------------------------------------------------------------------
# PNG writing

def surface_rows(surface):
    """Rows of straight (not premultiplied) RGBA byte tuples of an ARGB32 surface."""
    surface.flush()
    w, h, stride = surface.get_width(), surface.get_height(), surface.get_stride()
    data = bytes(surface.get_data())
    little = sys.byteorder == "little"
    rows = []
    for y in range(h):
        row = []
        for x in range(w):
            o = y * stride + 4 * x
            if little:
                b, g, r, a = data[o:o + 4]
            else:
                a, r, g, b = data[o:o + 4]
            if 0 < a < 255:
                r = min(255, (r * 255 + a // 2) // a)
                g = min(255, (g * 255 + a // 2) // a)
                b = min(255, (b * 255 + a // 2) // a)
            elif a == 0:
                r = g = b = 0
            row.append((r, g, b, a))
        rows.append(row)
    return rows


def png_bytes(rows, kind):
    """PNG file of 8-bit RGBA (colour type 6) or opaque RGB (colour type 2) rows."""
    h, w = len(rows), len(rows[0])
    channels = 4 if kind == "RGBA" else 3
    raw = bytearray()
    for row in rows:
        raw.append(0)                       # filter: none
        for px in row:
            if kind == "RGB" and px[3] != 255:
                raise ValueError("RGB skin has a pixel that is not opaque")
            raw.extend(px[:channels])

    def chunk(tag, payload):
        return (struct.pack(">I", len(payload)) + tag + payload
                + struct.pack(">I", zlib.crc32(tag + payload) & 0xFFFFFFFF))

    ihdr = struct.pack(">IIBBBBB", w, h, 8, 6 if kind == "RGBA" else 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


# --------------------------------------------------------------------------
# Panel ground, shared by the panel and the about image

def panel_ground():
    surface, ctx = new_surface(PANEL_W, PANEL_H)
    rng = random.Random(144)
    w, h = PANEL_W, PANEL_H
    # Horizontal brushing: every row gets its own slow streaks, so the
    # grain runs left to right; a little fine grain on top dithers the
    # gradient.
    streaks = [smooth_noise(rng, w, rng.choice((23, 31, 41, 53))) for _ in range(h)]
    row_bias = smooth_noise(rng, h, 3)
    grain = [rng.uniform(-1, 1) for _ in range(w * h)]

    def shade(x, y):
        t = y / (h - 1)
        v = 47 - 15 * t                              # lighter at the top
        cx = (x - w * 0.5) / (w * 0.62)
        v += 4.0 * math.exp(-cx * cx * 2.2) * (1 - t)   # soft light from above
        v += 2.3 * streaks[y][x] + 1.1 * row_bias[y] + 0.9 * grain[y * w + x]
        return v, v + 2.0, v + 4.5

    ctx.set_source_surface(texture_surface(w, h, shade), 0, 0)
    ctx.paint()

    # Bevelled edge of the plate.
    ctx.set_line_width(1)
    for inset, colour in ((0.5, rgb255(255, 255, 255, 0.13)), (1.5, rgb255(255, 255, 255, 0.04))):
        ctx.move_to(0, inset)
        ctx.line_to(w, inset)
        ctx.set_source_rgba(*colour)
        ctx.stroke()
    for x in (0.5, w - 0.5):
        ctx.move_to(x, 1)
        ctx.line_to(x, h)
        ctx.set_source_rgba(0, 0, 0, 0.35)
        ctx.stroke()
    ctx.move_to(0, h - 0.5)
    ctx.line_to(w, h - 0.5)
    ctx.set_source_rgba(0, 0, 0, 0.6)
    ctx.stroke()

    for sx, sy in ((7.5, 7.5), (w - 7.5, 7.5), (7.5, h - 7.5), (w - 7.5, h - 7.5)):
        draw_screw(ctx, sx, sy, rng.uniform(0, math.pi))
    return surface, ctx


def draw_screw(ctx, x, y, angle):
    r = 3.6
    ctx.save()
    ctx.arc(x, y + 0.6, r + 0.9, 0, 2 * math.pi)
    ctx.set_source_rgba(0, 0, 0, 0.45)
    ctx.fill()
    head = cairo.LinearGradient(x - r, y - r, x + r, y + r)
    head.add_color_stop_rgb(0, 0.52, 0.54, 0.57)
    head.add_color_stop_rgb(1, 0.20, 0.21, 0.23)
    ctx.arc(x, y, r, 0, 2 * math.pi)
    ctx.set_source(head)
    ctx.fill()
    ctx.arc(x, y, r - 0.5, 0, 2 * math.pi)
    ctx.set_source_rgba(1, 1, 1, 0.08)
    ctx.set_line_width(0.8)
    ctx.stroke()
    dx, dy = math.cos(angle) * (r - 0.8), math.sin(angle) * (r - 0.8)
    ctx.move_to(x - dx, y - dy)
    ctx.line_to(x + dx, y + dy)
    ctx.set_source_rgba(0.05, 0.05, 0.06, 0.9)
    ctx.set_line_width(1.1)
    ctx.stroke()
    ctx.restore()


def draw_logo(ctx):
    """The product logo, centred in the about hot spot."""
    left, top, right, bottom = ABOUT_HOT_SPOT
    cx = (left + right) / 2
    baseline = 66.5
    word, model = "KORVANE", "Z5R"
    size, tracking, space = 21.0, 1.2, 6.0
    set_font(ctx, size, CONDENSED, True)
    w_word = text_width(ctx, word, tracking)
    set_font(ctx, size, SANS, True)
    w_model = text_width(ctx, model, 0.6)
    x0 = cx - (w_word + space + w_model) / 2
    x1 = x0 + w_word + space

    # Shadow, then brushed-silver lettering.
    set_font(ctx, size, CONDENSED, True)
    ctx.new_path()
    text_path(ctx, word, x0, baseline + 1.2, tracking)
    ctx.set_source_rgba(0, 0, 0, 0.7)
    ctx.fill()
    ctx.new_path()
    text_path(ctx, word, x0, baseline, tracking)
    silver = cairo.LinearGradient(0, baseline - 16, 0, baseline)
    silver.add_color_stop_rgb(0.0, 0.97, 0.97, 0.98)
    silver.add_color_stop_rgb(0.48, 0.80, 0.82, 0.85)
    silver.add_color_stop_rgb(0.52, 0.66, 0.68, 0.71)
    silver.add_color_stop_rgb(1.0, 0.83, 0.85, 0.88)
    ctx.set_source(silver)
    ctx.fill()

    # Model number in the accent blue with a soft glow.
    set_font(ctx, size, SANS, True)
    gx, gy, gw, gh = int(x1) - 8, int(baseline) - 26, int(w_model) + 18, 36

    def model_shape(mctx):
        set_font(mctx, size, SANS, True)
        text_path(mctx, model, x1 - gx, baseline - gy, 0.6)
        mctx.fill()

    paint_glow(ctx, gx, gy, gw, gh, model_shape, BLUE_DEEP + (0.55,), 3)
    set_font(ctx, size, SANS, True)
    ctx.new_path()
    text_path(ctx, model, x1, baseline + 1.2, 0.6)
    ctx.set_source_rgba(0, 0, 0, 0.5)
    ctx.fill()
    ctx.new_path()
    text_path(ctx, model, x1, baseline, 0.6)
    blue = cairo.LinearGradient(0, baseline - 16, 0, baseline)
    blue.add_color_stop_rgb(0, 0.62, 0.84, 1.0)
    blue.add_color_stop_rgb(1, *BLUE)
    ctx.set_source(blue)
    ctx.fill()

    # A hairline under the name, fading out at both ends.
    line = cairo.LinearGradient(left + 4, 0, right - 4, 0)
    line.add_color_stop_rgba(0, *BLUE, 0)
    line.add_color_stop_rgba(0.5, *BLUE, 0.75)
    line.add_color_stop_rgba(1, *BLUE, 0)
    ctx.rectangle(left + 4, 71, right - left - 8, 1)
    ctx.set_source(line)
    ctx.fill()


# --------------------------------------------------------------------------
# Panel furniture

def recessed(ctx, path, bounds, depth=1.0, fill=0.28):
    """Sinks the area that path(ctx) outlines into the plate: darker ground,
    an inner shadow under its upper edge and a light lip along its lower edge."""
    x0, y0, x1, y1 = bounds
    w, h = x1 - x0, y1 - y0

    def local(c):
        c.translate(-x0, -y0)
        path(c)

    ctx.save()
    path(ctx)
    ctx.set_source_rgba(0, 0, 0, fill)
    ctx.fill()
    ctx.restore()

    # Inner shadow: the blurred outside of the shape, pushed down a little
    # (the rows pushed in at the top count as outside).
    inside = render_mask(w, h, lambda c: (local(c), c.fill()))
    outside = [1.0 - v for v in inside]
    shift = max(1, int(round(1.5 * depth))) * w
    blurred = box_blur([1.0] * shift + outside[:-shift], w, h, 1, 3)
    shadow = [b * a * 0.75 for b, a in zip(blurred, inside)]
    ctx.save()
    ctx.set_source_rgba(0, 0, 0, 1)
    ctx.mask_surface(mask_surface(shadow, w, h), x0, y0)
    ctx.restore()

    # Dark rim on the shape's edge and a light lip just below it.
    ctx.save()
    ctx.translate(0, 1)
    path(ctx)
    ctx.set_line_width(1)
    ctx.set_source_rgba(1, 1, 1, 0.07)
    ctx.stroke()
    ctx.restore()
    ctx.save()
    path(ctx)
    ctx.set_line_width(1)
    ctx.set_source_rgba(0, 0, 0, 0.55)
    ctx.stroke()
    ctx.restore()


def draw_top_box(ctx):
    """The switch box hanging from the top edge: oversampling and normalising."""
    x0, x1, y1 = 192.5, 466.5, 36.5

    def path(c):
        rounded_rect(c, x0, -4, x1 - x0, y1 + 4, 5)

    recessed(ctx, path, (186, 0, 474, 44))
    # Groove between the two switches.
    ctx.set_line_width(1)
    ctx.move_to(311.5, 7)
    ctx.line_to(311.5, 31)
    ctx.set_source_rgba(0, 0, 0, 0.55)
    ctx.stroke()
    ctx.move_to(312.5, 7)
    ctx.line_to(312.5, 31)
    ctx.set_source_rgba(1, 1, 1, 0.06)
    ctx.stroke()

    caption = grey(214)
    ox, oy, ow, oh = OVERSAMPLE_BUTTON
    legend(ctx, "OVERSAMPLE", ox + ow + 6, oy + oh / 2 + 3.5, 9.0, caption, tracking=0.9)
    nx, ny, nw, nh = NORMALIZE_BUTTON
    legend(ctx, "NORMALIZE OUTPUT", nx + nw + 6, ny + nh / 2 + 3.5, 9.0, caption, tracking=0.9)


def radio_box_bounds(group):
    xs = RADIO_X[group]
    return xs[0] - 7.5, 100.5, xs[2] + 28 + 7.5, 173.5


def draw_radio_boxes(ctx):
    for g, (title, choices) in enumerate(GROUPS):
        x0, y0, x1, y1 = radio_box_bounds(g)

        def path(c, x0=x0, y0=y0, x1=x1, y1=y1):
            rounded_rect(c, x0, y0, x1 - x0, y1 - y0, 5)

        recessed(ctx, path, (int(x0) - 3, int(y0) - 3, int(x1) + 4, int(y1) + 4))
        # Title strip.
        ctx.save()
        rounded_rect(ctx, x0 + 1, y0 + 1, x1 - x0 - 2, 16, 4, (True, True, False, False))
        strip = cairo.LinearGradient(0, y0, 0, y0 + 17)
        strip.add_color_stop_rgba(0, 1, 1, 1, 0.06)
        strip.add_color_stop_rgba(1, 1, 1, 1, 0.02)
        ctx.set_source(strip)
        ctx.fill()
        ctx.set_line_width(1)
        ctx.move_to(x0 + 1, y0 + 17)
        ctx.line_to(x1 - 1, y0 + 17)
        ctx.set_source_rgba(0, 0, 0, 0.5)
        ctx.stroke()
        ctx.move_to(x0 + 1, y0 + 18)
        ctx.line_to(x1 - 1, y0 + 18)
        ctx.set_source_rgba(1, 1, 1, 0.05)
        ctx.stroke()
        ctx.restore()
        legend(ctx, title, (x0 + x1) / 2, y0 + 12.5, 8.6, rgb255(*[int(255 * c) for c in BLUE]),
               align="center", tracking=1.0)
        for x, choice in zip(RADIO_X[g], choices):
            legend(ctx, choice, x + 14, 163.5, 7.8, grey(206), align="center")


def draw_dial_surround(ctx):
    """Soft shadow ring that the dial sits in, plus the ends of its scale."""
    x, y, w, h = DIAL
    cx, cy = x + DIAL_CENTRE + 0.5, y + DIAL_CENTRE + 0.5
    halo = cairo.RadialGradient(cx, cy + 1.5, 66, cx, cy + 1.5, 80)
    halo.add_color_stop_rgba(0, 0, 0, 0, 0.75)
    halo.add_color_stop_rgba(0.45, 0, 0, 0, 0.35)
    halo.add_color_stop_rgba(1, 0, 0, 0, 0)
    ctx.arc(cx, cy + 1.5, 80, 0, 2 * math.pi)
    ctx.set_source(halo)
    ctx.fill()
    # A faint machined ring around the dial.
    ctx.arc(cx, cy, 76.5, 0, 2 * math.pi)
    ctx.set_line_width(1)
    ctx.set_source_rgba(1, 1, 1, 0.05)
    ctx.stroke()


def draw_mouse_pictogram(ctx, x, y):
    """A two-button mouse, 9 x 13, top-left at (x, y): left button blue, right white."""
    w, h, r = 9.0, 13.0, 4.5
    ctx.save()
    ctx.translate(0, 1)
    rounded_rect(ctx, x, y, w, h, r)
    ctx.set_source_rgba(0, 0, 0, 0.5)
    ctx.fill()
    ctx.restore()
    rounded_rect(ctx, x, y, w, h, r)
    body = cairo.LinearGradient(0, y, 0, y + h)
    body.add_color_stop_rgb(0, 0.30, 0.31, 0.33)
    body.add_color_stop_rgb(1, 0.18, 0.19, 0.20)
    ctx.set_source(body)
    ctx.fill()
    ctx.save()
    rounded_rect(ctx, x, y, w, h, r)
    ctx.clip()
    ctx.rectangle(x, y, w / 2 - 0.5, 5.5)
    ctx.set_source_rgb(*BLUE)
    ctx.fill()
    ctx.rectangle(x + w / 2 + 0.5, y, w / 2 - 0.5, 5.5)
    ctx.set_source_rgb(*WHITE_LED)
    ctx.fill()
    ctx.restore()
    rounded_rect(ctx, x + 0.5, y + 0.5, w - 1, h - 1, r - 0.5)
    ctx.set_line_width(1)
    ctx.set_source_rgba(0.75, 0.77, 0.80, 0.9)
    ctx.stroke()


def draw_dial_caption(ctx):
    x, y, w, h = DIAL
    cx = x + w / 2
    size, tracking = 9.0, 0.9
    set_font(ctx, size)
    parts = (("GAIN", rgb255(85, 176, 250)), (" / ", grey(150)), ("LEVEL", grey(236)))
    widths = [text_width(ctx, t, tracking) + tracking for t, _ in parts]
    icon_w, gap = 9, 6
    total = icon_w + gap + sum(widths) - tracking
    left = round(cx - total / 2)
    draw_mouse_pictogram(ctx, left + 0.0, 161.5)
    tx = left + icon_w + gap
    for (text, colour), width in zip(parts, widths):
        legend(ctx, text, tx, 171.5, size, colour, tracking=tracking)
        tx += width


def draw_scope_housing(ctx):
    """The well the scope face sits in, with a tab below for the trace buttons."""
    sx, sy, sw, sh = SCOPE
    bx0, bx1 = LEFT_TRACE[0] - 9.5, RIGHT_TRACE[0] + RIGHT_TRACE[2] + 9.5
    x0, y0, x1, y1 = sx - 4.5, sy - 4.5, sx + sw + 4.5, sy + sh + 3.5
    r, f = 5.0, 3.0

    def path(c):
        c.new_sub_path()
        c.move_to(x0 + r, y0)
        c.line_to(x1 - r, y0)
        c.arc(x1 - r, y0 + r, r, -math.pi / 2, 0)
        c.line_to(x1, y1 - r)
        c.arc(x1 - r, y1 - r, r, 0, math.pi / 2)
        c.line_to(bx1 + f, y1)
        c.arc_negative(bx1 + f, y1 + f, f, -math.pi / 2, math.pi)
        c.line_to(bx1, PANEL_H + 4)
        c.line_to(bx0, PANEL_H + 4)
        c.line_to(bx0, y1 + f)
        c.arc_negative(bx0 - f, y1 + f, f, 0, -math.pi / 2)
        c.line_to(x0 + r, y1)
        c.arc(x0 + r, y1 - r, r, math.pi / 2, math.pi)
        c.line_to(x0, y0 + r)
        c.arc(x0 + r, y0 + r, r, math.pi, 1.5 * math.pi)
        c.close_path()

    recessed(ctx, path, (int(x0) - 3, int(y0) - 3, int(x1) + 4, PANEL_H), fill=0.45)


def draw_subtitle(ctx):
    left, top, right, bottom = ABOUT_HOT_SPOT
    legend(ctx, "VIRTUAL-ANALOG VACUUM TRIODE", (left + right) / 2, 86.5, 7.6, grey(150),
           align="center", tracking=1.6)


def draw_panel():
    surface, ctx = panel_ground()
    draw_dial_surround(ctx)
    draw_top_box(ctx)
    draw_radio_boxes(ctx)
    draw_scope_housing(ctx)
    draw_logo(ctx)
    draw_subtitle(ctx)
    draw_dial_caption(ctx)
    return surface


def draw_about():
    surface, ctx = panel_ground()
    draw_logo(ctx)
    return surface


# --------------------------------------------------------------------------
# LED dial

def ring_pixel(j, i):
    """Which ring (0 inner, 1 outer, None) the run-time test puts pixel (j, i) in."""
    dx, dy = j - DIAL_CENTRE, i - DIAL_CENTRE
    d2 = dx * dx + dy * dy
    if INNER_D2[0] <= d2 <= INNER_D2[1]:
        return 0
    if OUTER_D2[0] <= d2 <= OUTER_D2[1]:
        return 1
    return None


def pixel_angle(j, i):
    """Screen angle of pixel (j, i) in degrees, in -270..90 (the arc's range)."""
    a = math.degrees(math.atan2(i - DIAL_CENTRE, j - DIAL_CENTRE))
    return a - 360 if a > 90 else a


def f32(x):
    """x rounded to single precision, as the dial computes."""
    return struct.unpack("f", struct.pack("f", x))[0]


def lit_segments(value):
    """Segments a ring value 0..100 lights, as the dial paints them."""
    c = int(f32(f32(value * f32(0.01)) * (SEGMENTS + 1)))
    return min(c, SEGMENTS)


def draw_dial(lit):
    surface, ctx = new_surface(144, 144)
    c = DIAL_CENTRE + 0.5          # pixel centres sit on half-integers
    rng = random.Random(124)

    # Housing: a dark anodised disc with a chamfered rim.
    housing = cairo.LinearGradient(0, 0, 0, 144)
    housing.add_color_stop_rgb(0, 0.115, 0.12, 0.13)
    housing.add_color_stop_rgb(1, 0.055, 0.058, 0.062)
    ctx.arc(c, c, 71.5, 0, 2 * math.pi)
    ctx.set_source(housing)
    ctx.fill()
    rim = cairo.LinearGradient(c - 40, 0, c + 40, 144)
    rim.add_color_stop_rgb(0, 0.62, 0.64, 0.67)
    rim.add_color_stop_rgb(0.45, 0.30, 0.31, 0.33)
    rim.add_color_stop_rgb(1, 0.20, 0.21, 0.22)
    ctx.arc(c, c, 71.5, 0, 2 * math.pi)
    ctx.arc_negative(c, c, 70.0, 2 * math.pi, 0)
    ctx.set_source(rim)
    ctx.fill()
    # Recessed LED channel between the rim and the knob well.
    ctx.arc(c, c, 70.2, 0, 2 * math.pi)
    ctx.arc_negative(c, c, 54.0, 2 * math.pi, 0)
    ctx.set_source_rgb(0.035, 0.037, 0.040)
    ctx.fill()
    ctx.arc(c, c, 62.0, 0, 2 * math.pi)
    ctx.set_line_width(0.8)
    ctx.set_source_rgba(1, 1, 1, 0.035)
    ctx.stroke()

    draw_led_rings(ctx, c, lit)
    draw_knob(ctx, c, rng)
    # Maker's mark engraved in the housing below the knob, in the gap
    # between the two ends of the scale.
    legend(ctx, "QMV", c, c + 64.5, 7.0, grey(96), align="center", tracking=1.2,
           family=SANS, shadow=0)
    if lit:
        mask_to_arc(surface)
    return surface


def segment_shape(ctx, c, r0, r1, gap):
    """All 29 segments between radii r0 and r1, separated by gaps `gap` pixels wide."""
    a0, a1 = math.radians(ARC_START), math.radians(ARC_END)
    ctx.push_group()
    ctx.arc(c, c, r1, a0, a1)
    ctx.arc_negative(c, c, r0, a1, a0)
    ctx.close_path()
    ctx.set_source_rgba(0, 0, 0, 1)
    ctx.fill()
    ctx.set_operator(cairo.OPERATOR_CLEAR)
    ctx.set_line_width(gap)
    for k in range(SEGMENTS + 1):
        a = math.radians(ARC_START + 10 * k)
        ctx.move_to(c + (r0 - 2) * math.cos(a), c + (r0 - 2) * math.sin(a))
        ctx.line_to(c + (r1 + 2) * math.cos(a), c + (r1 + 2) * math.sin(a))
        ctx.stroke()
    return ctx.pop_group()


RINGS = (
    # radii of the lens, clip radii of its glow, lit colour, unlit colour
    dict(r=(55.3, 60.9), clip=(54.0, 62.0), hot=(0.78, 0.92, 1.0), lit=BLUE_DEEP,
         edge=(0.16, 0.45, 0.85), dark=(0.075, 0.105, 0.145)),
    dict(r=(63.2, 69.6), clip=(62.0, 70.2), hot=(1.0, 1.0, 1.0), lit=(0.90, 0.92, 0.95),
         edge=(0.55, 0.58, 0.63), dark=(0.115, 0.12, 0.13)),
)


def draw_led_rings(ctx, c, lit):
    for ring in RINGS:
        r0, r1 = ring["r"]
        shape = segment_shape(ctx, c, r0, r1, 1.8)
        mid = (r0 + r1) / 2
        lens = cairo.RadialGradient(c, c, r0, c, c, r1)
        if lit:
            lens.add_color_stop_rgb(0.0, *ring["edge"])
            lens.add_color_stop_rgb(0.35, *ring["lit"])
            lens.add_color_stop_rgb(0.5, *ring["hot"])
            lens.add_color_stop_rgb(0.65, *ring["lit"])
            lens.add_color_stop_rgb(1.0, *ring["edge"])
        else:
            d = ring["dark"]
            lens.add_color_stop_rgb(0.0, *[v * 0.8 for v in d])
            lens.add_color_stop_rgb(0.5, *[v * 1.25 for v in d])
            lens.add_color_stop_rgb(1.0, *[v * 0.9 for v in d])
        ctx.save()
        ctx.set_source(lens)
        ctx.mask(shape)
        ctx.restore()
        if lit:
            # Light spilling into the gaps, kept inside the ring's own
            # channel so a lit ring never brightens the other one.
            ctx.save()
            q0, q1 = ring["clip"]
            ctx.arc(c, c, q1, 0, 2 * math.pi)
            ctx.arc_negative(c, c, q0, 2 * math.pi, 0)
            ctx.clip()

            def glow_shape(g, r0=r0, r1=r1):
                g.set_source(segment_shape(g, c, r0, r1, 1.8))
                g.paint()

            paint_glow(ctx, 0, 0, 144, 144, glow_shape, ring["lit"] + (0.55,), 1, passes=2)
            ctx.restore()
        else:
            # A faint glint on the upper edge of each dark lens.
            ctx.save()
            glint = cairo.LinearGradient(0, c - r1, 0, c + r1)
            glint.add_color_stop_rgba(0, 1, 1, 1, 0.09)
            glint.add_color_stop_rgba(0.5, 1, 1, 1, 0.02)
            glint.add_color_stop_rgba(1, 1, 1, 1, 0.04)
            ctx.set_source(glint)
            ctx.mask(shape)
            ctx.restore()


def draw_knob(ctx, c, rng):
    # Shadow the knob throws into its well.
    well = cairo.RadialGradient(c, c + 2, 44, c, c + 2, 53.5)
    well.add_color_stop_rgba(0, 0, 0, 0, 0.9)
    well.add_color_stop_rgba(0.6, 0, 0, 0, 0.55)
    well.add_color_stop_rgba(1, 0, 0, 0, 0)
    ctx.arc(c, c + 2, 53.5, 0, 2 * math.pi)
    ctx.set_source(well)
    ctx.fill()

    size = 144
    ridges = 60
    ring_noise = smooth_noise(rng, 400, 2)
    light = math.radians(-120)            # light from the upper left

    def skirt(x, y):
        dx, dy = x + 0.5 - c, y + 0.5 - c
        r = math.hypot(dx, dy) or 1e-6
        th = math.atan2(dy, dx)
        ridge = math.sin(th * ridges)
        facing = math.cos(th - light)
        v = 48 + 18 * facing + 11 * ridge * (0.6 + 0.4 * facing)
        v += 8 * max(0.0, ridge) ** 6 * (1 + facing)
        shade = (r - 43) / 6.5            # darker towards the outer edge
        v *= 1.0 - 0.25 * max(0.0, min(1.0, shade))
        return v, v + 1, v + 3

    def cap(x, y):
        dx, dy = x + 0.5 - c, y + 0.5 - c
        r = math.hypot(dx, dy)
        th = math.atan2(dy, dx)
        # Spun metal: two broad highlights opposite each other, fine
        # concentric grain, a slight darkening towards the bottom.
        sheen = 0.5 + 0.5 * math.cos(2 * (th - light))
        v = 62 + 52 * sheen ** 2.2 + 10 * sheen
        v += 5.5 * ring_noise[min(399, int(r * 8))]
        v -= 8 * (dy / 42)
        return v * 0.98, v, v * 1.03

    ctx.save()
    ctx.arc(c, c, 49.5, 0, 2 * math.pi)
    ctx.arc_negative(c, c, 42.0, 2 * math.pi, 0)
    ctx.set_source_surface(texture_surface(size, size, skirt), 0, 0)
    ctx.fill()
    ctx.restore()
    # Outer edge of the skirt catches a little light.
    edge = cairo.LinearGradient(0, c - 50, 0, c + 50)
    edge.add_color_stop_rgba(0, 1, 1, 1, 0.22)
    edge.add_color_stop_rgba(0.5, 1, 1, 1, 0.03)
    edge.add_color_stop_rgba(1, 0, 0, 0, 0.4)
    ctx.arc(c, c, 49.0, 0, 2 * math.pi)
    ctx.set_line_width(1)
    ctx.set_source(edge)
    ctx.stroke()

    # Chamfer between skirt and cap.
    chamfer = cairo.LinearGradient(c - 30, c - 42, c + 30, c + 42)
    chamfer.add_color_stop_rgb(0, 0.75, 0.77, 0.80)
    chamfer.add_color_stop_rgb(0.5, 0.30, 0.31, 0.33)
    chamfer.add_color_stop_rgb(1, 0.12, 0.12, 0.13)
    ctx.arc(c, c, 42.3, 0, 2 * math.pi)
    ctx.arc_negative(c, c, 39.6, 2 * math.pi, 0)
    ctx.set_source(chamfer)
    ctx.fill()

    ctx.save()
    ctx.arc(c, c, 39.8, 0, 2 * math.pi)
    ctx.set_source_surface(texture_surface(size, size, cap), 0, 0)
    ctx.fill()
    ctx.restore()
    # Edge of the cap: thin dark line just inside the chamfer.
    ctx.arc(c, c, 39.6, 0, 2 * math.pi)
    ctx.set_line_width(0.8)
    ctx.set_source_rgba(0, 0, 0, 0.35)
    ctx.stroke()

    # Centre dimple.
    dimple = cairo.LinearGradient(0, c - 5, 0, c + 5)
    dimple.add_color_stop_rgba(0, 0, 0, 0, 0.45)
    dimple.add_color_stop_rgba(1, 1, 1, 1, 0.18)
    ctx.arc(c, c, 4.5, 0, 2 * math.pi)
    ctx.set_source(dimple)
    ctx.fill()


def mask_to_arc(surface):
    """Clears the lit picture outside the LED rings and in the gap at the
    bottom: the dial only ever copies ring pixels on the arc from it."""
    surface.flush()
    data = surface.get_data()
    stride = surface.get_stride()
    for i in range(144):
        for j in range(144):
            keep = ring_pixel(j, i) is not None and pixel_angle(j, i) <= ARC_END + 0.5 \
                and pixel_angle(j, i) >= ARC_START - 0.5
            if not keep:
                o = i * stride + 4 * j
                data[o:o + 4] = b"\0\0\0\0"
    surface.mark_dirty()


# --------------------------------------------------------------------------
# Buttons

def button_strip(w, h, draw_frame):
    """Four frames stacked top to bottom: off, off held, on, on held."""
    surface, ctx = new_surface(w, 4 * h)
    for state in range(4):
        ctx.save()
        ctx.rectangle(0, state * h, w, h)
        ctx.clip()
        ctx.translate(0, state * h)
        draw_frame(ctx, on=bool(state & 2), held=bool(state & 1))
        ctx.restore()
    return surface


def led_bezel(ctx, c, held):
    """Round metal bezel shared by both LED buttons; centre (c, c)."""
    # Drop shadow: smaller when the button is pushed in.
    off = 0.6 if held else 1.4
    for r, a in ((13.0, 0.12), (12.4, 0.22), (11.9, 0.35)):
        ctx.arc(c, c + off, r, 0, 2 * math.pi)
        ctx.set_source_rgba(0, 0, 0, a)
        ctx.fill()
    k = 0.82 if held else 1.0
    bezel = cairo.LinearGradient(0, c - 11.5, 0, c + 11.5)
    bezel.add_color_stop_rgb(0, 0.62 * k, 0.64 * k, 0.67 * k)
    bezel.add_color_stop_rgb(0.5, 0.30 * k, 0.31 * k, 0.33 * k)
    bezel.add_color_stop_rgb(1, 0.16 * k, 0.17 * k, 0.18 * k)
    ctx.arc(c, c, 11.5, 0, 2 * math.pi)
    ctx.set_source(bezel)
    ctx.fill()
    ctx.arc(c, c, 11.5, 0, 2 * math.pi)
    ctx.set_line_width(0.8)
    ctx.set_source_rgba(0, 0, 0, 0.6)
    ctx.stroke()
    # Inner well.
    well = cairo.LinearGradient(0, c - 9.5, 0, c + 9.5)
    well.add_color_stop_rgb(0, 0.02, 0.02, 0.025)
    well.add_color_stop_rgb(1, 0.10, 0.105, 0.11)
    ctx.arc(c, c, 9.6, 0, 2 * math.pi)
    ctx.set_source(well)
    ctx.fill()


def draw_blue_ring_button(ctx, on, held):
    c = 14.0 + (0.5 if held else 0.0)
    ctx.save()
    if held:
        ctx.translate(0, 0.5)
    if on:
        # Halo around the whole button.
        halo = cairo.RadialGradient(c, c, 10, c, c, 14)
        halo.add_color_stop_rgba(0, *BLUE_DEEP, 0.75)
        halo.add_color_stop_rgba(0.4, *BLUE_DEEP, 0.3)
        halo.add_color_stop_rgba(1, *BLUE_DEEP, 0)
        ctx.arc(c, c, 14, 0, 2 * math.pi)
        ctx.set_source(halo)
        ctx.fill()
    led_bezel(ctx, c, held)
    # The LED ring.
    ring = cairo.RadialGradient(c, c, 6.2, c, c, 9.2)
    if on:
        ring.add_color_stop_rgb(0, 0.20, 0.50, 0.90)
        ring.add_color_stop_rgb(0.45, 0.80, 0.93, 1.0)
        ring.add_color_stop_rgb(0.6, *BLUE)
        ring.add_color_stop_rgb(1, 0.16, 0.40, 0.78)
    else:
        ring.add_color_stop_rgb(0, 0.06, 0.08, 0.11)
        ring.add_color_stop_rgb(0.5, 0.12, 0.17, 0.23)
        ring.add_color_stop_rgb(1, 0.06, 0.08, 0.11)
    ctx.arc(c, c, 9.0, 0, 2 * math.pi)
    ctx.arc_negative(c, c, 6.4, 2 * math.pi, 0)
    ctx.set_source(ring)
    ctx.fill()
    if on:
        inner = cairo.RadialGradient(c, c, 5.5, c, c, 7.0)
        inner.add_color_stop_rgba(0, *BLUE, 0)
        inner.add_color_stop_rgba(1, *BLUE, 0.5)
        ctx.arc(c, c, 7.0, 0, 2 * math.pi)
        ctx.set_source(inner)
        ctx.fill()
    # Centre cap: a dark glassy dome.
    k = 0.85 if held else 1.0
    cap = cairo.RadialGradient(c - 1.8, c - 2.2, 0.5, c, c, 6.4)
    cap.add_color_stop_rgb(0, 0.42 * k, 0.44 * k, 0.47 * k)
    cap.add_color_stop_rgb(0.6, 0.16 * k, 0.17 * k, 0.19 * k)
    cap.add_color_stop_rgb(1, 0.08 * k, 0.085 * k, 0.09 * k)
    ctx.arc(c, c, 5.9, 0, 2 * math.pi)
    ctx.set_source(cap)
    ctx.fill()
    ctx.arc(c, c, 5.9, 0, 2 * math.pi)
    ctx.set_line_width(0.7)
    ctx.set_source_rgba(0, 0, 0, 0.6)
    ctx.stroke()
    ctx.save()
    ctx.translate(c - 1.3, c - 2.6)
    ctx.scale(2.6, 1.5)
    ctx.arc(0, 0, 1, 0, 2 * math.pi)
    ctx.restore()
    ctx.set_source_rgba(1, 1, 1, 0.22 * k)
    ctx.fill()
    ctx.restore()


def draw_white_led_button(ctx, on, held):
    c = 14.0 + (0.5 if held else 0.0)
    ctx.save()
    if held:
        ctx.translate(0, 0.5)
    if on:
        halo = cairo.RadialGradient(c, c, 10, c, c, 14)
        halo.add_color_stop_rgba(0, 1, 1, 1, 0.6)
        halo.add_color_stop_rgba(0.4, 1, 1, 1, 0.22)
        halo.add_color_stop_rgba(1, 1, 1, 1, 0)
        ctx.arc(c, c, 14, 0, 2 * math.pi)
        ctx.set_source(halo)
        ctx.fill()
    led_bezel(ctx, c, held)
    k = 0.85 if held else 1.0
    lens = cairo.RadialGradient(c - 1.5, c - 2.0, 0.5, c, c, 8.4)
    if on:
        lens.add_color_stop_rgb(0, 1, 1, 1)
        lens.add_color_stop_rgb(0.45, 0.97 * k, 0.98 * k, 1.0 * k)
        lens.add_color_stop_rgb(0.85, 0.78 * k, 0.82 * k, 0.88 * k)
        lens.add_color_stop_rgb(1, 0.60 * k, 0.64 * k, 0.70 * k)
    else:
        lens.add_color_stop_rgb(0, 0.56 * k, 0.57 * k, 0.59 * k)
        lens.add_color_stop_rgb(0.5, 0.30 * k, 0.31 * k, 0.33 * k)
        lens.add_color_stop_rgb(1, 0.14 * k, 0.145 * k, 0.15 * k)
    ctx.arc(c, c, 8.3, 0, 2 * math.pi)
    ctx.set_source(lens)
    ctx.fill()
    ctx.arc(c, c, 8.3, 0, 2 * math.pi)
    ctx.set_line_width(0.7)
    ctx.set_source_rgba(0, 0, 0, 0.55)
    ctx.stroke()
    # Specular highlight.
    ctx.save()
    ctx.translate(c - 1.6, c - 3.8)
    ctx.scale(3.6, 2.0)
    ctx.arc(0, 0, 1, 0, 2 * math.pi)
    ctx.restore()
    ctx.set_source_rgba(1, 1, 1, 0.55 if on else 0.25 * k)
    ctx.fill()
    ctx.restore()


def trace_button_frame(word, colour_off, colour_on, glow):
    def draw(ctx, on, held):
        ctx.save()
        dy = 1 if held else 0
        # Key cap.
        ctx.save()
        rounded_rect(ctx, 1, 2 + (0.5 if held else 1), 34, 13, 3)
        ctx.set_source_rgba(0, 0, 0, 0.45)
        ctx.fill()
        ctx.restore()
        k = 0.8 if held else 1.0
        rounded_rect(ctx, 1, 1 + dy, 34, 13.5 - dy, 3)
        cap = cairo.LinearGradient(0, 1 + dy, 0, 15)
        cap.add_color_stop_rgb(0, 0.22 * k, 0.23 * k, 0.25 * k)
        cap.add_color_stop_rgb(1, 0.12 * k, 0.125 * k, 0.13 * k)
        ctx.set_source(cap)
        ctx.fill()
        rounded_rect(ctx, 1.5, 1.5 + dy, 33, 12.5 - dy, 2.5)
        ctx.set_line_width(1)
        top = cairo.LinearGradient(0, 1 + dy, 0, 15)
        top.add_color_stop_rgba(0, 1, 1, 1, 0.16 * k)
        top.add_color_stop_rgba(0.3, 1, 1, 1, 0.03)
        top.add_color_stop_rgba(1, 0, 0, 0, 0.3)
        ctx.set_source(top)
        ctx.stroke()
        rounded_rect(ctx, 1, 1 + dy, 34, 13.5 - dy, 3)
        ctx.set_source_rgba(0, 0, 0, 0.7)
        ctx.set_line_width(0.8)
        ctx.stroke()

        size, tracking = 8.4, 0.7
        set_font(ctx, size)
        tw = text_width(ctx, word, tracking)
        x = round((36 - tw) / 2 * 2) / 2
        baseline = 10.9 + dy * 0.5
        if on:
            def shape(g):
                set_font(g, size)
                text_path(g, word, x, baseline, tracking)
                g.fill()
            paint_glow(ctx, 0, 0, 36, 16, shape, glow, 1, passes=2)
        ctx.new_path()
        text_path(ctx, word, x, baseline, tracking)
        ctx.set_source_rgba(*(colour_on if on else colour_off))
        ctx.fill()
        ctx.restore()
    return draw


def draw_scope_face():
    surface, ctx = new_surface(142, 142)
    n = 142
    # Grey frame, lit from the top left.
    frame = cairo.LinearGradient(0, 0, n * 0.3, n)
    frame.add_color_stop_rgb(0, 0.60, 0.62, 0.65)
    frame.add_color_stop_rgb(0.35, 0.44, 0.45, 0.48)
    frame.add_color_stop_rgb(0.65, 0.36, 0.37, 0.40)
    frame.add_color_stop_rgb(1, 0.26, 0.27, 0.29)
    ctx.rectangle(0, 0, n, n)
    ctx.set_source(frame)
    ctx.fill()
    ctx.rectangle(0.5, 0.5, n - 1, n - 1)
    ctx.set_line_width(1)
    ctx.set_source_rgba(0, 0, 0, 0.75)
    ctx.stroke()
    ctx.rectangle(1.5, 1.5, n - 3, n - 3)
    ctx.set_source_rgba(1, 1, 1, 0.12)
    ctx.stroke()
    # Bevel down into the field.
    ctx.move_to(6, 6)
    ctx.line_to(n - 6, 6)
    ctx.line_to(n - 7, 7)
    ctx.line_to(7, 7)
    ctx.line_to(7, n - 7)
    ctx.line_to(6, n - 6)
    ctx.close_path()
    ctx.set_source_rgba(0, 0, 0, 0.45)
    ctx.fill()
    ctx.move_to(n - 6, 6)
    ctx.line_to(n - 6, n - 6)
    ctx.line_to(6, n - 6)
    ctx.line_to(7, n - 7)
    ctx.line_to(n - 7, n - 7)
    ctx.line_to(n - 7, 7)
    ctx.close_path()
    ctx.set_source_rgba(1, 1, 1, 0.16)
    ctx.fill()

    # The field: near black, a touch lighter in the middle.
    field = cairo.RadialGradient(71, 71, 4, 71, 71, 90)
    field.add_color_stop_rgb(0, 0.055, 0.075, 0.085)
    field.add_color_stop_rgb(1, 0.020, 0.027, 0.032)
    ctx.rectangle(7, 7, 128, 128)
    ctx.set_source(field)
    ctx.fill()
    # Inner shadow along the top and left of the field.
    ctx.rectangle(7, 7, 128, 1)
    ctx.rectangle(7, 8, 1, 127)
    ctx.set_source_rgba(0, 0, 0, 0.6)
    ctx.fill()

    # Graticule: faint tenths along the axes and dots on the quarter grid.
    ctx.set_source_rgba(0.45, 0.62, 0.70, 0.16)
    for k in range(-5, 6):
        p = 71 + round(k * 12.6)
        if k:
            ctx.rectangle(p, 69, 1, 5)
            ctx.rectangle(69, p, 5, 1)
    ctx.fill()
    for gx in (-0.5, 0.5):
        for gy in range(-10, 11):
            px, py = 71 + round(gx * 63), 71 + round(gy * 6.3)
            ctx.rectangle(px, py, 1, 1)
            ctx.rectangle(py, px, 1, 1)
    ctx.set_source_rgba(0.45, 0.62, 0.70, 0.08)
    ctx.fill()
    # Glowing centre lines through pixel row and column 71.
    for width, alpha in ((5, 0.05), (3, 0.09)):
        ctx.rectangle(71.5 - width / 2, 8, width, 126)
        ctx.rectangle(8, 71.5 - width / 2, 126, width)
        ctx.set_source_rgba(0.40, 0.70, 0.90, alpha)
        ctx.fill()
    ctx.rectangle(71, 8, 1, 126)
    ctx.rectangle(8, 71, 126, 1)
    ctx.set_source_rgba(0.45, 0.66, 0.78, 0.42)
    ctx.fill()
    return surface


# --------------------------------------------------------------------------
# All images

def draw_all():
    """{id: cairo surface} for every skin image."""
    lit = draw_dial(True)
    blue_off, blue_on = rgb255(45, 84, 118), rgb255(120, 200, 255)
    white_off, white_on = grey(112), grey(252)
    return {
        124: draw_dial(False),
        125: lit,
        126: lit,
        134: button_strip(28, 28, draw_blue_ring_button),
        137: draw_scope_face(),
        138: button_strip(28, 28, draw_white_led_button),
        140: button_strip(36, 16, trace_button_frame("LEFT", blue_off, blue_on,
                                                     BLUE_DEEP + (0.9,))),
        141: button_strip(36, 16, trace_button_frame("RIGHT", white_off, white_on,
                                                     (1, 1, 1, 0.55))),
        144: draw_panel(),
        146: draw_about(),
    }


def write_skins(outdir, surfaces):
    os.makedirs(outdir, exist_ok=True)
    for skin_id, (name, w, h, kind) in sorted(SKINS.items()):
        surface = surfaces[skin_id]
        assert (surface.get_width(), surface.get_height()) == (w, h), skin_id
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(png_bytes(surface_rows(surface), kind))


# --------------------------------------------------------------------------
# Preview: the editor as it composes the pictures at run time

def slope_table():
    """Tangents of the segment boundaries, as the dial builds them in floats."""
    start, end = f32(-4.1015239), f32(0.95993114)
    table = []
    for j in range(SEGMENTS + 1):
        t = f32(j / SEGMENTS)
        theta = f32(f32((1 - t) * start) + f32(t * end))
        table.append(3.4028235e38 if theta > f32(-1.5707964) else f32(math.tan(theta)))
    return table


def before(dx, dy, boundary, table):
    """The dial's test: pixel offset (dx, dy) lies on the start side of a boundary."""
    if dx == 0:
        dx = 0.1
    s = f32(dy / dx)
    if dx > 0:
        return s <= -table[SEGMENTS - boundary]
    if dy >= 0:
        return table[0] <= s <= table[boundary]
    return s <= table[boundary]


def preview(surfaces, path, gain=62, level=38):
    out, ctx = new_surface(PANEL_W, PANEL_H)
    ctx.set_source_surface(surfaces[144], 0, 0)
    ctx.paint()

    def frame(skin_id, x, y, w, h, state):
        ctx.save()
        ctx.rectangle(x, y, w, h)
        ctx.clip()
        ctx.set_source_surface(surfaces[skin_id], x, y - state * h)
        ctx.paint()
        ctx.restore()

    # Dial: base layer, then ring pixels from the lit layer.
    dx0, dy0 = DIAL[:2]
    base, bctx = new_surface(144, 144)
    lit, lctx = new_surface(144, 144)
    for c, skin in ((bctx, 124), (lctx, 125)):
        c.set_source_surface(surfaces[144], -dx0, -dy0)
        c.paint()
        c.set_source_surface(surfaces[skin], 0, 0)
        c.paint()
    counts = (lit_segments(gain), lit_segments(level))
    table = slope_table()
    base.flush()
    lit.flush()
    bdata, ldata, stride = base.get_data(), lit.get_data(), base.get_stride()
    for i in range(144):
        for j in range(144):
            ring = ring_pixel(j, i)
            if ring is not None and before(j - DIAL_CENTRE, i - DIAL_CENTRE, counts[ring], table):
                o = i * stride + 4 * j
                bdata[o:o + 4] = ldata[o:o + 4]
    base.mark_dirty()
    ctx.set_source_surface(base, dx0, dy0)
    ctx.paint()

    ctx.set_source_surface(surfaces[137], SCOPE[0], SCOPE[1])
    ctx.paint()
    chosen = (0, 1, 2)
    for g, xs in enumerate(RADIO_X):
        for k, x in enumerate(xs):
            frame(134, x, RADIO_Y, 28, 28, 2 if k == chosen[g] else 0)
    frame(138, *OVERSAMPLE_BUTTON, 2)
    frame(138, *NORMALIZE_BUTTON, 0)
    frame(140, *LEFT_TRACE, 2)
    frame(141, *RIGHT_TRACE, 0)
    out.write_to_png(path)


def main(argv):
    args = list(argv[1:])
    preview_path = None
    if "--preview" in args:
        k = args.index("--preview")
        preview_path = args[k + 1]
        del args[k:k + 2]
    if len(args) != 1:
        sys.stderr.write(__doc__)
        return 2
    surfaces = draw_all()
    write_skins(args[0], surfaces)
    if preview_path:
        preview(surfaces, preview_path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
