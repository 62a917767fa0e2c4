// The built plug-in library, loaded and driven through its exported entry
// point the way a host does it: every opcode's answer, text limits with
// guard bytes, audio through the AEffect record, and effClose.
#include "LoadedPlugin.h"
#include "engine/Parameters.h"
#include "plugin/vst2abi.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>


namespace {

const LoadedPlugin& library()
{
    static LoadedPlugin lib(Z5R_PLUGIN_FILE);
    return lib;
}

intptr_t hostVersion = 2400;
std::vector<int32_t> hostOpcodes;

intptr_t VST_CALL host(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    hostOpcodes.push_back(opcode);
    return opcode == audioMasterVersion ? hostVersion : 0;
}

class PluginLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(library().vstPluginMain, nullptr) << "cannot load " Z5R_PLUGIN_FILE;
        hostVersion = 2400;
        effect = library().vstPluginMain(host);
        ASSERT_NE(effect, nullptr);
    }
    void TearDown() override
    {
        if (effect) {
            EXPECT_EQ(call(effClose), 1);
        }
    }

    intptr_t call(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f)
    {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    }

    // Runs a text opcode into a buffer of '#' and returns what it wrote;
    // `written` is how many bytes were touched.
    std::string text(int32_t opcode, int32_t index, size_t& written)
    {
        char buffer[256];
        std::memset(buffer, '#', sizeof(buffer));
        call(opcode, index, 0, buffer);
        written = 0;
        for (size_t i = 0; i < sizeof(buffer); ++i)
            if (buffer[i] != '#') written = i + 1;
        return std::string(buffer, strnlen(buffer, sizeof(buffer)));
    }

    AEffect* effect = nullptr;
};

}  // namespace

TEST(PluginEntry, ExportsOneFunctionUnderBothNames)
{
    ASSERT_NE(library().vstPluginMain, nullptr);
    EXPECT_EQ(library().vstPluginMain, library().main);
}

TEST(PluginEntry, RefusesAHostThatDoesNotAnswerItsVersion)
{
    hostVersion = 0;
    hostOpcodes.clear();
    EXPECT_EQ(library().vstPluginMain(host), nullptr);
    EXPECT_EQ(hostOpcodes, std::vector<int32_t>{audioMasterVersion});
    EXPECT_EQ(library().vstPluginMain(nullptr), nullptr);
    hostVersion = 1;
    AEffect* any = library().vstPluginMain(host);
    ASSERT_NE(any, nullptr);
    EXPECT_EQ(any->dispatcher(any, effClose, 0, 0, nullptr, 0.0f), 1);
}

TEST_F(PluginLibrary, RecordCarriesTheIdentity)
{
    EXPECT_EQ(effect->magic, kEffectMagic);
    EXPECT_EQ(effect->numPrograms, 8);
    EXPECT_EQ(effect->numParams, kNumParams);
    EXPECT_EQ(effect->numInputs, 2);
    EXPECT_EQ(effect->numOutputs, 2);
    EXPECT_EQ(effect->flags & ~effFlagsHasEditor, effFlagsCanReplacing);
    EXPECT_EQ(effect->uniqueID, 0x30333468);
    EXPECT_EQ(effect->version, 1);
    EXPECT_EQ(effect->initialDelay, 0);
    EXPECT_EQ(effect->ioRatio, 1.0f);
    EXPECT_EQ(effect->resvd1, 0);
    EXPECT_EQ(effect->user, nullptr);
    for (char c : effect->future) EXPECT_EQ(c, 0);
}

