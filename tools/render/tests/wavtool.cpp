// Test helper for the render tool's command-line checks.
//   wavtool make PATH RATE CHANNELS FRAMES pcm16|float|flac
//                                                        writes a known multi-tone signal (a WAV,
//                                                        or a 16-bit FLAC)
//   wavtool check PATH CHANNELS RATE FRAMES|any           a stereo-float-WAV-style check: format,
//                                                        size, finite and not silent
//   wavtool same IN OUT [DELAY]                          OUT holds IN's samples exactly (a mono IN
//                                                        on both channels), DELAY frames late (after
//                                                        silence), then only silence
//   wavtool lag EARLY LATE N                             equally long files, LATE the same as EARLY
//                                                        N frames later wherever both have audio
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "wavtool: %s\n", message.c_str());
    return 1;
}

struct Audio {
    SF_INFO info{};
    std::vector<float> samples;  // interleaved
};

bool load(const char* path, Audio& audio) {
    SNDFILE* f = sf_open(path, SFM_READ, &audio.info);
    if (f == nullptr) return false;
    audio.samples.resize(static_cast<std::size_t>(audio.info.frames * audio.info.channels));
    const auto got = sf_readf_float(f, audio.samples.data(), audio.info.frames);
    sf_close(f);
    return got == audio.info.frames;
}

int make(const char* path, int rate, int channels, long frames, const std::string& type) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = type == "flac"    ? SF_FORMAT_FLAC | SF_FORMAT_PCM_16
                  : type == "float" ? SF_FORMAT_WAV | SF_FORMAT_FLOAT
                                    : SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path, SFM_WRITE, &info);
    if (f == nullptr) return fail(std::string("cannot write ") + path);
    std::vector<float> frame(static_cast<std::size_t>(channels));
    for (long i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c)
            frame[static_cast<std::size_t>(c)] =
                0.5f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 110.0 * (c + 1) * i / rate));
        sf_writef_float(f, frame.data(), 1);
    }
    sf_close(f);
    return 0;
}

int check(const char* path, int channels, int rate, const std::string& frames) {
    Audio a;
    if (!load(path, a)) return fail(std::string("cannot read ") + path);
    if ((a.info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_WAV || (a.info.format & SF_FORMAT_SUBMASK) != SF_FORMAT_FLOAT)
        return fail("not a 32-bit float WAV");
    if (a.info.channels != channels) return fail("channels: " + std::to_string(a.info.channels));
    if (a.info.samplerate != rate) return fail("rate: " + std::to_string(a.info.samplerate));
    if (frames != "any" && a.info.frames != std::atol(frames.c_str()))
        return fail("frames: " + std::to_string(a.info.frames) + ", wanted " + frames);
    if (frames == "any" && a.info.frames < rate) return fail("shorter than a second");
    float peak = 0.0f;
    for (float v : a.samples) {
        if (!std::isfinite(v)) return fail("non-finite sample");
        peak = std::max(peak, std::abs(v));
    }
    if (peak < 1e-4f) return fail("silent");
    std::printf("%s: %d ch, %d Hz, %ld frames, peak %.3f\n", path, a.info.channels, a.info.samplerate,
                static_cast<long>(a.info.frames), peak);
    return 0;
}

int same(const char* inPath, const char* outPath, long delay) {
    Audio in, out;
    if (!load(inPath, in) || !load(outPath, out)) return fail("cannot read the files");
    if (out.info.channels != 2 || out.info.frames < in.info.frames) return fail("output too short or not stereo");
    const auto inCh = static_cast<std::size_t>(in.info.channels);
    for (long i = 0; i < static_cast<long>(out.info.frames); ++i)
        for (std::size_t c = 0; c < 2; ++c) {
            const long from = i - delay;
            const bool inside = from >= 0 && from < static_cast<long>(in.info.frames);
            const auto at = static_cast<std::size_t>(inside ? from : 0) * inCh + std::min(c, inCh - 1);
            const float want = inside ? in.samples[at] : 0.0f;
            if (out.samples[2 * static_cast<std::size_t>(i) + c] != want)
                return fail("frame " + std::to_string(i) + " channel " + std::to_string(c) + " differs");
        }
    return 0;
}

int lag(const char* earlyPath, const char* latePath, long n) {
    Audio early, late;
    if (!load(earlyPath, early) || !load(latePath, late)) return fail("cannot read the files");
    if (early.info.channels != late.info.channels || early.info.frames != late.info.frames)
        return fail("the files differ in length or channels");
    if (n < 0 || n >= early.info.frames) return fail("lag out of range");
    const auto ch = static_cast<std::size_t>(early.info.channels);
    const auto shift = static_cast<std::size_t>(n) * ch;
    for (std::size_t i = 0; i + shift < late.samples.size(); ++i)
        if (late.samples[i + shift] != early.samples[i])
            return fail("frame " + std::to_string(i / ch) + " channel " + std::to_string(i % ch) + " differs");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "make" && argc == 7) return make(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atol(argv[5]), argv[6]);
    if (cmd == "check" && argc == 6) return check(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argv[5]);
    if (cmd == "same" && (argc == 4 || argc == 5)) return same(argv[2], argv[3], argc == 5 ? std::atol(argv[4]) : 0);
    if (cmd == "lag" && argc == 5) return lag(argv[2], argv[3], std::atol(argv[4]));
    return fail("usage: wavtool make|check|same|lag ...");
}
