// The LV2 plug-in: a thin adapter over the format-neutral engine. Control
// ports carry the seven settings in the units users read; run() hands the
// engine a setting only when its port has changed, writes the latency the
// stored Oversampling value stands for, processes, and forwards the scope
// points the block produced to the editor over the atom output, only while
// an editor says, over the `scope_watch` input, that it shows them.
//
// Threads, as LV2 defines them: instantiate, activate, deactivate and
// cleanup on the host's set-up thread; connect_port and run on its audio
// thread. run() never waits, never allocates, and never throws.
#include "engine/TableBuilder.h"
#include "engine/TubeEngine.h"
#include "lv2/PortMap.h"
#include "lv2/ScopeMessage.h"
#include "lv2/Uris.h"

#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/core/lv2_util.h>
#include <lv2/urid/urid.h>

#include <cstring>
#include <memory>

namespace {

// An editor that said it watches and then vanished without a word (its
// process ended, its host lost it) stops the feed after this long; an open
// editor repeats its word every second.
constexpr double kScopeWordTimeoutSeconds = 3.0;

struct Lv2Effect {
    std::unique_ptr<TubeEngine> engine;
    float sampleRate = TubeEngine::kDefaultSampleRate;

    // Ports, as the host connected them.
    const float* controls[kNumParams] = {};
    const float* inputLeft = nullptr;
    const float* inputRight = nullptr;
    float* outputLeft = nullptr;
    float* outputRight = nullptr;
    float* latency = nullptr;
    LV2_Atom_Sequence* scope = nullptr;
    const LV2_Atom_Sequence* scopeWatch = nullptr;

    // What the control ports last held (bit patterns, so that a NaN is seen
    // once like any other value).
    uint32_t portBits[kNumParams] = {};
    bool portSeen[kNumParams] = {};

    // Whether run() has processed audio since the last activate: a second
    // activation then starts from a fresh engine.
    bool ranSinceActivate = false;
    // Whether every control port was connected at activate, its value known
    // there. Offline hosts such as lv2file connect them only afterwards: the
    // first run then waits for the set they ask for, once, so that a render
    // plays its settings from the first frame.
    bool controlsAtActivate = false;

    ScopeUrids urids;
    LV2_Atom_Forge forge;
    uint64_t scopeSeen = 0;
    ScopePoint scopePoints[kScopeRingSize] = {};
    // Whether an editor watches the scope, and the frames since its last word.
    bool watched = false;
    uint64_t framesSinceWord = 0;

    // [set-up thread] The engine's own starting values are program 0's, the
    // ports' defaults.
    void adoptEngine(std::unique_ptr<TubeEngine> fresh) noexcept
    {
        engine = std::move(fresh);
        engine->setSampleRate(sampleRate);
        if (watched) engine->startScopeFeed();
        scopeSeen = 0;
        for (int32_t i = 0; i < kNumParams; ++i) portSeen[i] = false;
    }

    // [audio thread, or activate] Hands the engine the settings whose ports
    // changed.
    void takeControls() noexcept
    {
        for (int32_t i = 0; i < kNumParams; ++i) {
            if (!controls[i]) continue;
            const float value = *controls[i];
            uint32_t bits;
            std::memcpy(&bits, &value, sizeof(bits));
            if (portSeen[i] && bits == portBits[i]) continue;
            portSeen[i] = true;
            portBits[i] = bits;
            const float normalized = normalizedFromPhysical(i, value);
            // Only this adapter sets the engine's values.
            if (normalized != engine->getParameter(i)) engine->setParameter(i, normalized);
        }
    }

    // [audio thread] Starts or stops the feed as the editor says; stops it
    // when the editor has been silent too long. Starting and stopping only
    // store a few atomics.
    void hearEditor(uint32_t frames) noexcept
    {
        if (scopeWatch) {
            LV2_ATOM_SEQUENCE_FOREACH (scopeWatch, event) {
                const ScopeWord word = readScopeWord(urids, &event->body, sizeof(LV2_Atom) + event->body.size);
                if (word == ScopeWord::None) continue;
                framesSinceWord = 0;
                if (word == ScopeWord::Watch && !watched) {
                    watched = true;
                    engine->startScopeFeed();
                    scopeSeen = engine->scope().getWritten();
                } else if (word == ScopeWord::Closed && watched) {
                    watched = false;
                    engine->stopScopeFeed();
                }
            }
        }
        if (!watched) return;
        framesSinceWord += frames;
        if (static_cast<double>(framesSinceWord) > kScopeWordTimeoutSeconds * sampleRate) {
            watched = false;
            engine->stopScopeFeed();
        }
    }

