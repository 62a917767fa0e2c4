#!/usr/bin/python3
"""Checks the skin PNGs in resources/ (or the folder named by SKIN_DIR).

Run:  /usr/bin/python3 tools/skins/test_skins.py
Standard library only, so it reads the files the way any decoder would
and does not share code with the generator.
"""

import math
import os
import struct
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SKIN_DIR = os.environ.get("SKIN_DIR", os.path.join(HERE, "..", "..", "resources"))

# id -> (file, width, height, PNG colour type)
EXPECTED = {
    124: ("dial_unlit_124.png", 144, 144, 6),
    125: ("dial_lit_inner_125.png", 144, 144, 6),
    126: ("dial_lit_outer_126.png", 144, 144, 6),
    134: ("button_blue_134.png", 28, 112, 6),
    137: ("scope_face_137.png", 142, 142, 2),
    138: ("button_white_138.png", 28, 112, 6),
    140: ("trace_left_140.png", 36, 64, 6),
    141: ("trace_right_141.png", 36, 64, 6),
    144: ("panel_144.png", 665, 178, 2),
    146: ("about_146.png", 665, 178, 2),
}


def read_png(skin_id):
    """(header fields, rows of RGBA tuples) of one skin file."""
    with open(os.path.join(SKIN_DIR, EXPECTED[skin_id][0]), "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, tag = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if tag == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif tag == b"IDAT":
            idat += body
        pos += 12 + length
    w, h, depth, ctype = header[:4]
    bpp = {6: 4, 2: 3}[ctype]
    raw = zlib.decompress(idat)
    stride = w * bpp
    prev = bytearray(stride)
    rows = []
    for y in range(h):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - bpp] if x >= bpp else 0
            b = prev[x]
            c = prev[x - bpp] if x >= bpp else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prev = line
        px = [tuple(line[i:i + bpp]) for i in range(0, stride, bpp)]
        rows.append([p if bpp == 4 else p + (255,) for p in px])
    return header, rows


def luma(p):
    return 0.3 * p[0] + 0.59 * p[1] + 0.11 * p[2]


def gap_depth(j, i):
    """Degrees by which dial pixel (j, i) lies inside the unlit gap at the
    bottom (negative: on the arc, which runs clockwise from -235 to 55
    degrees with x right and y down)."""
    a = math.degrees(math.atan2(i - 72, j - 72))
    return min(a - 55, 125 - a) if 0 < a else -1.0


class FileFormat(unittest.TestCase):
    def test_size_kind_and_depth(self):
        for skin_id, (name, w, h, ctype) in EXPECTED.items():
            with self.subTest(skin_id=skin_id):
                header, rows = read_png(skin_id)
                self.assertEqual(header, (w, h, 8, ctype, 0, 0, 0))
                self.assertEqual((len(rows[0]), len(rows)), (w, h))

    def test_lit_dial_pictures_are_the_same_file(self):
        paths = [os.path.join(SKIN_DIR, EXPECTED[i][0]) for i in (125, 126)]
        with open(paths[0], "rb") as a, open(paths[1], "rb") as b:
            self.assertEqual(a.read(), b.read())


