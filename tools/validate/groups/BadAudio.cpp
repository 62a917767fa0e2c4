// Bad input: blocks of NaN, infinities, huge values and subnormals in the
// middle of normal audio. The output must stay finite throughout, and once
// normal audio is back it must come back to what a twin instance that got
// silence instead of the bad blocks produces, within a short time. And a
// block of subnormal input must not cost more than twice the CPU time of a
// normal one.
#include "Common.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace validate {

namespace {

constexpr double kRate = 48000.0;
constexpr int32_t kBlock = 512;

float subnormal(Rng& rng)
{
    const uint32_t bits = (static_cast<uint32_t>(rng.next()) & 0x807FFFFFu) | 1u;  // exponent 0, mantissa not 0
    float v;
    std::memcpy(&v, &bits, sizeof(v));
    return v;
}

struct Kind {
    const char* name;
    float (*sample)(Rng& rng, int64_t frame, int32_t channel);
};

const Kind kKinds[] = {
    {"nan", [](Rng&, int64_t, int32_t) { return std::numeric_limits<float>::quiet_NaN(); }},
    {"plus-inf", [](Rng&, int64_t, int32_t) { return std::numeric_limits<float>::infinity(); }},
    {"minus-inf", [](Rng&, int64_t, int32_t) { return -std::numeric_limits<float>::infinity(); }},
    {"alternating-inf",
     [](Rng&, int64_t f, int32_t) { return f % 2 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity(); }},
    {"huge", [](Rng&, int64_t, int32_t) { return 1e30f; }},
    {"alternating-huge", [](Rng&, int64_t f, int32_t) { return f % 2 ? 1e30f : -1e30f; }},
    {"subnormal", [](Rng& rng, int64_t, int32_t) { return subnormal(rng); }},
    {"nan-left-only",
     [](Rng&, int64_t f, int32_t c) { return c == 0 ? std::numeric_limits<float>::quiet_NaN() : testSignal(c, f, kRate); }},
    {"mixed",
     [](Rng& rng, int64_t f, int32_t c) {
         switch (rng.below(6)) {
         case 0: return std::numeric_limits<float>::quiet_NaN();
         case 1: return std::numeric_limits<float>::infinity();
         case 2: return -std::numeric_limits<float>::infinity();
         case 3: return rng.below(2) ? 1e30f : -1e30f;
         case 4: return subnormal(rng);
         default: return testSignal(c, f, kRate);
         }
     }},
};

void recoveryTest(Runner& runner, Check& check, const Module& module, const Setting& setting, const Kind& kind)
{
    const Options& options = runner.options;
    const int64_t badStart = 8 * kBlock;
    const int64_t badEnd = badStart + 4 * kBlock;
    const int64_t total = badEnd + static_cast<int64_t>(kRate * 1.5);

    auto make = [&]() {
        auto instance = std::make_unique<Instance>(module);
        instance->setAll(setting.value);
        instance->start(kRate, kBlock);
        return instance;
    };
    Rng rng(runner.rng.next());
    auto source = [&](bool bad) {
        return [&, bad](AudioBuffers& buffers, int64_t first, int32_t frames) {
            for (size_t c = 0; c < buffers.in.size(); ++c)
                for (int32_t k = 0; k < frames; ++k) {
                    const int64_t f = first + k;
                    const int32_t channel = static_cast<int32_t>(c);
                    float v = testSignal(channel, f, kRate);
                    if (f >= badStart && f < badEnd) v = bad ? kind.sample(rng, f, channel) : 0.0f;
                    buffers.in[c][static_cast<size_t>(k)] = v;
                }
        };
    };
    auto blocks = [](int64_t left) { return static_cast<int32_t>(std::min<int64_t>(kBlock, left)); };
    auto tested = make();
    const Render x = render(*tested, total, blocks, false, source(true), std::numeric_limits<double>::infinity());
    auto twin = make();
    const Render r = render(*twin, total, blocks, false, source(false), std::numeric_limits<double>::infinity());

    check.expect(x.scan.nonFinite == 0, "%lld non-finite output samples", static_cast<long long>(x.scan.nonFinite));
    check.expect(x.scan.subnormal == 0, "%lld subnormal output samples", static_cast<long long>(x.scan.subnormal));
    check.expect(x.scan.unwritten == 0, "%lld frames left unwritten", static_cast<long long>(x.scan.unwritten));

    // Back from the first frame after which the output stays within 1 % of
    // the twin's peak, or within -60 dBFS of the twin where that is larger:
    // a quiet setting's DC step decaying through a high-pass below hearing is
    // back once it is inaudible.
    double peak = 0.0;
    for (const auto& channel : r.out)
        for (size_t k = static_cast<size_t>(badEnd); k < channel.size(); ++k)
            peak = std::max(peak, std::fabs(static_cast<double>(channel[k])));
    const double tolerance = std::max(0.01 * peak, 1e-3);
    int64_t lastBad = badEnd - 1;
    for (size_t c = 0; c < x.out.size() && c < r.out.size(); ++c)
        for (size_t k = static_cast<size_t>(badEnd); k < x.out[c].size(); ++k) {
            const double d = std::fabs(static_cast<double>(x.out[c][k]) - static_cast<double>(r.out[c][k]));
            if (!(d <= tolerance)) lastBad = std::max<int64_t>(lastBad, static_cast<int64_t>(k));
        }
    const double recoveryMs = static_cast<double>(lastBad + 1 - badEnd) * 1000.0 / kRate;
    check.expect(lastBad + 1 < total, "the output never came back to the twin's within 1.5 s");
    check.expect(recoveryMs <= options.recoveryMs, "back after %.1f ms (limit %.0f ms)", recoveryMs, options.recoveryMs);
    double after = 0.0;
    for (const auto& channel : x.out)
        for (size_t k = static_cast<size_t>(lastBad + 1); k < channel.size(); ++k)
            after = std::max(after, std::fabs(static_cast<double>(channel[k])));
    check.expect(after <= options.bound, "peak %g once back, over the bound", after);
    check.note("back after %.1f ms", recoveryMs);
}

void cpuTest(Runner& runner, Check& check, const Module& module, const Setting& setting)
{
    constexpr int32_t kFrames = 8192;
    const int32_t rounds = runner.options.quick ? 5 : 9;
    Instance instance(module);
    instance.setAll(setting.value);
    instance.start(kRate, kFrames);
    AudioBuffers normal(instance.inputs(), instance.outputs(), kFrames);
    AudioBuffers tiny(instance.inputs(), instance.outputs(), kFrames);
    Rng rng(runner.rng.next());
    for (auto& channel : tiny.in)
        for (float& v : channel) v = subnormal(rng);

    int64_t position = 0;
    auto timed = [&](AudioBuffers& buffers, bool signal) {
        if (signal) fillSignal(buffers, position, kFrames, kRate);
        position += kFrames;
        const double start = threadSeconds();
        instance.process(buffers.inputs(), buffers.outputs(), kFrames);
        return threadSeconds() - start;
    };
    for (int32_t i = 0; i < 4; ++i) timed(normal, true);  // warm up
    std::vector<double> normalTimes, subnormalTimes;
    for (int32_t round = 0; round < rounds; ++round) {
        for (int32_t i = 0; i < 2; ++i) normalTimes.push_back(timed(normal, true));
        // Normal audio decaying into subnormal input is where slow paths show.
        for (int32_t i = 0; i < 2; ++i) subnormalTimes.push_back(timed(tiny, false));
    }
    const double n = median(normalTimes);
    const double s = median(subnormalTimes);
    const double ratio = n > 0.0 ? s / n : 0.0;
    check.expect(ratio <= 2.0, "a subnormal block takes %.2f times as long as a normal one (%.3f ms vs %.3f ms)", ratio,
                 s * 1e3, n * 1e3);
    check.note("ratio %.2f (%.3f ms vs %.3f ms, medians of %zu blocks of %d frames)", ratio, s * 1e3, n * 1e3,
               normalTimes.size(), kFrames);
}

}  // namespace

void badAudioGroup(Runner& runner)
{
    auto module = loadForGroup(runner, "bad-audio");
    if (!module) return;
    for (const Setting& setting : gridSettings()) {
        for (const Kind& kind : kKinds)
            runner.run(format("bad-audio.%s.%s", setting.name, kind.name),
                       [&](Check& check) { recoveryTest(runner, check, *module, setting, kind); });
        runner.run(format("bad-audio.%s.subnormal-cpu", setting.name),
                   [&](Check& check) { cpuTest(runner, check, *module, setting); });
    }
}

}  // namespace validate