    // [audio thread] The points since the last run, as one event; with no
    // editor watching, an empty sequence.
    void forwardScope() noexcept
    {
        if (!scope) return;
        const uint32_t capacity = scope->atom.size;
        lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(scope), capacity);
        LV2_Atom_Forge_Frame sequence;
        if (!lv2_atom_forge_sequence_head(&forge, &sequence, 0)) return;
        if (watched) {
            const int32_t fresh = engine->scope().takeNew(scopeSeen, scopePoints);
            writeScopeEvent(forge, urids, scopePoints, fresh);
        }
        lv2_atom_forge_pop(&forge, &sequence);
    }

    void run(uint32_t frames) noexcept
    {
        takeControls();
        if (!ranSinceActivate && !controlsAtActivate && frames > 0) engine->waitForTables();
        hearEditor(frames);
        if (latency) *latency = static_cast<float>(engine->latency());
        if (frames > 0) {
            if (inputLeft && outputLeft) {
                // The engine reads each frame's inputs before it writes that
                // frame's outputs: in-place buffers are fine.
                engine->process(inputLeft, inputRight, outputLeft, outputRight, static_cast<int32_t>(frames));
                ranSinceActivate = true;
            } else {
                if (outputLeft) std::memset(outputLeft, 0, frames * sizeof(float));
                if (outputRight) std::memset(outputRight, 0, frames * sizeof(float));
            }
        }
        forwardScope();
    }
};

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features)
{
    try {
        const auto* map = static_cast<const LV2_URID_Map*>(lv2_features_data(features, LV2_URID__map));
        if (!map) return nullptr;
        // The stage is designed for 8 kHz to 1 MHz; other rates are refused.
        const auto sampleRate = static_cast<float>(rate);
        if (!(sampleRate >= TubeEngine::kMinSampleRate && sampleRate <= TubeEngine::kMaxSampleRate)) return nullptr;

        auto effect = std::make_unique<Lv2Effect>();
        if (!effect->urids.map(*map)) return nullptr;
        lv2_atom_forge_init(&effect->forge, const_cast<LV2_URID_Map*>(map));
        effect->sampleRate = sampleRate;
        effect->adoptEngine(std::make_unique<TubeEngine>());
        return effect.release();
    } catch (...) {
        return nullptr;
    }
}

void connectPort(LV2_Handle instance, uint32_t port, void* data)
{
    auto* effect = static_cast<Lv2Effect*>(instance);
    if (port < static_cast<uint32_t>(kNumParams)) {
        effect->controls[port] = static_cast<const float*>(data);
        return;
    }
    switch (port) {
    case kPortInputLeft: effect->inputLeft = static_cast<const float*>(data); break;
    case kPortInputRight: effect->inputRight = static_cast<const float*>(data); break;
    case kPortOutputLeft: effect->outputLeft = static_cast<float*>(data); break;
    case kPortOutputRight: effect->outputRight = static_cast<float*>(data); break;
    case kPortLatency: effect->latency = static_cast<float*>(data); break;
    case kPortScope: effect->scope = static_cast<LV2_Atom_Sequence*>(data); break;
    case kPortScopeWatch: effect->scopeWatch = static_cast<const LV2_Atom_Sequence*>(data); break;
    default: break;
    }
}

void activate(LV2_Handle instance)
{
    auto* effect = static_cast<Lv2Effect*>(instance);
    try {
        // LV2 wants a re-activated instance to forget its past (filter
        // states, smoothing, DC blocker): a new engine, which starts from
        // silence as a new instance does. Should memory run out, the old
        // one goes on.
        if (effect->ranSinceActivate) effect->adoptEngine(std::make_unique<TubeEngine>());
        effect->ranSinceActivate = false;
        // The set the control ports ask for at this rate, here; the
        // background builder makes the rest. run() never builds one. The
        // ports a host connected already hold the first run's values.
        effect->controlsAtActivate = true;
        for (const float* control : effect->controls) effect->controlsAtActivate &= control != nullptr;
        effect->takeControls();
        effect->engine->prepareTables();
    } catch (...) {
        // Without a new engine the old one goes on, its sets still in force.
    }
}

void run(LV2_Handle instance, uint32_t frames) { static_cast<Lv2Effect*>(instance)->run(frames); }

void deactivate(LV2_Handle) {}

void cleanup(LV2_Handle instance) { delete static_cast<Lv2Effect*>(instance); }

void waitForTables() { tableBuilder::waitUntilIdle(); }

const Z5rTablesInterface kTablesInterface = {waitForTables};

const void* extensionData(const char* uri)
{
    return uri && std::strcmp(uri, Z5R_LV2_TABLES_INTERFACE) == 0 ? &kTablesInterface : nullptr;
}

const LV2_Descriptor kDescriptor = {
    Z5R_LV2_URI, instantiate, connectPort, activate, run, deactivate, cleanup, extensionData,
};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) { return index == 0 ? &kDescriptor : nullptr; }
