// The VST3 module's entry points: the plug-in factory with its one class,
// and the module's load and unload calls (ModuleEntry/ModuleExit on Linux,
// InitDll/ExitDll on Windows).
#include "engine/Product.h"
#include "vst3/Utf16.h"
#include "vst3/Vst3Effect.h"

#include <cstdio>
#include <cstring>
#include <new>

#if defined(_WIN32)
#define Z5R_VST3_EXPORT extern "C" __declspec(dllexport)
#else
#define Z5R_VST3_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace vst3 {

namespace {

constexpr Uid kEffectClassId = makeUid(product::kVst3ProcessorId.l1, product::kVst3ProcessorId.l2,
                                       product::kVst3ProcessorId.l3, product::kVst3ProcessorId.l4);
constexpr char kSubCategories[] = "Fx|Distortion";

template <size_t N>
void copyText(char (&out)[N], const char* text)
{
    std::strncpy(out, text, N - 1);
    out[N - 1] = 0;
}

// "1.0.6.0": the VST 2.4 build's version number 1060 as four parts.
void versionText(char* out, size_t size)
{
    std::snprintf(out, size, "%d.%d.%d.0", static_cast<int>(product::kVersionMajor),
                  static_cast<int>(product::kVersionMinor), static_cast<int>(product::kVersionPatch));
}

// One factory for the module's life; hosts' references to it count nothing.
class Factory final : public IPluginFactory3 {
public:
    tresult VST3_CALL queryInterface(const uint8_t* iid, void** obj) override
    {
        if (!obj) return kInvalidArgument;
        if (sameUid(iid, kFUnknownIid) || sameUid(iid, kIPluginFactoryIid) || sameUid(iid, kIPluginFactory2Iid) ||
            sameUid(iid, kIPluginFactory3Iid)) {
            *obj = static_cast<IPluginFactory3*>(this);
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    uint32_t VST3_CALL addRef() override { return 1; }
    uint32_t VST3_CALL release() override { return 1; }

    tresult VST3_CALL getFactoryInfo(PFactoryInfo* info) override
    {
        if (!info) return kInvalidArgument;
        std::memset(info, 0, sizeof(*info));
        copyText(info->vendor, product::kVendor);
        copyText(info->url, product::kVendorHomepage);
        copyText(info->email, product::kVendorEmail);
        info->flags = PFactoryInfo::kUnicode;
        return kResultOk;
    }
    int32_t VST3_CALL countClasses() override { return 1; }
    tresult VST3_CALL getClassInfo(int32_t index, PClassInfo* info) override
    {
        if (index != 0 || !info) return kInvalidArgument;
        std::memset(info, 0, sizeof(*info));
        std::memcpy(info->cid, kEffectClassId.bytes, 16);
        info->cardinality = kManyInstances;
        copyText(info->category, kVstAudioEffectClass);
        copyText(info->name, product::kName);
        return kResultOk;
    }
    tresult VST3_CALL createInstance(FIDString cid, FIDString iid, void** obj) override
    {
        if (!obj) return kInvalidArgument;
        *obj = nullptr;
        if (!sameUid(cid, kEffectClassId)) return kNoInterface;
        // No exception may cross into the host.
        Vst3Effect* effect = new (std::nothrow) Vst3Effect();
        if (!effect) return kOutOfMemory;
        const tresult result = effect->queryInterface(reinterpret_cast<const uint8_t*>(iid), obj);
        effect->release();  // the creation's own reference
        return result;
    }
    tresult VST3_CALL getClassInfo2(int32_t index, PClassInfo2* info) override
    {
        if (index != 0 || !info) return kInvalidArgument;
        std::memset(info, 0, sizeof(*info));
        std::memcpy(info->cid, kEffectClassId.bytes, 16);
        info->cardinality = kManyInstances;
        copyText(info->category, kVstAudioEffectClass);
        copyText(info->name, product::kName);
        info->classFlags = 0;
        copyText(info->subCategories, kSubCategories);
        copyText(info->vendor, product::kVendor);
        versionText(info->version, sizeof(info->version));
        copyText(info->sdkVersion, kVstVersionString);
        return kResultOk;
    }
    tresult VST3_CALL getClassInfoUnicode(int32_t index, PClassInfoW* info) override
    {
        if (index != 0 || !info) return kInvalidArgument;
        std::memset(info, 0, sizeof(*info));
        std::memcpy(info->cid, kEffectClassId.bytes, 16);
        info->cardinality = kManyInstances;
        copyText(info->category, kVstAudioEffectClass);
        toUtf16(product::kName, info->name, 64);
        info->classFlags = 0;
        copyText(info->subCategories, kSubCategories);
        toUtf16(product::kVendor, info->vendor, 64);
        char version[64];
        versionText(version, sizeof(version));
        toUtf16(version, info->version, 64);
        toUtf16(kVstVersionString, info->sdkVersion, 64);
        return kResultOk;
    }
    tresult VST3_CALL setHostContext(FUnknown*) override { return kResultOk; }
};

Factory factory;

}  // namespace

}  // namespace vst3

// [UI thread] The module's one factory.
Z5R_VST3_EXPORT vst3::IPluginFactory* VST3_CALL GetPluginFactory() { return &vst3::factory; }

#if defined(_WIN32)
#include <windows.h>

#include "plugin/ModuleHandle.h"

// The editor finds its window class and skin resources through it.
void* moduleHandle = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID)
{
    moduleHandle = instance;
    return TRUE;
}

// [UI thread] Load and unload: nothing to set up beyond what loading did.
Z5R_VST3_EXPORT bool VST3_CALL InitDll() { return true; }
Z5R_VST3_EXPORT bool VST3_CALL ExitDll() { return true; }
#else
Z5R_VST3_EXPORT bool ModuleEntry(void*) { return true; }
Z5R_VST3_EXPORT bool ModuleExit() { return true; }
#endif
