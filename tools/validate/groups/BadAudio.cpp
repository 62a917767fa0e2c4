// Bad input: blocks of NaN, infinities, huge values and subnormals in the
// middle of normal audio. What comes out while the input is bad is the
// plug-in's business and only reported; once normal audio is back the
// output must become finite again (no NaN trapped in a feedback loop), and
// either come back to what a twin instance that got silence instead
// produces, or be on its way there: no louder than the twin, or decaying.
// Reverbs and slow compressors take seconds to get there; the time is
// reported. And a block of subnormal input must not cost more than four
// times the CPU time of a normal one (over twice is reported).
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

// How far the output excess over the twin must have fallen from its worst to count as decaying.
constexpr double kDecayDb = 6.0;
// Seconds of normal audio after the bad input; the longer look where the first is not enough.
constexpr double kFirstLook = 1.5;
constexpr double kLongLook = 10.0;

struct Recovery {
    int64_t backFrame = -1;    // from here on within the twin's tolerance; -1 when never
    double worstExcess = 0.0;  // the largest excess of a window's peak over the twin's
    double lastExcess = 0.0;   // the same in the last window
    double decayDb = 0.0;      // how far the last window's excess is below the worst
    double apartDb = 0.0;      // the largest level difference to the twin, either way
    // A slow, steady decay (a filter state draining linearly): from the
    // worst window on, how many windows were lower than the one before.
    int32_t falling = 0;
    int32_t windowsAfterWorst = 0;
    double secondsFromWorst = 0.0;  // from the worst window to the last
};

// Compares the tested output `x` with the twin's `r` after the bad input.
// Back: from the first frame after which the output stays within 1 % of the
// twin's peak, or within -60 dBFS of the twin where that is larger (a quiet
// setting's DC step decaying through a high-pass below hearing is back once
// it is inaudible). Not back: in windows of 50 ms from `from` on, how much
// louder the output's peak is than the twin's.
Recovery judgeRecovery(const Render& x, const Render& r, int64_t badEnd, int64_t from, int64_t total)
{
    Recovery result;
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
    if (lastBad + 1 < total) {
        result.backFrame = lastBad + 1;
        return result;
    }
    const int64_t window = static_cast<int64_t>(kRate * 0.05);
    double previous = 0.0;
    int64_t worstAt = -1, lastAt = -1;
    for (int64_t w = std::min(from, total - window); w + window <= total; w += window) {
        double px = 0.0, pr = 0.0;
        for (size_t c = 0; c < x.out.size() && c < r.out.size(); ++c)
            for (int64_t k = w; k < w + window; ++k) {
                const float v = x.out[c][static_cast<size_t>(k)];
                px = std::max(px, std::isfinite(v) ? std::fabs(static_cast<double>(v)) : std::numeric_limits<double>::infinity());
                pr = std::max(pr, std::fabs(static_cast<double>(r.out[c][static_cast<size_t>(k)])));
            }
        const double excess = px - pr > tolerance ? px - pr : 0.0;
        if (worstAt < 0 || excess > result.worstExcess) {
            result.worstExcess = excess;
            worstAt = w;
            result.falling = 0;
            result.windowsAfterWorst = 0;
        } else {
            ++result.windowsAfterWorst;
            if (excess < previous) ++result.falling;
        }
        previous = excess;
        lastAt = w;
        result.lastExcess = excess;
        if (px > 0.0 && pr > 0.0) result.apartDb = std::max(result.apartDb, std::fabs(20.0 * std::log10(px / pr)));
    }
    result.secondsFromWorst = worstAt >= 0 ? static_cast<double>(lastAt - worstAt) / kRate : 0.0;
    if (result.lastExcess > 0.0)
        result.decayDb = std::isfinite(result.worstExcess) ? 20.0 * std::log10(result.worstExcess / result.lastExcess)
                                                            : std::numeric_limits<double>::infinity();
    return result;
}