class Dial(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.base = read_png(124)[1]
        cls.lit = read_png(125)[1]

    @staticmethod
    def ring_of(j, i):
        d2 = (j - 72) ** 2 + (i - 72) ** 2
        return 0 if 2916 <= d2 <= 3844 else 1 if 3844 < d2 <= 5184 else None

    def test_lit_picture_only_on_the_arc(self):
        for i in range(144):
            for j in range(144):
                a = self.lit[i][j][3]
                ring = self.ring_of(j, i)
                if ring is None or gap_depth(j, i) > 1:
                    self.assertEqual(a, 0, (j, i))

    def test_lit_picture_as_opaque_as_the_body_on_the_arc(self):
        # The dial copies lit pixels over the body: any difference in
        # coverage would let the panel show through a lit segment.
        for i in range(144):
            for j in range(144):
                if self.ring_of(j, i) is not None and gap_depth(j, i) <= 0:
                    self.assertEqual(self.lit[i][j][3], self.base[i][j][3], (j, i))

    def test_segments_light_between_the_boundaries(self):
        for ring, radius in ((0, 58.0), (1, 66.4)):
            for k in range(29):
                for offset, lit in ((5, True), (0, False)):
                    a = math.radians(-235 + 10 * k + offset)
                    j = round(72 + radius * math.cos(a))
                    i = round(72 + radius * math.sin(a))
                    with self.subTest(ring=ring, segment=k, offset=offset):
                        on, off = self.lit[i][j], self.base[i][j]
                        if lit:
                            self.assertGreater(luma(on), 140)
                            self.assertLess(luma(off), 60)
                            if ring == 0:
                                self.assertGreater(on[2], on[0] + 60)   # blue
                            else:
                                self.assertGreater(min(on[:3]), 170)    # white
                        else:
                            self.assertLess(luma(on), 0.6 * luma(self.lit_mid(ring, k)))

    def lit_mid(self, ring, k):
        radius = 58.0 if ring == 0 else 66.4
        a = math.radians(-230 + 10 * k)
        return self.lit[round(72 + radius * math.sin(a))][round(72 + radius * math.cos(a))]


class Buttons(unittest.TestCase):
    def test_on_frames_brighter_than_off_frames(self):
        for skin_id, size in ((134, 28), (138, 28), (140, 16), (141, 16)):
            rows = read_png(skin_id)[1]
            frames = [rows[k * size:(k + 1) * size] for k in range(4)]
            # Mean of the 20 brightest opaque pixels: the lit part.
            light = [sum(sorted(luma(p) for r in f for p in r if p[3] > 200)[-20:]) / 20
                     for f in frames]
            with self.subTest(skin_id=skin_id):
                self.assertGreater(min(light[2:]), max(light[:2]) + 40)
                self.assertNotEqual(frames[0], frames[1])   # held look differs
                self.assertNotEqual(frames[2], frames[3])

    def test_glow_is_stored_unpremultiplied(self):
        # The faint rim of the lit blue button's halo (upper half, clear of
        # its shadow) keeps its full blue; stored premultiplied, no channel
        # could exceed the alpha.
        rows = read_png(134)[1]
        halo = [p for r in rows[56:70] for p in r if 0 < p[3] < 40]
        self.assertTrue(halo)
        for p in halo:
            self.assertGreater(p[2], 200, p)


RADIO_X = (177, 207, 237, 287, 317, 347, 397, 427, 457)
CONTROLS = ([(x, 122, 28, 28) for x in RADIO_X]
            + [(200, 4, 28, 28), (318, 4, 28, 28), (536, 162, 36, 16), (583, 162, 36, 16),
               (507, 18, 142, 142)])


class PanelLayout(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.panel = read_png(144)[1]

    def bright(self, x0, y0, x1, y1, level=150):
        return [(x, y) for y in range(y0, y1) for x in range(x0, x1)
                if luma(self.panel[y][x]) > level]

    def test_plain_panel_under_every_control(self):
        for x, y, w, h in CONTROLS:
            with self.subTest(at=(x, y)):
                self.assertEqual(self.bright(x, y, x + w, y + h, 90), [])

    def test_choice_captions_under_their_buttons_and_apart(self):
        for x in RADIO_X:
            with self.subTest(x=x):
                self.assertTrue(self.bright(x + 2, 150, x + 26, 178))
                # Nothing in the two columns between neighbouring captions.
                self.assertEqual(self.bright(x - 1, 150, x + 1, 178, 100), [])

    def test_switch_captions_right_of_their_buttons(self):
        self.assertTrue(self.bright(230, 4, 300, 32))      # OVERSAMPLE
        self.assertTrue(self.bright(348, 4, 460, 32))      # NORMALIZE OUTPUT

    def test_gain_level_caption_below_the_dial(self):
        rows = [self.panel[y][15:160] for y in range(159, 178)]
        blue = [p for r in rows for p in r if p[2] > 200 and p[0] < 140]
        white = [p for r in rows for p in r if min(p[:3]) > 200]
        self.assertTrue(blue)
        self.assertTrue(white)


class Backgrounds(unittest.TestCase):
    def test_about_text_area_is_plain_panel(self):
        rows = read_png(146)[1]
        for y in range(80, 168):
            for x in range(16, 649):
                self.assertLess(luma(rows[y][x]), 80, (x, y))

    def test_logo_in_the_about_hot_spot_on_both_backgrounds(self):
        for skin_id in (144, 146):
            rows = read_png(skin_id)[1]
            inside = max(luma(rows[y][x]) for y in range(46, 76) for x in range(256, 401))
            self.assertGreater(inside, 200, skin_id)

    def test_scope_face(self):
        rows = read_png(137)[1]
        self.assertGreater(luma(rows[70][3]), 60)                 # grey frame
        self.assertLess(luma(rows[30][30]), 25)                   # dark field
        self.assertGreater(luma(rows[30][71]), luma(rows[30][66]) + 15)   # centre lines
        self.assertGreater(luma(rows[71][30]), luma(rows[66][30]) + 15)


if __name__ == "__main__":
    unittest.main()
