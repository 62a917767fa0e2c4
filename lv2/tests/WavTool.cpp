// A test signal to feed real hosts, and a sample-exact comparison of two
// renders, for the lv2file test and the hand-run host script:
//
//   z5r-lv2-wav make OUT.wav [RATE] [FRAMES]
//       a stereo 32-bit float plucked-string signal (48000 Hz, 2 s default)
//   z5r-lv2-wav pad IN.wav OUT.wav FRAMES
//       OUT is IN after FRAMES frames of silence (32-bit float)
//   z5r-lv2-wav compare A.wav B.wav [SKIP_B]
//       compares A with B (B read from frame SKIP_B on): exits 0 when every
//       sample has the same bits, 1 when they differ, 2 when a file cannot
//       be read; prints the frames compared, the largest difference and the
//       first differing frame.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Two decaying partials per channel that restart every 6000 frames, and a
// little noise: bits that only depend on this code.
std::vector<float> pluckedSignal(int64_t frames)
{
    std::vector<float> samples(static_cast<size_t>(frames) * 2);
    double l1x = 0.0, l1y = 1.0, l2x = 0.0, l2y = 1.0, r1x = 0.0, r1y = 1.0;
    double envelope = 1.0;
    uint32_t noise = 12345u;
    for (int64_t k = 0; k < frames; ++k) {
        if (k % 6000 == 0) envelope = 0.9;
        envelope *= 0.9996;
        l1x += 0.0411 * l1y;
        l1y -= 0.0411 * l1x;
        l2x += 0.1202 * l2y;
        l2y -= 0.1202 * l2x;
        r1x += 0.0297 * r1y;
        r1y -= 0.0297 * r1x;
        noise = noise * 1103515245u + 12345u;
        const double hiss = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.004;
        samples[2 * k] = static_cast<float>(envelope * (0.7 * l1x + 0.2 * l2x) + hiss);
        samples[2 * k + 1] = static_cast<float>(envelope * 0.8 * r1x - hiss);
    }
    return samples;
}

bool readAll(const char* path, std::vector<float>& samples, SF_INFO& info)
{
    info = SF_INFO{};
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (!file) {
        std::fprintf(stderr, "cannot read %s: %s\n", path, sf_strerror(nullptr));
        return false;
    }
    samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    const sf_count_t got = sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    return got == info.frames;
}

bool writeAll(const char* path, const std::vector<float>& samples, int32_t rate, int32_t channels)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path, SFM_WRITE, &info);
    if (!file) {
        std::fprintf(stderr, "cannot write %s: %s\n", path, sf_strerror(nullptr));
        return false;
    }
    const sf_count_t frames = static_cast<sf_count_t>(samples.size() / static_cast<size_t>(channels));
    const sf_count_t written = sf_writef_float(file, samples.data(), frames);
    sf_close(file);
    return written == frames;
}

int make(const char* path, int32_t rate, int64_t frames)
{
    if (rate <= 0 || frames <= 0) return 2;
    return writeAll(path, pluckedSignal(frames), rate, 2) ? 0 : 2;
}

int pad(const char* in, const char* out, int64_t frames)
{
    std::vector<float> samples;
    SF_INFO info;
    if (frames < 0 || !readAll(in, samples, info)) return 2;
    samples.insert(samples.begin(), static_cast<size_t>(frames) * static_cast<size_t>(info.channels), 0.0f);
    return writeAll(out, samples, info.samplerate, info.channels) ? 0 : 2;
}

int compare(const char* pathA, const char* pathB, int64_t skipB)
{
    std::vector<float> a, b;
    SF_INFO infoA, infoB;
    if (!readAll(pathA, a, infoA) || !readAll(pathB, b, infoB)) return 2;
    if (infoA.channels != infoB.channels || infoA.samplerate != infoB.samplerate) {
        std::printf("different layout: %d ch %d Hz against %d ch %d Hz\n", infoA.channels, infoA.samplerate,
                    infoB.channels, infoB.samplerate);
        return 1;
    }
    const int64_t channels = infoA.channels;
    const int64_t frames = std::min<int64_t>(infoA.frames, infoB.frames - skipB);
    if (frames <= 0) {
        std::printf("nothing to compare\n");
        return 1;
    }
    double largest = 0.0;
    int64_t firstDifference = -1;
    int64_t differing = 0;
    for (int64_t k = 0; k < frames * channels; ++k) {
        const float x = a[k];
        const float y = b[k + skipB * channels];
        if (std::memcmp(&x, &y, sizeof(float)) != 0) {
            ++differing;
            if (firstDifference < 0) firstDifference = k / channels;
            largest = std::max(largest, std::fabs(static_cast<double>(x) - y));
        }
    }
    std::printf("%lld frames compared (%lld and %lld in the files), %lld samples differ",
                static_cast<long long>(frames), static_cast<long long>(infoA.frames),
                static_cast<long long>(infoB.frames), static_cast<long long>(differing));
    if (differing == 0) {
        std::printf(": bit-identical\n");
        return 0;
    }
    std::printf(", the first at frame %lld, largest difference %.3g\n", static_cast<long long>(firstDifference),
                largest);
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "make" && argc >= 3)
        return make(argv[2], argc > 3 ? std::atoi(argv[3]) : 48000, argc > 4 ? std::atoll(argv[4]) : 96000);
    if (command == "pad" && argc >= 5) return pad(argv[2], argv[3], std::atoll(argv[4]));
    if (command == "compare" && argc >= 4) return compare(argv[2], argv[3], argc > 4 ? std::atoll(argv[4]) : 0);
    std::fprintf(stderr, "usage: z5r-lv2-wav make OUT.wav [RATE] [FRAMES]\n"
                         "       z5r-lv2-wav pad IN.wav OUT.wav FRAMES\n"
                         "       z5r-lv2-wav compare A.wav B.wav [SKIP_B]\n");
    return 2;
}