// A decay too slow to fall 6 dB within the look, yet real: lower window
// after window (nine in ten of them, over at least a second) and at least
// 0.1 dB down in all. A stuck state holds its level instead.
bool fallsSteadily(const Recovery& r)
{
    return std::isfinite(r.worstExcess) && r.windowsAfterWorst >= 20 && r.falling * 10 >= r.windowsAfterWorst * 9 &&
           r.decayDb >= 0.1 && r.lastExcess < r.worstExcess;
}

void recoveryTest(Runner& runner, Check& check, const Module& module, const Setting& setting, const Kind& kind)
{
    const Options& options = runner.options;
    const int64_t badStart = 8 * kBlock;
    const int64_t badEnd = badStart + 4 * kBlock;
    int64_t total = badEnd + static_cast<int64_t>(kRate * kFirstLook);

    auto make = [&]() {
        auto instance = std::make_unique<Instance>(module);
        instance->setAll(setting.value);
        instance->start(kRate, kBlock);
        return instance;
    };
    Rng rng(runner.rng.next());
    // In the bad span: the bad input, silence (the twin), or a full-scale
    // burst of the same signs (how the plug-in rings after loud, legal input).
    enum class Span { Bad, Silent, FullScale };
    auto source = [&](Span span, int64_t offset = 0) {
        return [&, span, offset](AudioBuffers& buffers, int64_t first, int32_t frames) {
            for (size_t c = 0; c < buffers.in.size(); ++c)
                for (int32_t k = 0; k < frames; ++k) {
                    const int64_t f = offset + first + k;
                    const int32_t channel = static_cast<int32_t>(c);
                    float v = testSignal(channel, f, kRate);
                    if (f >= badStart && f < badEnd) {
                        v = span == Span::Silent ? 0.0f : kind.sample(rng, f, channel);
                        if (span == Span::FullScale) v = std::isnan(v) ? 0.0f : std::fabs(v) > 1.0f ? std::copysign(1.0f, v) : v;
                    }
                    buffers.in[c][static_cast<size_t>(k)] = v;
                }
        };
    };
    auto blocks = [](int64_t left) { return static_cast<int32_t>(std::min<int64_t>(kBlock, left)); };
    auto tested = make();
    Render x = render(*tested, total, blocks, false, source(Span::Bad), std::numeric_limits<double>::infinity());
    auto twin = make();
    Render r = render(*twin, total, blocks, false, source(Span::Silent), std::numeric_limits<double>::infinity());
    {
        // Not back yet: the two go on for a longer look, as a reverb's tail
        // or a compressor's release may take seconds, and non-finite output
        // may clear later too (a reverb's NaN leaving its delay lines).
        // (Back only within the last quarter second is not back yet: a
        // convolution's NaN comes out in bursts, partition by partition.)
        const Recovery first = judgeRecovery(x, r, badEnd, badEnd, total);
        if (first.backFrame < 0 || first.backFrame >= total - static_cast<int64_t>(kRate * 0.25)) {
            const int64_t more = static_cast<int64_t>(kRate * (kLongLook - kFirstLook));
            const Render x2 = render(*tested, more, blocks, false, source(Span::Bad, total), std::numeric_limits<double>::infinity());
            const Render r2 = render(*twin, more, blocks, false, source(Span::Silent, total), std::numeric_limits<double>::infinity());
            for (size_t c = 0; c < x.out.size() && c < x2.out.size(); ++c) x.out[c].insert(x.out[c].end(), x2.out[c].begin(), x2.out[c].end());
            for (size_t c = 0; c < r.out.size() && c < r2.out.size(); ++c) r.out[c].insert(r.out[c].end(), r2.out[c].begin(), r2.out[c].end());
            x.scan.unwritten += x2.scan.unwritten;
            total += more;
        }
    }

    // While the input is bad, and for the latency and a little after it
    // (a filter's memory), anything goes; after that the output is judged.
    const int64_t grace = badEnd + tested->latency() + static_cast<int64_t>(kRate * 0.01);
    const int64_t endWindow = static_cast<int64_t>(kRate * 0.25);
    int64_t badFinite = 0, lastNonFinite = -1, subnormalAfter = 0, twinSubnormalAfter = 0;
    for (size_t c = 0; c < x.out.size(); ++c)
        for (size_t k = static_cast<size_t>(badStart); k < x.out[c].size(); ++k) {
            const float v = x.out[c][k];
            const int64_t f = static_cast<int64_t>(k);
            if (isUnwrittenMarker(v)) continue;
            if (!std::isfinite(v)) {
                if (f < grace) ++badFinite;
                else lastNonFinite = std::max(lastNonFinite, f);
            } else if (f >= grace && std::fpclassify(v) == FP_SUBNORMAL) {
                ++subnormalAfter;
            }
            if (f >= grace && c < r.out.size() && std::fpclassify(r.out[c][k]) == FP_SUBNORMAL) ++twinSubnormalAfter;
        }
    check.expect(x.scan.unwritten == 0, "%lld frames left unwritten", static_cast<long long>(x.scan.unwritten));
    check.expect(lastNonFinite < total - endWindow,
                 "the output is still not finite %.1f s after the bad input ended (trapped in the plug-in's state)",
                 static_cast<double>(total - badEnd) / kRate);
    if (lastNonFinite >= 0 && lastNonFinite < total - endWindow)
        check.note("non-finite output until %.0f ms after the bad input", static_cast<double>(lastNonFinite + 1 - badEnd) * 1000.0 / kRate);
    // A delay or a granular effect plays subnormal input back later, as it
    // plays back anything: reported, not judged (the CPU test judges the cost).
    if (subnormalAfter && !twinSubnormalAfter)
        check.note("%lld subnormal output samples after the bad input ended", static_cast<long long>(subnormalAfter));
    if (badFinite) check.note("%lld non-finite samples while the input was bad", static_cast<long long>(badFinite));

    const Recovery back = judgeRecovery(x, r, badEnd, grace, total);
    if (back.backFrame >= 0) {
        const double ms = static_cast<double>(back.backFrame - badEnd) * 1000.0 / kRate;
        check.note("back after %.1f ms", ms);
        check.expect(options.recoveryMs <= 0.0 || ms <= options.recoveryMs, "back after %.1f ms (limit %.0f ms)", ms,
                     options.recoveryMs);
    } else if (lastNonFinite < total - endWindow) {
        const double seconds = static_cast<double>(total - badEnd) / kRate;
        check.expect(options.recoveryMs <= 0.0, "not back after %.1f s (limit %.0f ms)", seconds, options.recoveryMs);
        if (back.lastExcess <= 0.0)
            check.note("not back after %.1f s but no louder than the twin (%.1f dB apart at most)", seconds, back.apartDb);
        else if (back.decayDb >= kDecayDb)
            check.note("not back after %.1f s, decaying: %.3g over the twin, %.1f dB below its worst", seconds,
                       back.lastExcess, back.decayDb);
        else if (fallsSteadily(back))
            // Slow but steady, relative to the level the bad input left:
            // a state that drains, not one that is stuck.
            check.note("not back after %.1f s, falling steadily: %.3g over the twin, %.1f dB below the %.3g the bad "
                       "input left, lower in %d of %d windows; at this rate back in about %.0f s",
                       seconds, back.lastExcess, back.decayDb, back.worstExcess, back.falling, back.windowsAfterWorst,
                       back.lastExcess * back.secondsFromWorst / (back.worstExcess - back.lastExcess));
        else {
            // Slow to decay: is that the setting's own character (an endless
            // reverb, a filter on the edge), as after a full-scale burst, or
            // did the bad input leave the plug-in stuck?
            auto loud = make();
            const Render b = render(*loud, total, blocks, false, source(Span::FullScale),
                                    std::numeric_limits<double>::infinity());
            const Recovery burst = judgeRecovery(b, r, badEnd, grace, total);
            const bool burstDecays = burst.backFrame >= 0 || burst.lastExcess <= 0.0 || burst.decayDb >= kDecayDb;
            if (!burstDecays && back.decayDb >= burst.decayDb - kDecayDb)
                check.note("not back after %.1f s, %.1f dB down from its worst; as slow after a full-scale burst "
                           "(%.1f dB down): the setting's own decay",
                           seconds, back.decayDb, burst.decayDb);
            else
                check.expect(false,
                             "not back after %.1f s and not decaying: %.3g over the twin (worst %.3g, %.1f dB down), "
                             "while after a full-scale burst it %s",
                             seconds, back.lastExcess, back.worstExcess, back.decayDb,
                             burst.backFrame >= 0
                                 ? format("is back after %.0f ms", static_cast<double>(burst.backFrame - badEnd) * 1000.0 / kRate).c_str()
                                 : format("falls %.1f dB", burst.decayDb).c_str());
        }
    }
    double after = 0.0;
    for (const auto& channel : x.out)
        for (size_t k = static_cast<size_t>(std::min<int64_t>(total, grace)); k < channel.size(); ++k)
            if (std::isfinite(channel[k])) after = std::max(after, std::fabs(static_cast<double>(channel[k])));
    check.expect(after <= options.bound, "peak %g after the bad input, over the bound %g", after, options.bound);
}

