// Every opcode from -10 to 100, many times, with random index, value and
// opt, and as ptr a large zeroed buffer, a random text for text inputs, or
// null where the interface lets ptr be null: no crash, no write outside
// what the opcode may write, answers within what the interface allows, and
// the record keeps its identity. Values the interface defines as pointers
// get valid pointers; values that give the size of what ptr points at stay
// within it; a sample rate and a block size stay within what hosts
// announce. Editor opcodes wait for an X display where the plug-in has an
// editor (Linux).
#include "Common.h"

#include "../Display.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace validate {

namespace {

constexpr size_t kLargeBuffer = 65536;

// The published sizes of what some opcodes write through ptr.
constexpr size_t kPinProperties = 128;        // VstPinProperties
constexpr size_t kParameterProperties = 152;  // VstParameterProperties
constexpr size_t kMidiProgramName = 80;       // MidiProgramName
constexpr size_t kMidiProgramCategory = 76;   // MidiProgramCategory
constexpr size_t kMidiKeyName = 80;           // MidiKeyName

// What an opcode may write through ptr: nothing, a text of at most
// `limit` bytes with its terminator, a record of `limit` bytes, or
// anything within the buffer.
enum class Writes { Nothing, Text, Record, Anything };

struct PtrRule {
    Writes writes;
    size_t limit;
};

PtrRule ptrRule(int32_t opcode)
{
    switch (opcode) {
    case effGetProgramName:
    case effGetProgramNameIndexed:
        return {Writes::Text, 25};
    case effGetParamLabel:
    case effGetParamDisplay:
    case effGetParamName:
        return {Writes::Text, 9};
    case effGetEffectName:
        return {Writes::Text, 33};
    case effGetVendorString:
    case effGetProductString:
    case effShellGetNextPlugin:
        return {Writes::Text, 65};
    case effGetErrorText:
        return {Writes::Text, 256};
    case effEditGetRect:
    case effGetChunk:
    case effGetSpeakerArrangement:
        return {Writes::Record, sizeof(void*)};
    case effGetInputProperties:
    case effGetOutputProperties:
        return {Writes::Record, kPinProperties};
    case effGetParameterProperties:
        return {Writes::Record, kParameterProperties};
    case effGetMidiProgramName:
    case effGetCurrentMidiProgram:
        return {Writes::Record, kMidiProgramName};
    case effGetMidiProgramCategory:
        return {Writes::Record, kMidiProgramCategory};
    case effGetMidiKeyName:
        return {Writes::Record, kMidiKeyName};
    case effEditKeyDown:  // some editors take key records through ptr
    case effEditKeyUp:
    case effVendorSpecific:
    case effOfflineNotify:
    case effOfflinePrepare:
    case effOfflineRun:
        return {Writes::Anything, kLargeBuffer};
    default:
        return {Writes::Nothing, 0};
    }
}

// Opcodes whose ptr is a text the plug-in reads.
bool takesTextInput(int32_t opcode)
{
    return opcode == effSetProgramName || opcode == effString2Parameter || opcode == effCanDo;
}

// Whether hosts ever hand this opcode a null ptr: only where the interface
// gives ptr no meaning. The texts, records and events that the others read
// or fill always come, so a plug-in may rightly take them for granted.
bool ptrMayBeNull(int32_t opcode)
{
    if (takesTextInput(opcode)) return false;
    const Writes writes = ptrRule(opcode).writes;
    if (writes == Writes::Text || writes == Writes::Record) return false;
    switch (opcode) {
    case effProcessEvents:     // VstEvents
    case effProcessVarIo:      // VstVariableIo
    case effEditDraw:          // the rectangle to draw
    case effSetChunk:          // the chunk's bytes
    case effSetSpeakerArrangement:  // the output arrangement
    case effBeginLoadBank:     // VstPatchChunkInfo
    case effBeginLoadProgram:
        return false;
    default:
        return true;
    }
}

// The editor's opcodes: with an editor, the plug-in may need a display for these.
bool editorOpcode(int32_t opcode)
{
    return (opcode >= effEditGetRect && opcode <= effEditSleep) || opcode == effEditKeyDown || opcode == effEditKeyUp ||
           opcode == effSetEditKnobMode;
}

const char* opcodeName(int32_t opcode)
{
    static const char* const names[] = {
        "effOpen", "effClose", "effSetProgram", "effGetProgram", "effSetProgramName", "effGetProgramName",
        "effGetParamLabel", "effGetParamDisplay", "effGetParamName", "effGetVu", "effSetSampleRate",
        "effSetBlockSize", "effMainsChanged", "effEditGetRect", "effEditOpen", "effEditClose", "effEditDraw",
        "effEditMouse", "effEditKey", "effEditIdle", "effEditTop", "effEditSleep", "effIdentify", "effGetChunk",
        "effSetChunk", "effProcessEvents", "effCanBeAutomated", "effString2Parameter", "effGetNumProgramCategories",
        "effGetProgramNameIndexed", "effCopyProgram", "effConnectInput", "effConnectOutput", "effGetInputProperties",
        "effGetOutputProperties", "effGetPlugCategory", "effGetCurrentPosition", "effGetDestinationBuffer",
        "effOfflineNotify", "effOfflinePrepare", "effOfflineRun", "effProcessVarIo", "effSetSpeakerArrangement",
        "effSetBlockSizeAndSampleRate", "effSetBypass", "effGetEffectName", "effGetErrorText", "effGetVendorString",
        "effGetProductString", "effGetVendorVersion", "effVendorSpecific", "effCanDo", "effGetTailSize", "effIdle",
        "effGetIcon", "effSetViewPosition", "effGetParameterProperties", "effKeysRequired", "effGetVstVersion",
        "effEditKeyDown", "effEditKeyUp", "effSetEditKnobMode", "effGetMidiProgramName", "effGetCurrentMidiProgram",
        "effGetMidiProgramCategory", "effHasMidiProgramsChanged", "effGetMidiKeyName", "effBeginSetProgram",
        "effEndSetProgram", "effGetSpeakerArrangement", "effShellGetNextPlugin", "effStartProcess", "effStopProcess",
        "effSetTotalSampleToProcess", "effSetPanLaw", "effBeginLoadBank", "effBeginLoadProgram",
        "effSetProcessPrecision", "effGetNumMidiInputChannels", "effGetNumMidiOutputChannels"};
    if (opcode >= 0 && opcode < static_cast<int32_t>(std::size(names))) return names[opcode];
    return "undefined";
}

// A random integer from the values that break things most often.
intptr_t wildInteger(Rng& rng)
{
    switch (rng.below(8)) {
    case 0: return 0;
    case 1: return 1;
    case 2: return -1;
    case 3: return rng.range(-16, 130);
    case 4: return std::numeric_limits<int32_t>::max();
    case 5: return std::numeric_limits<int32_t>::min();
    case 6: return static_cast<intptr_t>(rng.next());
    default: return static_cast<int32_t>(rng.next());
    }
}

float wildFloat(Rng& rng)
{
    switch (rng.below(10)) {
    case 0: return std::numeric_limits<float>::quiet_NaN();
    case 1: return std::numeric_limits<float>::infinity();
    case 2: return -std::numeric_limits<float>::infinity();
    case 3: return 0.0f;
    case 4: return -1.0f;
    case 5: return 1e30f;
    case 6: return 1e-40f;
    case 7: return static_cast<float>(rng.unit());
    case 8: return static_cast<float>(rng.range(0, 400000));
    default: {
        uint32_t bits = static_cast<uint32_t>(rng.next());
        float f;
        std::memcpy(&f, &bits, sizeof(f));
        return f;
    }
    }
}

// A sample rate as hosts set it: a common one, or anything from 8 kHz to 1 MHz.
float saneRate(Rng& rng)
{
    static const float common[] = {8000.0f, 11025.0f, 22050.0f, 44100.0f, 48000.0f, 88200.0f, 96000.0f, 192000.0f, 384000.0f};
    if (rng.chance(0.5)) return common[rng.below(static_cast<uint32_t>(std::size(common)))];
    return static_cast<float>(8000.0 + rng.unit() * 992000.0);
}

// The record's fields that no opcode may change.
struct Identity {
    int32_t magic, numPrograms, numParams, numInputs, numOutputs, uniqueID;
    AEffectDispatcherProc dispatcher;
    AEffectProcessProc processReplacing;
    void* user;
    explicit Identity(const AEffect* e)
        : magic(e->magic), numPrograms(e->numPrograms), numParams(e->numParams), numInputs(e->numInputs),
          numOutputs(e->numOutputs), uniqueID(e->uniqueID), dispatcher(e->dispatcher),
          processReplacing(e->processReplacing), user(e->user)
    {
    }
    bool operator==(const Identity&) const = default;
};

// Checks an opcode's answer against what the interface allows.
void checkAnswer(Check& check, Instance& instance, int32_t opcode, int32_t index, intptr_t answer)
{
    const AEffect* e = instance.effect;
    const long long a = static_cast<long long>(answer);
    switch (opcode) {
    case effGetProgram:
        check.expect(e->numPrograms == 0 ? answer == 0 : (answer >= 0 && answer < e->numPrograms),
                     "effGetProgram answered %lld with %d programs", a, e->numPrograms);
        break;
    case effIdentify:
        check.expect(answer == 0 || answer == 0x4E764566, "effIdentify answered %lld (0 or 'NvEf')", a);
        break;
    case effGetChunk:
        check.expect(answer >= 0, "effGetChunk answered %lld", a);
        check.expect(answer == 0 || (e->flags & effFlagsProgramChunks), "effGetChunk gave a chunk without effFlagsProgramChunks");
        break;
    case effCanBeAutomated:
    case effGetEffectName:
    case effGetVendorString:
    case effGetProductString:
    case effGetProgramNameIndexed:
    case effGetInputProperties:
    case effGetOutputProperties:
    case effGetParameterProperties:
    case effString2Parameter:
    case effEditGetRect:
    case effSetBypass:
    case effSetSpeakerArrangement:
    case effSetProcessPrecision:
    case effHasMidiProgramsChanged:
        check.expect(answer == 0 || answer == 1, "%s answered %lld (0 or 1)", opcodeName(opcode), a);
        break;
    case effGetPlugCategory:
        check.expect(answer >= 0 && answer <= 11, "effGetPlugCategory answered %lld (0 to 11)", a);
        break;
    case effCanDo:
        check.expect(answer >= -1 && answer <= 1, "effCanDo answered %lld (-1, 0 or 1)", a);
        break;
    case effGetTailSize:
    case effGetVendorVersion:
    case effGetNumProgramCategories:
        check.expect(answer >= 0, "%s answered %lld", opcodeName(opcode), a);
        break;
    case effGetVstVersion:
        check.expect(answer == kVstVersion, "effGetVstVersion answered %lld (2400 for a 2.4 plug-in)", a);
        break;
    case effGetCurrentMidiProgram:
        check.expect(answer >= -1, "effGetCurrentMidiProgram answered %lld", a);
        break;
    case effGetNumMidiInputChannels:
    case effGetNumMidiOutputChannels:
        check.expect(answer >= 0 && answer <= 16, "%s answered %lld (0 to 16)", opcodeName(opcode), a);
        break;
    case effBeginLoadBank:
    case effBeginLoadProgram:
        check.expect(answer >= -1 && answer <= 1, "%s answered %lld (-1, 0 or 1)", opcodeName(opcode), a);
        break;
    default:
        if (opcode < 0 || opcode > effGetNumMidiOutputChannels)
            check.expect(answer == 0, "undefined opcode %d answered %lld", opcode, a);
        break;
    }
    (void)index;
}

class Fuzzer {
public:
    Fuzzer(Runner& runner, Check& check, Instance& instance)
        : runner(runner), check(check), instance(instance), large(kLargeBuffer, 0), text(kLargeBuffer, 0),
          audio(instance.inputs(), instance.outputs(), 256), identity(instance.effect)
    {
        stereo.type = kSpeakerArrStereo;
        stereo.numChannels = 2;
        mono.type = kSpeakerArrMono;
        mono.numChannels = 1;
    }

