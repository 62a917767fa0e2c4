// The VST 2.4 plug-in interface as published: our own declarations of the
// binary layout, opcode numbers and calling convention, written from the
// public description of the interface. Only what this product uses or
// answers is named; every number is the published one.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define VST_CALL __cdecl
#else
#define VST_CALL
#endif

struct AEffect;

// Host callback: (effect, opcode, index, value, ptr, opt) -> answer.
using audioMasterCallback = intptr_t(VST_CALL*)(AEffect* effect, int32_t opcode, int32_t index,
                                                intptr_t value, void* ptr, float opt);

using AEffectDispatcherProc = intptr_t(VST_CALL*)(AEffect* effect, int32_t opcode, int32_t index,
                                                  intptr_t value, void* ptr, float opt);
using AEffectProcessProc = void(VST_CALL*)(AEffect* effect, float** inputs, float** outputs,
                                           int32_t sampleFrames);
using AEffectProcessDoubleProc = void(VST_CALL*)(AEffect* effect, double** inputs, double** outputs,
                                                 int32_t sampleFrames);
using AEffectSetParameterProc = void(VST_CALL*)(AEffect* effect, int32_t index, float parameter);
using AEffectGetParameterProc = float(VST_CALL*)(AEffect* effect, int32_t index);

constexpr int32_t kEffectMagic = 0x56737450;  // 'VstP'

#pragma pack(push, 8)
struct AEffect {
    int32_t magic;
    AEffectDispatcherProc dispatcher;
    AEffectProcessProc process;  // deprecated accumulating entry
    AEffectSetParameterProc setParameter;
    AEffectGetParameterProc getParameter;
    int32_t numPrograms;
    int32_t numParams;
    int32_t numInputs;
    int32_t numOutputs;
    int32_t flags;
    intptr_t resvd1;
    intptr_t resvd2;
    int32_t initialDelay;
    int32_t realQualities;
    int32_t offQualities;
    float ioRatio;
    void* object;
    void* user;
    int32_t uniqueID;
    int32_t version;
    AEffectProcessProc processReplacing;
    AEffectProcessDoubleProc processDoubleReplacing;
    char future[56];
};
#pragma pack(pop)

static_assert(sizeof(void*) != 8 || sizeof(AEffect) == 192, "AEffect is 192 bytes on 64-bit hosts");
static_assert(sizeof(void*) != 8 || offsetof(AEffect, dispatcher) == 8);
static_assert(sizeof(void*) != 8 || offsetof(AEffect, numPrograms) == 40);
static_assert(sizeof(void*) != 8 || offsetof(AEffect, flags) == 56);
static_assert(sizeof(void*) != 8 || offsetof(AEffect, resvd1) == 64);
static_assert(sizeof(void*) != 8 || offsetof(AEffect, initialDelay) == 80);
static_assert(sizeof(void*) != 8 || offsetof(AEffect, ioRatio) == 92);
static_assert(sizeof(void*) != 8 || offsetof(AEffect, object) == 96);
static_assert(sizeof(void*) != 8 || offsetof(AEffect, uniqueID) == 112);
static_assert(sizeof(void*) != 8 || offsetof(AEffect, processReplacing) == 120);
static_assert(sizeof(void*) != 8 || offsetof(AEffect, processDoubleReplacing) == 128);
static_assert(sizeof(void*) != 8 || offsetof(AEffect, future) == 136);

// AEffect::flags
constexpr int32_t effFlagsHasEditor = 1 << 0;
constexpr int32_t effFlagsCanReplacing = 1 << 4;
constexpr int32_t effFlagsProgramChunks = 1 << 5;
constexpr int32_t effFlagsIsSynth = 1 << 8;
constexpr int32_t effFlagsNoSoundInStop = 1 << 9;
constexpr int32_t effFlagsCanDoubleReplacing = 1 << 12;

