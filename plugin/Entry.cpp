// The library's exported entry point: one new effect instance per call.
// Exported as VSTPluginMain and, for older hosts, once more as main.
#include "plugin/ModuleHandle.h"
#include "plugin/TubeEffect.h"

#include <new>

#if defined(_WIN32)
#include <windows.h>
#define Z5R_EXPORT extern "C" __declspec(dllexport)
#else
#define Z5R_EXPORT extern "C" __attribute__((visibility("default")))
#endif

void* moduleHandle = nullptr;

Z5R_EXPORT AEffect* VST_CALL VSTPluginMain(audioMasterCallback host)
{
    if (!host || host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    // No exception may cross into the host.
    try {
        return (new TubeEffect(host))->getAeffect();
    } catch (...) {
        return nullptr;
    }
}

#if defined(_WIN32)
// The .def file exports VSTPluginMain a second time as main.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID)
{
    moduleHandle = instance;
    return TRUE;
}
#else
// The same function under the symbol name main; the version script exports
// exactly these two names.
Z5R_EXPORT AEffect* pluginMainAlias(audioMasterCallback host) __asm__("main")
    __attribute__((alias("VSTPluginMain")));
#endif