    // One call of `opcode` with random arguments; checks what it did.
    void call(int32_t opcode)
    {
        Rng& rng = runner.rng;
        const int32_t index = static_cast<int32_t>(wildInteger(rng));
        intptr_t value = wildInteger(rng);
        float opt = wildFloat(rng);
        const PtrRule rule = ptrRule(opcode);

        // ptr: the large zeroed buffer, a random text for text inputs, or null where allowed.
        const uint32_t choice = takesTextInput(opcode) ? 1 + rng.below(2) : ptrMayBeNull(opcode) ? rng.below(2) : 1;
        GuardedBuffer* buffer = nullptr;
        if (choice == 1) {
            large.reset();
            buffer = &large;
        } else if (choice == 2) {
            text.reset();
            const size_t length = rng.below(64);
            for (size_t i = 0; i < length; ++i) text.data()[i] = static_cast<char>(32 + rng.below(95));
            buffer = &text;
        }
        void* ptr = buffer ? buffer->data() : nullptr;

        // Values that the interface defines as pointers or as the size of ptr's data.
        VstSpeakerArrangement* locationIn = &stereo;
        switch (opcode) {
        case effSetSpeakerArrangement: {
            // value and ptr, the input and output arrangements, are read by the plug-in.
            const uint32_t which = rng.below(3);
            zeroArrangement = {};
            value = reinterpret_cast<intptr_t>(which == 0 ? &stereo : which == 1 ? &mono : &zeroArrangement);
            ptr = rng.below(2) ? static_cast<void*>(&stereo) : static_cast<void*>(&mono);
            buffer = nullptr;
            break;
        }
        case effGetSpeakerArrangement:
            value = reinterpret_cast<intptr_t>(&locationIn);
            break;
        case effSetChunk:
            value = static_cast<intptr_t>(rng.below(static_cast<uint32_t>(kLargeBuffer)));
            break;
        case effSetBlockSize:
        case effSetBlockSizeAndSampleRate:
            // Hosts announce 1 to 65536 frames; a plug-in may size its buffers by it.
            value = rng.chance(0.5) ? static_cast<intptr_t>(1) << rng.below(17) : rng.range(1, 65536);
            if (opcode == effSetBlockSizeAndSampleRate) opt = saneRate(rng);
            break;
        case effSetSampleRate:
            opt = saneRate(rng);
            break;
        case effOfflineNotify:
        case effOfflinePrepare:
        case effOfflineRun:
            value = ptr ? rng.below(2) : 0;
            break;
        default:
            break;
        }

        setActivity("%s(index %d, value %lld, ptr %s, opt %g)", opcodeName(opcode), index,
                    static_cast<long long>(value), !ptr ? "null" : buffer == &large ? "zeroed buffer" : "other",
                    static_cast<double>(opt));
        // Hosts change the rate, the block size and the arrangement only while processing is off.
        const bool whileSuspended = opcode == effSetSampleRate || opcode == effSetBlockSize ||
                                    opcode == effSetBlockSizeAndSampleRate || opcode == effSetSpeakerArrangement;
        if (whileSuspended) instance.suspend();
        const intptr_t answer = instance.call(opcode, index, value, ptr, opt);
        if (whileSuspended) {
            if (opcode == effSetBlockSize || opcode == effSetBlockSizeAndSampleRate) announced = static_cast<int32_t>(value);
            instance.resume();
        }
        setActivity("processing after the calls");
        ++calls;
        checkAnswer(check, instance, opcode, index, answer);
        if (buffer) {
            check.expect(buffer->guardsIntact(), "%s (index %d): wrote outside the buffer it was given",
                         opcodeName(opcode), index);
            const size_t extent = buffer->writtenExtent();
            if (buffer == &large) {
                switch (rule.writes) {
                case Writes::Nothing:
                    check.expect(extent == 0, "%s (index %d): wrote %zu bytes through ptr, which it may not write",
                                 opcodeName(opcode), index, extent);
                    break;
                case Writes::Text:
                    check.expect(extent <= rule.limit && buffer->terminatedWithin(rule.limit),
                                 "%s (index %d): wrote %zu bytes%s, limit %zu with the terminator", opcodeName(opcode),
                                 index, extent, buffer->terminatedWithin(rule.limit) ? "" : " with no terminator within the limit",
                                 rule.limit);
                    break;
                case Writes::Record:
                    check.expect(extent <= rule.limit, "%s (index %d): wrote %zu bytes into a %zu-byte record",
                                 opcodeName(opcode), index, extent, rule.limit);
                    break;
                case Writes::Anything:
                    break;
                }
            }
        }
        if (opcode == effGetSpeakerArrangement && value) {
            // The location now holds the plug-in's arrangement or null; nothing to follow here.
        }
        check.expect(Identity(instance.effect) == identity, "%s changed the record's identity fields", opcodeName(opcode));
    }

