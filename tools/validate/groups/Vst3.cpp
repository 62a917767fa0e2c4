// What VST3 alone has: the factory and its classes; the parameter list
// (identifiers unique and in the signed range hosts keep them in, defaults
// normalized, read-only parameters not automatable); initialize and
// terminate twice; buses switched before and after setupProcessing;
// blocks with no buffers and with no frames; inputs left as they were out
// of place; silence flags; block sizes varying up to the announced one;
// state through streams that move a few bytes a call, restored twice;
// bypass keeping the latency; restartComponent never from process; the
// three interfaces released in any order; a host that offers nothing
// optional (no component handler, no run loop).
#include "../Vst3Host.h"
#include "Common.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

namespace validate {

namespace {

using namespace vst3;
using v3::Vst3Instance;

Vst3Instance& vst3Of(Instance& instance) { return *static_cast<Vst3Instance*>(instance.other.get()); }

// A fresh instance held the way `options` says.
std::unique_ptr<Vst3Instance> makeHeld(const Module& module, Instance& owner, const v3::Vst3Options& options,
                                       Check& check)
{
    auto* factory = static_cast<IPluginFactory*>(module.vst3Factory);
    Uid cid{};
    std::string name, error;
    check.require(v3::firstAudioClass(factory, cid, name), "the factory lists no audio effect class");
    auto held = std::make_unique<Vst3Instance>(factory, cid, owner, options, error);
    check.require(held->ok(), "%s", error.c_str());
    return held;
}

// Blocks of the test signal through the main buses, scanned.
Scan playBlocks(Vst3Instance& v, int32_t blocks, int32_t frames, double rate, double bound, int64_t first = 0)
{
    AudioBuffers buffers(v.inputs(), v.outputs(), frames);
    Scan scan;
    for (int32_t b = 0; b < blocks; ++b) {
        fillSignal(buffers, first + static_cast<int64_t>(b) * frames, frames, rate);
        buffers.markOutputs(frames);
        v.prepare(frames);
        v.process(buffers.inputs(), buffers.outputs(), frames);
        v.finish();
        scan.add(buffers, v.outputs(), frames, bound);
    }
    return scan;
}

}  // namespace

void vst3Group(Runner& runner)
{
    const Options& options = runner.options;
    auto module = loadForGroup(runner, "vst3");
    if (!module) return;
    auto* factory = static_cast<IPluginFactory*>(module->vst3Factory);

    runner.run("vst3.factory", [&](Check& check) {
        PFactoryInfo info{};
        check.expect(factory->getFactoryInfo(&info) == kResultOk, "getFactoryInfo failed");
        const int32_t classes = factory->countClasses();
        check.expect(classes >= 1 && classes < 1000, "%d classes", classes);
        Uid cid{};
        std::string name;
        check.require(v3::firstAudioClass(factory, cid, name), "no class of the category '%s'", kVstAudioEffectClass);
        // Unknown class identifiers and interfaces are refused.
        Uid unknown = cid;
        unknown.bytes[15] ^= 0x5A;
        unknown.bytes[3] ^= 0xA5;
        void* obj = reinterpret_cast<void*>(1);
        const tresult r = factory->createInstance(reinterpret_cast<const char*>(unknown.bytes),
                                                  reinterpret_cast<const char*>(kIComponentIid.bytes), &obj);
        check.expect(r != kResultOk || obj == nullptr, "an unknown class identifier made an instance");
        if (r == kResultOk && obj) static_cast<FUnknown*>(obj)->release();
        obj = reinterpret_cast<void*>(1);
        const tresult r2 = factory->createInstance(reinterpret_cast<const char*>(cid.bytes),
                                                   reinterpret_cast<const char*>(kIPlugViewIid.bytes), &obj);
        check.expect(r2 != kResultOk || obj == nullptr, "createInstance gave an object for an interface the class lacks");
        if (r2 == kResultOk && obj) static_cast<FUnknown*>(obj)->release();
        check.note("'%s', %d classes, vendor '%.64s'", name.c_str(), classes, info.vendor);
    });

    runner.run("vst3.parameter-list", [&](Check& check) {
        Instance instance(*module);
        Vst3Instance& v = vst3Of(instance);
        std::set<ParamID> seen;
        int32_t readOnly = 0, bypass = 0;
        for (size_t i = 0; i < v.infos.size(); ++i) {
            const ParameterInfo& p = v.infos[i];
            check.expect(seen.insert(p.id).second, "parameter %zu: identifier %u given twice", i, p.id);
            // Hosts keep identifiers as signed 32-bit numbers: the top bit is reserved.
            check.expect(static_cast<int32_t>(p.id) >= 0, "parameter %zu: identifier %u is negative as hosts read it", i,
                         p.id);
            check.expect(std::isfinite(p.defaultNormalizedValue) && p.defaultNormalizedValue >= 0.0 &&
                             p.defaultNormalizedValue <= 1.0,
                         "parameter %u: default %g is not normalized", p.id, p.defaultNormalizedValue);
            check.expect(p.stepCount >= 0, "parameter %u: step count %d", p.id, p.stepCount);
            check.expect(p.title[0] != 0, "parameter %u has no title", p.id);
            const bool ro = (p.flags & ParameterInfo::kIsReadOnly) != 0;
            check.expect(!(ro && (p.flags & ParameterInfo::kCanAutomate)), "parameter %u is read-only and automatable",
                         p.id);
            readOnly += ro;
            bypass += (p.flags & ParameterInfo::kIsBypass) != 0;
            const double now = v.controller->getParamNormalized(p.id);
            check.expect(std::isfinite(now) && now >= 0.0 && now <= 1.0, "parameter %u reads %g", p.id, now);
        }
        check.expect(bypass <= 1, "%d bypass parameters", bypass);
        ParameterInfo past{};
        check.expect(v.controller->getParameterInfo(static_cast<int32_t>(v.infos.size()), past) != kResultOk,
                     "getParameterInfo past the last parameter answered kResultOk");
        check.note("%zu parameters, %d read-only, %d bypass", v.infos.size(), readOnly, bypass);
    });

    runner.run("vst3.value-texts", [&](Check& check) {
        Instance instance(*module);
        Vst3Instance& v = vst3Of(instance);
        int32_t roundTrips = 0;
        // The parameters a user types values into: read-only ones only show theirs.
        for (int32_t w : v.writable) {
            const ParameterInfo& p = v.infos[static_cast<size_t>(w)];
            for (double x : {0.0, 0.25, 0.5, 1.0}) {
                String128 text{};
                if (v.controller->getParamStringByValue(p.id, x, text) != kResultOk) continue;
                check.expect(text[127] == 0, "parameter %u at %g: text not terminated", p.id, x);
                double back = -1.0;
                if (v.controller->getParamValueByString(p.id, text, back) != kResultOk) continue;
                ++roundTrips;
                check.expect(std::isfinite(back) && back >= 0.0 && back <= 1.0,
                             "parameter %u: the text '%s' of %g reads back as %g", p.id, v3::utf8(text, 128).c_str(), x,
                             back);
                // The text of the value read back is the same text.
                String128 again{};
                v.controller->getParamStringByValue(p.id, back, again);
                check.expect(std::memcmp(text, again, sizeof(text)) == 0, "parameter %u: '%s' reads back as '%s'", p.id,
                             v3::utf8(text, 128).c_str(), v3::utf8(again, 128).c_str());
            }
        }
        check.note("%d texts read back", roundTrips);
    });

    runner.run("vst3.initialize-terminate-twice", [&](Check& check) {
        void* obj = nullptr;
        Uid cid{};
        std::string name;
        check.require(v3::firstAudioClass(factory, cid, name), "no audio class");
        check.require(factory->createInstance(reinterpret_cast<const char*>(cid.bytes),
                                              reinterpret_cast<const char*>(kIComponentIid.bytes), &obj) == kResultOk &&
                          obj,
                      "no component");
        auto* component = static_cast<IComponent*>(obj);
        check.expect(component->initialize(nullptr) == kResultOk, "the first initialize failed");
        const tresult second = component->initialize(nullptr);
        component->terminate();
        component->terminate();
        component->release();
        check.note("the second initialize answered %d", second);
        // The factory still makes working instances.
        Instance instance(*module);
        instance.start(44100.0, 256);
        const Scan scan = playBlocks(vst3Of(instance), 8, 256, 44100.0, options.bound);
        check.expect(scan.clean(), "a fresh instance afterwards: %s", scan.describe().c_str());
    });

    runner.run("vst3.buses-before-and-after-setup", [&](Check& check) {
        Instance instance(*module);
        Vst3Instance& v = vst3Of(instance);
        const int32_t ins = v.component->getBusCount(kAudio, kInput);
        const int32_t outs = v.component->getBusCount(kAudio, kOutput);
        check.expect(outs >= 1, "no audio output bus");
        check.expect(v.component->getBusCount(kEvent, kInput) >= 0, "event bus count negative");
        // Past the last bus is a host's mistake: what the plug-in answers is noted, not judged.
        BusInfo info{};
        const bool pastAnswered = v.component->getBusInfo(kAudio, kOutput, outs, info) == kResultOk;
        // Off and on before setupProcessing, and again after it, as hosts
        // that rearrange their routing do.
        for (int32_t b = 0; b < ins; ++b) v.component->activateBus(kAudio, kInput, b, 0);
        for (int32_t b = 0; b < outs; ++b) v.component->activateBus(kAudio, kOutput, b, 0);
        if (ins > 0) v.component->activateBus(kAudio, kInput, 0, 1);
        if (outs > 0) v.component->activateBus(kAudio, kOutput, 0, 1);
        ProcessSetup setup{kRealtime, kSample32, 512, 48000.0};
        check.expect(v.processor->setupProcessing(setup) == kResultOk, "setupProcessing refused 48 kHz, 512 frames");
        if (ins > 0) {
            v.component->activateBus(kAudio, kInput, 0, 0);
            v.component->activateBus(kAudio, kInput, 0, 1);
        }
        if (outs > 0) {
            v.component->activateBus(kAudio, kOutput, 0, 0);
            v.component->activateBus(kAudio, kOutput, 0, 1);
        }
        instance.start(48000.0, 512);
        const Scan scan = playBlocks(v, 16, 512, 48000.0, options.bound);
        check.expect(scan.clean(), "after the buses were switched: %s", scan.describe().c_str());
        check.note("%d input and %d output buses%s", ins, outs,
                   pastAnswered ? ", a bus past the last described as if it were there" : "");
    });

    runner.run("vst3.empty-blocks", [&](Check& check) {
        Instance instance(*module);
        Vst3Instance& v = vst3Of(instance);
        instance.start(44100.0, 512);
        // A block with no buffers at all carrying a parameter change, as
        // hosts flush automation while the transport stands.
        if (instance.params() > 0) {
            const ParamID id = v.infos[static_cast<size_t>(v.writable[0])].id;
            v.inChanges.clear();
            v.inChanges.add(id, 0, 0.75);
            const tresult r = v.processRaw(nullptr, nullptr, 0, true);
            check.expect(r == kResultOk || r == kResultFalse, "a block without buffers answered %d", r);
            v.inChanges.clear();
        } else {
            v.processRaw(nullptr, nullptr, 0, true);
        }
        AudioBuffers buffers(v.inputs(), v.outputs(), 64);
        buffers.markOutputs(64);
        for (int32_t i = 0; i < 8; ++i) v.processRaw(buffers.inputs(), buffers.outputs(), 0);
        Scan untouched;
        untouched.add(buffers, v.outputs(), 64, options.bound);
        check.expect(untouched.unwritten == 64 * static_cast<int64_t>(buffers.out.size()),
                     "a block of 0 frames wrote into the outputs");
        const Scan after = playBlocks(v, 8, 512, 44100.0, options.bound);
        check.expect(after.clean(), "after empty blocks: %s", after.describe().c_str());
    });

    runner.run("vst3.inputs-untouched", [&](Check& check) {
        Instance instance(*module);
        Vst3Instance& v = vst3Of(instance);
        if (v.inputs() == 0) check.skip("no inputs");
        instance.setAll(1.0f);
        instance.start(44100.0, 512);
        AudioBuffers buffers(v.inputs(), v.outputs(), 512);
        int64_t changed = 0;
        for (int32_t b = 0; b < 32; ++b) {
            fillSignal(buffers, b * 512, 512, 44100.0);
            const auto before = buffers.in;
            instance.process(buffers.inputs(), buffers.outputs(), 512);
            for (size_t c = 0; c < before.size(); ++c)
                for (size_t k = 0; k < 512; ++k) changed += std::memcmp(&before[c][k], &buffers.in[c][k], sizeof(float)) != 0;
        }
        check.expect(changed == 0, "%lld input samples overwritten out of place", static_cast<long long>(changed));
    });

    runner.run("vst3.silence-flags", [&](Check& check) {
        Instance instance(*module);
        Vst3Instance& v = vst3Of(instance);
        instance.start(44100.0, 256);
        AudioBuffers buffers(v.inputs(), v.outputs(), 256);
        int64_t wrongFlags = 0, flagged = 0;
        Scan scan;
        // Sound, then silence flagged as such: where the plug-in's tail
        // rings on, an output flagged silent must still hold zeros only.
        for (int32_t b = 0; b < 64; ++b) {
            const bool silent = b >= 16;
            if (silent)
                for (auto& c : buffers.in) std::fill(c.begin(), c.end(), 0.0f);
            else
                fillSignal(buffers, b * 256, 256, 44100.0);
            buffers.markOutputs(256);
            uint64_t outFlags = 0;
            v.prepare(256);
            v.processWithSilence(buffers.inputs(), buffers.outputs(), 256, silent ? ~0ull : 0ull, outFlags);
            v.finish();
            for (int32_t c = 0; c < v.outputs() && c < 64; ++c) {
                if (!(outFlags & (1ull << c))) continue;
                ++flagged;
                for (float x : buffers.out[static_cast<size_t>(c)]) wrongFlags += x != 0.0f;
            }
            scan.add(buffers, v.outputs(), 256, options.bound);
        }
        check.expect(scan.clean(), "%s", scan.describe().c_str());
        check.expect(wrongFlags == 0, "%lld samples not zero in output channels flagged silent",
                     static_cast<long long>(wrongFlags));
        check.note("%lld output channel blocks flagged silent", static_cast<long long>(flagged));
    });

    runner.run("vst3.variable-blocks", [&](Check& check) {
        Instance instance(*module);
        Vst3Instance& v = vst3Of(instance);
        const int32_t announced = 2048;
        instance.start(48000.0, announced);
        Rng rng(runner.rng.next());
        AudioBuffers buffers(v.inputs(), v.outputs(), announced);
        Scan scan;
        int64_t position = 0;
        for (int32_t b = 0; b < (options.quick ? 100 : 400); ++b) {
            const int32_t n = b % 10 == 0 ? announced : rng.range(1, announced);
            fillSignal(buffers, position, n, 48000.0);
            buffers.markOutputs(n);
            v.prepare(n);
            v.processRaw(buffers.inputs(), buffers.outputs(), n);
            v.finish();
            scan.add(buffers, v.outputs(), n, options.bound);
            position += n;
        }
        check.expect(scan.clean(), "%s", scan.describe().c_str());
        check.note("%lld frames in blocks of 1 to %d", static_cast<long long>(position), announced);
    });

    runner.run("vst3.state-streams", [&](Check& check) {
        Instance a(*module);
        Vst3Instance& va = vst3Of(a);
        Rng rng(runner.rng.next());
        for (int32_t i = 0; i < a.params(); ++i) a.setParameter(i, static_cast<float>(rng.unit()));
        a.start(44100.0, 512);
        AudioBuffers none(a.inputs(), a.outputs(), 1);
        a.process(none.inputs(), none.outputs(), 0);
        v3::Stream whole;
        check.require(va.component->getState(&whole) == kResultOk, "getState failed");
        // Written a few bytes a call: the same bytes.
        for (int32_t piece : {1, 3, 7}) {
            v3::Stream shortWrites({}, piece);
            check.expect(va.component->getState(&shortWrites) == kResultOk, "getState failed writing %d bytes a call",
                         piece);
            check.expect(shortWrites.data == whole.data, "written %d bytes a call, the state differs (%zu bytes, %zu whole)",
                         piece, shortWrites.data.size(), whole.data.size());
        }
        // Read a few bytes a call, and twice over: the same state back.
        for (int32_t piece : {1, 5}) {
            Instance b(*module);
            Vst3Instance& vb = vst3Of(b);
            for (int32_t round = 0; round < 2; ++round) {
                v3::Stream shortReads(whole.data, piece);
                check.expect(vb.component->setState(&shortReads) == kResultOk,
                             "setState failed reading %d bytes a call (round %d)", piece, round + 1);
            }
            v3::Stream back;
            vb.component->getState(&back);
            check.expect(back.data == whole.data, "restored reading %d bytes a call, twice: the state differs", piece);
        }
        // Empty and random streams: refused or taken, never a crash, and the instance still sounds.
        Instance c(*module);
        Vst3Instance& vc = vst3Of(c);
        v3::Stream empty;
        vc.component->setState(&empty);
        for (int32_t t = 0; t < 8; ++t) {
            std::vector<uint8_t> junk(rng.below(64) + (t < 4 ? whole.data.size() : 0));
            for (auto& x : junk) x = static_cast<uint8_t>(rng.next());
            v3::Stream random(junk);
            vc.component->setState(&random);
        }
        c.start(44100.0, 512);
        const Scan scan = playBlocks(vc, 8, 512, 44100.0, 1e30);
        check.expect(scan.nonFinite == 0 && scan.unwritten == 0, "after random states: %s", scan.describe().c_str());
        check.note("%zu bytes", whole.data.size());
    });

    runner.run("vst3.bypass-keeps-latency", [&](Check& check) {
        Instance instance(*module);
        Vst3Instance& v = vst3Of(instance);
        int32_t bypass = -1;
        for (size_t i = 0; i < v.infos.size(); ++i)
            if (v.infos[i].flags & ParameterInfo::kIsBypass) bypass = static_cast<int32_t>(i);
        if (bypass < 0) check.skip("no bypass parameter");
        if (v.inputs() != v.outputs()) check.skip("inputs and outputs differ");
        const ParamID id = v.infos[static_cast<size_t>(bypass)].id;
        instance.setAll(0.5f);
        instance.start(44100.0, 256);
        playBlocks(v, 4, 256, 44100.0, 1e30);
        const int32_t before = instance.latency();
        v.controller->setParamNormalized(id, 1.0);
        v.inChanges.clear();
        AudioBuffers buffers(v.inputs(), v.outputs(), 256);
        std::vector<float> in0, out0;
        const int32_t blocks = 2 * 44100 / 256;
        for (int32_t b = 0; b < blocks; ++b) {
            fillSignal(buffers, b * 256, 256, 44100.0);
            in0.insert(in0.end(), buffers.in[0].begin(), buffers.in[0].end());
            v.prepare(256);
            if (b == 0) v.inChanges.add(id, 0, 1.0);
            v.process(buffers.inputs(), buffers.outputs(), 256);
            v.finish();
            out0.insert(out0.end(), buffers.out[0].begin(), buffers.out[0].end());
        }
        const int32_t during = instance.latency();
        check.expect(during == before, "latency %d, %d while bypassed", before, during);
        // The second second: the input, delayed by the latency.
        double worst = 0.0;
        for (size_t k = in0.size() / 2; k < in0.size(); ++k)
            worst = std::max(worst, std::fabs(static_cast<double>(out0[k]) - in0[k - static_cast<size_t>(during)]));
        check.expect(worst < 1e-4, "bypassed, the output is not the input delayed by the latency (%d frames): "
                     "largest difference %g", during, worst);
        check.note("latency %d, bypassed output off by at most %g", during, worst);
    });

    runner.run("vst3.restart-not-from-process", [&](Check& check) {
        Instance instance(*module);
        Vst3Instance& v = vst3Of(instance);
        Rng rng(runner.rng.next());
        instance.start(44100.0, 128);
        AudioBuffers buffers(v.inputs(), v.outputs(), 128);
        // Every parameter swept inside blocks: a change that moves the
        // latency must be told from the controller's side, not from process.
        for (int32_t b = 0; b < 400; ++b) {
            fillSignal(buffers, b * 128, 128, 44100.0);
            v.prepare(128);
            for (int32_t i = 0; i < v.params(); ++i)
                if (rng.chance(0.3))
                    v.inChanges.add(v.infos[static_cast<size_t>(v.writable[static_cast<size_t>(i)])].id,
                                    static_cast<int32_t>(rng.below(128)), rng.unit());
            v.process(buffers.inputs(), buffers.outputs(), 128);
            v.finish();
        }
        for (int32_t i = 0; i < v.params(); ++i) instance.setParameter(i, static_cast<float>(rng.unit()));
        instance.start(96000.0, 64);
        check.expect(v.threads.setUpFromProcess == 0 && v.threads.wrongThread == 0, "%s",
                     instance.threadProblems().c_str());
        check.note("%d restart requests, all from the controller's thread", v.handler.restarts.load());
    });

    runner.run("vst3.release-order", [&](Check& check) {
        Uid cid{};
        std::string name;
        check.require(v3::firstAudioClass(factory, cid, name), "no audio class");
        const int orders[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
        for (const auto& order : orders) {
            void* obj = nullptr;
            check.require(factory->createInstance(reinterpret_cast<const char*>(cid.bytes),
                                                  reinterpret_cast<const char*>(kIComponentIid.bytes), &obj) == kResultOk &&
                              obj,
                          "no component");
            auto* component = static_cast<IComponent*>(obj);
            component->initialize(nullptr);
            FUnknown* held[3] = {component, nullptr, nullptr};
            if (component->queryInterface(kIAudioProcessorIid.bytes, &obj) == kResultOk) held[1] = static_cast<FUnknown*>(obj);
            if (component->queryInterface(kIEditControllerIid.bytes, &obj) == kResultOk) held[2] = static_cast<FUnknown*>(obj);
            if (held[1]) {
                ProcessSetup setup{kRealtime, kSample32, 256, 44100.0};
                static_cast<IAudioProcessor*>(held[1])->setupProcessing(setup);
                component->setActive(1);
                component->setActive(0);
            }
            component->terminate();
            for (int k : order)
                if (held[k]) held[k]->release();
        }
        check.note("6 orders");
    });

    runner.run("vst3.no-optional-host-interfaces", [&](Check& check) {
        Instance owner(*module);
        v3::Vst3Options bare;
        bare.handler = false;
        bare.runLoop = false;
        auto v = makeHeld(*module, owner, bare, check);
        for (int32_t i = 0; i < v->params(); ++i) v->setParameter(i, 0.7f);
        v->activate(44100.0, 512);
        const Scan scan = playBlocks(*v, 16, 512, 44100.0, options.bound);
        check.expect(scan.clean(), "%s", scan.describe().c_str());
        std::vector<uint8_t> state;
        check.expect(v->saveState(state), "no state");
        v->deactivate();
        check.expect(v->loadState(state), "its own state refused");
    });
}

}  // namespace validate