TEST_F(PluginLibrary, AnswersOfTheFixedOpcodes)
{
    EXPECT_EQ(call(effOpen), 0);
    EXPECT_EQ(call(effIdentify), 0x4E764566);
    EXPECT_EQ(call(effGetVendorVersion), 1060);
    EXPECT_EQ(call(effGetVstVersion), 2400);
    EXPECT_EQ(call(effGetPlugCategory), 0);
    EXPECT_EQ(call(effGetTailSize), 0);
    EXPECT_EQ(call(effGetCurrentMidiProgram), -1);
    EXPECT_EQ(call(effGetChunk), 0);
    EXPECT_EQ(call(effCanBeAutomated, 3), 1);
    EXPECT_EQ(call(effCanBeAutomated, 99), 1);
    EXPECT_EQ(call(effSetTotalSampleToProcess, 0, 12345), 12345);
    EXPECT_EQ(call(effSetTotalSampleToProcess, 0, intptr_t(0x100000005LL)), 5);
    EXPECT_EQ(call(effMainsChanged, 0, 1), 0);
    EXPECT_EQ(call(effMainsChanged, 0, 0), 0);
    EXPECT_EQ(call(effEditIdle), 0);
    EXPECT_EQ(call(effEditGetRect, 0, 0, nullptr), 0);
    for (const char* capability : {"receiveVstMidiEvent", "bypass", "sendVstEvents", ""}) {
        char buffer[64];
        std::strcpy(buffer, capability);
        EXPECT_EQ(call(effCanDo, 0, 0, buffer), 0) << capability;
    }
    // Everything outside the answered set is 0, with or without a buffer.
    const int32_t answered[] = {3, 22, 26, 35, 42, 45, 47, 48, 49, 58, 63, 73};
    std::vector<char> zeros(4096, 0);
    for (int32_t opcode = -10; opcode <= 100; ++opcode) {
        if (opcode == effClose || std::find(std::begin(answered), std::end(answered), opcode) != std::end(answered))
            continue;
        // These take pointers in value, rename the shared program row, or
        // need a real window (the editor's own tests cover them).
        if (opcode == effGetSpeakerArrangement || opcode == effSetSpeakerArrangement ||
            opcode == effSetProgramName || opcode == effEditGetRect || opcode == effEditOpen)
            continue;
        EXPECT_EQ(call(opcode, 1, 0, nullptr, 0.0f), 0) << opcode;
        std::fill(zeros.begin(), zeros.end(), 0);
        EXPECT_EQ(call(opcode, 1, 0, zeros.data(), 0.0f), 0) << opcode;
    }
}

TEST_F(PluginLibrary, TextsStayWithinTheirLimits)
{
    size_t written = 0;
    EXPECT_EQ(text(effGetEffectName, 0, written), "Korvane Z5R");
    EXPECT_LE(written, 33u);
    EXPECT_EQ(text(effGetVendorString, 0, written), "QMV");
    EXPECT_LE(written, 65u);
    EXPECT_EQ(text(effGetProductString, 0, written), "QMV Korvane Z5R");
    EXPECT_LE(written, 65u);
    EXPECT_EQ(text(effGetProgramName, 0, written), "Default");
    EXPECT_LE(written, 25u);
    for (int32_t i = -2; i < 10; ++i) {
        text(effGetParamName, i, written);
        EXPECT_LE(written, 9u);
        text(effGetParamLabel, i, written);
        EXPECT_LE(written, 9u);
        text(effGetParamDisplay, i, written);
        EXPECT_LE(written, 8u);
    }
    EXPECT_EQ(text(effGetParamName, 6, written), "Normaliz");
    EXPECT_EQ(text(effGetParamName, 7, written), "Unknown");
    EXPECT_EQ(text(effGetParamDisplay, 1, written), "12.00");
    EXPECT_EQ(text(effGetParamLabel, 5, written), "uF");
    EXPECT_EQ(call(effGetEffectName, 0, 0, nullptr), 0);
    EXPECT_EQ(call(effGetVendorString, 0, 0, nullptr), 0);
    EXPECT_EQ(call(effGetProductString, 0, 0, nullptr), 0);
    EXPECT_EQ(call(effGetEffectName, 0, 0, std::vector<char>(40).data()), 1);
}

TEST_F(PluginLibrary, ProgramsAndParametersThroughTheRecord)
{
    EXPECT_EQ(call(effSetProgram, 0, 3), 0);
    EXPECT_EQ(call(effGetProgram), 3);
    size_t written = 0;
    EXPECT_EQ(text(effGetProgramName, 0, written), "Maximum Overdrive");
    EXPECT_EQ(effect->getParameter(effect, 1), 1.0f);
    effect->setParameter(effect, 1, 0.25f);
    EXPECT_EQ(effect->getParameter(effect, 1), 0.25f);
    EXPECT_EQ(effect->getParameter(effect, kNumParams), 0.0f);
    EXPECT_EQ(call(effSetProgram, 0, 8), 0);
    EXPECT_EQ(call(effGetProgram), 3);
    char name[] = "Edge";
    call(effSetProgramName, 0, 0, name);
    EXPECT_EQ(text(effGetProgramName, 0, written), "Edge");
    char factory[] = "Maximum Overdrive";
    call(effSetProgramName, 0, 0, factory);
    effect->setParameter(effect, 1, 1.0f);
    call(effSetProgram, 0, 0);
}