    // A block of audio; the output must stay sound whatever the calls did.
    void process()
    {
        // Never more frames than the block size last announced.
        const int32_t frames = static_cast<int32_t>(runner.rng.below(static_cast<uint32_t>(std::min(announced, 256)) + 1));
        fillSignal(audio, position, frames, 44100.0);
        audio.markOutputs(frames);
        instance.process(audio.inputs(), audio.outputs(), frames);
        position += frames;
        Scan scan;
        scan.add(audio, instance.outputs(), frames, runner.options.bound);
        // A mono arrangement may leave the second channel alone, so unwritten frames are not counted.
        check.expect(scan.nonFinite == 0 && scan.subnormal == 0 && scan.overBound == 0, "audio after the calls: %s",
                     scan.describe().c_str());
    }

    int64_t calls = 0;

private:
    Runner& runner;
    Check& check;
    Instance& instance;
    GuardedBuffer large;
    GuardedBuffer text;
    AudioBuffers audio;
    Identity identity;
    VstSpeakerArrangement stereo{};
    VstSpeakerArrangement mono{};
    VstSpeakerArrangement zeroArrangement{};
    int64_t position = 0;
    int32_t announced = 256;
};

bool excluded(int32_t opcode)
{
    // Sent once each, by the lifecycle and editor groups: creating and
    // destroying, and opening an editor (which needs a real parent window).
    return opcode == effOpen || opcode == effClose || opcode == effEditOpen;
}

}  // namespace