// Plug-in opcodes (host -> plug-in dispatcher). IN/OUT name the arguments used.
enum : int32_t {
    effOpen = 0,                     // returns 0
    effClose = 1,                    // the instance is destroyed; returns 1
    effSetProgram = 2,               // IN value: program index; returns 0
    effGetProgram = 3,               // returns the current program index
    effSetProgramName = 4,           // IN ptr: char[25] name; returns 0
    effGetProgramName = 5,           // OUT ptr: char[25] name; returns 0
    effGetParamLabel = 6,            // IN index, OUT ptr: char[9] unit label; returns 0
    effGetParamDisplay = 7,          // IN index, OUT ptr: char[8] value text; returns 0
    effGetParamName = 8,             // IN index, OUT ptr: char[9] name; returns 0
    effGetVu = 9,                    // deprecated; returns 0
    effSetSampleRate = 10,           // IN opt: sample rate in Hz; returns 0
    effSetBlockSize = 11,            // IN value: largest block in frames; returns 0
    effMainsChanged = 12,            // IN value: 0 = processing off, 1 = on; returns 0
    effEditGetRect = 13,             // OUT ptr: ERect**; returns 1 when a rectangle is given
    effEditOpen = 14,                // IN ptr: parent window handle; returns 1 on success
    effEditClose = 15,               // returns 0
    effEditDraw = 16,                // deprecated; returns 0
    effEditMouse = 17,               // deprecated; returns 0
    effEditKey = 18,                 // deprecated; returns 0
    effEditIdle = 19,                // host idle tick for the editor; returns 0
    effEditTop = 20,                 // deprecated; returns 0
    effEditSleep = 21,               // deprecated; returns 0
    effIdentify = 22,                // deprecated; returns 'NvEf'
    effGetChunk = 23,                // OUT ptr: void** chunk; returns its size (0: no chunks)
    effSetChunk = 24,                // IN ptr: chunk, value: size, index: 1 = program; returns 0
    effProcessEvents = 25,           // IN ptr: VstEvents*; returns 0
    effCanBeAutomated = 26,          // IN index; returns 1 when automatable
    effString2Parameter = 27,        // IN index, ptr: text; returns 1 when taken
    effGetNumProgramCategories = 28, // returns the number of categories
    effGetProgramNameIndexed = 29,   // IN index, OUT ptr: char[25]; returns 1 when given
    effCopyProgram = 30,             // deprecated; returns 0
    effConnectInput = 31,            // deprecated; returns 0
    effConnectOutput = 32,           // deprecated; returns 0
    effGetInputProperties = 33,      // IN index, OUT ptr: VstPinProperties*; returns 1 when given
    effGetOutputProperties = 34,     // IN index, OUT ptr: VstPinProperties*; returns 1 when given
    effGetPlugCategory = 35,         // returns the plug-in category
    effGetCurrentPosition = 36,      // deprecated; returns 0
    effGetDestinationBuffer = 37,    // deprecated; returns 0
    effOfflineNotify = 38,           // offline processing; returns 0
    effOfflinePrepare = 39,          // offline processing; returns 0
    effOfflineRun = 40,              // offline processing; returns 0
    effProcessVarIo = 41,            // IN ptr: VstVariableIo*; returns 0
    effSetSpeakerArrangement = 42,   // IN value: input VstSpeakerArrangement*, ptr: output one; returns 1 when taken
    effSetBlockSizeAndSampleRate = 43, // deprecated; returns 0
    effSetBypass = 44,               // IN value: 1 = bypass; returns 1 when soft bypass is supported
    effGetEffectName = 45,           // OUT ptr: char[33]; returns 1
    effGetErrorText = 46,            // deprecated; returns 0
    effGetVendorString = 47,         // OUT ptr: char[65]; returns 1
    effGetProductString = 48,        // OUT ptr: char[65]; returns 1
    effGetVendorVersion = 49,        // returns the vendor version number
    effVendorSpecific = 50,          // vendor-defined; returns 0
    effCanDo = 51,                   // IN ptr: capability text; returns 1 yes, -1 no, 0 don't know
    effGetTailSize = 52,             // returns the tail in samples (0: default)
    effIdle = 53,                    // deprecated; returns 0
    effGetIcon = 54,                 // deprecated; returns 0
    effSetViewPosition = 55,         // deprecated; returns 0
    effGetParameterProperties = 56,  // IN index, OUT ptr: VstParameterProperties*; returns 1 when given
    effKeysRequired = 57,            // deprecated; returns 0
    effGetVstVersion = 58,           // returns the interface version (2400)
    effEditKeyDown = 59,             // IN index: character, value: virtual key, opt: modifiers; returns 1 when used
    effEditKeyUp = 60,               // as effEditKeyDown
    effSetEditKnobMode = 61,         // IN value: knob mode; returns 1 when taken
    effGetMidiProgramName = 62,      // IN index: channel, OUT ptr: MidiProgramName*; returns 0
    effGetCurrentMidiProgram = 63,   // IN index: channel, OUT ptr: MidiProgramName*; returns the program or -1
    effGetMidiProgramCategory = 64,  // MIDI program category; returns 0
    effHasMidiProgramsChanged = 65,  // returns 1 when changed
    effGetMidiKeyName = 66,          // MIDI key name; returns 0
    effBeginSetProgram = 67,         // program change begins; returns 0
    effEndSetProgram = 68,           // program change ends; returns 0
    effGetSpeakerArrangement = 69,   // OUT value: VstSpeakerArrangement** input, ptr: VstSpeakerArrangement** output; returns 0
    effShellGetNextPlugin = 70,      // OUT ptr: char[65]; returns the next unique ID
    effStartProcess = 71,            // processing starts; returns 0
    effStopProcess = 72,             // processing stops; returns 0
    effSetTotalSampleToProcess = 73, // IN value: frames of an offline run; returns the frames accepted
    effSetPanLaw = 74,               // IN value: pan law, opt: gain; returns 1 when taken
    effBeginLoadBank = 75,           // IN ptr: VstPatchChunkInfo*; returns -1 refuse, 1 accept, 0 no answer
    effBeginLoadProgram = 76,        // as effBeginLoadBank
    effSetProcessPrecision = 77,     // IN value: 0 = 32-bit, 1 = 64-bit; returns 1 when taken
    effGetNumMidiInputChannels = 78, // returns the number of MIDI input channels
    effGetNumMidiOutputChannels = 79 // returns the number of MIDI output channels
};

