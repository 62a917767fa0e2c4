// What CLAP alone has: the entry's factory and the descriptors (unknown
// factory and plug-in identifiers refused, trailing garbage included;
// features well formed); activation at 8 kHz to 768 kHz with blocks of 1
// to 16384 frames; reset and activation again; inputs left as they were
// out of place; parameters flushed while inactive; value texts that read
// back as the same text; state empty, random, round trip byte for byte,
// through streams that move a few bytes a call or fail; host calls only
// from the threads the format documents; the editor created and destroyed
// without ever being shown; a host offering none of the optional extensions.
#include "../ClapHost.h"
#include "../Display.h"
#include "Common.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace validate {

namespace {

using clapv::ClapInstance;

ClapInstance& clapOf(Instance& instance) { return *static_cast<ClapInstance*>(instance.other.get()); }

const clap_plugin_factory_t* factoryOf(const Module& module)
{
    const auto* entry = static_cast<const clap_plugin_entry_t*>(module.clapEntry);
    return static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
}

Scan playBlocks(Instance& instance, int32_t blocks, int32_t frames, double rate, double bound, int64_t first = 0)
{
    AudioBuffers buffers(instance.inputs(), instance.outputs(), frames);
    Scan scan;
    for (int32_t b = 0; b < blocks; ++b) {
        fillSignal(buffers, first + static_cast<int64_t>(b) * frames, frames, rate);
        buffers.markOutputs(frames);
        instance.process(buffers.inputs(), buffers.outputs(), frames);
        scan.add(buffers, instance.outputs(), frames, bound);
    }
    return scan;
}

// Features are short lower-case words joined by '-' (or the reverse-domain
// names of a vendor's own): printable, no spaces.
bool wellFormedFeature(const char* feature)
{
    if (!feature || !*feature) return false;
    for (const char* p = feature; *p; ++p)
        if (*p <= ' ' || *p > '~') return false;
    return std::strlen(feature) < 256;
}

}  // namespace