// The subnormal input's cost against normal audio's, on one instance.
// Timing on a shared machine wobbles, so the two kinds of block alternate
// in rounds of normal, subnormal, subnormal, normal, and the fastest block
// of each kind is compared: a disturbance only ever makes a block slower.
//
// A slow path for subnormals costs many times the normal work: each
// operation on one takes a microcode assist of a hundred cycles or more.
// A cost of two or three times is another matter. The same plug-in, input
// and instance measure 1.6 times in one process and 2.7 in the next on a
// two-core machine whose other core is busy, so a verdict drawn there
// flips from run to run. Such a cost is reported; the check fails a
// plug-in whose subnormal blocks cost clearly more than that.
void cpuTest(Runner& runner, Check& check, const Module& module, const Setting& setting)
{
    constexpr int32_t kFrames = 8192;
    constexpr double kReported = 2.0;
    constexpr double kLimit = 4.0;
    const int32_t rounds = runner.options.quick ? 9 : 21;
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
    std::vector<double> ratios, normalTimes, subnormalTimes;
    for (int32_t round = 0; round < rounds; ++round) {
        // Normal audio decaying into subnormal input is where slow paths show.
        const double n1 = timed(normal, true);
        const double s1 = timed(tiny, false);
        const double s2 = timed(tiny, false);
        const double n2 = timed(normal, true);
        normalTimes.insert(normalTimes.end(), {n1, n2});
        subnormalTimes.insert(subnormalTimes.end(), {s1, s2});
        if (n1 + n2 > 0.0) ratios.push_back((s1 + s2) / (n1 + n2));
    }
    // Judged on the fastest block of each kind: what the work itself costs.
    // A slow path for subnormals slows every such block, the fastest too,
    // while a busy machine only ever adds time, and to some blocks only.
    const double fastestNormal = *std::min_element(normalTimes.begin(), normalTimes.end());
    const double fastestSubnormal = *std::min_element(subnormalTimes.begin(), subnormalTimes.end());
    const double ratio = fastestNormal > 0.0 ? fastestSubnormal / fastestNormal : 1.0;
    check.expect(ratio <= kLimit,
                 "the fastest subnormal block takes %.2f times as long as the fastest normal one (%.3f ms vs %.3f ms)",
                 ratio, fastestSubnormal * 1e3, fastestNormal * 1e3);
    check.note("ratio %.2f of the fastest blocks of %zu interleaved rounds (%.3f ms vs %.3f ms for %d frames); "
               "median of the rounds' ratios %.2f%s",
               ratio, ratios.size(), fastestSubnormal * 1e3, fastestNormal * 1e3, kFrames, median(ratios),
               ratio > kReported ? "; subnormal input costs more, short of a slow path" : "");
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
