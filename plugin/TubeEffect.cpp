#include "plugin/TubeEffect.h"

#include "engine/TableBuilder.h"
#include "plugin/EditorBase.h"

#include <algorithm>
#include <atomic>
#include <cstring>

TubeEffect::TubeEffect(audioMasterCallback hostCallback)
    : EffectBaseX(hostCallback, kNumPrograms, kNumParams)
{
    // The engine starts with every change pending, at 48 kHz, the scope feed
    // off; the values come from program row 0.
    curProgram = 0;
    engine.setParameters(kFactoryPrograms[0].values);
    sampleRate = engine.getSampleRate();

    cEffect.numInputs = getChannelCount();
    cEffect.numOutputs = 2;
    cEffect.uniqueID = kUniqueId;
    setFlag(effFlagsIsSynth, false);
    setFlag(effFlagsProgramChunks, false);
    setFlag(effFlagsCanReplacing, true);
    setInitialDelay(engine.latency());

    // The editor attaches itself (editor pointer and effFlagsHasEditor).
    createEditor(this);
}

TubeEffect::~TubeEffect()
{
    // The editor goes first: its destruction closes its window and stops
    // the scope feed while the rest of the effect still stands.
    delete editor;
}

void TubeEffect::setSampleRate(float rate)
{
    if (engine.setSampleRate(rate)) sampleRate = rate;
}

void TubeEffect::resume() { engine.prepareTables(); }

intptr_t TubeEffect::vendorSpecific(int32_t index, intptr_t, void*, float)
{
    if (index == kVendorTablesReady) return tableCache::hasWork() ? 0 : 1;
    if (index != kVendorWaitForTables) return 0;
    tableBuilder::waitUntilIdle();
    return 1;
}

void TubeEffect::processReplacing(float** inputs, float** outputs, int32_t sampleFrames)
{
    if (!inputs || !outputs || !inputs[0] || !outputs[0]) return;
    if (getChannelCount() == 2) {
        engine.process(inputs[0], inputs[1], outputs[0], outputs[1], sampleFrames);
        return;
    }
    // Mono in: the host still asked for two outputs, and both carry the one
    // processed channel (never stale memory on the right).
    engine.process(inputs[0], nullptr, outputs[0], nullptr, sampleFrames);
    if (outputs[1] && outputs[1] != outputs[0])
        for (int32_t k = 0; k < sampleFrames; ++k) outputs[1][k] = outputs[0][k];
}

void TubeEffect::latencyMayHaveChanged() noexcept
{
    // Two threads may write Oversmpl at once: each publishes the latency it
    // read and looks again, so that whichever publishes last publishes the
    // latency of the value stored last. Whoever changed the published figure
    // tells the host afterwards.
    std::atomic_ref<int32_t> published(cEffect.initialDelay);
    bool changed = false;
    int32_t latency = engine.latency();
    for (;;) {
        changed |= published.exchange(latency) != latency;
        const int32_t now = engine.latency();
        if (now == latency) break;
        latency = now;
    }
    if (changed) callHost(audioMasterIOChanged, 0, 0, nullptr, 0.0f);
}

void TubeEffect::setParameter(int32_t index, float value)
{
    engine.setParameter(index, value);
    if (index == kParamOversample) latencyMayHaveChanged();
}

float TubeEffect::getParameter(int32_t index) { return engine.getParameter(index); }

void TubeEffect::setProgram(int32_t program)
{
    // The bank saves, switches and hands the engine its values under one
    // lock; the host hears of a new latency outside it: it may call back.
    if (bank.select(program, engine)) latencyMayHaveChanged();
}

int32_t TubeEffect::getProgram() { return bank.current(); }

void TubeEffect::setProgramName(char* name)
{
    if (!name) return;
    bank.rename(std::string_view(name, strnlen(name, kProgramNameLength)));
}

void TubeEffect::getProgramName(char* name)
{
    if (!name) return;
    const ProgramRecord row = bank.currentRow();
    copyText(name, row.name, kProgramNameLength);
}

void TubeEffect::getParameterLabel(int32_t index, char* label)
{
    if (!label || !isParameterIndex(index)) return;
    copyText(label, parameterLabel(index), kParamTextLength);
}

void TubeEffect::getParameterDisplay(int32_t index, char* text)
{
    if (!text || !isParameterIndex(index)) return;
    // The oversampling factor shown is the one in force, not the stored value.
    const float value = index == kParamOversample ? 0.0f : getParameter(index);
    formatParameterDisplay(index, value, engine.oversamplingInForce(), text);
}

void TubeEffect::getParameterName(int32_t index, char* text)
{
    if (!text) return;
    copyText(text, parameterName(index), kParamTextLength);
}

bool TubeEffect::setSpeakerArrangement(VstSpeakerArrangement* input, VstSpeakerArrangement* output)
{
    // What we honour: one or two inputs; two outputs, or one output after a
    // mono input (the one processed channel is output 0, and output 1, which
    // the host supplies anyway, carries a copy). Stereo into one output would
    // lose the right channel. Anything else is refused whole.
    if (!input || !output) return false;
    const int32_t in = input->numChannels;
    const int32_t out = output->numChannels;
    if (in < 1 || in > 2 || out < in || out > 2) return false;
    channelCount.store(in, std::memory_order_relaxed);
    return true;
}

ProgramRecord TubeEffect::getProgramRecord(int32_t row) { return bank.row(row); }

bool TubeEffect::getEffectName(char* name)
{
    if (!name) return false;
    copyText(name, kEffectName, kEffectNameLength);
    return true;
}

bool TubeEffect::getVendorString(char* text)
{
    if (!text) return false;
    copyText(text, kVendorName, kVendorTextLength);
    return true;
}

bool TubeEffect::getProductString(char* text)
{
    if (!text) return false;
    copyText(text, kProductName, kVendorTextLength);
    return true;
}