void dispatcherGroup(Runner& runner)
{
    const Options& options = runner.options;
    const int32_t perOpcode = options.quick ? 40 : 200;

    auto module = loadForGroup(runner, "dispatcher");
    if (!module) return;

    // Without a display, an editor's opcodes are left to the editor group, which skips them too.
    std::string noDisplay;
    {
        Instance probe(*module);
        if (!probe.hasFlag(effFlagsHasEditor) || displayAvailable(noDisplay)) noDisplay.clear();
    }
    auto skipped = [&](int32_t opcode) { return !noDisplay.empty() && editorOpcode(opcode); };

    for (int32_t opcode = -10; opcode <= 100; ++opcode) {
        if (excluded(opcode)) continue;
        if (skipped(opcode)) {
            runner.skip(format("dispatcher.opcode-%d-%s", opcode, opcodeName(opcode)), noDisplay + ": editor opcode skipped");
            continue;
        }
        runner.run(format("dispatcher.opcode-%d-%s", opcode, opcodeName(opcode)), [&](Check& check) {
            Instance instance(*module);
            instance.start(44100.0, 256);
            Fuzzer fuzzer(runner, check, instance);
            for (int32_t i = 0; i < perOpcode; ++i) {
                fuzzer.call(opcode);
                if (i % 20 == 19) {
                    instance.resume();
                    fuzzer.process();
                }
            }
            instance.start(44100.0, 256);
            for (int32_t i = 0; i < 4; ++i) fuzzer.process();
            check.note("%lld calls", static_cast<long long>(fuzzer.calls));
        });
    }

    runner.run("dispatcher.mixed-sequence", [&](Check& check) {
        Instance instance(*module);
        instance.start(44100.0, 256);
        Fuzzer fuzzer(runner, check, instance);
        const int32_t total = options.quick ? 3000 : 20000;
        for (int32_t i = 0; i < total; ++i) {
            int32_t opcode;
            do opcode = runner.rng.range(-10, 100);
            while (excluded(opcode) || skipped(opcode));
            fuzzer.call(opcode);
            if (i % 25 == 24) fuzzer.process();
        }
        instance.start(44100.0, 256);
        for (int32_t i = 0; i < 4; ++i) fuzzer.process();
        check.note("%lld calls, audio between them", static_cast<long long>(fuzzer.calls));
    });

    runner.run("dispatcher.undefined-opcodes-change-nothing", [&](Check& check) {
        Instance instance(*module);
        const int32_t params = std::min(instance.params(), 64);
        std::vector<float> before(static_cast<size_t>(params));
        for (int32_t i = 0; i < params; ++i) before[static_cast<size_t>(i)] = instance.getParameter(i);
        const intptr_t program = instance.call(effGetProgram);
        const std::string name = instance.programName();
        GuardedBuffer zeros(kLargeBuffer, 0);
        for (int32_t opcode : {-10, -5, -1, 80, 81, 90, 99, 100}) {
            for (int32_t i = 0; i < 20; ++i) {
                zeros.reset();
                const intptr_t answer = instance.call(opcode, static_cast<int32_t>(wildInteger(runner.rng)),
                                                      wildInteger(runner.rng), i % 2 ? zeros.data() : nullptr,
                                                      wildFloat(runner.rng));
                check.expect(answer == 0, "opcode %d answered %lld", opcode, static_cast<long long>(answer));
                check.expect(zeros.writtenExtent() == 0 && zeros.guardsIntact(), "opcode %d wrote through ptr", opcode);
            }
        }
        for (int32_t i = 0; i < params; ++i) {
            const float now = instance.getParameter(i);
            check.expect(std::memcmp(&now, &before[static_cast<size_t>(i)], sizeof(float)) == 0,
                         "parameter %d changed", i);
        }
        check.expect(instance.call(effGetProgram) == program, "the program changed");
        check.expect(instance.programName() == name, "the program name changed");
    });

    runner.run("dispatcher.edit-get-rect", [&](Check& check) {
        if (!noDisplay.empty()) check.skip(noDisplay + ": editor opcode skipped");
        Instance instance(*module);
        ERect* rect = reinterpret_cast<ERect*>(&rect);  // not null, to see it written
        const intptr_t answer = instance.call(effEditGetRect, 0, 0, &rect);
        if (!instance.hasFlag(effFlagsHasEditor)) {
            check.expect(answer == 0, "no editor, yet effEditGetRect answered %lld", static_cast<long long>(answer));
            check.note("no editor");
            return;
        }
        if (answer == 1 && rect) {
            check.expect(rect->right > rect->left && rect->bottom > rect->top, "empty rectangle %d,%d-%d,%d", rect->left,
                         rect->top, rect->right, rect->bottom);
            check.note("%dx%d", rect->right - rect->left, rect->bottom - rect->top);
        } else {
            check.note("no rectangle before the editor opens");
        }
    });
}

}  // namespace validate