void clapGroup(Runner& runner)
{
    const Options& options = runner.options;
    auto module = loadForGroup(runner, "clap");
    if (!module) return;
    const auto* entry = static_cast<const clap_plugin_entry_t*>(module->clapEntry);

    runner.run("clap.factory-and-descriptors", [&](Check& check) {
        const auto* factory = factoryOf(*module);
        check.require(factory != nullptr, "no plug-in factory");
        for (const char* id : {"clap.plugin-factoryX", "clap.plugin-factory/2", "clap.plugin-factory ", "clap.plugin",
                               "", "com.example.no-such-factory"})
            check.expect(entry->get_factory(id) == nullptr, "get_factory(\"%s\") gave a factory", id);
        const uint32_t count = factory->get_plugin_count(factory);
        check.require(count >= 1 && count < 10000, "%u plug-ins", count);
        check.expect(factory->get_plugin_descriptor(factory, count) == nullptr,
                     "a descriptor past the last plug-in");
        clap_host_t host{CLAP_VERSION_INIT, nullptr, "z5r-validate", "Korvane", "", "1",
                         [](const clap_host_t*, const char*) -> const void* { return nullptr; },
                         [](const clap_host_t*) {}, [](const clap_host_t*) {}, [](const clap_host_t*) {}};
        for (uint32_t i = 0; i < count; ++i) {
            const clap_plugin_descriptor_t* d = factory->get_plugin_descriptor(factory, i);
            check.require(d != nullptr, "no descriptor %u", i);
            check.expect(clap_version_is_compatible(d->clap_version), "descriptor %u: CLAP version %u.%u", i,
                         d->clap_version.major, d->clap_version.minor);
            check.expect(d->id && *d->id && d->name && *d->name, "descriptor %u: no id or no name", i);
            if (!d->id) continue;
            int32_t features = 0;
            bool category = false;
            for (const char* const* f = d->features; f && *f && features < 1000; ++f, ++features) {
                check.expect(wellFormedFeature(*f), "%s: feature %d '%s' is not a word", d->id, features, *f);
                for (const char* main : {CLAP_PLUGIN_FEATURE_INSTRUMENT, CLAP_PLUGIN_FEATURE_AUDIO_EFFECT,
                                         CLAP_PLUGIN_FEATURE_NOTE_EFFECT, CLAP_PLUGIN_FEATURE_ANALYZER,
                                         "note-detector"})
                    category = category || std::strcmp(*f, main) == 0;
            }
            check.expect(d->features != nullptr, "%s: no feature list (an empty one ends in null)", d->id);
            check.expect(category || features == 0, "%s: no main category among %d features", d->id, features);
            // Unknown identifiers, among them this one with trailing garbage, make nothing.
            const std::string id = d->id;
            for (const std::string& wrong : {id + "x", id + " ", id + "\x01", id.substr(0, id.size() - 1), std::string("")}) {
                const clap_plugin_t* p = factory->create_plugin(factory, &host, wrong.c_str());
                check.expect(p == nullptr, "create_plugin(\"%s\") made a plug-in", wrong.c_str());
                if (p) p->destroy(p);
            }
        }
        check.note("%u plug-ins", count);
    });

    runner.run("clap.activation-range", [&](Check& check) {
        Rng rng(runner.rng.next());
        const std::vector<double> rates = options.quick ? std::vector<double>{8000, 44100, 768000}
                                                        : std::vector<double>{8000, 11025, 22050, 44100, 48000, 96000,
                                                                              192000, 384000, 768000};
        int32_t cells = 0;
        for (double rate : rates) {
            for (int32_t maxBlock : {1, 64, 16384}) {
                Instance instance(*module);
                instance.start(rate, maxBlock);
                ClapInstance& c = clapOf(instance);
                check.expect(c.active(), "activate refused %g Hz with blocks of 1 to %d", rate, maxBlock);
                if (!c.active()) continue;
                AudioBuffers buffers(instance.inputs(), instance.outputs(), maxBlock);
                Scan scan;
                int64_t position = 0;
                for (int32_t b = 0; b < 24; ++b) {
                    const int32_t n = b % 3 == 0 ? maxBlock : rng.range(1, maxBlock);
                    fillSignal(buffers, position, n, rate);
                    buffers.markOutputs(n);
                    instance.process(buffers.inputs(), buffers.outputs(), n);
                    scan.add(buffers, instance.outputs(), n, options.bound);
                    position += n;
                }
                check.expect(scan.clean(), "%g Hz, blocks up to %d: %s", rate, maxBlock, scan.describe().c_str());
                ++cells;
            }
        }
        check.note("%d rates x blocks up to 1, 64 and 16384", cells / 3);
    });

    runner.run("clap.reset-and-reactivate", [&](Check& check) {
        Instance instance(*module);
        ClapInstance& c = clapOf(instance);
        instance.start(48000.0, 512);
        Scan scan = playBlocks(instance, 16, 512, 48000.0, options.bound);
        c.resetNow();
        const Scan afterReset = playBlocks(instance, 16, 512, 48000.0, options.bound);
        check.expect(afterReset.clean(), "after reset: %s", afterReset.describe().c_str());
        for (double rate : {44100.0, 96000.0, 8000.0, 48000.0}) {
            instance.start(rate, 256);
            check.expect(c.active(), "activate refused %g Hz after a deactivation", rate);
            const Scan s = playBlocks(instance, 8, 256, rate, options.bound);
            check.expect(s.clean(), "activated again at %g Hz: %s", rate, s.describe().c_str());
        }
        check.expect(scan.clean(), "%s", scan.describe().c_str());
        check.expect(instance.threadProblems().empty(), "%s", instance.threadProblems().c_str());
    });

    runner.run("clap.inputs-untouched", [&](Check& check) {
        Instance instance(*module);
        if (instance.inputs() == 0) check.skip("no inputs");
        instance.setAll(1.0f);
        instance.start(44100.0, 512);
        AudioBuffers buffers(instance.inputs(), instance.outputs(), 512);
        int64_t changed = 0;
        for (int32_t b = 0; b < 32; ++b) {
            fillSignal(buffers, b * 512, 512, 44100.0);
            const auto before = buffers.in;
            instance.process(buffers.inputs(), buffers.outputs(), 512);
            for (size_t ch = 0; ch < before.size(); ++ch)
                for (size_t k = 0; k < 512; ++k)
                    changed += std::memcmp(&before[ch][k], &buffers.in[ch][k], sizeof(float)) != 0;
        }
        check.expect(changed == 0, "%lld input samples overwritten out of place", static_cast<long long>(changed));
    });

    runner.run("clap.flush-while-inactive", [&](Check& check) {
        Instance instance(*module);
        ClapInstance& c = clapOf(instance);
        if (!c.paramsExt) check.skip("no parameters extension");
        Rng rng(runner.rng.next());
        int32_t checked = 0;
        for (size_t k = 0; k < c.writable.size(); ++k) {
            const clap_param_info_t& info = c.infos[static_cast<size_t>(c.writable[k])];
            check.expect(std::isfinite(info.min_value) && std::isfinite(info.max_value) && info.min_value <= info.max_value &&
                             info.default_value >= info.min_value && info.default_value <= info.max_value,
                         "parameter %u: default %g outside %g..%g", info.id, info.default_value, info.min_value,
                         info.max_value);
            const double plain = c.plainOf(static_cast<int32_t>(k), rng.unit());
            const clap_event_param_value_t e = clapv::valueEvent(info.id, plain);
            struct One {
                const clap_event_param_value_t* e;
            } one{&e};
            const clap_input_events_t in{&one, [](const clap_input_events_t*) -> uint32_t { return 1; },
                                         [](const clap_input_events_t* l, uint32_t) {
                                             return &static_cast<const One*>(l->ctx)->e->header;
                                         }};
            const clap_output_events_t out{nullptr, [](const clap_output_events_t*, const clap_event_header_t*) {
                                               return true;
                                           }};
            c.paramsExt->flush(c.plugin, &in, &out);
            double back = 0.0;
            check.expect(c.paramsExt->get_value(c.plugin, info.id, &back), "get_value(%u) failed", info.id);
            const double tolerance = 1e-6 * std::max(1.0, info.max_value - info.min_value);
            check.expect(std::fabs(back - plain) <= tolerance, "parameter %u flushed to %.9g while inactive reads %.9g",
                         info.id, plain, back);
            ++checked;
        }
        check.expect(instance.threadProblems().empty(), "%s", instance.threadProblems().c_str());
        check.note("%d parameters", checked);
    });

    runner.run("clap.value-texts", [&](Check& check) {
        Instance instance(*module);
        ClapInstance& c = clapOf(instance);
        if (!c.paramsExt) check.skip("no parameters extension");
        int32_t roundTrips = 0;
        // The parameters a user types values into: read-only ones only show theirs.
        for (int32_t w : c.writable) {
            const clap_param_info_t& info = c.infos[static_cast<size_t>(w)];
            for (double x : {0.0, 0.25, 0.5, 1.0}) {
                double plain = info.min_value + x * (info.max_value - info.min_value);
                if (info.flags & CLAP_PARAM_IS_STEPPED) plain = std::round(plain);
                char text[256];
                if (!c.paramsExt->value_to_text(c.plugin, info.id, plain, text, sizeof(text))) continue;
                check.expect(strnlen(text, sizeof(text)) < sizeof(text), "parameter %u: text not terminated", info.id);
                double back = 0.0;
                if (!c.paramsExt->text_to_value(c.plugin, info.id, text, &back)) continue;
                ++roundTrips;
                char again[256];
                const bool given = c.paramsExt->value_to_text(c.plugin, info.id, back, again, sizeof(again));
                check.expect(given && std::strcmp(text, again) == 0,
                             "parameter %u: %g reads as '%s', which reads back as %g, '%s'", info.id, plain, text, back,
                             given ? again : "(no text)");
                // A text rounds: a range bound kept as a float reads back a hair outside itself.
                const double slack = 1e-5 * (info.max_value - info.min_value) + 1e-6;
                check.expect(std::isfinite(back) && back >= info.min_value - slack && back <= info.max_value + slack,
                             "parameter %u: '%s' reads back as %g, outside %g..%g", info.id, text, back, info.min_value,
                             info.max_value);
            }
            // Small buffers: nothing written past them, and terminated.
            for (uint32_t size : {1u, 2u, 5u}) {
                GuardedBuffer small(size, '#');
                const bool given = c.paramsExt->value_to_text(c.plugin, info.id, info.default_value, small.data(), size);
                check.expect(small.guardsIntact() && (!given || small.terminatedWithin(size)),
                             "parameter %u: value_to_text into %u bytes %s", info.id, size,
                             small.guardsIntact() ? "left the text unterminated" : "wrote past the buffer");
            }
        }
        check.note("%d texts read back", roundTrips);
    });

    runner.run("clap.state", [&](Check& check) {
        Instance a(*module);
        ClapInstance& ca = clapOf(a);
        if (!ca.state) check.skip("no state extension");
        Rng rng(runner.rng.next());
        for (int32_t i = 0; i < a.params(); ++i) a.setParameter(i, static_cast<float>(rng.unit()));
        std::vector<uint8_t> whole;
        check.require(ca.saveState(whole), "save failed");
        // Short writes give the same bytes; a failing stream is reported.
        for (size_t chunk : {1u, 7u}) {
            clapv::Bytes s;
            s.chunk = chunk;
            check.expect(ca.state->save(ca.plugin, &s.out), "save failed writing %zu bytes a call", chunk);
            check.expect(s.data == whole, "written %zu bytes a call, the state differs", chunk);
        }
        {
            clapv::Bytes failing;
            failing.failAfter = whole.size() / 2;
            check.expect(!ca.state->save(ca.plugin, &failing.out) || whole.size() < 2,
                         "save answered true through a stream that failed");
        }
        // Round trip byte for byte, through short reads, twice over.
        for (size_t chunk : {0u, 1u, 3u}) {
            Instance b(*module);
            ClapInstance& cb = clapOf(b);
            for (int32_t round = 0; round < 2; ++round) {
                clapv::Bytes s;
                s.data = whole;
                s.chunk = chunk;
                check.expect(cb.state->load(cb.plugin, &s.in), "load failed reading %zu bytes a call (round %d)", chunk,
                             round + 1);
            }
            std::vector<uint8_t> back;
            cb.saveState(back);
            check.expect(back == whole, "loaded %s, saved again: %zu bytes, not the same %zu",
                         chunk ? format("%zu bytes a call", chunk).c_str() : "at once", back.size(), whole.size());
            for (int32_t i = 0; i < b.params(); ++i) {
                const float va = a.getParameter(i), vb = b.getParameter(i);
                check.expect(std::fabs(va - vb) < 1e-6f, "parameter %d: %g saved, %g loaded", i, static_cast<double>(va),
                             static_cast<double>(vb));
            }
        }
        // Empty, truncated, failing and random: refused or taken, never a
        // crash, and the plug-in still sounds.
        Instance c(*module);
        ClapInstance& cc = clapOf(c);
        {
            clapv::Bytes empty;
            check.expect(!cc.state->load(cc.plugin, &empty.in), "an empty state was taken");
        }
        {
            clapv::Bytes failing;
            failing.data = whole;
            failing.failAfter = whole.size() / 2;
            check.expect(!cc.state->load(cc.plugin, &failing.in) || whole.size() < 2,
                         "a stream that failed halfway was taken");
        }
        for (int32_t t = 0; t < 16; ++t) {
            clapv::Bytes random;
            random.data.resize(rng.below(64) + (t < 8 ? whole.size() : 0));
            for (auto& x : random.data) x = static_cast<uint8_t>(rng.next());
            if (t % 4 == 0 && !whole.empty()) random.data.assign(whole.begin(), whole.begin() + rng.below(static_cast<uint32_t>(whole.size())));
            cc.state->load(cc.plugin, &random.in);
        }
        c.start(44100.0, 512);
        const Scan scan = playBlocks(c, 8, 512, 44100.0, 1e30);
        check.expect(scan.nonFinite == 0 && scan.unwritten == 0, "after random states: %s", scan.describe().c_str());
        check.expect(a.threadProblems().empty(), "%s", a.threadProblems().c_str());
        check.note("%zu bytes", whole.size());
    });

    runner.run("clap.host-threads", [&](Check& check) {
        // A host's day: parameters from the main thread, automation inside
        // blocks on an audio thread, state, rates changed; every host call
        // the plug-in makes is checked against its documented thread.
        Instance instance(*module);
        ClapInstance& c = clapOf(instance);
        Rng rng(runner.rng.next());
        for (int32_t i = 0; i < instance.params(); ++i) instance.setParameter(i, static_cast<float>(rng.unit()));
        instance.start(48000.0, 256);
        std::thread audio([&] {
            AudioBuffers buffers(instance.inputs(), instance.outputs(), 256);
            for (int32_t b = 0; b < 400; ++b) {
                if (b % 10 == 0 && instance.params() > 0)
                    instance.setParameter(static_cast<int32_t>(b / 10) % instance.params(), static_cast<float>(b % 7) / 6.0f);
                fillSignal(buffers, b * 256, 256, 48000.0);
                instance.process(buffers.inputs(), buffers.outputs(), 256);
            }
        });
        audio.join();
        std::vector<uint8_t> state;
        c.saveState(state);
        instance.suspend();
        c.loadState(state);
        instance.start(96000.0, 64);
        playBlocks(instance, 20, 64, 96000.0, 1e30);
        check.expect(instance.threadProblems().empty(), "%s", instance.threadProblems().c_str());
        check.note("%d restart, %d flush requests, %d latency changes", c.restartRequests.load(), c.flushRequests.load(),
                   c.latencyChanges.load());
    });

    runner.run("clap.gui-without-show", [&](Check& check) {
        Instance instance(*module);
        ClapInstance& c = clapOf(instance);
        if (!c.gui) check.skip("no GUI extension");
#if defined(_WIN32)
        const char* api = CLAP_WINDOW_API_WIN32;
#else
        const char* api = CLAP_WINDOW_API_X11;
#endif
        if (!c.gui->is_api_supported(c.plugin, api, false)) check.skip("no embedded GUI for this system's windows");
        std::string why;
        if (!displayAvailable(why)) check.skip(why);
        for (int32_t i = 0; i < 10; ++i) {
            check.require(c.gui->create(c.plugin, api, false), "create failed (round %d)", i + 1);
            uint32_t w = 0, h = 0;
            if (i % 2) check.expect(!c.gui->get_size(c.plugin, &w, &h) || (w > 0 && h > 0), "size %ux%u", w, h);
            c.gui->destroy(c.plugin);
        }
        // What it asked of the host for its GUI it gave back.
        check.expect(c.timers.empty() && c.fds.empty(), "%zu timers and %zu descriptors left registered after destroy",
                     c.timers.size(), c.fds.size());
        check.expect(instance.threadProblems().empty(), "%s", instance.threadProblems().c_str());
        check.note("10 times created and destroyed, never shown");
    });

    runner.run("clap.no-optional-host-extensions", [&](Check& check) {
        const auto* factory = factoryOf(*module);
        const clap_plugin_descriptor_t* d = factory->get_plugin_descriptor(factory, 0);
        std::string error;
        clapv::ClapOptions bare;
        bare.extensions = false;
        ClapInstance c(factory, d->id, bare, error);
        check.require(c.ok(), "%s", error.c_str());
        for (int32_t i = 0; i < c.params(); ++i) c.setParameter(i, 0.3f);
        c.activate(44100.0, 512);
        check.require(c.active(), "activate refused without host extensions");
        AudioBuffers buffers(c.inputs(), c.outputs(), 512);
        Scan scan;
        for (int32_t b = 0; b < 16; ++b) {
            fillSignal(buffers, b * 512, 512, 44100.0);
            buffers.markOutputs(512);
            c.prepare(512);
            c.process(buffers.inputs(), buffers.outputs(), 512);
            c.finish();
            scan.add(buffers, c.outputs(), 512, options.bound);
        }
        check.expect(scan.clean(), "%s", scan.describe().c_str());
        c.deactivate();
        std::vector<uint8_t> state;
        if (c.state) check.expect(c.saveState(state) && c.loadState(state), "state without host extensions");
        std::string why;
#if defined(_WIN32)
        const char* api = CLAP_WINDOW_API_WIN32;
#else
        const char* api = CLAP_WINDOW_API_X11;
#endif
        if (c.gui && displayAvailable(why) && c.gui->is_api_supported(c.plugin, api, false)) {
            if (c.gui->create(c.plugin, api, false)) c.gui->destroy(c.plugin);
        }
    });
}

}  // namespace validate
