"""WAV reading and writing: what z5r-render and flac exchange with us."""

import os
import struct
import tempfile
import unittest

import numpy as np

from z5rplots import wavfile


def chunk(tag, body):
    return tag + struct.pack("<I", len(body)) + body + (b"\0" if len(body) & 1 else b"")


def riff(*chunks):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


class WavFile(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.tmp.name, "x.wav")

    def tearDown(self):
        self.tmp.cleanup()

    def read_bytes(self):
        with open(self.path, "rb") as f:
            return f.read()

    def write_bytes(self, data):
        with open(self.path, "wb") as f:
            f.write(data)

    def test_float_round_trip_mono_and_stereo(self):
        for shape in ((1000,), (1000, 2)):
            with self.subTest(shape=shape):
                x = np.random.default_rng(1).uniform(-1, 1, shape).astype(np.float32)
                wavfile.write_float(self.path, x, 44100)
                y, rate = wavfile.read(self.path)
                self.assertEqual(rate, 44100)
                np.testing.assert_array_equal(y, x.reshape(1000, -1))

    def test_skips_other_chunks_including_odd_sized_ones(self):
        # libsndfile adds fact and PEAK chunks; an odd-sized chunk is padded.
        samples = np.array([[0.5, -0.25], [1.0, 0.0]], dtype="<f4")
        fmt = struct.pack("<HHIIHH", 3, 2, 48000, 48000 * 8, 8, 32)
        self.write_bytes(riff(chunk(b"LIST", b"abc"), chunk(b"fmt ", fmt), chunk(b"fact", b"\2\0\0\0"),
                              chunk(b"data", samples.tobytes())))
        y, rate = wavfile.read(self.path)
        np.testing.assert_array_equal(y, samples)

    def test_extensible_format_reads_its_sub_format(self):
        samples = np.array([0.125, -0.5], dtype="<f4")
        fmt = struct.pack("<HHIIHHHHI", 0xFFFE, 1, 48000, 48000 * 4, 4, 32, 22, 32, 4) + struct.pack("<H", 3) + b"\0" * 14
        self.write_bytes(riff(chunk(b"fmt ", fmt), chunk(b"data", samples.tobytes())))
        y, _ = wavfile.read(self.path)
        np.testing.assert_array_equal(y[:, 0], samples)

    def test_pcm16_writes_rounded_samples_and_counts_clipping(self):
        x = np.array([0.0, 0.5, -0.5, 1.5, -2.0, 0.999])
        clipped = wavfile.write_pcm16(self.path, x, 48000)
        self.assertEqual(clipped, 2)
        y, rate = wavfile.read(self.path)
        self.assertEqual(rate, 48000)
        np.testing.assert_allclose(y[:, 0], [0.0, 0.5, -0.5, 32767 / 32768, -1.0, 0.999], atol=2.5 / 32768)
        # The dither is seeded: the same audio gives the same file.
        first = self.read_bytes()
        wavfile.write_pcm16(self.path, x, 48000)
        self.assertEqual(self.read_bytes(), first)

    def test_rejects_what_it_cannot_read(self):
        fmt24 = struct.pack("<HHIIHH", 1, 1, 48000, 48000 * 3, 3, 24)
        fmt = struct.pack("<HHIIHH", 3, 1, 48000, 48000 * 4, 4, 32)
        bad = {
            "not a WAV": b"OggS" + b"\0" * 40,
            "24-bit": riff(chunk(b"fmt ", fmt24), chunk(b"data", b"\0" * 6)),
            "data first": riff(chunk(b"data", b"\0" * 8), chunk(b"fmt ", fmt)),
            "no data": riff(chunk(b"fmt ", fmt)),
            "truncated fmt": riff(b"fmt " + struct.pack("<I", 16) + fmt[:8]),
        }
        for name, data in bad.items():
            with self.subTest(name):
                self.write_bytes(data)
                with self.assertRaises(wavfile.WavError):
                    wavfile.read(self.path)


if __name__ == "__main__":
    unittest.main()