TEST_F(PluginLibrary, SpeakerArrangements)
{
    VstSpeakerArrangement mono{};
    mono.numChannels = 1;
    EXPECT_EQ(call(effSetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&mono), &mono), 1);
    EXPECT_EQ(call(effSetSpeakerArrangement, 0, 0, &mono), 0);
    EXPECT_EQ(call(effSetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&mono), nullptr), 0);
    EXPECT_EQ(effect->numInputs, 2);
    VstSpeakerArrangement* in = &mono;
    VstSpeakerArrangement* out = &mono;
    EXPECT_EQ(call(effGetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&in), &out), 0);
    EXPECT_EQ(in, nullptr);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(call(effGetSpeakerArrangement, 0, 0, nullptr), 0);
}

TEST_F(PluginLibrary, ProcessesAudioAndReportsLatency)
{
    call(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    call(effSetBlockSize, 0, 256);
    call(effMainsChanged, 0, 1);
    std::vector<float> left(256), right(256), outLeft(256, 9.0f), outRight(256, 9.0f);
    float* in[2] = {left.data(), right.data()};
    float* out[2] = {outLeft.data(), outRight.data()};
    double energy = 0.0;
    for (int32_t block = 0; block < 40; ++block) {
        for (size_t i = 0; i < 256; ++i) left[i] = right[i] = 0.5f * std::sin(0.06f * (block * 256 + i));
        effect->processReplacing(effect, in, out, 256);
        for (float v : outLeft) {
            ASSERT_TRUE(std::isfinite(v));
            energy += v * v;
        }
    }
    EXPECT_GT(energy, 1.0);
    EXPECT_EQ(effect->initialDelay, 0);
    effect->setParameter(effect, 0, 1.0f);
    effect->processReplacing(effect, in, out, 256);
    EXPECT_EQ(effect->initialDelay, 8);
    // The deprecated entries write nothing.
    std::fill(outLeft.begin(), outLeft.end(), 9.0f);
    effect->process(effect, in, out, 256);
    EXPECT_EQ(outLeft[0], 9.0f);
    double* dummy[2] = {nullptr, nullptr};
    effect->processDoubleReplacing(effect, dummy, dummy, 256);
    call(effMainsChanged, 0, 0);
}

#if !defined(_WIN32)
#include <dlfcn.h>

// The library unloaded while its background table builder works: closing
// the last instance joins the builder, so nothing of the library runs when
// it goes; a host that unloads with an instance still open finds the
// builder joined by the library's own teardown (on Linux; on Windows the
// last effClose is the only place, as nothing may wait under the loader's
// lock).
TEST(PluginUnload, TheLibraryGoesWhileItsBuilderWorks)
{
#if defined(__SANITIZE_ADDRESS__)
    // An instance left open on purpose is a leak to LeakSanitizer.
    for (const bool closeFirst : {true}) {
#else
    for (const bool closeFirst : {true, false}) {
#endif
        // A private copy: dlclose of the shared one would unload nothing.
        const std::string copy = std::string("./z5r-unload-test-") + (closeFirst ? "a" : "b") + ".so";
        {
            std::ifstream from(Z5R_PLUGIN_FILE, std::ios::binary);
            std::ofstream to(copy, std::ios::binary);
            to << from.rdbuf();
        }
        void* module = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
        std::remove(copy.c_str());
        ASSERT_NE(module, nullptr) << dlerror();
        auto entry = reinterpret_cast<EntryPoint>(dlsym(module, "VSTPluginMain"));
        ASSERT_NE(entry, nullptr);
        AEffect* effect = entry(host);
        ASSERT_NE(effect, nullptr);
        effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, 37123.0f);
        effect->dispatcher(effect, effMainsChanged, 0, 1, nullptr, 0.0f);
        // Ready to play at once; the other sets of the rate are being made.
        EXPECT_EQ(effect->dispatcher(effect, effVendorSpecific, 0x5A355272, 0, nullptr, 0.0f), 0);
        if (closeFirst) {
            EXPECT_EQ(effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f), 1);
        }
        EXPECT_EQ(dlclose(module), 0);
    }
}
#endif