// Host opcodes (plug-in -> host callback).
enum : int32_t {
    audioMasterAutomate = 0,  // IN index: parameter, opt: new normalized value; answer ignored
    audioMasterVersion = 1,   // returns the host's interface version (non-zero)
    audioMasterCurrentId = 2, // returns the unique ID of the plug-in being loaded
    audioMasterIdle = 3,      // deprecated
    audioMasterIOChanged = 13 // numInputs, numOutputs or initialDelay changed; returns 1 when the host took note
};

// Plug-in categories answered to effGetPlugCategory.
constexpr intptr_t kPlugCategUnknown = 0;
constexpr intptr_t kPlugCategEffect = 1;
constexpr intptr_t kPlugCategSynth = 2;

// The editor rectangle, in pixels.
struct ERect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
};
static_assert(sizeof(ERect) == 8);

// One speaker of an arrangement.
struct VstSpeakerProperties {
    float azimuth;
    float elevation;
    float radius;
    float reserved;
    char name[64];
    int32_t type;
    char future[28];
};
static_assert(sizeof(VstSpeakerProperties) == 112);

// A channel arrangement: numChannels speaker records follow the header. The
// published record declares eight; a host allocates room for as many as it needs.
struct VstSpeakerArrangement {
    int32_t type;
    int32_t numChannels;
    VstSpeakerProperties speakers[8];
};
static_assert(offsetof(VstSpeakerArrangement, speakers) == 8);

constexpr int32_t kSpeakerArrMono = 0;
constexpr int32_t kSpeakerArrStereo = 1;

constexpr int32_t kVstVersion = 2400;
