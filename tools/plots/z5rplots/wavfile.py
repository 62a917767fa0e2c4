"""Just enough WAV for the measurements: 32-bit float files in both directions
(z5r-render reads and writes them) and 16-bit PCM out, for the flac encoder.

The standard library's wave module reads integer PCM only, hence this."""

import struct

import numpy as np

PCM = 1
IEEE_FLOAT = 3
EXTENSIBLE = 0xFFFE


class WavError(ValueError):
    pass


def _chunks(data):
    """(tag, payload) pairs of a RIFF/WAVE file's top-level chunks."""
    if len(data) < 12 or data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise WavError("not a RIFF/WAVE file")
    pos = 12
    while pos + 8 <= len(data):
        tag, size = struct.unpack("<4sI", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + size]
        if len(body) < size and tag != b"data":
            raise WavError(f"chunk {tag!r} runs past the end of the file")
        yield tag, body
        pos += 8 + size + (size & 1)  # chunks are padded to even sizes


def read(path):
    """(samples as float64 [frames, channels], sample rate) of a WAV file."""
    with open(path, "rb") as f:
        data = f.read()
    fmt = None
    samples = None
    for tag, body in _chunks(data):
        if tag == b"fmt ":
            if len(body) < 16:
                raise WavError("fmt chunk too short")
            fmt = struct.unpack("<HHIIHH", body[:16])
            if fmt[0] == EXTENSIBLE:
                if len(body) < 26:
                    raise WavError("extensible fmt chunk too short")
                fmt = (struct.unpack("<H", body[24:26])[0],) + fmt[1:]
        elif tag == b"data":
            if fmt is None:
                raise WavError("data chunk before the fmt chunk")
            samples = body
            break
    if fmt is None or samples is None:
        raise WavError("no fmt or data chunk")
    kind, channels, rate, _, align, bits = fmt
    if channels < 1 or align != channels * bits // 8:
        raise WavError(f"inconsistent fmt chunk: {channels} channels, {bits} bits, block {align}")
    types = {(IEEE_FLOAT, 32): "<f4", (IEEE_FLOAT, 64): "<f8", (PCM, 16): "<i2", (PCM, 32): "<i4"}
    if (kind, bits) not in types:
        raise WavError(f"unsupported sample format {kind} with {bits} bits")
    frames = len(samples) // align
    x = np.frombuffer(samples[:frames * align], dtype=types[(kind, bits)]).astype(np.float64)
    if kind == PCM:
        x /= float(2 ** (bits - 1))
    return x.reshape(frames, channels), rate


def _write(path, kind, bits, payload, channels, rate):
    align = channels * bits // 8
    fmt = struct.pack("<HHIIHH", kind, channels, rate, rate * align, align, bits)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(payload)) + payload
    if len(payload) & 1:
        body += b"\0"
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


def _frames(x):
    x = np.asarray(x, dtype=np.float64)
    if x.ndim == 1:
        x = x[:, None]
    if x.ndim != 2 or x.shape[1] < 1:
        raise WavError("samples must be [frames] or [frames, channels]")
    return x


def write_float(path, x, rate):
    """Writes x ([frames] or [frames, channels]) as a 32-bit float WAV."""
    x = _frames(x)
    _write(path, IEEE_FLOAT, 32, x.astype("<f4").tobytes(), x.shape[1], rate)


def write_pcm16(path, x, rate, seed=1):
    """Writes x as 16-bit PCM with triangular dither, seeded so that the same
    audio always gives the same file. Samples beyond full scale are clipped;
    returns how many were."""
    x = _frames(x) * 32767.0
    rng = np.random.default_rng(seed)
    x = x + rng.random(x.shape) - rng.random(x.shape)
    q = np.round(x)
    clipped = int(np.count_nonzero((q > 32767) | (q < -32768)))
    q = np.clip(q, -32768, 32767).astype("<i2")
    _write(path, PCM, 16, q.tobytes(), x.shape[1], rate)
    return clipped
